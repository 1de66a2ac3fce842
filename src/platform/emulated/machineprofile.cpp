// Profiles: finding and reading one, its "inherits" chain resolved, into the machine's answers.

#include "platform/emulated/machineprofile.h"
#include "platform/emulated/devicestate.h"
#include "platform/emulated/errortext.h"
#include "platform/emulated/networkstate.h"

#include "platform/emulated/profilereader.h"
#include "platform/emulated/servicestate.h"
#include "platform/emulated/systemfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

#include <cmath>
#include <mutex>

// Resources must be registered from the global namespace; calling it also keeps the
// resource object file in static links.
static void registerProfileResources()
{
    static std::once_flag once;
    std::call_once(once, [] { Q_INIT_RESOURCE(profiles); });
}

namespace winsteps::platform::emulated {

namespace {

const QString resourceDir = QStringLiteral(":/winsteps/profiles");
constexpr int maxInheritDepth = 8;
// Profiles are small; a larger file is not one (and a device would never end).
constexpr qint64 maxProfileBytes = 16 * 1024 * 1024;

// "line L, column C" of a byte offset in the JSON text.
QString position(const QByteArray& json, int offset)
{
    int line = 1;
    int column = 1;
    for (int i = 0; i < offset && i < json.size(); ++i) {
        if (json.at(i) == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return QStringLiteral("line %1, column %2").arg(line).arg(column);
}

// Objects present on both sides are merged key by key; any other value is replaced.
QJsonObject merged(QJsonObject base, const QJsonObject& overrides)
{
    for (auto it = overrides.begin(); it != overrides.end(); ++it) {
        const QJsonValue old = base.value(it.key());
        if (old.isObject() && it.value().isObject())
            base.insert(it.key(), merged(old.toObject(), it.value().toObject()));
        else
            base.insert(it.key(), it.value());
    }
    return base;
}

bool readText(const QString& nameOrFile, const QString& relativeTo, QByteArray* text,
              QString* name, QString* error)
{
    if (MachineProfile::isBuiltin(nameOrFile)) {
        QFile file(resourceDir + QLatin1Char('/') + nameOrFile + QStringLiteral(".json"));
        if (!file.open(QIODevice::ReadOnly)) {
            setError(error, QStringLiteral("built-in profile %1 cannot be read").arg(quoted(nameOrFile)));
            return false;
        }
        *text = file.readAll();
        *name = nameOrFile;
        return true;
    }
    QString path = nameOrFile;
    if (!relativeTo.isEmpty() && QFileInfo(path).isRelative())
        path = QDir(relativeTo).filePath(path);
    QFileInfo info(path);
    const bool looksLikeFile = nameOrFile.contains(QLatin1Char('/'))
        || nameOrFile.endsWith(QStringLiteral(".json"), Qt::CaseInsensitive);
    if (!info.exists() && !looksLikeFile) {
        setError(error, QStringLiteral("unknown profile %1 (built-in profiles: %2)")
                     .arg(quoted(nameOrFile), MachineProfile::builtinNames().join(QStringLiteral(", "))));
        return false;
    }
    QFile file(path);
    const auto refuse = [&](const QString& why) {
        setError(error, QStringLiteral("profile file %1 cannot be read: %2").arg(quoted(nameOrFile), why));
        return false;
    };
    if (info.isDir())
        return refuse(QStringLiteral("it is a directory"));
    if (info.exists() && !info.isFile())
        return refuse(QStringLiteral("not a regular file"));
    if (!file.open(QIODevice::ReadOnly))
        return refuse(file.errorString());
    // One byte more than the limit tells a file that grew since it was looked at.
    *text = file.read(maxProfileBytes + 1);
    if (text->size() > maxProfileBytes)
        return refuse(QStringLiteral("larger than %1 MiB").arg(maxProfileBytes / (1024 * 1024)));
    *name = nameOrFile;
    return true;
}

// The text with each unpaired surrogate written as the JSON text writes it (\ud800).
QString withSurrogatesEscaped(const QString& text)
{
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const bool paired = c.isHighSurrogate() ? i + 1 < text.size() && text.at(i + 1).isLowSurrogate()
                                                : !c.isLowSurrogate() || (i > 0 && text.at(i - 1).isHighSurrogate());
        if (paired)
            out += c;
        else
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    }
    return out;
}

// The first key or text of value that is not valid Unicode (an unpaired surrogate written as
// "\ud800" in the JSON text), or a null string. Such a name would make registry keys and
// values that can never be found again.
QString firstInvalidText(const QJsonValue& value)
{
    if (value.isString())
        return value.toString().isValidUtf16() ? QString() : value.toString();
    if (value.isArray()) {
        for (const QJsonValue& item : value.toArray()) {
            const QString bad = firstInvalidText(item);
            if (!bad.isNull())
                return bad;
        }
    }
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (!it.key().isValidUtf16())
                return it.key();
            const QString bad = firstInvalidText(it.value());
            if (!bad.isNull())
                return bad;
        }
    }
    return QString();
}

// The JSON object of a profile with its "inherits" chain resolved.
bool resolve(const QByteArray& text, const QString& source, const QString& dir, int depth,
             QJsonObject* out, QString* error)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        setError(error, profileError(source, QStringLiteral("invalid JSON at %1: %2")
                                          .arg(position(text, parseError.offset), parseError.errorString())));
        return false;
    }
    if (!doc.isObject()) {
        setError(error, profileError(source, QStringLiteral("the top level must be a JSON object")));
        return false;
    }
    QJsonObject json = doc.object();
    const QString invalid = firstInvalidText(json);
    if (!invalid.isNull()) {
        setError(error, profileError(source, QStringLiteral("%1 is not valid Unicode (an unpaired surrogate)")
                                          .arg(quoted(withSurrogatesEscaped(invalid)))));
        return false;
    }
    // A misspelt key would otherwise be ignored silently, and the machine be other than meant.
    const QStringList known = MachineProfile::knownKeys();
    for (auto it = json.begin(); it != json.end(); ++it) {
        if (!known.contains(it.key())) {
            setError(error, profileError(source, QStringLiteral("unknown key \"%1\" (known keys: %2)")
                                              .arg(it.key(), known.join(QStringLiteral(", ")))));
            return false;
        }
    }
    const QJsonValue inherits = json.value(QStringLiteral("inherits"));
    if (inherits.isUndefined()) {
        *out = json;
        return true;
    }
    if (!inherits.isString() || inherits.toString().isEmpty()) {
        setError(error, profileError(source, QStringLiteral("\"inherits\" must name a profile")));
        return false;
    }
    if (depth >= maxInheritDepth) {
        setError(error, profileError(source, QStringLiteral("\"inherits\" nests more than %1 deep").arg(maxInheritDepth)));
        return false;
    }
    QByteArray baseText;
    QString baseName;
    QString baseError;
    if (!readText(inherits.toString(), dir, &baseText, &baseName, &baseError)) {
        setError(error, profileError(source, QStringLiteral("\"inherits\": ") + baseError));
        return false;
    }
    const QString baseDir = MachineProfile::isBuiltin(baseName)
        ? QString() : QFileInfo(QDir(dir).filePath(baseName)).absolutePath();
    QJsonObject base;
    if (!resolve(baseText, baseName, baseDir, depth + 1, &base, error))
        return false;
    json.remove(QStringLiteral("inherits"));
    *out = merged(base, json);
    return true;
}

