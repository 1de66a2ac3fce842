#include "system/cosversion.h"

namespace platform = winsteps::platform;

namespace {

struct OsClass {
    const char* name;
    bool (COsVersion::*test)() const;
};

const OsClass osClasses[] = {
    {"win", &COsVersion::isWin},
    {"win9x", &COsVersion::isWin9x},
    {"win95", &COsVersion::isWin95},
    {"win98x", &COsVersion::isWin98x},
    {"win98", &COsVersion::isWin98},
    {"win98se", &COsVersion::isWin98se},
    {"winme", &COsVersion::isWinMe},
    {"win2000", &COsVersion::isWin2000},
    {"win2000+", &COsVersion::isWin2000Plus},
    {"winxp", &COsVersion::isWinXp},
    {"winxp+", &COsVersion::isWinXpPlus},
    {"winnt", &COsVersion::isWinNt},
    {"winxpsp2+", &COsVersion::isWinXpSp2Plus},
    {"win2003", &COsVersion::isWin2003},
    {"winxp64", &COsVersion::isWinXp64},
    {"wow64", &COsVersion::isWow64},
    {"winvista", &COsVersion::isWinVista},
    {"winvista+", &COsVersion::isWinVistaPlus},
    {"winvista64", &COsVersion::isWinVista64},
};

} // namespace

COsVersion::COsVersion()
{
    query(platform::system());
}

COsVersion::COsVersion(platform::System& machine)
{
    query(machine);
}

COsVersion::~COsVersion() = default;

void COsVersion::query(platform::System& machine)
{
    m_record = platform::OsVersionInfoEx();
    m_record.size = platform::OSVERSIONINFOEX_SIZE;
    m_ok = machine.getVersionEx(&m_record) == platform::ERROR_SUCCESS;
    if (!m_ok) {
        m_record = platform::OsVersionInfoEx();
        m_record.size = platform::OSVERSIONINFO_SIZE;
        m_ok = machine.getVersionEx(&m_record) == platform::ERROR_SUCCESS;
        // The basic record has no service-pack numbers.
        m_record.servicePackMajor = 0;
        m_record.servicePackMinor = 0;
    }
    if (!m_ok) {
        m_record = platform::OsVersionInfoEx();
        m_record.size = 0;
    }
    m_wow64 = runsUnderWow64(machine);
}

bool COsVersion::runsUnderWow64(platform::System& machine)
{
    bool wow64 = false;
    return machine.isWow64Process(&wow64) == platform::ERROR_SUCCESS && wow64;
}

bool COsVersion::isOsClass(const QString& name) const
{
    const QString lower = name.toLower();
    for (const OsClass& c : osClasses) {
        if (lower == QLatin1String(c.name))
            return (this->*c.test)();
    }
    return false;
}

QStringList COsVersion::classNames()
{
    QStringList names;
    for (const OsClass& c : osClasses)
        names << QLatin1String(c.name);
    return names;
}

QString COsVersion::servicePack() const
{
    const QString text = QString::fromStdString(m_record.servicePack);
    if (is9x() && text.size() >= 2) {
        if (isVersion(4, 0) && text.at(1) == QLatin1Char('C'))
            return QStringLiteral("OSR2");
        if (isVersion(4, 10) && text.at(1) == QLatin1Char('A'))
            return QStringLiteral("SE");
    }
    return text;
}

bool COsVersion::is9x() const
{
    return m_ok && m_record.platformId == platform::VER_PLATFORM_WIN32_WINDOWS;
}

bool COsVersion::isNt() const
{
    return m_ok && m_record.platformId == platform::VER_PLATFORM_WIN32_NT;
}

bool COsVersion::isVersion(unsigned major, unsigned minor) const
{
    return m_ok && m_record.majorVersion == major && m_record.minorVersion == minor;
}

bool COsVersion::isWin9x() const
{
    return is9x() && (isVersion(4, 0) || isVersion(4, 10) || isVersion(4, 90));
}

bool COsVersion::isWin95() const
{
    return is9x() && isVersion(4, 0) && !servicePack().contains(QLatin1String("OSR2"));
}

bool COsVersion::isWin98x() const
{
    return is9x() && isVersion(4, 10);
}

bool COsVersion::isWin98() const
{
    return is9x() && isVersion(4, 10) && !servicePack().contains(QLatin1String("SE"));
}

bool COsVersion::isWin98se() const
{
    return m_ok && servicePack().contains(QLatin1String("SE"));
}

bool COsVersion::isWinMe() const
{
    return is9x() && isVersion(4, 90);
}

bool COsVersion::isWin2000() const
{
    return isNt() && isVersion(5, 0);
}

bool COsVersion::isWin2000Plus() const
{
    return isNt() && m_record.majorVersion >= 5;
}

bool COsVersion::isWinXp() const
{
    return isNt() && isVersion(5, 1);
}

bool COsVersion::isWinXpPlus() const
{
    return isNt()
        && (m_record.majorVersion >= 6 || (m_record.majorVersion == 5 && m_record.minorVersion != 0));
}

bool COsVersion::isWinNt() const
{
    return isNt();
}

bool COsVersion::isWinXpSp2Plus() const
{
    // The platform is not looked at.
    if (!m_ok)
        return false;
    const unsigned major = m_record.majorVersion;
    const unsigned minor = m_record.minorVersion;
    const unsigned sp = m_record.servicePackMajor;
    return (major == 5 && minor == 1 && sp >= 2) || (major == 5 && minor == 2 && sp >= 1) || major > 5
        || (major == 5 && minor > 2);
}

bool COsVersion::isWin2003() const
{
    return isNt() && isVersion(5, 2);
}

bool COsVersion::isWinXp64() const
{
    return isWin2003() && m_wow64;
}

bool COsVersion::isWinVista() const
{
    return isNt() && isVersion(6, 0);
}

bool COsVersion::isWinVistaPlus() const
{
    return isNt() && m_record.majorVersion >= 6;
}

bool COsVersion::isWinVista64() const
{
    return isWinVista() && m_wow64;
}
