// The machine commands of winsteps end to end, and the registry example wizard run on
// machine folders of several profiles, restarted and checked through export-reg.

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include "support/commandrun.h"
#include "support/files.h"

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
        QTest::addColumn<bool>("removal");   // files can be scheduled for removal (NT)
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
        QFETCH(bool, removal);
        QFETCH(QString, proxy);
        QFETCH(QString, programFiles);
        const QString dir = folder();
        QCOMPARE(runWinsteps({"machine", "init", dir, "--profile", profile}).exitCode, 0);
        const QString product = dir + QStringLiteral("/drive_c/") + programFiles + QStringLiteral("/Demo Suite");
        for (const char* file : {"/old/readme.txt", "/old/data/store.db", "/tray.exe"})
            QVERIFY(testsupport::writeFile(product + QLatin1String(file), QByteArray()));

        const QString report = m_dir.filePath(QStringLiteral("report-%1.json").arg(profile));
        CommandRun result = runWinsteps({"run", QStringLiteral(EXAMPLES_DIR "/registry.xml"), "--machine", dir, "--report", report});
        QVERIFY2(result.exitCode == 0, qPrintable(result.out + result.err));
        const QJsonObject properties = QJsonDocument::fromJson(testsupport::readFile(report))["machine"]["properties"].toObject();
        QCOMPARE(properties["installedVersion"]["value"].toString(), QStringLiteral("2.1"));
        QCOMPARE(properties["httpProxy"]["value"].toString(), proxy);

        result = runWinsteps({"machine", "show", dir});
        QCOMPARE(result.exitCode, 0);
        // Windows paths in the registry, as on Windows.
        const QString installed = QStringLiteral("C:\\%1\\Demo Suite\\").arg(programFiles).replace('\\', QStringLiteral("\\\\"));
        QVERIFY2(result.out.contains(QStringLiteral("  Demo Suite 2.1 [DemoSuite]: C:\\%1\\Demo Suite\\uninstall.exe\n").arg(programFiles)),
                 qPrintable(result.out));
        QCOMPARE(result.out.contains(QStringLiteral("  remove C:\\%1\\Demo Suite\\old\n").arg(programFiles)), removal);
        // The usual services of an NT system, none on the 9x family.
        QCOMPARE(result.out.contains(QStringLiteral("  Spooler (Print Spooler): running, auto\n")), removal);

        result = runWinsteps({"machine", "reboot", dir});
        QCOMPARE(result.exitCode, 0);
        QVERIFY2(result.out.contains(QStringLiteral("ran HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce: "
                                                    "Demo Suite Setup = ")),
                 qPrintable(result.out));
        QCOMPARE(QFileInfo::exists(product + QStringLiteral("/old")), !removal);
        QVERIFY(QFileInfo::exists(product + QStringLiteral("/tray.exe")));

        // The machine as the registry editor would show it: all in the 64-bit view's own keys.
        const CommandRun exported = runWinsteps({"machine", "export-reg", dir});
        QVERIFY(exported.out.startsWith(QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE]\r\n")));
        const QString reg = QString(exported.out).remove(QLatin1Char('\r'));
        const QString version = QStringLiteral("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion");
        const QStringList expected = {
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Example Software\\Demo Suite]\n\"Version\"=\"2.1\"\n"
            "\"InstallDir\"=\"C:\\\\Program Files\\\\Demo Suite\"\n\"Build\"=dword:0000083b\n\n",
            version + "\\RunOnce]\n\n",
            version + "\\Uninstall\\DemoSuite]\n\"DisplayName\"=\"Demo Suite 2.1\"\n\"UninstallString\"=\"" + installed + "uninstall.exe\"\n",
            version + "\\Run]\n\"Demo Suite Tray\"=\"" + installed + "tray.exe\"\n",
        };
        for (const QString& text : expected)
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

    void copyWritesOnlyOnTheMachine_data()
    {
        QTest::addColumn<QString>("destination"); // "%OUT%": a host folder outside the machine
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("lands"); // below drive_c

        QTest::newRow("C:/ path") << "C:/Demo" << 0 << "Demo/a.txt";
        QTest::newRow("backslashes, .. stops at the root") << "c:\\Demo\\..\\..\\Up" << 0 << "Up/a.txt";
        QTest::newRow("host folder outside") << "%OUT%" << 1 << "";
        QTest::newRow("relative path") << "Demo" << 1 << "";
    }

    void copyWritesOnlyOnTheMachine()
    {
        QFETCH(QString, destination);
        QFETCH(int, exitCode);
        QFETCH(QString, lands);
        const QString dir = folder();
        QTemporaryDir media, work, out;
        QVERIFY(testsupport::writeFile(media.filePath(QStringLiteral("a.txt")), "from the media"));
        const QString wizard = m_dir.filePath(QStringLiteral("copy%1.xml").arg(m_count));
        QVERIFY(testsupport::writeFile(wizard, QStringLiteral("<fsm name=\"copy\" start=\"copy\"><state name=\"copy\" type=\"copyFiles\">"
                                 "<property key=\"srcDir\" value=\"%1\"/><property key=\"copyFile1\" value=\"%SRC%/*.txt::%2\"/>"
                                 "</state></fsm>")
                      .arg(media.path(), QString(destination).replace(QLatin1String("%OUT%"), out.path())).toUtf8()));

        const CommandRun result = runWinsteps({"run", wizard, "--machine", dir}, QByteArray(), work.path());
        QVERIFY2(result.exitCode == exitCode, qPrintable(result.err));
        if (!lands.isEmpty())
            QCOMPARE(QFile(dir + QStringLiteral("/drive_c/") + lands).size(), 14);
        // Nothing in the working directory or outside the machine.
        QCOMPARE(QDir(work.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
        QCOMPARE(QDir(out.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    }

private:
    QString folder() { return m_dir.filePath(QStringLiteral("m%1").arg(++m_count)); }
    QTemporaryDir m_dir;
    int m_count = 0;
};

QTEST_GUILESS_MAIN(TstMachine)
#include "tst_machine.moc"