// "C:\a\b" with no "." or ".." parts (so that it stays inside drive C:).
bool isDriveCPath(const QString& path)
{
    if (path.size() < 2 || path.at(0).toUpper() != QLatin1Char('C') || path.at(1) != QLatin1Char(':'))
        return false;
    if (path.size() == 2)
        return true;
    if (path.at(2) != QLatin1Char('\\'))
        return false;
    const QStringList parts = path.mid(3).split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        if (part == QLatin1String(".") || part == QLatin1String("..") || part.contains(QLatin1Char('/')))
            return false;
    }
    return true;
}

} // namespace

QStringList MachineProfile::knownKeys()
{
    // The machine's own keys, then those of the tables that the emulated subsystems read.
    static const QStringList keys = {
        QStringLiteral("inherits"), QStringLiteral("description"), QStringLiteral("os"), QStringLiteral("wow64"),
        QStringLiteral("administrator"), QStringLiteral("shellFolderLibrary"), QStringLiteral("user"),
        QStringLiteral("computerName"), QStringLiteral("layout"), QStringLiteral("environment"),
        QStringLiteral("shellFolders"), QStringLiteral("functions"), QStringLiteral("failures"),
        QStringLiteral("registryDefaults"), QStringLiteral("registry"),
        QStringLiteral("credentials"), QStringLiteral("accounts"), QStringLiteral("tools"),
        QStringLiteral("systemProcesses"),
        QStringLiteral("services"), QStringLiteral("comClasses"), QStringLiteral("firewall"),
        QStringLiteral("connections"), QStringLiteral("devices"), QStringLiteral("drives"),
        QStringLiteral("installerVersion"),
        QStringLiteral("installerRedistributable"),
    };
    return keys;
}

