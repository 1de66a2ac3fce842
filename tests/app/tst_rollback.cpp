// The machine journal end to end: winsteps run --rollback-on-failure, winsteps machine runs and
// rollback, refusals when a later change stands in the way, runs inherited by child processes,
// and runs killed at random moments.

#include "support/commandrun.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QJsonArray>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>
#include <QThread>

#include <csignal>

namespace {

const QString wizard = QStringLiteral(DATA_DIR "/failing.xml");
const QString sourceSet = QStringLiteral("fsm.sourceDir=" EXAMPLES_DIR "/services");
const QString regHead = QStringLiteral("Windows Registry Editor Version 5.00\n\n");

// The machine as a rollback must leave it: its registry and its drive C: tree with each file's
// content hash.
QString machineState(const QString& folder)
{
    QString state = runWinsteps({"machine", "export-reg", folder}).out;
    QStringList tree;
    const QString driveC = folder + "/drive_c";
    QDirIterator it(driveC, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        QString line = QDir(driveC).relativeFilePath(info.filePath());
        QFile file(info.filePath());
        if (info.isFile() && file.open(QIODevice::ReadOnly))
            line += ' ' + QString::fromLatin1(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha1).toHex());
        tree << line;
    }
    tree.sort();
    return state + tree.join('\n');
}

QString newMachine(const QTemporaryDir& dir)
{
    static int count = 0;
    const QString folder = dir.filePath(QStringLiteral("m%1").arg(++count));
    const CommandRun init = runWinsteps({"machine", "init", folder});
    if (init.exitCode != 0)
        qWarning("%s", qPrintable(init.err));
    return folder;
}

// The arguments that run the failing wizard on the machine in folder.
QStringList wizardRun(const QString& folder, const QString& source = sourceSet)
{
    return {"run", wizard, "--machine", folder, "--set", source};
}

QStringList undoingRun(const QString& folder)
{
    return wizardRun(folder) << "--rollback-on-failure";
}

CommandRun machine(const QStringList& arguments)
{
    return runWinsteps(QStringList{"machine"} + arguments);
}

// The environment of a run that is killed: without the sanitizers' leak check at its exit. A
// kill that falls into that check cuts it short and leaves a broken report behind (which
// fails a sanitizer build's run), and a killed process has no leaks worth the name.
QProcessEnvironment killableEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (environment.contains("ASAN_OPTIONS"))
        environment.insert("ASAN_OPTIONS", environment.value("ASAN_OPTIONS") + ":detect_leaks=0");
    return environment;
}

} // namespace

