#include "system/istandardpaths.h"

#include "system/cosversion.h"

#include <QCoreApplication>
#include <QRegExp>

namespace platform = winsteps::platform;

namespace {

QString withoutTrailingSeparator(QString path)
{
    while (path.size() > 1 && (path.endsWith(QLatin1Char('\\')) || path.endsWith(QLatin1Char('/'))))
        path.chop(1);
    return path;
}

QString directoryOf(const QString& file)
{
    const int slash = qMax(file.lastIndexOf(QLatin1Char('/')), file.lastIndexOf(QLatin1Char('\\')));
    return slash < 0 ? QString() : withoutTrailingSeparator(file.left(slash + 1));
}

QString applicationDirectory(platform::System& machine)
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    std::string file;
    if (machine.getModuleFileName(&file) != platform::ERROR_SUCCESS)
        return QString();
    return directoryOf(QString::fromStdString(file));
}

bool folderPath(platform::System& machine, int csidl, QString* path)
{
    std::string result;
    if (!platform::SUCCEEDED(machine.getFolderPath(csidl, &result)))
        return false;
    *path = QString::fromStdString(result);
    return true;
}

struct SingleFolder {
    const char* macro;
    int csidl;
};

struct FolderPair {
    const char* userMacro;
    int userCsidl;
    const char* commonMacro;
    int commonCsidl;
};

const SingleFolder singleFolders[] = {
    {"%APPDATA%", platform::csidl::APPDATA},
    {"%LOCAL_APPDATA%", platform::csidl::LOCAL_APPDATA},
    {"%COMMON_APPDATA%", platform::csidl::COMMON_APPDATA},
};

const FolderPair folderPairs[] = {
    {"%PROGRAMS%", platform::csidl::PROGRAMS, "%COMMON_PROGRAMS%", platform::csidl::COMMON_PROGRAMS},
    {"%DESKTOP%", platform::csidl::DESKTOPDIRECTORY, "%COMMON_DESKTOP%", platform::csidl::COMMON_DESKTOPDIRECTORY},
    {"%STARTMENU%", platform::csidl::STARTMENU, "%COMMON_STARTMENU%", platform::csidl::COMMON_STARTMENU},
    {"%STARTUP%", platform::csidl::STARTUP, "%COMMON_STARTUP%", platform::csidl::COMMON_STARTUP},
};

} // namespace

IStandardPaths::IStandardPaths() = default;

IStandardPaths::~IStandardPaths() = default;

void IStandardPaths::init()
{
    init(platform::system());
}

void IStandardPaths::init(platform::System& machine)
{
    m_macros.clear();
    m_macros.insert(QStringLiteral("%APP%"), applicationDirectory(machine));

    std::string text;
    if (machine.getWindowsDirectory(&text) == platform::ERROR_SUCCESS)
        m_macros.insert(QStringLiteral("%WINDIR%"), withoutTrailingSeparator(QString::fromStdString(text)));
    if (machine.getSystemDirectory(&text) == platform::ERROR_SUCCESS)
        m_macros.insert(QStringLiteral("%WINSYSDIR%"), withoutTrailingSeparator(QString::fromStdString(text)));
    if (machine.getSystemDrive(&text) == platform::ERROR_SUCCESS)
        m_macros.insert(QStringLiteral("%WINDRIVE%"), QString::fromStdString(text));
    m_macros.insert(QStringLiteral("%TEMP%"),
                    machine.getEnvironmentVariable("TEMP", &text) == platform::ERROR_SUCCESS
                        ? QString::fromStdString(text) : QString());

    if (machine.shellFolderApiAvailable())
        addShellFolders(machine);
}

void IStandardPaths::addShellFolders(platform::System& machine)
{
    const COsVersion version(machine);
    QString path;

    // A 32-bit program under WOW64 belongs in the 32-bit program files.
    if (folderPath(machine, version.isWow64() ? platform::csidl::PROGRAM_FILESX86 : platform::csidl::PROGRAM_FILES, &path))
        m_macros.insert(QStringLiteral("%PROGRAM_FILES%"), path);
    for (const SingleFolder& folder : singleFolders) {
        if (folderPath(machine, folder.csidl, &path))
            m_macros.insert(QLatin1String(folder.macro), path);
    }

    // The all-users folder is trusted on NT 5 and later only; elsewhere, or when it cannot
    // be found, the per-user folder stands in for it. Without a per-user folder neither is set.
    const bool commonFolders = version.isWin2000Plus();
    for (const FolderPair& pair : folderPairs) {
        QString user;
        if (!folderPath(machine, pair.userCsidl, &user))
            continue;
        m_macros.insert(QLatin1String(pair.userMacro), user);
        QString common;
        if (!commonFolders || !folderPath(machine, pair.commonCsidl, &common))
            common = user;
        m_macros.insert(QLatin1String(pair.commonMacro), common);
    }
}

void IStandardPaths::setMacro(const QString& macro, const QString& value)
{
    m_macros.insert(macro, value);
}

QString IStandardPaths::expand(const QString& text) const
{
    QRegExp macro(QStringLiteral("%[a-zA-Z0-9_]+%"), Qt::CaseSensitive, QRegExp::RegExp);
    QString result = text;
    for (int pass = 0; pass < maxPasses && macro.indexIn(result) >= 0; ++pass) {
        for (auto it = m_macros.begin(); it != m_macros.end(); ++it) {
            // An empty key would insert its value between every two characters.
            if (!it.key().isEmpty())
                result.replace(it.key(), it.value(), Qt::CaseSensitive);
        }
    }
    return result;
}
