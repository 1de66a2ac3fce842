// The machine commands of winsteps end to end: init, show, plug, staged services; the registry
// example wizard run on machine folders of several profiles, restarted and checked through show
// and export-reg; services staged on a machine as other processes see them; snapshot, restore
// and diff of a table of changes in text and JSON; and a dry run of each example wizard that
// shows its changes and leaves the machine byte for byte as it was.

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

#include "platform/emulated/emulatedmachine.h"
#include "support/commandrun.h"
#include "support/files.h"

using namespace winsteps::platform;
using emulated::EmulatedMachine;

namespace {

const QString Example = QStringLiteral(EXAMPLES_DIR "/");
const QString Demo = QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo");

// A command of a sequence: its exit status, and texts it prints (on standard output when it
// succeeds, else on standard error; "^" first: at the start of standard output; "" alone:
// standard output is empty).
struct Step
{
    QStringList arguments;
    int exitCode;
    QStringList texts;
};

// What of step the run did not do, or nothing.
QString unmet(const Step& step, const CommandRun& run)
{
    const QString what = step.arguments.join(' ') + QStringLiteral(":\n") + run.out + run.err;
    if (run.exitCode != step.exitCode)
        return what;
    for (const QString& text : step.texts) {
        const bool said = text.isEmpty() ? run.out.isEmpty()
                          : text.startsWith('^') ? run.out.startsWith(text.mid(1))
                                                 : (step.exitCode ? run.err : run.out).contains(text);
        if (!said)
            return text + " not in " + what;
    }
    return QString();
}

QByteArray regText(const QString& body)
{
    return ("Windows Registry Editor Version 5.00\r\n\r\n" + body).toUtf8();
}

QString sha(const QByteArray& data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex().left(12));
}

// drive C: as "path size sha256" (folders: "path/"; links: "path -> target"), sorted.
QStringList driveTree(const QString& machine)
{
    QStringList lines;
    const QString root = machine + QStringLiteral("/drive_c");
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        const QString path = info.filePath().mid(root.size());
        lines << (info.isSymLink() ? QString(path + " -> " + info.symLinkTarget())
                  : info.isDir()   ? QString(path + '/')
                                   : QString(path + ' ' + QString::number(info.size()) + ' ' + sha(testsupport::readFile(info.filePath()))));
    }
    lines.sort();
    return lines;
}

} // namespace

