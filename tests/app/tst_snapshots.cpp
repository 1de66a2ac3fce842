// winsteps machine snapshot, snapshots, restore and diff, and run --dry-run, end to end: the
// differences of a table of changes in text and JSON, and a dry run of each example wizard that
// shows its changes and leaves the machine byte for byte as it was.

#include <QCryptographicHash>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

#include "support/commandrun.h"
#include "support/files.h"

namespace {

const QString Example = QStringLiteral(EXAMPLES_DIR "/");
const QString Demo = QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo");

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

class TstSnapshots : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    int m_files = 0;

    CommandRun winsteps(const QStringList& arguments, const QByteArray& input = QByteArray())
    {
        return runWinsteps(arguments, input, m_dir.path());
    }
    QString machine(const QString& name, const QString& profile = QStringLiteral("winxp-sp2"))
    {
        const QString folder = m_dir.filePath(name);
        const CommandRun init = winsteps({"machine", "init", folder, "--profile", profile});
        if (init.exitCode != 0)
            qFatal("%s", qPrintable(init.err));
        return folder;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // The actions' exit statuses and texts in order on one machine ("^": at the start of
    // standard output, else anywhere in it or in standard error).
    void commandSequence()
    {
        const QString dir = machine(QStringLiteral("seq"));
        const QString other = machine(QStringLiteral("other"));
        // A folder named like the snapshot, in the working directory: the snapshot wins.
        const QString sameName = machine(QStringLiteral("base"));
        QCOMPARE(winsteps({"machine", "import-reg", sameName, "-"}, regText("[" + Demo + "]\r\n")).exitCode, 0);
        QCOMPARE(winsteps({"machine", "import-reg", other, "-"}, regText("[" + Demo + "]\r\n\"V\"=\"1\"\r\n")).exitCode, 0);
        const struct
        {
            QStringList arguments;
            int exitCode;
            QString text;
        } steps[] = {
            {{"machine", "diff", dir}, 2, "has no snapshot to compare with"},
            {{"machine", "snapshot", dir, "base"}, 0, "^Saved snapshot \"base\""},
            {{"machine", "snapshot", dir, "base"}, 1, "snapshot \"base\" exists already (--replace replaces it)"},
            {{"machine", "snapshot", dir, "base", "--replace"}, 0, "^Saved snapshot"},
            {{"machine", "snapshot", dir, "../up"}, 2, "is no snapshot name"},
            {{"machine", "snapshot", m_dir.filePath("none"), "x"}, 1, "holds no machine"},
            {{"machine", "snapshots", dir}, 0, "^base\t"},
            {{"machine", "diff", dir, "base"}, 0, ""},
            {{"machine", "diff", dir}, 0, ""},
            {{"machine", "diff", dir, "nosuch"}, 2, "is neither a snapshot of"},
            {{"machine", "diff", m_dir.filePath("none"), "base"}, 2, "holds no machine"},
            {{"machine", "diff", dir, other}, 1, "^+ key " + Demo + "\n+ value " + Demo + " \"V\"=\"1\"\n"},
            {{"machine", "diff", other, dir}, 1, "^- key " + Demo + "\n- value " + Demo + " \"V\"=\"1\"\n"},
            {{"machine", "restore", dir, "nosuch"}, 1, "has no snapshot \"nosuch\""},
            {{"machine", "restore", dir, "base"}, 0, "^Restored"},
            {{"run", Example + "linear.xml", "--dry-run", "--rollback-on-failure"}, 2, "rollback-on-failure"},
        };
        for (const auto& step : steps) {
            const CommandRun run = winsteps(step.arguments);
            const QString all = run.out + run.err;
            QVERIFY2(run.exitCode == step.exitCode, qPrintable(step.arguments.join(' ') + ": " + all));
            if (step.text.startsWith('^'))
                QVERIFY2(run.out.startsWith(step.text.mid(1)), qPrintable(all));
            else if (step.text.isEmpty())
                QVERIFY2(run.out.isEmpty(), qPrintable(all));
            else
                QVERIFY2(all.contains(step.text), qPrintable(all));
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
        const QString dir = machine(QStringLiteral("diff-%1").arg(QTest::currentDataTag()).replace(' ', '-'));
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
        const QString dir = machine(QStringLiteral("odd"));
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
        const QString dir = machine("dry-" + wizard, profile);
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
};

QTEST_GUILESS_MAIN(TstSnapshots)
#include "tst_snapshots.moc"
