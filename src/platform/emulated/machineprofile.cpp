#include "platform/emulated/machineprofile.h"

#include "platform/emulated/registrystore.h"

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

QString quoted(const QString& text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QString profileError(const QString& source, const QString& what)
{
    return QStringLiteral("profile %1: %2").arg(quoted(source), what);
}

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
            *error = QStringLiteral("built-in profile %1 cannot be read").arg(quoted(nameOrFile));
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
        *error = QStringLiteral("unknown profile %1 (built-in profiles: %2)")
                     .arg(quoted(nameOrFile), MachineProfile::builtinNames().join(QStringLiteral(", ")));
        return false;
    }
    QFile file(path);
    const auto refuse = [&](const QString& why) {
        *error = QStringLiteral("profile file %1 cannot be read: %2").arg(quoted(nameOrFile), why);
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
        *error = profileError(source, QStringLiteral("invalid JSON at %1: %2")
                                          .arg(position(text, parseError.offset), parseError.errorString()));
        return false;
    }
    if (!doc.isObject()) {
        *error = profileError(source, QStringLiteral("the top level must be a JSON object"));
        return false;
    }
    QJsonObject json = doc.object();
    const QString invalid = firstInvalidText(json);
    if (!invalid.isNull()) {
        *error = profileError(source, QStringLiteral("%1 is not valid Unicode (an unpaired surrogate)")
                                          .arg(quoted(withSurrogatesEscaped(invalid))));
        return false;
    }
    // A misspelt key would otherwise be ignored silently, and the machine be other than meant.
    const QStringList known = MachineProfile::knownKeys();
    for (auto it = json.begin(); it != json.end(); ++it) {
        if (!known.contains(it.key())) {
            *error = profileError(source, QStringLiteral("unknown key \"%1\" (known keys: %2)")
                                              .arg(it.key(), known.join(QStringLiteral(", "))));
            return false;
        }
    }
    const QJsonValue inherits = json.value(QStringLiteral("inherits"));
    if (inherits.isUndefined()) {
        *out = json;
        return true;
    }
    if (!inherits.isString() || inherits.toString().isEmpty()) {
        *error = profileError(source, QStringLiteral("\"inherits\" must name a profile"));
        return false;
    }
    if (depth >= maxInheritDepth) {
        *error = profileError(source, QStringLiteral("\"inherits\" nests more than %1 deep").arg(maxInheritDepth));
        return false;
    }
    QByteArray baseText;
    QString baseName;
    QString baseError;
    if (!readText(inherits.toString(), dir, &baseText, &baseName, &baseError)) {
        *error = profileError(source, QStringLiteral("\"inherits\": ") + baseError);
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

// Reads profile values with uniform error texts naming the key's path.
class Reader {
public:
    Reader(const QString& source, QString* error) : m_source(source), m_error(error) {}

    bool fail(const QString& key, const QString& what)
    {
        *m_error = profileError(m_source, quoted(key) + QLatin1Char(' ') + what);
        return false;
    }

    bool object(const QJsonObject& parent, const QString& key, const QString& path,
                QJsonObject* out, bool required = false)
    {
        const QJsonValue v = parent.value(key);
        if (v.isUndefined() && !required)
            return true;
        if (!v.isObject())
            return fail(path, required && v.isUndefined() ? QStringLiteral("is missing (an object)")
                                                          : QStringLiteral("must be an object"));
        *out = v.toObject();
        return true;
    }

    bool integer(const QJsonObject& parent, const QString& key, const QString& path,
                 double minimum, double maximum, double* out, bool required = false)
    {
        const QJsonValue v = parent.value(key);
        if (v.isUndefined()) {
            if (required)
                return fail(path, QStringLiteral("is missing"));
            return true;
        }
        const double d = v.toDouble(std::nan(""));
        if (!v.isDouble() || std::floor(d) != d || d < minimum || d > maximum)
            return fail(path, QStringLiteral("must be an integer from %1 to %2")
                                  .arg(qint64(minimum)).arg(qint64(maximum)));
        *out = d;
        return true;
    }

    bool boolean(const QJsonObject& parent, const QString& key, bool* out)
    {
        const QJsonValue v = parent.value(key);
        if (v.isUndefined())
            return true;
        if (!v.isBool())
            return fail(key, QStringLiteral("must be true or false"));
        *out = v.toBool();
        return true;
    }

    bool string(const QJsonObject& parent, const QString& key, const QString& path, QString* out)
    {
        const QJsonValue v = parent.value(key);
        if (v.isUndefined())
            return true;
        if (!v.isString())
            return fail(path, QStringLiteral("must be a string"));
        *out = v.toString();
        return true;
    }

    // A single folder name: no separators, not "." or "..".
    bool folderName(const QJsonObject& parent, const QString& key, const QString& path,
                    QString* out, bool allowEmpty = false)
    {
        QString value = *out;
        if (!string(parent, key, path, &value))
            return false;
        if ((value.isEmpty() && !allowEmpty) || value == QLatin1String(".") || value == QLatin1String("..")
            || value.contains(QLatin1Char('/')) || value.contains(QLatin1Char('\\'))
            || value.contains(QLatin1Char(':')))
            return fail(path, QStringLiteral("must be a plain folder name"));
        *out = value;
        return true;
    }

private:
    QString m_source;
    QString* m_error;
};

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
    Reader r(source, error);
    m_json = json;

    if (!r.string(json, QStringLiteral("description"), QStringLiteral("description"), &m_description))
        return false;

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
    if (!r.string(json, QStringLiteral("computerName"), QStringLiteral("computerName"), &m_computerName))
        return false;

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
    if (m_style != ProfileStyle::Win9x
        && !r.folderName(layout, QStringLiteral("profiles"), QStringLiteral("layout.profiles"), &m_profilesFolder))
        return false;

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

    fillDefaults();

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

// The folders and variables of a freshly installed system of the profile's family.
void MachineProfile::fillDefaults()
{
    const QString win = QStringLiteral("C:\\") + m_windowsFolder;
    const QString sys = win + QLatin1Char('\\') + m_systemFolder;
    QString programFiles = QStringLiteral("C:\\Program Files");
    QMap<int, QString> f;
    QString user, allUsers, roaming, local, startMenu, commonStartMenu;

    switch (m_style) {
    case ProfileStyle::Win9x:
        // No user profiles: everything lives below the Windows folder.
        user = win;
        allUsers = win + QStringLiteral("\\All Users");
        roaming = win + QStringLiteral("\\Application Data");
        local = win + QStringLiteral("\\Local Settings\\Application Data");
        startMenu = win + QStringLiteral("\\Start Menu");
        commonStartMenu = allUsers + QStringLiteral("\\Start Menu");
        f.insert(csidl::PERSONAL, QStringLiteral("C:\\My Documents"));
        f.insert(csidl::DESKTOPDIRECTORY, win + QStringLiteral("\\Desktop"));
        f.insert(csidl::COMMON_DESKTOPDIRECTORY, allUsers + QStringLiteral("\\Desktop"));
        f.insert(csidl::COMMON_APPDATA, allUsers + QStringLiteral("\\Application Data"));
        f.insert(csidl::COMMON_DOCUMENTS, allUsers + QStringLiteral("\\Documents"));
        m_tempFolder = win + QStringLiteral("\\TEMP");
        break;
    case ProfileStyle::DocumentsAndSettings: {
        const QString root = QStringLiteral("C:\\") + m_profilesFolder;
        user = root + QLatin1Char('\\') + m_user;
        allUsers = root + QStringLiteral("\\All Users");
        roaming = user + QStringLiteral("\\Application Data");
        local = user + QStringLiteral("\\Local Settings\\Application Data");
        startMenu = user + QStringLiteral("\\Start Menu");
        commonStartMenu = allUsers + QStringLiteral("\\Start Menu");
        f.insert(csidl::PERSONAL, user + QStringLiteral("\\My Documents"));
        f.insert(csidl::DESKTOPDIRECTORY, user + QStringLiteral("\\Desktop"));
        f.insert(csidl::COMMON_DESKTOPDIRECTORY, allUsers + QStringLiteral("\\Desktop"));
        f.insert(csidl::COMMON_APPDATA, allUsers + QStringLiteral("\\Application Data"));
        f.insert(csidl::COMMON_DOCUMENTS, allUsers + QStringLiteral("\\Documents"));
        f.insert(csidl::PROFILE, user);
        m_tempFolder = user + QStringLiteral("\\Local Settings\\Temp");
        break;
    }
    case ProfileStyle::Users: {
        const QString root = QStringLiteral("C:\\") + m_profilesFolder;
        const QString programData = QStringLiteral("C:\\ProgramData");
        user = root + QLatin1Char('\\') + m_user;
        allUsers = programData;
        roaming = user + QStringLiteral("\\AppData\\Roaming");
        local = user + QStringLiteral("\\AppData\\Local");
        startMenu = roaming + QStringLiteral("\\Microsoft\\Windows\\Start Menu");
        commonStartMenu = programData + QStringLiteral("\\Microsoft\\Windows\\Start Menu");
        f.insert(csidl::PERSONAL, user + QStringLiteral("\\Documents"));
        f.insert(csidl::DESKTOPDIRECTORY, user + QStringLiteral("\\Desktop"));
        f.insert(csidl::COMMON_DESKTOPDIRECTORY, root + QStringLiteral("\\Public\\Desktop"));
        f.insert(csidl::COMMON_APPDATA, programData);
        f.insert(csidl::COMMON_DOCUMENTS, root + QStringLiteral("\\Public\\Documents"));
        f.insert(csidl::PROFILE, user);
        f.insert(csidl::PROGRAM_FILESX86, programFiles);
        m_tempFolder = local + QStringLiteral("\\Temp");
        break;
    }
    }

    // A 32-bit process on a 64-bit system is shown the 32-bit program folders.
    if (m_wow64) {
        programFiles = QStringLiteral("C:\\Program Files (x86)");
        f.insert(csidl::PROGRAM_FILESX86, programFiles);
        f.insert(41, win + QStringLiteral("\\SysWOW64"));
    } else if (m_style != ProfileStyle::Win9x) {
        f.insert(41, sys);
    }
    f.insert(csidl::PROGRAMS, startMenu + QStringLiteral("\\Programs"));
    f.insert(csidl::STARTUP, startMenu + QStringLiteral("\\Programs\\Startup"));
    f.insert(csidl::STARTMENU, startMenu);
    f.insert(csidl::COMMON_STARTMENU, commonStartMenu);
    f.insert(csidl::COMMON_PROGRAMS, commonStartMenu + QStringLiteral("\\Programs"));
    f.insert(csidl::COMMON_STARTUP, commonStartMenu + QStringLiteral("\\Programs\\Startup"));
    f.insert(csidl::APPDATA, roaming);
    f.insert(csidl::LOCAL_APPDATA, local);
    f.insert(csidl::FONTS, win + QStringLiteral("\\Fonts"));
    f.insert(csidl::WINDOWS, win);
    f.insert(csidl::SYSTEM, sys);
    f.insert(csidl::PROGRAM_FILES, programFiles);
    f.insert(csidl::PROGRAM_FILES_COMMON, programFiles + QStringLiteral("\\Common Files"));
    m_shellFolders = f;

    QMap<QString, QString> env;
    env.insert(QStringLiteral("TEMP"), m_tempFolder);
    env.insert(QStringLiteral("TMP"), m_tempFolder);
    env.insert(QStringLiteral("windir"), win);
    env.insert(QStringLiteral("PATH"), sys + QLatin1Char(';') + win);
    if (m_style == ProfileStyle::Win9x) {
        env.insert(QStringLiteral("winbootdir"), win);
    } else {
        env.insert(QStringLiteral("OS"), QStringLiteral("Windows_NT"));
        env.insert(QStringLiteral("SystemDrive"), QStringLiteral("C:"));
        env.insert(QStringLiteral("SystemRoot"), win);
        env.insert(QStringLiteral("COMPUTERNAME"), m_computerName);
        env.insert(QStringLiteral("USERNAME"), m_user);
        env.insert(QStringLiteral("USERPROFILE"), user);
        env.insert(QStringLiteral("ALLUSERSPROFILE"), allUsers);
        env.insert(QStringLiteral("APPDATA"), roaming);
        env.insert(QStringLiteral("ProgramFiles"), programFiles);
        env.insert(QStringLiteral("CommonProgramFiles"), programFiles + QStringLiteral("\\Common Files"));
        if (m_style == ProfileStyle::Users)
            env.insert(QStringLiteral("LOCALAPPDATA"), local);
    }
    m_environment = env;
}

namespace {

struct HiveNames {
    const char* full;
    const char* shortName;
};

const HiveNames hiveNames[] = {
    {"HKEY_CLASSES_ROOT", "HKCR"},  {"HKEY_CURRENT_USER", "HKCU"},   {"HKEY_LOCAL_MACHINE", "HKLM"},
    {"HKEY_USERS", "HKU"},          {"HKEY_CURRENT_CONFIG", "HKCC"}, {"HKEY_DYN_DATA", "HKDD"},
};

QByteArray stringData(const QString& text)
{
    QByteArray data = text.toUtf8();
    data.append('\0');
    return data;
}

QByteArray littleEndian(quint64 value, int size)
{
    QByteArray data;
    for (int i = 0; i < size; ++i)
        data.append(char((value >> (8 * i)) & 0xFF));
    return data;
}

// "01,ff,20" (commas, blanks or nothing between the pairs).
bool hexBytes(QString text, QByteArray* out)
{
    text.remove(QLatin1Char(',')).remove(QLatin1Char(' '));
    if (text.size() % 2 != 0)
        return false;
    QByteArray data;
    for (int i = 0; i < text.size(); i += 2) {
        bool ok = false;
        const uint byte = text.mid(i, 2).toUInt(&ok, 16);
        if (!ok)
            return false;
        data.append(char(byte));
    }
    *out = data;
    return true;
}

bool stringList(const QJsonValue& value, QStringList* out)
{
    if (!value.isArray())
        return false;
    QStringList list;
    for (const QJsonValue& item : value.toArray()) {
        if (!item.isString())
            return false;
        list << item.toString();
    }
    *out = list;
    return true;
}

bool integerIn(const QJsonValue& value, double maximum, quint64* out)
{
    const double d = value.toDouble(-1);
    if (!value.isDouble() || d < 0 || d > maximum || std::floor(d) != d)
        return false;
    *out = quint64(d);
    return true;
}

// One value of a "registry" key object.
bool seedValue(const QJsonValue& json, MachineProfile::SeedValue* out, QString* what)
{
    QStringList list;
    quint64 number = 0;
    if (json.isNull()) {
        out->remove = true;
        return true;
    }
    if (json.isString()) {
        out->type = REG_SZ;
        out->data = stringData(json.toString());
        return true;
    }
    if (json.isDouble()) {
        if (!integerIn(json, 4294967295.0, &number)) {
            *what = QStringLiteral("must be an integer from 0 to 4294967295 (a REG_DWORD)");
            return false;
        }
        out->type = REG_DWORD;
        out->data = littleEndian(number, 4);
        return true;
    }
    if (json.isArray()) {
        if (!stringList(json, &list)) {
            *what = QStringLiteral("must be a list of strings (a REG_MULTI_SZ)");
            return false;
        }
        out->type = REG_MULTI_SZ;
        out->data = multiStringData(list);
        return true;
    }
    if (!json.isObject()) {
        *what = QStringLiteral("must be a string, an integer, a list of strings, an object or null");
        return false;
    }
    const QJsonObject object = json.toObject();
    const QString type = object.value(QStringLiteral("type")).toString().toUpper();
    const QJsonValue value = object.value(QStringLiteral("value"));
    if (type == QLatin1String("REG_SZ") || type == QLatin1String("REG_EXPAND_SZ")) {
        if (!value.isString()) {
            *what = QStringLiteral("\"value\" must be a string");
            return false;
        }
        out->type = type == QLatin1String("REG_SZ") ? REG_SZ : REG_EXPAND_SZ;
        out->data = stringData(value.toString());
    } else if (type == QLatin1String("REG_MULTI_SZ")) {
        if (!stringList(value, &list)) {
            *what = QStringLiteral("\"value\" must be a list of strings");
            return false;
        }
        out->type = REG_MULTI_SZ;
        out->data = multiStringData(list);
    } else if (type == QLatin1String("REG_DWORD") || type == QLatin1String("REG_QWORD")) {
        const bool dword = type == QLatin1String("REG_DWORD");
        if (!integerIn(value, dword ? 4294967295.0 : 9007199254740992.0, &number)) {
            *what = QStringLiteral("\"value\" must be a non-negative integer that fits the type");
            return false;
        }
        out->type = dword ? REG_DWORD : REG_QWORD;
        out->data = littleEndian(number, dword ? 4 : 8);
    } else if (type == QLatin1String("REG_BINARY") || type == QLatin1String("REG_NONE")) {
        if (!value.isString() || !hexBytes(value.toString(), &out->data)) {
            *what = QStringLiteral("\"value\" must be hex bytes such as \"01,ff\"");
            return false;
        }
        out->type = type == QLatin1String("REG_BINARY") ? REG_BINARY : REG_NONE;
    } else {
        *what = QStringLiteral("\"type\" must be one of REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, "
                               "REG_QWORD, REG_BINARY, REG_NONE");
        return false;
    }
    return true;
}

} // namespace

QString MachineProfile::hiveName(const QString& name)
{
    for (const HiveNames& hive : hiveNames) {
        if (name.compare(QLatin1String(hive.full), Qt::CaseInsensitive) == 0
            || name.compare(QLatin1String(hive.shortName), Qt::CaseInsensitive) == 0)
            return QLatin1String(hive.full);
    }
    return QString();
}

QStringList MachineProfile::hives() const
{
    QStringList names;
    for (const HiveNames& hive : hiveNames) {
        if (!isNt() || qstrcmp(hive.full, "HKEY_DYN_DATA") != 0)
            names << QLatin1String(hive.full);
    }
    return names;
}

bool MachineProfile::readRegistry(const QJsonObject& registry, const QString& source, QString* error)
{
    Reader r(source, error);
    QList<SeedKey> removals;
    QList<SeedKey> keys;
    // QJsonObject iterates its keys sorted, so a parent comes before its children.
    for (auto it = registry.begin(); it != registry.end(); ++it) {
        const QString where = QStringLiteral("registry.") + it.key();
        QStringList parts = it.key().split(QLatin1Char('\\'));
        SeedKey key;
        key.hive = hiveName(parts.takeFirst());
        if (key.hive.isEmpty())
            return r.fail(where, QStringLiteral("must begin with a hive such as HKEY_LOCAL_MACHINE or HKLM"));
        for (const QString& part : std::as_const(parts)) {
            if (part.isEmpty())
                return r.fail(where, QStringLiteral("has an empty key name"));
        }
        key.path = parts;
        if (it.value().isNull()) {
            if (parts.isEmpty())
                return r.fail(where, QStringLiteral("is a hive, which cannot be removed"));
            key.remove = true;
            removals << key;
            continue;
        }
        if (!it.value().isObject())
            return r.fail(where, QStringLiteral("must be an object of values or null"));
        const QJsonObject values = it.value().toObject();
        for (auto v = values.begin(); v != values.end(); ++v) {
            if (v.key() == QLatin1String("@access")) {
                const QString access = v.value().toString();
                if (access == QLatin1String("full"))
                    key.access = 0;
                else if (access == QLatin1String("read"))
                    key.access = 1;
                else if (access == QLatin1String("denied"))
                    key.access = 2;
                else
                    return r.fail(where + QStringLiteral(".@access"), QStringLiteral("must be \"full\", \"read\" or \"denied\""));
                continue;
            }
            SeedValue value;
            value.name = v.key() == QLatin1String("@") ? QString() : v.key();
            QString what;
            if (!seedValue(v.value(), &value, &what))
                return r.fail(where + QLatin1Char('.') + v.key(), what);
            key.values << value;
        }
        keys << key;
    }
    m_registrySeed << removals << keys;
    return true;
}

// The keys and values that the steps rely on and that a fresh Windows of the profile's
// family already has.
QJsonObject MachineProfile::defaultRegistry() const
{
    const bool nt = isNt();
    const QString win = QStringLiteral("C:\\") + m_windowsFolder;
    const QString programFiles = QStringLiteral("C:\\Program Files");
    const QString version = QStringLiteral("%1.%2").arg(m_version.majorVersion).arg(m_version.minorVersion);
    QJsonObject r;

    // Per machine, in each view a 32-bit program can see.
    QStringList software = {QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE")};
    if (m_wow64)
        software << QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node");
    for (const QString& root : std::as_const(software)) {
        const bool x86 = root.endsWith(QLatin1String("Wow6432Node"));
        const QString dir = x86 ? QStringLiteral("C:\\Program Files (x86)") : programFiles;
        QJsonObject cv{{QStringLiteral("ProgramFilesDir"), dir},
                       {QStringLiteral("CommonFilesDir"), QString(dir + QStringLiteral("\\Common Files"))}};
        if (!nt) {
            cv.insert(QStringLiteral("VersionNumber"), QStringLiteral("%1.%2").arg(version).arg(m_version.buildNumber));
            cv.insert(QStringLiteral("SubVersionNumber"), QString::fromStdString(m_version.servicePack));
        }
        const QString base = root + QStringLiteral("\\Microsoft\\Windows\\CurrentVersion");
        r.insert(base, cv);
        r.insert(base + QStringLiteral("\\Run"), QJsonObject());
        r.insert(base + QStringLiteral("\\RunOnce"), QJsonObject());
        r.insert(base + QStringLiteral("\\Uninstall"), QJsonObject());
        if (nt) {
            r.insert(root + QStringLiteral("\\Microsoft\\Windows NT\\CurrentVersion"),
                     QJsonObject{{QStringLiteral("CurrentVersion"), version},
                                 {QStringLiteral("CurrentBuildNumber"), QString::number(m_version.buildNumber)},
                                 {QStringLiteral("CSDVersion"), QString::fromStdString(m_version.servicePack)},
                                 {QStringLiteral("SystemRoot"), win}});
        }
    }
    if (nt) {
        r.insert(QStringLiteral("HKEY_LOCAL_MACHINE\\") + QLatin1String(SESSION_MANAGER_KEY), QJsonObject());
        r.insert(QStringLiteral("HKEY_USERS\\.DEFAULT"), QJsonObject());
    } else {
        r.insert(QStringLiteral("HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control"), QJsonObject());
    }

    // Per user.
    const QString user = QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion");
    r.insert(user + QStringLiteral("\\Run"), QJsonObject());
    r.insert(user + QStringLiteral("\\RunOnce"), QJsonObject());
    r.insert(user + QStringLiteral("\\Internet Settings"), QJsonObject{{QStringLiteral("ProxyEnable"), 0}});
    // The mail client's account store, up to the generation before Vista.
    if (m_version.majorVersion < 6)
        r.insert(QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Account Manager\\Accounts"), QJsonObject());
    r.insert(QStringLiteral("HKEY_CURRENT_USER\\Environment"),
             QJsonObject{{QStringLiteral("TEMP"), m_tempFolder}, {QStringLiteral("TMP"), m_tempFolder}});
    r.insert(QStringLiteral("HKEY_CLASSES_ROOT\\.txt"), QJsonObject{{QStringLiteral("@"), QStringLiteral("txtfile")}});
    return r;
}

} // namespace winsteps::platform::emulated