class TstMachine : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_count = 0;
    int m_files = 0;

    // Commands run in the test's folder.
    CommandRun winsteps(const QStringList& arguments, const QByteArray& input = QByteArray())
    {
        return runWinsteps(arguments, input, m_dir.path());
    }
    QString folder() { return m_dir.filePath(QStringLiteral("m%1").arg(++m_count)); }
    // A new machine in the folder name (a fresh one when empty).
    QString machine(const QString& profile = QStringLiteral("winxp-sp2"), const QString& name = QString())
    {
        const QString dir = name.isEmpty() ? folder() : m_dir.filePath(name);
        const CommandRun init = winsteps({"machine", "init", dir, "--profile", profile});
        if (init.exitCode != 0)
            qFatal("%s", qPrintable(init.err));
        return dir;
    }

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
        const QString linear = Example + "linear.xml";
        const QString stick = m_dir.filePath(QStringLiteral("stick.json")), bad = m_dir.filePath(QStringLiteral("bad.json"));
        QVERIFY(testsupport::writeFile(stick, R"({"instanceId": "USB\\VID_0781&PID_5567\\1", "className": "USB", "service": "USBSTOR",
            "description": "USB Mass Storage Device", "children": [{"instanceId": "STORAGE\\RemovableMedia\\1", "volume": {}}]})"));
        QVERIFY(testsupport::writeFile(bad, R"([{"instanceId": "USB\\X\\1", "children": [{"instanceId": "A\\B", "volume": 1}]}])"));
        const Step steps[] = {
            {{"machine", "--help"}, 0, {"export-reg DIR [KEY]"}},
            {{"machine", "reboot", "--help"}, 0, {"Usage: winsteps machine reboot DIR"}},
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
        for (const Step& step : steps) {
            const QString problem = unmet(step, runWinsteps(step.arguments));
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
            made = made || (step.arguments.value(1) == "init" && step.exitCode == 0);
            QVERIFY2(QFileInfo::exists(dir) == made, qPrintable(step.arguments.join(' ')));
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
        const QString dir = machine(profile);
        const QString product = dir + QStringLiteral("/drive_c/") + programFiles + QStringLiteral("/Demo Suite");
        for (const char* file : {"/old/readme.txt", "/old/data/store.db", "/tray.exe"})
            QVERIFY(testsupport::writeFile(product + QLatin1String(file), QByteArray()));

        const QString report = m_dir.filePath(QStringLiteral("report-%1.json").arg(profile));
        const CommandRun run = runWinsteps({"run", Example + "registry.xml", "--machine", dir, "--report", report});
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
        const QString target = machine(profile);
        const CommandRun imported = runWinsteps({"machine", "import-reg", target, "-"}, exported.out.toUtf8());
        QVERIFY2(imported.exitCode == 0, qPrintable(imported.err));
        QCOMPARE(runWinsteps({"machine", "export-reg", target}).out, exported.out);
    }

    // One process starts a service staged as slow on an existing machine; `machine show`, each
    // time another process, sees it starting, then running, as the clock resolves it.
    void stagedServiceSeenByOtherProcesses()
    {
        const QString dir = machine();
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

    // The snapshot actions in order on one machine.
    void snapshotSequence()
    {
        const QString dir = machine();
        const QString other = machine();
        // A folder named like the snapshot, in the working directory: the snapshot wins.
        const QString sameName = machine("winxp-sp2", "base");
        QCOMPARE(winsteps({"machine", "import-reg", sameName, "-"}, regText("[" + Demo + "]\r\n")).exitCode, 0);
        QCOMPARE(winsteps({"machine", "import-reg", other, "-"}, regText("[" + Demo + "]\r\n\"V\"=\"1\"\r\n")).exitCode, 0);
        const Step steps[] = {
            {{"machine", "diff", dir}, 2, {"has no snapshot to compare with"}},
            {{"machine", "snapshot", dir, "base"}, 0, {"^Saved snapshot \"base\""}},
            {{"machine", "snapshot", dir, "base"}, 1, {"snapshot \"base\" exists already (--replace replaces it)"}},
            {{"machine", "snapshot", dir, "base", "--replace"}, 0, {"^Saved snapshot"}},
            {{"machine", "snapshot", dir, "../up"}, 2, {"is no snapshot name"}},
            {{"machine", "snapshot", m_dir.filePath("none"), "x"}, 1, {"holds no machine"}},
            {{"machine", "snapshots", dir}, 0, {"^base\t"}},
            {{"machine", "diff", dir, "base"}, 0, {""}},
            {{"machine", "diff", dir}, 0, {""}},
            {{"machine", "diff", dir, "nosuch"}, 2, {"is neither a snapshot of"}},
            {{"machine", "diff", m_dir.filePath("none"), "base"}, 2, {"holds no machine"}},
            {{"machine", "diff", dir, other}, 1, {"^+ key " + Demo + "\n+ value " + Demo + " \"V\"=\"1\"\n"}},
            {{"machine", "diff", other, dir}, 1, {"^- key " + Demo + "\n- value " + Demo + " \"V\"=\"1\"\n"}},
            {{"machine", "restore", dir, "nosuch"}, 1, {"has no snapshot \"nosuch\""}},
            {{"machine", "restore", dir, "base"}, 0, {"^Restored"}},
            {{"run", Example + "linear.xml", "--dry-run", "--rollback-on-failure"}, 2, {"rollback-on-failure"}},
        };
        for (const Step& step : steps) {
            const QString problem = unmet(step, winsteps(step.arguments));
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
        }
    }

    // Changes made after a snapshot: the text has the lines given (and count lines in all),
    // the JSON one change per line in the same order; a restore makes the machine equal again.
    void differences_data()
    {
        QTest::addColumn<QString>("reg");         // imported after the snapshot
        QTest::addColumn<QStringList>("files");   // "path=content" written, "-path" removed (below drive_c)
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("count");
        const QString services = QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\");
        const QString run = QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce");
        QTest::newRow("value added") << "[" + Demo + "]\r\n\"New\"=hex:01,02\r\n" << QStringList()
                                     << QStringList{"+ value " + Demo + " \"New\"=hex:01,02"} << 1;
        QTest::newRow("value changed") << "[" + Demo + "]\r\n\"Change\"=\"new\"\r\n" << QStringList()
                                       << QStringList{"~ value " + Demo + " \"Change\"=\"old\" -> \"new\""} << 1;
        QTest::newRow("value removed") << "[" + Demo + "]\r\n\"Remove\"=-\r\n" << QStringList()
                                       << QStringList{"- value " + Demo + " \"Remove\"=dword:00000001"} << 1;
        QTest::newRow("key removed") << "[-" + Demo + "\\Gone]\r\n" << QStringList()
                                     << QStringList{"- key " + Demo + "\\Gone", "- value " + Demo + "\\Gone @=\"x\""} << 2;
        QTest::newRow("files") << QString() << QStringList{"demo/new.txt=new", "demo/change.txt=changed", "-demo/remove.txt"}
                               << QStringList{"+ file C:\\demo\\new.txt (3 bytes, sha256 " + sha("new") + ")",
                                              "~ file C:\\demo\\change.txt (3 bytes, sha256 " + sha("old") + ") -> (7 bytes, sha256 "
                                                  + sha("changed") + ")",
                                              "- file C:\\demo\\remove.txt (4 bytes, sha256 " + sha("gone") + ")"}
                               << 3;
        QTest::newRow("service installed")
            << "[" + services + "Demo]\r\n\"Type\"=dword:00000010\r\n\"Start\"=dword:00000003\r\n\"ImagePath\"=\"C:\\\\demo.exe\"\r\n"
            << QStringList() << QStringList{"+ key " + services + "Demo", "+ service Demo (stopped, demand start)"} << 5;
        QTest::newRow("firewall entry")
            << "[" + services + "SharedAccess\\Parameters\\FirewallPolicy\\StandardProfile\\AuthorizedApplications\\List]\r\n"
                                "\"C:\\\\demo.exe\"=\"C:\\\\demo.exe:*:Enabled:Demo\"\r\n"
            << QStringList() << QStringList{"+ firewall C:\\demo.exe (Demo, enabled)"} << 9;
        QTest::newRow("pending removal")
            << "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager]\r\n\"PendingFileRenameOperations\"=hex(7):"
               "5c,00,3f,00,3f,00,5c,00,43,00,3a,00,5c,00,78,00,00,00,00,00,00,00\r\n"
            << QStringList() << QStringList{"+ pending remove C:\\x"} << 2;
        QTest::newRow("RunOnce") << "[" + run + "]\r\n\"Demo\"=\"C:\\\\demo.exe /finish\"\r\n" << QStringList()
                                 << QStringList{"+ value " + run + " \"Demo\"=\"C:\\\\demo.exe /finish\"",
                                                "+ RunOnce " + run + " \"Demo\" (C:\\demo.exe /finish)"}
                                 << 2;
    }
    void differences()
    {
        QFETCH(QString, reg);
        QFETCH(QStringList, files);
        QFETCH(QStringList, lines);
        QFETCH(int, count);
        const QString dir = machine();
        QCOMPARE(winsteps({"machine", "import-reg", dir, "-"},
                          regText("[" + Demo + "]\r\n\"Change\"=\"old\"\r\n\"Remove\"=dword:00000001\r\n[" + Demo + "\\Gone]\r\n@=\"x\"\r\n"))
                     .exitCode,
                 0);
        QVERIFY(testsupport::writeFile(dir + "/drive_c/demo/change.txt", "old"));
        QVERIFY(testsupport::writeFile(dir + "/drive_c/demo/remove.txt", "gone"));
        QCOMPARE(winsteps({"machine", "snapshot", dir, "before"}).exitCode, 0);
        if (!reg.isEmpty())
            QCOMPARE(winsteps({"machine", "import-reg", dir, "-"}, regText(reg)).exitCode, 0);
        for (const QString& file : files) {
            if (file.startsWith('-'))
                QVERIFY(QFile::remove(dir + "/drive_c/" + file.mid(1)));
            else
                QVERIFY(testsupport::writeFile(dir + "/drive_c/" + file.section('=', 0, 0), file.section('=', 1).toUtf8()));
        }
        const QByteArray snapshot = testsupport::readFile(dir + "/snapshots/before/machine.db");
        const CommandRun text = winsteps({"machine", "diff", dir, "before"});
        QCOMPARE(text.exitCode, 1);
        const QStringList printed = text.out.split('\n', Qt::SkipEmptyParts);
        for (const QString& line : lines)
            QVERIFY2(printed.contains(line), qPrintable(line + "\n--- in:\n" + text.out));
        QCOMPARE(printed.size(), count);
        const CommandRun json = winsteps({"machine", "diff", dir, "before", "--json"});
        QCOMPARE(json.exitCode, 1);
        const QJsonObject result = QJsonDocument::fromJson(json.out.toUtf8()).object();
        QCOMPARE(result["equal"].toBool(true), false);
        const QJsonArray changes = result["changes"].toArray();
        QCOMPARE(changes.size(), count);
        for (int i = 0; i < count; ++i) {
            const QJsonObject c = changes[i].toObject();
            const QString sign = c["change"] == "added" ? "+" : c["change"] == "removed" ? "-" : "~";
            QVERIFY2(printed[i].startsWith(sign + ' ' + c["kind"].toString() + ' ' + c["id"].toString()), qPrintable(printed[i]));
            QCOMPARE(c["old"].isNull(), sign == "+");
            QCOMPARE(c["new"].isNull(), sign == "-");
        }
        QVERIFY(testsupport::readFile(dir + "/snapshots/before/machine.db") == snapshot); // reading keeps it as taken
        QCOMPARE(winsteps({"machine", "restore", dir, "before"}).exitCode, 0);
        const CommandRun again = winsteps({"machine", "diff", dir, "before"});
        QVERIFY2(again.exitCode == 0 && again.out.isEmpty(), qPrintable(again.out + again.err));
    }

    // A file whose name is no valid UTF-8 is hashed, and the copy the diff reads is removed.
    void nameOfNoValidUtf8()
    {
        const QString dir = machine();
        const QByteArray file = QFile::encodeName(dir) + "/drive_c/x\xff";
        const auto write = [&file](const QByteArray& data) {
            FILE* out = std::fopen(file.constData(), "wb");
            return out && std::fwrite(data.constData(), 1, size_t(data.size()), out) == size_t(data.size()) && std::fclose(out) == 0;
        };
        QVERIFY(write("a"));
        QCOMPARE(winsteps({"machine", "snapshot", dir, "s"}).exitCode, 0);
        QVERIFY(write("bb"));
        const CommandRun diff = winsteps({"machine", "diff", dir, "s"});
        QCOMPARE(diff.exitCode, 1);
        QVERIFY2(diff.out.endsWith("(1 bytes, sha256 " + sha("a") + ") -> (2 bytes, sha256 " + sha("bb") + ")\n"), qPrintable(diff.out));
        QCOMPARE(QDir(dir + "/snapshots").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"s"});
        for (const QByteArray& path : {file, QByteArray(QFile::encodeName(dir) + "/snapshots/s/drive_c/x\xff")})
            QCOMPARE(std::remove(path.constData()), 0); // what the test's folder cannot remove
    }

    // A dry run of each example, staged as the host's tests stage it: its changes after the
    // last line and in the report; the machine's registry export and drive C: as before.
    void dryRuns_data()
    {
        QTest::addColumn<QString>("wizard");
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QStringList>("staging"); // machine actions, "DIR" for the folder; "|" between them
        QTest::addColumn<QStringList>("lines");   // in the output after the run's last line
        const QString demo = QStringLiteral("C:\\Program Files\\Demo Suite\\");
        QTest::newRow("components") << "components" << "win98" << QStringList()
                                    << QStringList{"+ file C:\\WINDOWS\\SYSTEM\\democtl.ocx (365 bytes, sha256 e93185f52c36)",
                                                   "+ pending rename C:\\WINDOWS\\SYSTEM\\MSIEXEC.NEW -> C:\\WINDOWS\\SYSTEM\\msiexec.exe (replacing it)"};
        QTest::newRow("drivers") << "drivers" << "winxp-sp2"
                                 << QStringList{"plug", "DIR", Example + "drivers/adapter.json", "|", "plug", "DIR", Example + "drivers/stick.json"}
                                 << QStringList{"+ service demonet (stopped, demand start)", "+ driver package oem0.inf (Example Software)"};
        QTest::newRow("firewall") << "firewall" << "winxp-sp2" << QStringList()
                                  << QStringList{"+ firewall " + demo + "demoserver.exe (Demo Suite Server, enabled)",
                                                 "+ port mapping {A3081210-3739-578A-A584-7FFC76C62773} tcp/8080 (Demo Suite web -> 192.168.0.10:8080, enabled)"};
        QTest::newRow("registry") << "registry" << "winxp-sp2" << QStringList()
                                  << QStringList{"+ RunOnce HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce \"Demo Suite Setup\" ("
                                                     + demo + "setup.exe /finish)",
                                                 "+ pending remove " + demo + "old",
                                                 "+ value HKEY_LOCAL_MACHINE\\SOFTWARE\\Example Software\\Demo Suite \"Version\"=\"2.1\""};
        QTest::newRow("services") << "services" << "winxp-sp2" << QStringList{"stage-service", "DIR", "demosuitesvc", "--start-seconds", "0"}
                                  << QStringList{"+ service DemoSuiteSvc (stopped, auto start)", "+ folder C:\\Program Files\\Demo Suite"};
        QTest::newRow("startapp") << "startapp" << "winxp-sp2" << QStringList()
                                  << QStringList{"+ file " + demo + "docs\\readme.txt (81 bytes, sha256 dca51b5be187)"};
        for (const char* name : {"linear", "pageback", "systems", "xmlconfig"})
            QTest::newRow(name) << name << "winxp-sp2" << QStringList() << QStringList{"No changes."};
    }
    void dryRuns()
    {
        QFETCH(QString, wizard);
        QFETCH(QString, profile);
        QFETCH(QStringList, staging);
        QFETCH(QStringList, lines);
        const QString dir = machine(profile);
        for (QString action : staging.join('\n').split("\n|\n", Qt::SkipEmptyParts)) {
            const CommandRun staged = winsteps(QStringList{"machine"} + action.replace("DIR", dir).split('\n'));
            QVERIFY2(staged.exitCode == 0, qPrintable(staged.err));
        }
        const QString registry = winsteps({"machine", "export-reg", dir}).out;
        const QStringList tree = driveTree(dir);
        const QByteArray database = testsupport::readFile(dir + "/machine.db");
        const QString source = Example + wizard + (wizard == "drivers" ? "/" : QString());
        const ReportRun run = runWinstepsWithReport(m_dir, m_files, {"run", Example + wizard + ".xml", "--dry-run", "--machine", dir,
                                                                     "--set", "fsm.sourceDir=" + source});
        QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));
        const QStringList printed = run.out.split('\n', Qt::SkipEmptyParts);
        QVERIFY2(printed.value(0).contains("exit status 0"), qPrintable(run.out));
        for (const QString& line : lines)
            QVERIFY2(printed.contains(line), qPrintable(line + "\n--- in:\n" + run.out));
        const QJsonArray changes = run.report["changes"]["changes"].toArray();
        QCOMPARE(changes.size(), lines == QStringList{"No changes."} ? 0 : printed.size() - 1);
        QVERIFY(testsupport::readFile(dir + "/machine.db") == database); // not even opened
        QCOMPARE(winsteps({"machine", "export-reg", dir}).out, registry);
        QCOMPARE(driveTree(dir), tree);
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

};

QTEST_GUILESS_MAIN(TstMachine)
#include "tst_machine.moc"