QStringList MachineProfile::builtinNames()
{
    registerProfileResources();
    QStringList names;
    const QStringList files = QDir(resourceDir).entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name);
    for (const QString& file : files)
        names << file.chopped(5);
    names.sort();
    return names;
}

bool MachineProfile::isBuiltin(const QString& name)
{
    return !name.isEmpty() && builtinNames().contains(name);
}

bool MachineProfile::load(const QString& nameOrFile, QString* error)
{
    QByteArray text;
    QString name;
    if (!readText(nameOrFile, QString(), &text, &name, error))
        return false;
    if (!parse(text, name, error))
        return false;
    m_name = name;
    return true;
}

bool MachineProfile::parse(const QByteArray& json, const QString& source, QString* error)
{
    const QString dir = isBuiltin(source) ? QString() : QFileInfo(source).absolutePath();
    QJsonObject object;
    if (!resolve(json, source, dir, 0, &object, error))
        return false;
    MachineProfile profile;
    profile.m_name = source;
    if (!profile.read(object, source, error))
        return false;
    *this = profile;
    return true;
}

std::uint32_t MachineProfile::failure(const char* function) const
{
    return m_failures.value(QString::fromLatin1(function), 0);
}

bool MachineProfile::read(const QJsonObject& json, const QString& source, QString* error)
{
    ProfileReader r(source, error);
    m_json = json;
    if (!r.string(json, QStringLiteral("description"), QStringLiteral("description"), &m_description)
        || !readVersion(json, r) || !readAccount(json, r) || !readLayout(json, r) || !readFailures(json, r))
        return false;
    fillDefaults();
    return readShellFolders(json, r) && readEnvironment(json, r) && readRegistrySeed(json, source, error)
        && checkServiceStaging(json, source, error) && checkInstallerVersion(json, source, error)
        && checkNetworkProfile(json, source, error) && checkDeviceProfile(json, source, error)
        && checkInstallerRedistributable(json, source, error);
}

