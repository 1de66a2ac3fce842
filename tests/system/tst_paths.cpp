#include "system/ccominit.h"
#include "system/cosversion.h"
#include "system/istandardpaths.h"
#include "platform/emulated/emulatedmachine.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>

#include "support/freshmachine.h"

#include <thread>

using namespace winsteps::platform;
using emulated::EmulatedMachine;
using emulated::MachineProfile;
using testsupport::freshMachine;

namespace {

class Paths : public IStandardPaths {};

} // namespace

class TstPaths : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void osClasses_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QStringList>("classes"); // every class that holds

        const QStringList nt5{"win", "win2000+", "winnt"};
        QTest::newRow("win95") << "win95" << QStringList{"win", "win9x", "win95"};
        QTest::newRow("win95 OSR2") << R"({"inherits": "win95", "os": {"servicePack": " C"}})" << QStringList{"win", "win9x"};
        QTest::newRow("win98") << "win98" << QStringList{"win", "win9x", "win98x", "win98"};
        QTest::newRow("win98se") << "win98se" << QStringList{"win", "win9x", "win98x", "win98se"};
        QTest::newRow("winme") << "winme" << QStringList{"win", "win9x", "winme"};
        QTest::newRow("win2000") << "win2000" << nt5 + QStringList{"win2000"};
        QTest::newRow("winxp-sp1") << "winxp-sp1" << nt5 + QStringList{"winxp", "winxp+"};
        QTest::newRow("winxp-sp2") << "winxp-sp2" << nt5 + QStringList{"winxp", "winxp+", "winxpsp2+"};
        QTest::newRow("win2003") << "win2003" << nt5 + QStringList{"winxp+", "winxpsp2+", "win2003"};
        QTest::newRow("XP x64") << R"({"inherits": "win2003", "wow64": true})"
                                << nt5 + QStringList{"winxp+", "winxpsp2+", "win2003", "winxp64", "wow64"};
        QTest::newRow("vista") << "vista" << nt5 + QStringList{"winxp+", "winxpsp2+", "winvista", "winvista+"};
        QTest::newRow("vista-x64") << "vista-x64"
                                   << nt5 + QStringList{"winxp+", "winxpsp2+", "winvista", "winvista+", "wow64", "winvista64"};
        // Without the extended record the service-pack number reads 0.
        QTest::newRow("XP SP2, basic record only") << R"({"inherits": "winxp-sp2", "os": {"extendedRecord": false}})"
                                                   << nt5 + QStringList{"winxp", "winxp+"};
        QTest::newRow("version query fails") << R"({"inherits": "vista-x64", "failures": {"GetVersionEx": 1}})"
                                             << QStringList{"win", "wow64"};
        QTest::newRow("WOW64 call fails") << R"({"inherits": "vista-x64", "failures": {"IsWow64Process": 5}})"
                                          << nt5 + QStringList{"winxp+", "winxpsp2+", "winvista", "winvista+"};
        QTest::newRow("WOW64 function missing") << R"({"inherits": "vista-x64", "functions": {"IsWow64Process": false}})"
                                                << nt5 + QStringList{"winxp+", "winxpsp2+", "winvista", "winvista+"};
    }

    void osClasses()
    {
        QFETCH(QString, profile);
        QFETCH(QStringList, classes);
        auto m = freshMachine(m_dir, profile);
        QVERIFY(m);
        const COsVersion version(m->system());
        // A class name in capitals names the same class.
        for (const QString& name : COsVersion::classNames()) {
            QVERIFY2(version.isOsClass(name) == classes.contains(name), qPrintable(name));
            QVERIFY2(version.isOsClass(name.toUpper()) == classes.contains(name), qPrintable(name));
        }
        QVERIFY(!version.isOsClass(QStringLiteral("winxp++")));
        QVERIFY(!version.isOsClass(QString()));
        for (const QString& name : classes)
            QVERIFY2(COsVersion::classNames().contains(name), qPrintable(name));
    }

    void expand_data()
    {
        QTest::addColumn<QStringList>("macros"); // macro, value, macro, value, ...
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expanded");

        const QStringList sys{"%WINSYSDIR%", "C:\\WINDOWS\\system32"};
        QTest::newRow("every occurrence") << sys << "%WINSYSDIR%;%WINSYSDIR%" << "C:\\WINDOWS\\system32;C:\\WINDOWS\\system32";
        QTest::newRow("unknown macro kept") << sys << "%NOPE%\\%WINSYSDIR%" << "%NOPE%\\C:\\WINDOWS\\system32";
        QTest::newRow("case-sensitive") << sys << "%winsysdir%" << "%winsysdir%";
        QTest::newRow("lone percent") << sys << "100% done" << "100% done";
        // %Z% comes after %APP% in key order, so its %APP% is replaced in the second pass.
        QTest::newRow("second pass") << QStringList{"%APP%", "/opt/app", "%Z%", "%APP%\\lib"} << "%Z%\\x.dll"
                                     << "/opt/app\\lib\\x.dll";
        QTest::newRow("ten passes at most") << QStringList{"%LOOP%", "x%LOOP%"} << "%LOOP%" << "xxxxxxxxxx%LOOP%";
        QTest::newRow("unset value empties") << QStringList{"%TEMP%", QString()} << "%TEMP%\\setup.log" << "\\setup.log";
        QTest::newRow("empty macro ignored") << QStringList{"", "X", "%A%", "a"} << "%A%bc" << "abc";
    }

    void expand()
    {
        QFETCH(QStringList, macros);
        QFETCH(QString, text);
        QFETCH(QString, expanded);
        Paths paths;
        for (int i = 0; i + 1 < macros.size(); i += 2)
            paths.setMacro(macros[i], macros[i + 1]);
        QCOMPARE(paths.expand(text), expanded);
    }

    // Each entry "MACRO=value" as the profile's Windows answers it; a macro alone: no entry.
    void standardEntries_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QStringList>("entries");

        const QString user = "C:\\Documents and Settings\\User";
        const QString all = "C:\\Documents and Settings\\All Users";
        QTest::newRow("winxp-sp2") << "winxp-sp2"
                                   << QStringList{"%WINDIR%=C:\\WINDOWS", "%WINSYSDIR%=C:\\WINDOWS\\system32", "%WINDRIVE%=C:",
                                                  "%TEMP%=" + user + "\\Local Settings\\Temp", "%PROGRAM_FILES%=C:\\Program Files",
                                                  "%LOCAL_APPDATA%=" + user + "\\Local Settings\\Application Data",
                                                  "%COMMON_DESKTOP%=" + all + "\\Desktop", "%APP%=%APPDIR%"};
        QTest::newRow("win2000") << "win2000" << QStringList{"%WINSYSDIR%=C:\\WINNT\\system32",
                                                             "%COMMON_STARTUP%=" + all + "\\Start Menu\\Programs\\Startup"};
        QTest::newRow("WOW64 program files") << "vista-x64" << QStringList{"%PROGRAM_FILES%=C:\\Program Files (x86)"};
        QTest::newRow("vista start menu") << "vista" << QStringList{"%COMMON_STARTMENU%=C:\\ProgramData\\Microsoft\\Windows\\Start Menu"};
        // On 9x the per-user folder stands in for the all-users one, although that exists.
        QTest::newRow("win98") << "win98" << QStringList{"%COMMON_PROGRAMS%=C:\\WINDOWS\\Start Menu\\Programs", "%WINSYSDIR%=C:\\WINDOWS\\SYSTEM"};
        QTest::newRow("all users missing") << R"({"inherits": "winxp-sp2", "shellFolders": {"23": null}})"
                                           << QStringList{"%COMMON_PROGRAMS%=" + user + "\\Start Menu\\Programs"};
        QTest::newRow("per-user missing: neither entry of the pair, other pairs stay")
            << R"({"inherits": "winxp-sp2", "shellFolders": {"2": null}})"
            << QStringList{"%PROGRAMS%", "%COMMON_PROGRAMS%", "%STARTUP%=" + user + "\\Start Menu\\Programs\\Startup"};
        QTest::newRow("single folder missing") << R"({"inherits": "winxp-sp2", "shellFolders": {"26": null}})" << QStringList{"%APPDATA%"};
        QTest::newRow("no library: no shell folders, directories and temp stay")
            << R"({"inherits": "winxp-sp2", "shellFolderLibrary": false})"
            << QStringList{"%PROGRAM_FILES%", "%TEMP%=" + user + "\\Local Settings\\Temp", "%WINDIR%=C:\\WINDOWS"};
        QTest::newRow("system query fails: no system, no drive, windows stays")
            << R"({"inherits": "winxp-sp2", "failures": {"GetSystemDirectory": 5}})"
            << QStringList{"%WINSYSDIR%", "%WINDRIVE%", "%WINDIR%=C:\\WINDOWS"};
        // An unset TEMP still has its entry, which expands to nothing.
        QTest::newRow("TEMP unset") << R"({"inherits": "winxp-sp2", "environment": {"TEMP": null}})" << QStringList{"%TEMP%="};
    }

    void standardEntries()
    {
        QFETCH(QString, profile);
        QFETCH(QStringList, entries);
        auto m = freshMachine(m_dir, profile);
        QVERIFY(m);
        Paths paths;
        paths.setMacro(QStringLiteral("%OLD%"), QStringLiteral("gone after init"));
        paths.init(m->system());
        QVERIFY(!paths.macros().contains(QStringLiteral("%OLD%")));
        for (const QString& entry : entries) {
            const QString macro = entry.section(QLatin1Char('='), 0, 0);
            if (!entry.contains(QLatin1Char('='))) {
                QVERIFY2(!paths.macros().contains(macro), qPrintable(macro + QLatin1Char('=') + paths.macros().value(macro)));
                QCOMPARE(paths.expand(macro + QStringLiteral("\\x")), macro + QStringLiteral("\\x"));
                continue;
            }
            QVERIFY2(paths.macros().contains(macro), qPrintable(macro));
            QCOMPARE(paths.macros().value(macro),
                     entry.section(QLatin1Char('='), 1).replace(QLatin1String("%APPDIR%"), QCoreApplication::applicationDirPath()));
        }
    }

    void comGuard_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<bool>("alreadyInitialised");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<bool>("initialized");

        QTest::newRow("first on the thread") << "winxp-sp2" << false << true << true;
        QTest::newRow("COM already there") << "winxp-sp2" << true << false << true;
        QTest::newRow("9x does nothing") << "win98" << false << true << false;
        QTest::newRow("security fails") << R"({"inherits": "winxp-sp2", "failures": {"CoInitializeSecurity": -2147467259}})"
                                        << false << false << true;
        QTest::newRow("other apartment model") << R"({"inherits": "winxp-sp2", "failures": {"CoInitialize": -2147417850}})"
                                               << false << true << false;
        QTest::newRow("initialisation fails") << R"({"inherits": "winxp-sp2", "failures": {"CoInitialize": -2147024882}})"
                                              << false << false << false;
    }

    void comGuard()
    {
        QFETCH(QString, profile);
        QFETCH(bool, alreadyInitialised);
        QFETCH(bool, ok);
        QFETCH(bool, initialized);
        auto m = freshMachine(m_dir, profile);
        QVERIFY(m);
        if (alreadyInitialised)
            QCOMPARE(m->system().coInitialize(), S_OK);
        {
            const CComInit guard(m->system());
            QCOMPARE(guard.ok(), ok);
            QCOMPARE(guard.initialized(), initialized);
        }
        // The guard leaves the thread as it found it.
        if (alreadyInitialised) {
            QCOMPARE(m->system().coInitialize(), S_FALSE);
            m->system().coUninitialize();
            m->system().coUninitialize();
        }
        if (!profile.contains(QLatin1String("CoInitialize\""))) {
            QCOMPARE(m->system().coInitialize(), S_OK);
            m->system().coUninitialize();
        }
        // The process-wide security is set by the first guard; a later one, on another thread,
        // finds it in force.
        bool later = !ok;
        if (ok)
            std::thread([&] { later = CComInit(m->system()).ok(); }).join();
        QVERIFY(later);
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TstPaths)
#include "tst_paths.moc"