class TestRollback : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_reports = 0;

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void rollbackOnFailureRestoresTheMachine()
    {
        const QString folder = newMachine(m_dir);
        const QString before = machineState(folder);
        const ReportRun run = runWinstepsWithReport(m_dir, m_reports, undoingRun(folder));
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(machineState(folder), before);
        const QJsonObject rollback = run.report["rollback"].toObject();
        QCOMPARE(rollback["run"].toInt(), run.report["run"].toInt());
        const QStringList undone = rollback["undone"].toVariant().toStringList();
        // Newest first: the last registry write, then the firewall, the service, the files.
        const QStringList expected{
            "restored registry value HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\ProgramFilesDir",
            "removed registry value HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\SharedAccess",
            "removed registry key HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\RollbackDemoSvc",
            "removed file C:\\Program Files\\Rollback Demo\\bin\\demosvc.exe",
            "removed registry key HKEY_LOCAL_MACHINE\\SOFTWARE\\Rollback Demo",
        };
        qsizetype at = 0;
        for (const QString& text : expected) {
            const auto found = std::find_if(undone.begin() + at, undone.end(), [&](const QString& line) { return line.contains(text); });
            QVERIFY2(found != undone.end(), qPrintable(text + " in order in\n" + undone.join('\n')));
            at = found - undone.begin();
        }
        QVERIFY(machine({"runs", folder}).out.contains("(failed)"));
    }

    // Rollback of the first of two runs, with or without a later change in the way.
    void rollbackLater_data()
    {
        QTest::addColumn<QString>("later"); // "wizard": a second run from other files; "<fsm": a wizard; else a .reg file to import
        QTest::addColumn<QString>("refusal");
        const QString cannot = QStringLiteral("cannot undo run 1: ");
        const QString version = QStringLiteral("registry value HKEY_LOCAL_MACHINE\\SOFTWARE\\Rollback Demo\\Settings\\Version ");
        QTest::newRow("a later run wrote the same files") << "wizard"
            << cannot + "file C:\\Program Files\\Rollback Demo\\bin\\backup\\demosvc.exe was changed later by run 2";
        QTest::newRow("a later run set the same value")
            << R"(<fsm name="later" start="v"><state name="v" type="writeRegkey"><property key="scope" value="global"/>)"
               R"(<property key="path" value="SOFTWARE\Rollback Demo\Settings"/><property key="key" value="Version"/>)"
               R"(<property key="value" value="2.0"/></state></fsm>)"
            << cannot + version + "was changed later by run 2";
        QTest::newRow("a later change set the same value") << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Rollback Demo\\Settings]\n\"Version\"=\"2.0\"\n"
                                                           << cannot + version + "was changed later by a change outside any run";
        QTest::newRow("a key of the run holds later content")
            << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Rollback Demo\\Settings\\Later]\n"
            << cannot + "registry key HKEY_LOCAL_MACHINE\\SOFTWARE\\Rollback Demo\\Settings holds "
                        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Rollback Demo\\Settings\\Later, added later by a change outside any run";
        QTest::newRow("a later change elsewhere") << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Elsewhere]\n" << QString();
    }

    void rollbackLater()
    {
        QFETCH(QString, later);
        QFETCH(QString, refusal);
        const QString folder = newMachine(m_dir);
        const QString before = machineState(folder);
        QCOMPARE(runWinsteps(wizardRun(folder)).exitCode, 1);
        const bool laterRun = later == "wizard" || later.startsWith("<fsm");
        if (later == "wizard") {
            QTemporaryDir other;
            QFile program(other.filePath("demosvc.exe"));
            QVERIFY(program.open(QIODevice::WriteOnly) && program.write("another program") > 0);
            program.close();
            QCOMPARE(runWinsteps(wizardRun(folder, "fsm.sourceDir=" + other.path())).exitCode, 1);
        } else if (laterRun) {
            const QString other = writeTestFile(m_dir, m_reports, later.toUtf8(), ".xml");
            QCOMPARE(runWinsteps({"run", other, "--machine", folder}).exitCode, 0);
        } else {
            QCOMPARE(machine({"import-reg", folder, writeTestFile(m_dir, m_reports, (regHead + later).toUtf8(), ".reg")}).exitCode, 0);
        }
        const QString afterLater = machineState(folder);
        const CommandRun first = machine({"rollback", folder, "1"});
        if (refusal.isEmpty()) {
            QCOMPARE(first.exitCode, 0);
            QVERIFY(machineState(folder).contains("Elsewhere"));
            return;
        }
        QCOMPARE(first.err, "winsteps machine rollback: " + refusal + '\n');
        QCOMPARE(first.exitCode, 1);
        QCOMPARE(machineState(folder), afterLater); // refused whole: nothing touched
        // Once the later run is undone, the first one can be.
        if (laterRun) {
            QCOMPARE(machine({"rollback", folder}).exitCode, 0);
            QCOMPARE(machine({"rollback", folder}).exitCode, 0);
            QCOMPARE(machineState(folder), before);
        }
    }

    // A program started with WINSTEPS_RUN acts in that run: its changes are the run's.
    void childProcessesJoinTheRun()
    {
        const QString folder = newMachine(m_dir);
        const QString before = machineState(folder);
        QCOMPARE(runWinsteps(wizardRun(folder)).exitCode, 1);
        const QString child = regHead + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Rollback Demo\\Settings\\Child]\n\"A\"=\"1\"\n";
        const QString reg = writeTestFile(m_dir, m_reports, child.toUtf8(), ".reg");
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("WINSTEPS_RUN", "1");
        process.setProcessEnvironment(environment);
        process.start(WINSTEPS_EXE, {"machine", "import-reg", folder, reg});
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(QJsonDocument::fromJson(machine({"runs", folder, "--json"}).out.toUtf8()).array().size(), 1);
        const CommandRun rollback = machine({"rollback", folder});
        QCOMPARE(rollback.exitCode, 0);
        QVERIFY2(rollback.out.contains("removed registry value HKEY_LOCAL_MACHINE\\SOFTWARE\\Rollback Demo\\Settings\\Child\\A"),
                 qPrintable(rollback.out));
        QCOMPARE(machineState(folder), before);
    }

    void badRuns_data()
    {
        QTest::addColumn<QStringList>("arguments"); // after "rollback DIR"
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("not a number") << QStringList{"x"} << 2 << "RUN wants a run number (see 'winsteps machine runs'), not \"x\"";
        QTest::newRow("zero") << QStringList{"0"} << 2 << "not \"0\"";
        QTest::newRow("unknown run") << QStringList{"7"} << 1 << "there is no run 7";
        QTest::newRow("rolled back already") << QStringList{"1"} << 1 << "run 1 was rolled back already";
        QTest::newRow("none left") << QStringList() << 1 << "no run to roll back";
    }

    void badRuns()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, message);
        static QString folder;
        if (folder.isEmpty()) {
            folder = newMachine(m_dir);
            runWinsteps(undoingRun(folder));
        }
        const CommandRun run = machine(QStringList{"rollback", folder} + arguments);
        QCOMPARE(run.exitCode, status);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
    }

    // A run killed at any moment is undone by machine rollback, also when the kill cut a rollback
    // short.
    void killedRunsAreUndone()
    {
        const QString folder = newMachine(m_dir);
        const QString before = machineState(folder);
        // The kills fall at random moments of every stage: after a random number of the trace
        // lines a whole run writes (none: while the process starts), then 0 to 3 ms later.
        const CommandRun whole = runWinsteps(undoingRun(folder));
        QCOMPARE(whole.exitCode, 1);
        const int lines = int(whole.err.count(QLatin1Char('\n')));
        int killed = 0, undone = 0;
        for (int trial = 0; trial < 50; ++trial) {
            QProcess run;
            run.setReadChannel(QProcess::StandardError);
            run.setProcessEnvironment(killableEnvironment());
            run.start(WINSTEPS_EXE, undoingRun(folder));
            QVERIFY(run.waitForStarted());
            const int wanted = QRandomGenerator::global()->bounded(lines + 1);
            for (int seen = 0; seen < wanted && run.waitForReadyRead(5000);)
                seen += run.readAll().count('\n');
            QThread::usleep(QRandomGenerator::global()->bounded(3000));
            run.kill();
            QVERIFY(run.waitForFinished());
            killed += run.exitStatus() == QProcess::CrashExit;
            const CommandRun check = machine({"check", folder});
            QVERIFY2(check.exitCode == 0 && check.out == "ok\n", qPrintable(check.err));
            const CommandRun rollback = machine({"rollback", folder});
            QVERIFY2(rollback.exitCode == 0 || rollback.err.contains("no run to roll back"), qPrintable(rollback.err));
            undone += rollback.exitCode == 0;
            QCOMPARE(machineState(folder), before);
        }
        qInfo("50 runs of %d trace lines: %d killed before their end, %d left a run for machine rollback",
              lines, killed, undone);
    }

    // Ctrl+C and SIGTERM end the run cleanly, and --rollback-on-failure then undoes it: whatever
    // the moment, the machine is as before and no run is left to roll back.
    void interruptedRunsRollBack()
    {
        const QString folder = newMachine(m_dir);
        const QString before = machineState(folder);
        for (int trial = 0; trial < 6; ++trial) {
            QProcess run;
            run.start(WINSTEPS_EXE, undoingRun(folder));
            // Once the first state traces, the run has begun and the signals are caught; by two
            // seconds they are in any case. On a loaded machine the run may be over (failed and
            // rolled back) before the test looks.
            run.setReadChannel(QProcess::StandardError);
            run.waitForReadyRead(2000);
            QThread::usleep(QRandomGenerator::global()->bounded(60000));
            const qint64 pid = run.processId();
            if (pid > 0) // never 0: that would signal this process group
                ::kill(pid_t(pid), trial % 2 ? SIGINT : SIGTERM);
            if (!run.waitForFinished(60000)) {
                QFile wchan(QStringLiteral("/proc/%1/wchan").arg(pid));
                QVERIFY2(false, qPrintable(QStringLiteral("the run did not end; it waits in %1; its output: %2")
                                               .arg(wchan.open(QIODevice::ReadOnly) ? QString::fromUtf8(wchan.readAll()) : QString(),
                                                    QString::fromUtf8(run.readAllStandardError().right(2000)))));
            }
            QCOMPARE(run.exitStatus(), QProcess::NormalExit);
            QCOMPARE(run.exitCode(), 1);
            QCOMPARE(machineState(folder), before);
        }
        QVERIFY(machine({"rollback", folder}).err.contains("no run to roll back"));
    }
};

QTEST_GUILESS_MAIN(TestRollback)
#include "tst_rollback.moc"