// "os": the version record, and what the version implies for the calls that came later.
bool MachineProfile::readVersion(const QJsonObject& json, ProfileReader& r)
{
    QJsonObject os;
    if (!r.object(json, QStringLiteral("os"), QStringLiteral("os"), &os, true))
        return false;
    double platformId = 0, major = 0, minor = 0, build = 0, spMajor = 0, spMinor = 0, suite = 0, product = 0;
    if (!r.integer(os, QStringLiteral("platformId"), QStringLiteral("os.platformId"), 1, 2, &platformId, true)
        || !r.integer(os, QStringLiteral("major"), QStringLiteral("os.major"), 0, 255, &major, true)
        || !r.integer(os, QStringLiteral("minor"), QStringLiteral("os.minor"), 0, 255, &minor, true)
        || !r.integer(os, QStringLiteral("build"), QStringLiteral("os.build"), 0, 65535, &build, true)
        || !r.integer(os, QStringLiteral("servicePackMajor"), QStringLiteral("os.servicePackMajor"), 0, 65535, &spMajor)
        || !r.integer(os, QStringLiteral("servicePackMinor"), QStringLiteral("os.servicePackMinor"), 0, 65535, &spMinor)
        || !r.integer(os, QStringLiteral("suiteMask"), QStringLiteral("os.suiteMask"), 0, 65535, &suite)
        || !r.integer(os, QStringLiteral("productType"), QStringLiteral("os.productType"), 0, 255, &product))
        return false;
    QString servicePack;
    if (!r.string(os, QStringLiteral("servicePack"), QStringLiteral("os.servicePack"), &servicePack))
        return false;
    if (servicePack.size() > 127)
        return r.fail(QStringLiteral("os.servicePack"), QStringLiteral("must be at most 127 characters"));
    m_version = OsVersionInfoEx();
    m_version.platformId = std::uint32_t(platformId);
    m_version.majorVersion = std::uint32_t(major);
    m_version.minorVersion = std::uint32_t(minor);
    m_version.buildNumber = std::uint32_t(build);
    m_version.servicePack = servicePack.toStdString();
    m_version.servicePackMajor = std::uint16_t(spMajor);
    m_version.servicePackMinor = std::uint16_t(spMinor);
    m_version.suiteMask = std::uint16_t(suite);
    m_version.productType = std::uint8_t(product);

    const bool nt = isNt();
    const int mj = int(major), mn = int(minor), sp = int(spMajor);
    // The extended record came with NT 4.0 SP6; the 9x family never answers it.
    m_extendedRecord = nt && (mj >= 5 || (mj == 4 && sp >= 6));
    if (!r.boolean(os, QStringLiteral("extendedRecord"), &m_extendedRecord))
        return false;
    // IsWow64Process came with XP SP2 and Server 2003 SP1.
    m_hasIsWow64Process = nt && (mj > 5 || (mj == 5 && mn > 2) || (mj == 5 && mn == 1 && sp >= 2)
                                 || (mj == 5 && mn == 2 && sp >= 1));
    return true;
}

// The process and its user: "wow64", "administrator", "shellFolderLibrary", "functions",
// "user" and "computerName".
bool MachineProfile::readAccount(const QJsonObject& json, ProfileReader& r)
{
    m_wow64 = false;
    m_administrator = true;
    m_shellFolderLibrary = true;
    if (!r.boolean(json, QStringLiteral("wow64"), &m_wow64)
        || !r.boolean(json, QStringLiteral("administrator"), &m_administrator)
        || !r.boolean(json, QStringLiteral("shellFolderLibrary"), &m_shellFolderLibrary))
        return false;

    QJsonObject functions;
    if (!r.object(json, QStringLiteral("functions"), QStringLiteral("functions"), &functions))
        return false;
    const QJsonValue wowFunction = functions.value(QStringLiteral("IsWow64Process"));
    if (!wowFunction.isUndefined()) {
        if (!wowFunction.isBool())
            return r.fail(QStringLiteral("functions.IsWow64Process"), QStringLiteral("must be true or false"));
        m_hasIsWow64Process = wowFunction.toBool();
    }

    m_user = QStringLiteral("User");
    if (!r.folderName(json, QStringLiteral("user"), QStringLiteral("user"), &m_user))
        return false;
    m_computerName = QStringLiteral("WINSTEPS");
    return r.string(json, QStringLiteral("computerName"), QStringLiteral("computerName"), &m_computerName);
}

// "layout": the folder names below drive C:, by default those of the family.
bool MachineProfile::readLayout(const QJsonObject& json, ProfileReader& r)
{
    const bool nt = isNt();
    const int mj = int(m_version.majorVersion), mn = int(m_version.minorVersion);
    m_style = !nt ? ProfileStyle::Win9x : (mj >= 6 ? ProfileStyle::Users : ProfileStyle::DocumentsAndSettings);
    // The folder names each family's set-up chose, in its spelling.
    m_windowsFolder = !nt ? QStringLiteral("WINDOWS")
        : mj == 5 && mn == 0 ? QStringLiteral("WINNT")
        : mj >= 6 ? QStringLiteral("Windows") : QStringLiteral("WINDOWS");
    m_systemFolder = nt ? QStringLiteral("system32") : QStringLiteral("SYSTEM");
    m_profilesFolder = m_style == ProfileStyle::Users ? QStringLiteral("Users")
        : m_style == ProfileStyle::DocumentsAndSettings ? QStringLiteral("Documents and Settings") : QString();
    QJsonObject layout;
    if (!r.object(json, QStringLiteral("layout"), QStringLiteral("layout"), &layout)
        || !r.folderName(layout, QStringLiteral("windows"), QStringLiteral("layout.windows"), &m_windowsFolder)
        || !r.folderName(layout, QStringLiteral("system"), QStringLiteral("layout.system"), &m_systemFolder))
        return false;
    return m_style == ProfileStyle::Win9x
        || r.folderName(layout, QStringLiteral("profiles"), QStringLiteral("layout.profiles"), &m_profilesFolder);
}

