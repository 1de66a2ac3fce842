// The machine commands of winsteps end to end, the registry example wizard run on machine
// folders of several profiles, restarted and checked through show and export-reg, and services
// staged on a machine as other processes see them.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include "platform/emulated/emulatedmachine.h"
#include "support/commandrun.h"
#include "support/files.h"

using namespace winsteps::platform;
using emulated::EmulatedMachine;

class TstMachine : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // Machine commands in order, the later ones on one folder: each exits with its status and
    // prints its texts (on standard output when it succeeds, else on standard error; "^": at the
    // start of standard output); the folder exists only once an init made a machine in it.
    void commandSequence()
    {
        const QString dir = folder();
        const QString typo = m_dir.filePath(QStringLiteral("typo.json"));
        QVERIFY(testsupport::writeFile(typo, R"({"inherits": "winxp-sp2", "adminstrator": false})"));
        const QString report = m_dir.filePath(QStringLiteral("recorded.json"));
        const QString linear = QStringLiteral(EXAMPLES_DIR "/linear.xml");
        const QString stick = m_dir.filePath(QStringLiteral("stick.json")), bad = m_dir.filePath(QStringLiteral("bad.json"));
        QVERIFY(testsupport::writeFile(stick, R"({"instanceId": "USB\\VID_0781&PID_5567\\1", "className": "USB", "service": "USBSTOR",
            "description": "USB Mass Storage Device", "children": [{"instanceId": "STORAGE\\RemovableMedia\\1", "volume": {}}]})"));
        QVERIFY(testsupport::writeFile(bad, R"([{"instanceId": "USB\\X\\1", "children": [{"instanceId": "A\\B", "volume": 1}]}])"));
        const struct
        {
            QStringList arguments;
            int exitCode;
            QStringList texts;
        } steps[] = {
            {{"machine"}, 2, {"Usage: winsteps machine ACTION DIR"}},
            {{"machine", "--help"}, 0, {"export-reg DIR [KEY]"}},
            {{"machine", "reboot", "--help"}, 0, {"Usage: winsteps machine reboot DIR"}},
            {{"machine", "format", "x"}, 2, {"unknown action \"format\""}},
            {{"machine", "show"}, 2, {"missing arguments: DIR"}},
            {{"machine", "reboot", "a", "b"}, 2, {"too many arguments"}},
            {{"machine", "import-reg", "a"}, 2, {"missing arguments: DIR FILE"}},
            {{"machine", "show", dir}, 1, {"holds no machine"}},
            // A profile that cannot be used is a wrong command line.
            {{"machine", "init", dir, "--profile", "no-such-profile"}, 2, {}},
            {{"machine", "init", dir, "--profile", typo}, 2, {"profile \"" + typo + "\": unknown key \"adminstrator\""}},
            {{"machine", "init", dir, "--profile", "win98"}, 0, {"^Created machine \"" + dir + "\" from profile \"win98\""}},
            {{"machine", "init", dir}, 1, {"already holds a machine (profile \"win98\")"}},
            {{"machine", "show", dir}, 0,
             {"Profile:   win98 (", "System:    9x 4.10.", "Start-up entries: none", "Services: none",
              "At the next restart: nothing", "Restarts:  0"}},
            {{"machine", "export-reg", dir, "HKCU\\Software\\Nothing"}, 1, {"not found"}},
            // A run keeps the profile the machine was made from, and refuses another one.
            {{"run", linear, "--machine", dir, "--report", report}, 0, {}},
            {{"run", linear, "--machine", dir, "--profile", "vista"}, 2, {"was made from profile \"win98\", not \"vista\""}},
            {{"machine", "stage-service", dir, "Demo", "--hangs", "starting"}, 1, {"9x family, which has no services"}},
            {{"machine", "stage-service", dir, "Demo"}, 2, {"nothing to stage"}},
            {{"machine", "stage-service", dir, "A\\B", "--reset"}, 2, {"\"A\\B\" is no service name"}},
            {{"machine", "stage-service", dir, "Demo", "--start-seconds", "-1"}, 2, {"--start-seconds wants a number"}},
            {{"machine", "stage-service", dir, "Demo", "--hangs", "running"}, 2, {"--hangs wants starting, stopping or none"}},
            // Devices: a mistake in the device file names its key; the machine says what does not fit it.
            {{"machine", "plug", dir, bad}, 2, {"device file \"" + bad + "\": \"[0].children[0].volume\" must be an object"}},
            {{"machine", "plug", dir, stick}, 0, {"^Plugged \"USB\\VID_0781&PID_5567\\1\" into", "mounts as E:.\n"}},
            {{"machine", "plug", dir, stick}, 1, {"device \"USB\\VID_0781&PID_5567\\1\" is there already"}},
            {{"machine", "show", dir}, 0, {"\n  USB\\VID_0781&PID_5567\\1 (USB Mass Storage Device): driver {36FC9E60-C465-11CF-8056-"
                                         "444553540000}\\0004, service USBSTOR\n", "\n  E:\\ removable \\\\?\\Volume{"}},
            {{"machine", "unplug", dir, "usb\\vid_0781&pid_5567\\1"}, 0, {"(2 devices).\nDrive E:\\ is gone.\n"}},
            {{"machine", "unplug", dir, "USB\\VID_0781&PID_5567\\1"}, 1, {"no device \"USB\\VID_0781&PID_5567\\1\" on"}},
            {{"machine", "unplug", dir, "HTREE\\ROOT\\0"}, 1, {"the root of the device tree cannot be unplugged"}},
        };
        bool made = false;
        for (const auto& step : steps) {
            const CommandRun result = runWinsteps(step.arguments);
            const QString what = step.arguments.join(' ') + QStringLiteral(":\n") + result.out + result.err;
            QVERIFY2(result.exitCode == step.exitCode, qPrintable(what));
            for (const QString& text : step.texts)
                QVERIFY2(text.startsWith('^') ? result.out.startsWith(text.mid(1)) : (step.exitCode ? result.err : result.out).contains(text),
                     qPrintable(text + " not in " + what));
            made = made || (step.arguments.value(1) == "init" && step.exitCode == 0);
            QVERIFY2(QFileInfo::exists(dir) == made, qPrintable(what));
        }
        QVERIFY(QFileInfo(dir + QStringLiteral("/drive_c/WINDOWS/SYSTEM")).isDir());
        QCOMPARE(QJsonDocument::fromJson(testsupport::readFile(report))["profile"].toString(), QStringLiteral("win98"));
    }

    void registryWizardEndToEnd_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<bool>("mail");      // the account is written (Windows XP)
        QTest::addColumn<bool>("nt");        // removals can be scheduled; the usual services run
        QTest::addColumn<QString>("proxy");  // the HTTP proxy found
        QTest::addColumn<QString>("programFiles"); // %PROGRAM_FILES% of a 32-bit program

        QTest::newRow("winxp-sp2") << "winxp-sp2" << true << true << "" << "Program Files";
        QTest::newRow("win2003 behind a proxy") << "win2003" << false << true << "proxy.example.net:8080" << "Program Files";
        QTest::newRow("vista-x64") << "vista-x64" << false << true << "" << "Program Files (x86)";
        QTest::newRow("win98") << "win98" << false << false << "" << "Program Files";
    }

    void registryWizardEndToEnd()
    {
        QFETCH(QString, profile);
        QFETCH(bool, mail);
        QFETCH(bool, nt);
        QFETCH(QString, proxy);
        QFETCH(QString, programFiles);
        const QString dir = folder();
        QCOMPARE(runWinsteps({"machine", "init", dir, "--profile", profile}).exitCode, 0);
        const QString product = dir + QStringLiteral("/drive_c/") + programFiles + QStringLiteral("/Demo Suite");
        for (const char* file : {"/old/readme.txt", "/old/data/store.db", "/tray.exe"})
            QVERIFY(testsupport::writeFile(product + QLatin1String(file), QByteArray()));

        const QString report = m_dir.filePath(QStringLiteral("report-%1.json").arg(profile));
        const CommandRun run = runWinsteps({"run", QStringLiteral(EXAMPLES_DIR "/registry.xml"), "--machine", dir, "--report", report});
        QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));
        const QJsonObject properties = QJsonDocument::fromJson(testsupport::readFile(report))["machine"]["properties"].toObject();
        QCOMPARE(properties["installedVersion"]["value"].toString(), QStringLiteral("2.1"));
        QCOMPARE(properties["httpProxy"]["value"].toString(), proxy);

        // Windows paths in the registry, as on Windows, all in the 64-bit view's own keys; the
        // usual services on NT, none on 9x.
        const QString installed = QStringLiteral("C:\\%1\\Demo Suite\\").arg(programFiles);
        const QString shownText = runWinsteps({"machine", "show", dir}).out;
        QVERIFY2(shownText.contains("  Demo Suite 2.1 [DemoSuite]: " + installed + "uninstall.exe\n"), qPrintable(shownText));
        QCOMPARE(shownText.contains("  remove " + installed + "old\n"), nt);
        const QJsonObject shown = showJson(dir);
        const QString version = QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\");
        QCOMPARE(shown["system"]["wow64"].toBool(), programFiles.endsWith("(x86)"));
        QCOMPARE(shown["programs"].toArray(), QJsonArray({QJsonObject{{"key", QString(version + "Uninstall\\DemoSuite")},
            {"name", "DemoSuite"}, {"displayName", "Demo Suite 2.1"}, {"uninstallString", QString(installed + "uninstall.exe")}}}));
        QCOMPARE(shown["startup"][0].toObject(), (QJsonObject{{"kind", "Run"}, {"key", QString(version + "Run")},
                                                              {"name", "Demo Suite Tray"}, {"command", QString(installed + "tray.exe")}}));
        const QJsonValue removal = shown["pendingRemovals"][shown["pendingRemovals"].toArray().size() - 1];
        QCOMPARE(removal.toObject(), (nt ? QJsonObject{{"operation", "remove"}, {"source", QString(installed + "old")}, {"target", ""},
                                                       {"replace", false}} : QJsonObject()));
        QCOMPARE(shown["services"].toArray().isEmpty(), !nt);
        QCOMPARE(service(shown, "Spooler"), (nt ? QJsonObject{{"name", "Spooler"}, {"displayName", "Print Spooler"}, {"status", "running"},
                                                              {"startType", "auto"}, {"markedForDeletion", false},
                                                              {"imagePath", "%SystemRoot%\\system32\\spoolsv.exe"}} : QJsonObject()));

        CommandRun result = runWinsteps({"machine", "reboot", dir});
        QVERIFY2(result.out.contains("ran " + version + "RunOnce: Demo Suite Setup = "), qPrintable(result.out + result.err));
        QCOMPARE(QFileInfo::exists(product + QStringLiteral("/old")), !nt);
        QVERIFY(QFileInfo::exists(product + QStringLiteral("/tray.exe")));
        QStringList last;
        for (const QJsonValue& entry : showJson(dir).value("restarts")["last"].toArray())
            last << entry["action"].toString() + ' ' + entry["detail"].toString();
        QCOMPARE(last, result.out.split('\n', Qt::SkipEmptyParts).mid(1)); // the restart's log is what it printed

        // The machine as the registry editor shows it.
        const CommandRun exported = runWinsteps({"machine", "export-reg", dir});
        QVERIFY(exported.out.startsWith(QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE]\r\n")));
        const QString reg = QString(exported.out).remove(QLatin1Char('\r'));
        for (const QString& text : {QString("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Example Software\\Demo Suite]\n\"Version\"=\"2.1\"\n"
                                    "\"InstallDir\"=\"C:\\\\Program Files\\\\Demo Suite\"\n\"Build\"=dword:0000083b\n\n"),
                                    QString("[" + version + "RunOnce]\n\n")})
            QVERIFY2(reg.contains(text), qPrintable(text + QStringLiteral("\nnot in:\n") + reg));
        QVERIFY(!reg.contains(QStringLiteral("PendingFileRenameOperations")));
        QCOMPARE(reg.contains(QStringLiteral("\"Default Mail Account\"=\"Demo Support\"")), mail);
        QVERIFY(!reg.contains(QStringLiteral("Wow6432Node\\Example Software")));

        // The export imported into a fresh machine of the same profile exports the same bytes.
        const QString target = folder();
        QCOMPARE(runWinsteps({"machine", "init", target, "--profile", profile}).exitCode, 0);
        const CommandRun imported = runWinsteps({"machine", "import-reg", target, "-"}, exported.out.toUtf8());
        QVERIFY2(imported.exitCode == 0, qPrintable(imported.err));
        QCOMPARE(runWinsteps({"machine", "export-reg", target}).out, exported.out);
    }

    // One process starts a service staged as slow on an existing machine; `machine show`, each
    // time another process, sees it starting, then running, as the clock resolves it.
    void stagedServiceSeenByOtherProcesses()
    {
        const QString dir = folder();
        QCOMPARE(runWinsteps({"machine", "init", dir}).exitCode, 0);
        const QString staged = "Staged service \"tlntsvr\" on \"" + dir + "\": starts in 3 s, ";
        CommandRun result = runWinsteps({"machine", "stage-service", dir, "tlntsvr", "--start-seconds", "3", "--hangs", "stopping"});
        QCOMPARE(result.out, staged + "hangs in \"stopping\", can be stopped, cannot be paused.\n");
        // A later staging changes only what it names; --state sets an existing service's state now.
        result = runWinsteps({"machine", "stage-service", dir, "tlntsvr", "--hangs", "none", "--pausable", "yes"});
        QCOMPARE(result.out, staged + "stops in 1 s, can be stopped, can be paused.\n");
        QCOMPARE(runWinsteps({"machine", "stage-service", dir, "Spooler", "--state", "stopped"}).exitCode, 0);
        QCOMPARE(service(showJson(dir), "Spooler")["status"].toString(), QStringLiteral("stopped"));
        QCOMPARE(runWinsteps({"machine", "stage-service", dir, "NotYetThere", "--start-failure", "1066"}).exitCode, 0);

        QElapsedTimer clock;
        clock.start();
        QCOMPARE(onService(dir, [](Services& scm, SC_HANDLE s) { return scm.startService(s, {}); }), ERROR_SUCCESS);
        QStringList seen;
        while (seen.value(seen.size() - 1) != QLatin1String("running") && seen.size() < 600) {
            seen << service(showJson(dir), "TlntSvr")["status"].toString();
            // A look that ended before the start time was up cannot have seen it running.
            if (seen.size() == 1 && clock.elapsed() < 3000)
                QCOMPARE(seen.first(), QStringLiteral("starting"));
            QTest::qWait(100);
        }
        QCOMPARE(seen.count(QStringLiteral("starting")), seen.size() - 1);
        QCOMPARE(seen.last(), QStringLiteral("running"));

        // Deleted while it runs: it stays, marked, until it is stopped.
        QCOMPARE(onService(dir, [](Services& scm, SC_HANDLE s) { return scm.deleteService(s); }), ERROR_SUCCESS);
        QCOMPARE(service(showJson(dir), "TlntSvr"),
                 (QJsonObject{{"name", "TlntSvr"}, {"displayName", "Telnet"}, {"status", "running"}, {"startType", "manual"},
                              {"imagePath", "%SystemRoot%\\system32\\tlntsvr.exe"}, {"markedForDeletion", true}}));
        QVERIFY(runWinsteps({"machine", "show", dir}).out.contains("\n  TlntSvr (Telnet): running, manual, marked for deletion\n"));
    }

    // A copy step writes on drive C: only: never outside the machine, nor in the working directory.
    void copyWritesOnlyOnTheMachine_data()
    {
        QTest::addColumn<QString>("destination"); // "%OUT%": a host folder outside the machine
        QTest::addColumn<QString>("lands");       // below drive_c; empty: the run fails

        QTest::newRow("C:/ path") << "C:/Demo" << "Demo/a.txt";
        QTest::newRow("backslashes, .. stops at the root") << "c:\\Demo\\..\\..\\Up" << "Up/a.txt";
        QTest::newRow("host folder outside") << "%OUT%" << "";
        QTest::newRow("relative path") << "Demo" << "";
    }

    void copyWritesOnlyOnTheMachine()
    {
        QFETCH(QString, destination);
        QFETCH(QString, lands);
        const QString dir = folder();
        QTemporaryDir media, work, out;
        QVERIFY(testsupport::writeFile(media.filePath(QStringLiteral("a.txt")), "from the media"));
        const QString wizard = m_dir.filePath(QStringLiteral("copy%1.xml").arg(m_count));
        QVERIFY(testsupport::writeFile(wizard, QStringLiteral("<fsm name=\"c\" start=\"c\"><state name=\"c\" type=\"copyFiles\"><property "
                                                              "key=\"srcDir\" value=\"%1\"/><property key=\"copyFile1\" "
                                                              "value=\"%SRC%/*.txt::%2\"/></state></fsm>")
                                                   .arg(media.path(), QString(destination).replace("%OUT%", out.path())).toUtf8()));
        const CommandRun result = runWinsteps({"run", wizard, "--machine", dir}, QByteArray(), work.path());
        QVERIFY2(result.exitCode == (lands.isEmpty() ? 1 : 0), qPrintable(result.err));
        if (!lands.isEmpty())
            QCOMPARE(QFile(dir + QStringLiteral("/drive_c/") + lands).size(), 14);
        QCOMPARE(QDir(work.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
        QCOMPARE(QDir(out.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    }

private:
    static QJsonObject showJson(const QString& dir)
    {
        return QJsonDocument::fromJson(runWinsteps({"machine", "show", dir, "--json"}).out.toUtf8()).object();
    }

    static QJsonObject service(const QJsonObject& shown, const QString& name)
    {
        for (const QJsonValue& entry : shown["services"].toArray()) {
            if (entry["name"].toString() == name)
                return entry.toObject();
        }
        return {};
    }

    // A call on the service TlntSvr from this process, through the machine's service control manager.
    static std::uint32_t onService(const QString& dir, std::uint32_t (*call)(Services&, SC_HANDLE))
    {
        QString error;
        const auto machine = EmulatedMachine::openExisting(dir, &error);
        Services& scm = machine->services();
        SC_HANDLE manager = SC_HANDLE_NULL, service = SC_HANDLE_NULL;
        std::uint32_t code = scm.openSCManager("", "", SC_MANAGER_ALL_ACCESS, &manager);
        if (code == ERROR_SUCCESS && (code = scm.openService(manager, "TlntSvr", SERVICE_ALL_ACCESS, &service)) == ERROR_SUCCESS)
            code = call(scm, service);
        scm.closeServiceHandle(service);
        scm.closeServiceHandle(manager);
        return code;
    }

    QString folder() { return m_dir.filePath(QStringLiteral("m%1").arg(++m_count)); }
    QTemporaryDir m_dir;
    int m_count = 0;
};

QTEST_GUILESS_MAIN(TstMachine)
#include "tst_machine.moc"
