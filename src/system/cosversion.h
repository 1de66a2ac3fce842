#pragma once

#include "platform/system.h"
#include "winsteps_export.h"

#include <QString>
#include <QStringList>

// Answers whether the running Windows belongs to a named operating-system class ("win9x",
// "winxp+", "wow64", ...). The system is asked once, at construction: first for the extended
// version record, then for the basic one (whose service-pack numbers read 0). When both
// queries fail, every class but "win" and "wow64" is false.
class WINSTEPS_EXPORT COsVersion
{
public:
    COsVersion();                                            // the current machine
    explicit COsVersion(winsteps::platform::System& platform);
    virtual ~COsVersion();

    // Case-insensitive class name; an unknown name is false.
    bool isOsClass(const QString& name) const;
    // Every class name isOsClass() knows, in lower case.
    static QStringList classNames();

    bool isWin() const { return true; }
    bool isWin9x() const;
    bool isWin95() const;
    bool isWin98x() const;
    bool isWin98() const;
    bool isWin98se() const;
    bool isWinMe() const;
    bool isWin2000() const;
    bool isWin2000Plus() const;
    bool isWinXp() const;
    bool isWinXpPlus() const;
    bool isWinNt() const;
    bool isWinXpSp2Plus() const;
    bool isWin2003() const;
    bool isWinXp64() const;
    bool isWow64() const { return m_wow64; }
    bool isWinVista() const;
    bool isWinVistaPlus() const;
    bool isWinVista64() const;

    bool queryOk() const { return m_ok; }
    const winsteps::platform::OsVersionInfoEx& record() const { return m_record; }
    // The service-pack text as the class tests read it: "OSR2" for a 9x 4.0 whose text has
    // "C" as its second character, "SE" for a 4.10 whose text has "A" there, else as reported.
    QString servicePack() const;

    // The WOW64 test: false when IsWow64Process does not exist or fails.
    static bool runsUnderWow64(winsteps::platform::System& platform);

private:
    void query(winsteps::platform::System& platform);
    bool is9x() const;
    bool isNt() const;
    bool isVersion(unsigned major, unsigned minor) const;

    winsteps::platform::OsVersionInfoEx m_record;
    bool m_ok = false;
    bool m_wow64 = false;
};