// "failures": the calls that fail, with their error codes.
bool MachineProfile::readFailures(const QJsonObject& json, ProfileReader& r)
{
    QJsonObject failures;
    if (!r.object(json, QStringLiteral("failures"), QStringLiteral("failures"), &failures))
        return false;
    m_failures.clear();
    for (auto it = failures.begin(); it != failures.end(); ++it) {
        double code = 0;
        if (!r.integer(failures, it.key(), QStringLiteral("failures.") + it.key(), -2147483648.0, 4294967295.0, &code))
            return false;
        m_failures.insert(it.key(), std::uint32_t(qint64(code)));
    }
    return true;
}

// "shellFolders": replaces or takes away the family's folders.
bool MachineProfile::readShellFolders(const QJsonObject& json, ProfileReader& r)
{
    QJsonObject folders;
    if (!r.object(json, QStringLiteral("shellFolders"), QStringLiteral("shellFolders"), &folders))
        return false;
    for (auto it = folders.begin(); it != folders.end(); ++it) {
        const QString path = QStringLiteral("shellFolders.") + it.key();
        bool ok = false;
        const int id = it.key().toInt(&ok);
        if (!ok || id < 0 || id > 255)
            return r.fail(path, QStringLiteral("is not a shell folder number (0 to 255)"));
        if (it.value().isNull()) {
            m_shellFolders.insert(id, QString());
            continue;
        }
        if (!it.value().isString() || !isDriveCPath(it.value().toString()))
            return r.fail(path, QStringLiteral("must be null or a path on drive C: such as \"C:\\\\Data\""));
        // As Windows answers: "C:" in capitals, no separator at the end.
        QString folder = QStringLiteral("C:") + it.value().toString().mid(2);
        while (folder.size() > 3 && folder.endsWith(QLatin1Char('\\')))
            folder.chop(1);
        m_shellFolders.insert(id, folder == QLatin1String("C:") ? QStringLiteral("C:\\") : folder);
    }
    return true;
}

// "environment": replaces or takes away the family's variables.
bool MachineProfile::readEnvironment(const QJsonObject& json, ProfileReader& r)
{
    QJsonObject environment;
    if (!r.object(json, QStringLiteral("environment"), QStringLiteral("environment"), &environment))
        return false;
    for (auto it = environment.begin(); it != environment.end(); ++it) {
        if (it.key().isEmpty() || it.key().contains(QLatin1Char('=')))
            return r.fail(QStringLiteral("environment.") + it.key(), QStringLiteral("is not a variable name"));
        // Variable names compare case-insensitively: the profile's spelling replaces ours.
        const QStringList names = m_environment.keys();
        for (const QString& name : names) {
            if (name.compare(it.key(), Qt::CaseInsensitive) == 0)
                m_environment.remove(name);
        }
        if (it.value().isNull()) {
            m_environment.insert(it.key(), QString());
        } else if (it.value().isString()) {
            m_environment.insert(it.key(), it.value().toString());
        } else {
            return r.fail(QStringLiteral("environment.") + it.key(), QStringLiteral("must be a string or null"));
        }
    }
    return true;
}

// "registryDefaults" and "registry": the family's keys unless refused, then the profile's.
bool MachineProfile::readRegistrySeed(const QJsonObject& json, const QString& source, QString* error)
{
    ProfileReader r(source, error);
    bool registryDefaults = true;
    if (!r.boolean(json, QStringLiteral("registryDefaults"), &registryDefaults))
        return false;
    QJsonObject registry;
    if (!r.object(json, QStringLiteral("registry"), QStringLiteral("registry"), &registry))
        return false;
    m_registrySeed.clear();
    if (registryDefaults && !readRegistry(defaultRegistry(), QStringLiteral("built-in defaults"), error))
        return false;
    return readRegistry(registry, source, error);
}

} // namespace winsteps::platform::emulated
