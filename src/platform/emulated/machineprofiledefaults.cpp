// The built-in tables of a profile's family: shell folders, environment, fresh registry keys.

#include "platform/emulated/machineprofile.h"
#include "platform/emulated/servicestate.h"
#include "platform/files.h"

#include <QStringList>

namespace winsteps::platform::emulated {

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
    addFreshServices(*this, &r);
    return r;
}

} // namespace winsteps::platform::emulated
