// The versioned system files of the emulated machine (see systemfiles.h).

#include "platform/emulated/systemfiles.h"

#include "platform/emulated/emulateddriverpackages.h"
#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/errortext.h"
#include "platform/emulated/profilereader.h"

#include <QStringList>

#include <algorithm>
#include <cstring>

namespace winsteps::platform::emulated {

namespace {

const QString key = QStringLiteral("installerVersion");
const QString redistributableKey = QStringLiteral("installerRedistributable");

// The builds that shipped as each version.
struct Build {
    const char* version;
    const char* full;
};
const Build builds[] = {
    {"1.10", "1.10.1029.0"},   {"1.20", "1.20.1827.0"},   {"2.0", "2.0.2600.2"},     {"3.0", "3.0.3790.2180"},
    {"3.1", "3.1.4000.2435"}, {"4.0", "4.0.6000.16386"}, {"4.5", "4.5.6001.22159"},
};

// Two to four numbers of 0 to 65535; two take the known build of that version.
bool parse(const QString& text, std::uint16_t numbers[4])
{
    QString full = text;
    for (const Build& build : builds) {
        if (text == QLatin1String(build.version))
            full = QLatin1String(build.full);
    }
    const QStringList parts = full.split(QLatin1Char('.'));
    if (parts.size() < 2 || parts.size() > 4)
        return false;
    for (int i = 0; i < 4; ++i) {
        bool ok = i >= parts.size();
        const uint n = ok ? 0 : parts.at(i).toUInt(&ok);
        if (!ok || n > 0xFFFF || (i < parts.size() && parts.at(i).isEmpty()))
            return false;
        numbers[i] = std::uint16_t(n);
    }
    return true;
}

// The engine each Windows shipped with (see the table in systemfiles.h).
QString shippedVersion(const OsVersionInfoEx& os, bool nt)
{
    const std::uint32_t major = os.majorVersion, minor = os.minorVersion, sp = os.servicePackMajor;
    if (!nt)
        return minor == 10 ? QStringLiteral("1.10") : minor == 90 ? QStringLiteral("1.20") : QString();
    if (major < 5)
        return QString();
    if (major == 5 && minor == 0)
        return QStringLiteral("2.0");
    if (major == 5 && minor == 1 && sp < 2)
        return sp == 1 ? QStringLiteral("2.0.2600.1106") : QStringLiteral("2.0.2600.0");
    if (major == 5)
        return QStringLiteral("3.1");
    return os.buildNumber >= 6001 ? QStringLiteral("4.0.6001.18000") : QStringLiteral("4.0");
}

} // namespace

bool installerEngineVersion(const QString& version, pe::VersionInfo* info)
{
    std::uint16_t numbers[4];
    if (!parse(version, numbers))
        return false;
    *info = pe::VersionInfo();
    std::copy(numbers, numbers + 4, info->fileVersion);
    std::copy(numbers, numbers + 4, info->productVersion);
    const std::string text = QStringLiteral("%1.%2.%3.%4").arg(numbers[0]).arg(numbers[1]).arg(numbers[2]).arg(numbers[3]).toStdString();
    info->strings = {{"FileDescription", "Windows Installer"}, {"FileVersion", text},
                     {"InternalName", "msiexec"},            {"OriginalFilename", "msiexec.exe"},
                     {"ProductName", "Windows Installer"},   {"ProductVersion", text}};
    return true;
}

std::vector<std::uint8_t> installerEngineImage(const QString& version)
{
    pe::VersionInfo info;
    return installerEngineVersion(version, &info) ? pe::programImage(info) : std::vector<std::uint8_t>();
}

QString installerVersionOf(const MachineProfile& profile)
{
    const QJsonValue given = profile.json().value(key);
    if (given.isNull())
        return QString();
    if (given.isString())
        return given.toString();
    return shippedVersion(profile.version(), profile.isNt());
}

QString installerEnginePath(const MachineProfile& profile)
{
    return QStringLiteral("C:\\%1\\%2\\msiexec.exe").arg(profile.windowsFolder(), profile.systemFolder());
}

bool checkInstallerVersion(const QJsonObject& profile, const QString& source, QString* error)
{
    const QJsonValue value = profile.value(key);
    std::uint16_t numbers[4];
    if (value.isUndefined() || value.isNull() || (value.isString() && parse(value.toString(), numbers)))
        return true;
    ProfileReader(source, error)
        .fail(key, QStringLiteral("must be null or a version such as \"2.0\" or \"3.1.4000.2435\" (2 to 4 numbers up to 65535)"));
    return false;
}

QString installedEngineVersion(EmulatedMachine& machine)
{
    const std::string path = installerEnginePath(machine.profile()).toStdString();
    FileVersions& versions = machine.fileVersions();
    std::uint32_t size = 0;
    if (versions.getFileVersionInfoSize(path, &size) != ERROR_SUCCESS || size == 0)
        return QString();
    std::vector<std::uint8_t> block(size);
    const void* value = nullptr;
    std::uint32_t length = 0;
    if (versions.getFileVersionInfo(path, size, block.data()) != ERROR_SUCCESS
        || versions.verQueryValue(block.data(), size, "\\", &value, &length) != ERROR_SUCCESS
        || length < sizeof(FixedFileInfo))
        return QString();
    FixedFileInfo fixed;
    std::memcpy(&fixed, value, sizeof fixed);
    return QStringLiteral("%1.%2.%3.%4")
        .arg(fixed.fileVersionMS >> 16)
        .arg(fixed.fileVersionMS & 0xFFFF)
        .arg(fixed.fileVersionLS >> 16)
        .arg(fixed.fileVersionLS & 0xFFFF);
}

bool olderEngineVersion(const QString& a, const QString& b)
{
    std::uint16_t left[4], right[4];
    if (!parse(b, right))
        return false;
    return !parse(a, left) || std::lexicographical_compare(left, left + 4, right, right + 4);
}

std::uint32_t redistributableExitCode(const MachineProfile& profile)
{
    const QJsonValue code = profile.json().value(redistributableKey).toObject().value(QLatin1String("exitCode"));
    return std::uint32_t(code.toDouble(0));
}

bool checkInstallerRedistributable(const QJsonObject& profile, const QString& source, QString* error)
{
    ProfileReader r(source, error);
    QJsonObject staged;
    double code = 0;
    if (!r.object(profile, redistributableKey, redistributableKey, &staged))
        return false;
    for (auto it = staged.begin(); it != staged.end(); ++it) {
        if (it.key() != QLatin1String("exitCode"))
            return r.fail(redistributableKey + QLatin1Char('.') + it.key(), QStringLiteral("is unknown (known: exitCode)"));
    }
    return r.integer(staged, QStringLiteral("exitCode"), redistributableKey + QStringLiteral(".exitCode"), 0, 4294967295.0, &code);
}

bool writeSystemFiles(EmulatedMachine& machine, QString* error)
{
    if (!writeDriverIndexFiles(machine, error))
        return false;
    const QString version = installerVersionOf(machine.profile());
    if (version.isNull())
        return true;
    const std::vector<std::uint8_t> image = installerEngineImage(version);
    const std::string path = installerEnginePath(machine.profile()).toStdString();
    FileHandlePtr file;
    std::uint32_t done = 0;
    std::uint32_t code = machine.files().createFile(path, GENERIC_WRITE, CREATE_ALWAYS, &file);
    if (code == ERROR_SUCCESS)
        code = file->write(image.data(), std::uint32_t(image.size()), &done);
    if (code != ERROR_SUCCESS || done != image.size()) {
        setError(error, QStringLiteral("cannot write \"%1\" (error %2)").arg(QString::fromStdString(path)).arg(code));
        return false;
    }
    return true;
}

} // namespace winsteps::platform::emulated
