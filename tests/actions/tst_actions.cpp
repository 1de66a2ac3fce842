// Actions and action states: progress, finishing, stopping, property fall-back; the
// start-application and copy-files actions.

#include "actions/cactioncopyfiles.h"
#include "actions/cactionstartapp.h"
#include "actions/cactionstate.h"
#include "actions/cprocess.h"
#include "debug/debugoutput.h"
#include "platform/emulated/emulatedprocess.h"

#include <QDomDocument>
#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include "support/files.h"
#include "support/freshmachine.h"
#include "support/hostprocess.h"
#include "support/pluginstates.h"
#include "support/tracecapture.h"

#include <sys/ioctl.h>
#include <sys/stat.h>

#include <atomic>
#include <fcntl.h>
#include <unistd.h>

namespace platform = winsteps::platform;
using testsupport::readFile;
using testsupport::runState;
using testsupport::writeFile;

namespace {

// A synchronous action that finishes with a given result and event.
class CFixedAction : public CAction
{
public:
    using CAction::CAction;
    int execute() override
    {
        setResultEvent(event);
        return code;
    }
    int code = 4;
    QString event;
};

// A threaded action whose worker sets some progress and then, if asked, works until stopped.
class CWorkAction : public CThreadedAction
{
public:
    using CThreadedAction::CThreadedAction;
    ~CWorkAction() override { stopAndWait(); }
    int execute() override
    {
        workerThread = QThread::currentThread();
        for (int step = 1; step <= steps; ++step)
            setProgress(step);
        working = true;
        while (untilStopped && pause(1000)) {
        }
        setResultEvent(QStringLiteral("success"));
        return code;
    }
    // Set by the test while a stopped worker may still be ending.
    std::atomic<int> steps{0};
    std::atomic<bool> untilStopped{false};
    std::atomic<int> code{0};
    std::atomic<bool> working{false};
    QThread* workerThread = nullptr;
};

// Copies from a pipe instead of each listed file (pipes are not listed: they are no plain files).
class CStreamCopy : public CActionCopyFiles
{
public:
    CStreamCopy(QObject* parent, const QString& stream)
        : CActionCopyFiles(parent, "stream")
        , m_stream(stream)
    {
    }
    ~CStreamCopy() override { stopAndWait(); }
    int copyFile(const QString&, const QString& destinationPath) override
    {
        return CActionCopyFiles::copyFile(m_stream, destinationPath);
    }

private:
    QString m_stream;
};

struct CTestState : CActionState
{
    explicit CTestState(const char* name = "work") : CActionState(nullptr, name, QDomNode()) {}
    // Gives the state its action (made with the state as parent) and the "key=value" properties.
    template <class Action>
    Action* use(Action* action, const QStringList& properties = {})
    {
        setAction(action);
        for (const QString& text : properties)
            setProperty(text.section(QLatin1Char('='), 0, 0), text.section(QLatin1Char('='), 1));
        return action;
    }
};

QList<QPair<int, int>> progressOf(const QSignalSpy& spy)
{
    QList<QPair<int, int>> list;
    for (const QList<QVariant>& call : spy)
        list << qMakePair(call.at(0).toInt(), call.at(1).toInt());
    return list;
}

// Bytes waiting in a pipe.
int pending(int fd)
{
    int bytes = -1;
    return ::ioctl(fd, FIONREAD, &bytes) == 0 ? bytes : -1;
}

// Emulated programs (the exit tool) whose names no other test process uses.
QString task() { return QStringLiteral("task%1.exe").arg(QCoreApplication::applicationPid()); }
QString other() { return QStringLiteral("other%1.exe").arg(QCoreApplication::applicationPid()); }

// Gives state a start-application action set up with command, arguments and timeout.
CActionStartApp* addStartApp(CTestState& state, const QString& command, const QStringList& arguments, const QString& timeout)
{
    auto* action = state.use(new CActionStartApp(&state, state.objectName().toUtf8().constData()),
                             {"command=" + command, "timeout=" + timeout});
    if (!arguments.isEmpty())
        state.setProperty(QStringLiteral("argumentList"), arguments);
    return action;
}

} // namespace

class TstActions : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv(platform::emulated::toolHostVariable, WINSTEPS_EXE);
        std::string error;
        m_machine = testsupport::openFreshMachine(m_dir, QStringLiteral(R"({"inherits": "winxp-sp2", "tools": {"%1": "exit", "%2": "exit"}})")
                                                             .arg(task(), other()), &error);
        QVERIFY2(!m_machine.isEmpty(), error.c_str());
        // The workers' two start lines would fill the test log.
        QLoggingCategory::setFilterRules(QStringLiteral("winsteps.thread.debug=false"));
    }

    void init()
    {
        static int count = 0;
        m_source = m_machine + QStringLiteral("/drive_c/copy%1").arg(++count); // writes stay on the machine
    }

    void timerSequence()
    {
        CWorkAction action(nullptr, "timer");
        QSignalSpy progress(&action, &CAction::actionProgress);
        action.startProgressTimer();
        action.startProgressTimer(); // twice: still one step per tick
        QCOMPARE(action.progressTimer()->interval(), 1000);
        QVERIFY(action.progressTimer()->isActive());
        QTRY_COMPARE_WITH_TIMEOUT(progress.count(), 1, 2500);
        QCOMPARE(progress.at(0), (QVariantList{1, 5}));
        action.stopProgressTimer();
        QVERIFY(!action.progressTimer()->isActive());
        // The ticks that follow, without waiting a second for each.
        for (int tick = 0; tick < 5; ++tick)
            action.progressTimerSlot();
        QCOMPARE(progressOf(progress), (QList<QPair<int, int>>{{1, 5}, {2, 5}, {3, 5}, {4, 5}, {5, 5}, {5, 5}}));
    }

    void setProgress_data()
    {
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("published");
        QTest::addColumn<int>("percent"); // of the state that runs the action

        QTest::newRow("above the maximum") << 5 << 7 << 5 << 100;
        QTest::newRow("negative: no lower bound") << 5 << -3 << -3 << -60;
        QTest::newRow("1 of 3, cut toward zero") << 3 << 1 << 1 << 33;
        QTest::newRow("maximum 0") << 0 << 1 << 0 << 0;
    }

    void setProgress()
    {
        QFETCH(int, maximum);
        QFETCH(int, value);
        QFETCH(int, published);
        QFETCH(int, percent);

        CTestState state;
        auto* action = state.use(new CFixedAction(&state, "progress"));
        action->setMaxProgress(maximum);
        QSignalSpy progress(action, &CAction::actionProgress);
        QSignalSpy statePercent(&state, &CState::progress);
        connect(action, &CAction::actionProgress, &state, &CActionState::slot_actionProgress);
        action->setProgress(value);
        QCOMPARE(progressOf(progress), (QList<QPair<int, int>>{{published, maximum}}));
        QCOMPARE(statePercent.count(), 1);
        QCOMPARE(statePercent.at(0).at(0).toInt(), percent);
        QCOMPARE(state.percent(), percent);
        QCOMPARE(state.progressPercent(), double(percent)); // the state's own progress agrees
        // Steps below 1 change nothing and say nothing.
        action->stepProgress(0);
        action->stepProgress(-1);
        QCOMPARE(progress.count(), 1);
        QCOMPARE(action->progress(), published);
    }

    void synchronousAndThreadedFinish()
    {
        CFixedAction sync(nullptr, "sync");
        QSignalSpy syncFinished(&sync, &CAction::actionFinished);
        sync.start();
        QCOMPARE(syncFinished.count(), 1); // before start() returned
        QCOMPARE(syncFinished.at(0).at(0).toInt(), 4);

        // Threaded, stopped while it works and started again: the new run waits for the stopped
        // one, and only its progress and end arrive, on the event thread, in order.
        CWorkAction threaded(nullptr, "threaded");
        threaded.untilStopped = true;
        QSignalSpy progress(&threaded, &CAction::actionProgress);
        QThread* emittedOn = nullptr;
        connect(&threaded, &CAction::actionFinished, this, [&emittedOn] { emittedOn = QThread::currentThread(); },
                Qt::DirectConnection);
        QSignalSpy finished(&threaded, &CAction::actionFinished);
        threaded.start();
        QTRY_VERIFY(threaded.working);
        threaded.stop();
        threaded.untilStopped = false;
        threaded.code = 3;
        threaded.steps = 3;
        threaded.start();
        while (threaded.isWorkerRunning()) // without running the event loop
            QThread::yieldCurrentThread();
        QCOMPARE(finished.count(), 0); // only once the event loop has delivered the event
        QTRY_COMPARE(finished.count(), 1);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toInt(), 3);
        QCOMPARE(progressOf(progress), (QList<QPair<int, int>>{{1, 5}, {2, 5}, {3, 5}}));
        QCOMPARE(emittedOn, QThread::currentThread());
        QVERIFY(threaded.workerThread != QThread::currentThread());
    }

    void propertyFallBack_data()
    {
        QTest::addColumn<QString>("onState");
        QTest::addColumn<QString>("onAction");
        QTest::addColumn<QString>("seenByState");
        QTest::addColumn<QString>("seenByAction");

        QTest::newRow("state only") << "s" << "" << "s" << "s";
        QTest::newRow("action only") << "" << "a" << "a" << "a";
        QTest::newRow("both: each its own") << "s" << "a" << "s" << "a";
        QTest::newRow("neither") << "" << "" << "" << "";
    }

    void propertyFallBack()
    {
        QFETCH(QString, onState);
        QFETCH(QString, onAction);
        QFETCH(QString, seenByState);
        QFETCH(QString, seenByAction);

        CTestState state;
        auto* action = state.use(new CFixedAction(&state, "action"));
        if (!onState.isEmpty())
            state.setProperty(QStringLiteral("x"), onState);
        if (!onAction.isEmpty())
            action->setProperty(QStringLiteral("x"), onAction);
        // Neither side sends a question back to the other: no endless loop when nobody has it.
        QCOMPARE(state.property(QStringLiteral("x")).toString(), seenByState);
        QCOMPARE(action->property(QStringLiteral("x")).toString(), seenByAction);
        QCOMPARE(state.hasProperty(QStringLiteral("x")), !seenByState.isEmpty());
        QCOMPARE(action->exists(QStringLiteral("x")), !seenByAction.isEmpty());
        QCOMPARE(state.propertyNames().contains(QStringLiteral("x")), !seenByState.isEmpty());
    }

    void readProperties()
    {
        // On the emulated Windows XP SP2: "winxp+" applies, "win9x" does not.
        QDomDocument document;
        document.setContent(QStringLiteral(R"(
        <action>
          <property key="direct" value="1"/>
          <SYSTEM type="common"><property key="common" value="2"/></SYSTEM>
          <system type="WinXP+"><property key="xp" value="3"/></system>
          <system type="win9x"><property key="nine" value="4"/></system>
          <group><property key="nested" value="5"/></group>
        </action>)"));
        const QDomElement element = document.documentElement();
        TraceCapture trace;
        CFixedAction action(nullptr, nullptr, element);
        QVERIFY(trace.contains(QStringLiteral("Create action \"_unnamed_\"\n")));
        action.setObjectName(QStringLiteral("named"));
        action.readProperties(element);
        QVERIFY(trace.contains(QStringLiteral("Set property for action \"named\": key = \"xp\" value = \"3\"\n")));
        QCOMPARE(action.dataFields().keys(), (QStringList{"common", "direct", "xp"}));
    }

    void stateLeavesByTheActionsEvent()
    {
        CTestState state;
        auto* action = state.use(new CFixedAction(&state, "action"));
        TraceCapture trace;
        QCOMPARE(runState(state), QString()); // an empty result event: an empty exit event
        QVERIFY(trace.contains(QStringLiteral("--- State work: actionFinished - result = 4\n")));
        action->event = QStringLiteral("success");
        QCOMPARE(runState(state), QStringLiteral("success"));
        // Once it has left, a late end or progress of its action no longer reaches it.
        QSignalSpy finished(&state, &CState::finished);
        Q_EMIT action->actionFinished(0);
        Q_EMIT action->actionProgress(1, 5);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(finished.count(), 0);
        QCOMPARE(state.percent(), 0);
    }

    void startApp_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("timeout");
        QTest::addColumn<int>("result");
        QTest::addColumn<QVariant>("returnCode");
        QTest::addColumn<int>("steps"); // the least number of progress steps before the 100 of leaving
        QTest::addColumn<QString>("traced");

        // The task program waits SECONDS, then exits with CODE.
        const QStringList hangs{"0", "30"};
        QTest::newRow("ends within the time-out") << task() << QStringList{"3", "2.2"} << "10" << 0 << QVariant(3LL) << 2 << "Process finished, return code = 3\n";
        QTest::newRow("time-out") << task() << hangs << "1" << 2 << QVariant() << 1 << "Process timeout\n";
        QTest::newRow("no wait") << task() << hangs << "0" << 0 << QVariant() << 0 << "startProcess() start success\n";
        QTest::newRow("below -1: timed out at once") << task() << hangs << "-2" << 2 << QVariant() << 0 << "Process timeout\n";
        QTest::newRow("no limit") << task() << QStringList{"7", "0.2"} << "-1" << 0 << QVariant(7LL) << 0 << "Process finished, return code = 7\n";
        QTest::newRow("cannot start") << "/no/such/program" << QStringList() << "5" << 1 << QVariant() << 0 << "startProcess() start failed\n";
        // Ended and let go by the process object's poll before the action asks for its code.
        QTest::newRow("ends at once") << "/bin/sh" << QStringList{"-c", "\"exit 6\""} << "5" << 0 << QVariant(6LL) << 0 << "Process finished, return code = 6\n";
        // The other program already runs (code 5): the state waits for it, whatever the path and case.
        QTest::newRow("instance already running") << QStringLiteral("C:\\Tools\\") + other().toUpper() << QStringList{"9"} << "10" << 0
                                                  << QVariant(5LL) << 0 << "startProcess() process already running\n";
    }

    void startApp()
    {
        QFETCH(QString, command);
        QFETCH(QStringList, arguments);
        QFETCH(QString, timeout);
        QFETCH(int, result);
        QFETCH(QVariant, returnCode);
        QFETCH(int, steps);
        QFETCH(QString, traced);

        const QByteArray row = QTest::currentDataTag();
        CProcess instance;
        instance.setArguments({QStringLiteral("5"), QStringLiteral("1")});
        QVERIFY(row != "instance already running" || instance.start(other()));
        // For "ends at once" the worker is held up after the start, so the process object's poll
        // has let go of the process before the wait begins.
        TraceCapture trace(row == "ends at once" ? "startProcess() start success" : nullptr);
        CTestState state("app");
        CActionStartApp* action = addStartApp(state, command, arguments, timeout);
        QSignalSpy spy(&state, &CState::progress);

        QCOMPARE(runState(state), result == 0 ? QStringLiteral("success") : QStringLiteral("failed"));
        QCOMPARE(action->result(), result);
        QCOMPARE(state.property(QStringLiteral("returnCode")), returnCode);
        QVERIFY2(trace.contains(traced), trace.text.c_str());
        // One step of the time-out (or of 5) per second of waiting, then 100 on leaving: at least
        // the program's own run, never beyond the time-out (a loaded machine starts it later).
        QList<int> seen, wanted;
        for (const QList<QVariant>& call : spy)
            seen << call.at(0).toInt();
        const int maximum = timeout.toInt() >= 1 ? timeout.toInt() : 5;
        for (int step = 1; step < seen.size(); ++step)
            wanted << 100 * step / maximum;
        QCOMPARE(seen, wanted << 100);
        QVERIFY2(seen.size() > steps && (timeout.toInt() < 1 || seen.size() <= timeout.toInt() + 1),
                 qPrintable(QStringLiteral("%1 steps").arg(seen.size())));
        QCOMPARE(action->property(QStringLiteral("argumentList")).toStringList(), QStringList(command) + arguments);
        platform::emulated::endMachineProcesses(0); // a program left running after a time-out
    }

    void startAppUndo_data()
    {
        QTest::addColumn<bool>("running");
        QTest::addColumn<QString>("timeout");
        QTest::addColumn<QString>("event");
        QTest::addColumn<QString>("traced");

        QTest::newRow("stops the running instance") << true << "5" << "success" << "Process finished, return code = 0\n";
        QTest::newRow("stops without waiting") << true << "0" << "success" << "";
        QTest::newRow("nothing running") << false << "5" << "failed" << "Process not stopped\n";
    }

    void startAppUndo()
    {
        QFETCH(bool, running);
        QFETCH(QString, timeout);
        QFETCH(QString, event);
        QFETCH(QString, traced);

        // A process of the host under the same name is none of the machine's: never touched.
        const QString decoyPath = m_dir.filePath(task());
        QVERIFY(QFileInfo::exists(decoyPath) || QFile::copy(QStringLiteral("/bin/sleep"), decoyPath));
        HostProcess decoy(decoyPath, {QStringLiteral("30")});
        QVERIFY(decoy.started());
        CProcess instance;
        instance.setArguments({QStringLiteral("4"), QStringLiteral("30")});
        QVERIFY(!running || instance.start(task()));
        TraceCapture trace;
        CTestState state("undo");
        addStartApp(state, task(), {}, timeout);
        state.setProperty(QStringLiteral("undo"), QStringLiteral("yes"));
        QVERIFY2(runState(state) == event, trace.text.c_str());
        QCOMPARE(state.property(QStringLiteral("returnCode")), QVariant(0LL));
        QVERIFY2(trace.contains(traced), trace.text.c_str());
        QTRY_VERIFY(!instance.isRunning());
        QVERIFY(decoy.running());
    }

    void startAppStopDuringWait()
    {
        TraceCapture trace;
        CTestState state("wait");
        CActionStartApp* action = addStartApp(state, task(), {QStringLiteral("0"), QStringLiteral("30")}, QStringLiteral("-1"));
        QSignalSpy finished(&state, &CState::finished);
        state.execute();
        QSignalSpy progress(action, &CAction::actionProgress);
        QTRY_VERIFY(trace.contains(QStringLiteral("startProcess() start success\n")));
        action->stop();
        QTRY_VERIFY_WITH_TIMEOUT(!action->isWorkerRunning(), 1000);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(finished.count(), 0);
        QCOMPARE(progress.count(), 0);
        QVERIFY(trace.contains(QStringLiteral("Process wait stopped\n")));
        const platform::ProcessHandlePtr left = CProcess::openProcess(task(), true);
        QVERIFY(left); // the program is left running
        left->terminate(0);
        QCOMPARE(left->wait(5000), platform::WAIT_OBJECT_0);
    }

    void startAppRunsTwiceWithTheSameArguments()
    {
        CTestState state("twice");
        CActionStartApp* action = addStartApp(state, QStringLiteral("%WINSYSDIR%\\") + task(), {QStringLiteral("%WINDRIVE%")},
                                              QStringLiteral("5"));
        const QStringList expanded{QStringLiteral("C:\\WINDOWS\\system32\\") + task(), QStringLiteral("C:")};
        for (int run = 0; run < 2; ++run) {
            QCOMPARE(runState(state), QStringLiteral("success"));
            QCOMPARE(state.property(QStringLiteral("returnCode")), QVariant(1LL)); // a drive is no exit code
            QCOMPARE(action->property(QStringLiteral("argumentList")).toStringList(), expanded);
        }
    }

    void copyMasks_data()
    {
        QTest::addColumn<QString>("order");
        QTest::addColumn<QStringList>("copied");

        QTest::newRow("one mask, any case") << "%SRC%/*.txt::%DEST%" << QStringList{"a.txt", "B.TXT", "with blank.txt"};
        QTest::newRow("two masks, first first") << "%SRC%/*.md|*.txt::%DEST%" << QStringList{"c.md", "a.txt", "B.TXT", "with blank.txt"};
        QTest::newRow("exact name with a blank") << "%SRCDIR%/with blank.txt::%DESTDIR%" << QStringList{"with blank.txt"};
        QTest::newRow("missing exact name") << "%SOURCE%/missing.txt::%DEST%" << QStringList();
        QTest::newRow("empty masks") << "%SOURCEDIR%/|::%DEST%" << QStringList();
    }

    void copyMasks()
    {
        QFETCH(QString, order);
        QFETCH(QStringList, copied);

        for (const char* name : {"a.txt", "B.TXT", "c.md", "d.log", "with blank.txt"})
            QVERIFY(writeFile(m_source + QLatin1Char('/') + QLatin1String(name), name));
        TraceCapture trace;
        CTestState state("masks");
        const QString destination = m_source + QStringLiteral("-out");
        state.use(new CActionCopyFiles(&state, "masks"), {"srcDir=" + m_source + '/', "destDir=" + destination, "copyFile1=" + order});
        QCOMPARE(runState(state), QStringLiteral("success"));
        for (qsizetype i = 0; i < copied.size(); ++i) {
            const QString line = QStringLiteral("Add file #%1 to list. From: %2/%3 - to: %4/%3\n").arg(i + 1).arg(m_source, copied.at(i), destination);
            QVERIFY2(trace.contains(line), qPrintable(line));
            QCOMPARE(readFile(destination + QLatin1Char('/') + copied.at(i)), copied.at(i).toUtf8());
        }
        QCOMPARE(QDir(destination).entryList(QDir::Files).size(), copied.size());
    }

    // The list as a state prepares it, and the action called directly, as a component
    // installation does: synchronous, on this thread.
    void copyListAndDirectCalls()
    {
        const QString one = m_source + QStringLiteral("/one.txt");
        QVERIFY(writeFile(one, "1"));
        CTestState state("orders");
        auto* listed = state.use(new CActionCopyFiles(&state, "orders"), // "copyFile1" without "::" gives nothing
                                 {"copyFile1=" + one, "copyFile2=" + one + "::" + m_source + "/two", "copyFile4=" + one + "::" + m_source + "/four"});
        for (int prepared = 0; prepared < 2; ++prepared) { // prepared again: the same list, not twice as long
            listed->resetProgress();
            QCOMPARE(listed->files().size(), 1);
            QCOMPARE(listed->files().value(1).second, m_source + QStringLiteral("/two/one.txt"));
            QCOMPARE(listed->maxProgress(), 1);
        }

        TraceCapture trace;
        CActionCopyFiles action(nullptr, "direct");
        action.addFile(m_source + QStringLiteral("/nowhere/*.txt"), m_source);
        QVERIFY(trace.contains(QStringLiteral(" ! Warning ! addFile: Source directory doesn't exist.\n")));
        action.addFile(QStringLiteral("nomask/"), m_source);
        QVERIFY(trace.contains(QStringLiteral(" ! Error ! addFile: Source directory or file name(mask) are empty.\n")));
        QCOMPARE(action.files().size(), 0);
        QVERIFY(writeFile(m_source + QStringLiteral("/blocker"), "a file where a directory should be"));
        action.addFile(one, m_source + QStringLiteral("/blocker/sub"));
        QCOMPARE(action.execute(), int(CActionCopyFiles::MakePathFailed));
        QCOMPARE(action.resultEvent(), QStringLiteral("failed"));
        QCOMPARE(action.copyFile(m_source + QStringLiteral("/gone.txt"), m_source + QStringLiteral("/x")), int(CActionCopyFiles::SourceMissing));
    }

    // One state copies into folders it has to make (a file of several chunks among them) and into
    // a folder where one file is read-only: that file is kept, a non-fatal fault, the rest copied.
    void copyIntoNewAndLockedFolders()
    {
        QByteArray big(3 * CActionCopyFiles::chunkSize + 123, Qt::Uninitialized);
        for (qsizetype i = 0; i < big.size(); ++i)
            big[i] = char(i * 7 % 251);
        const QString out = m_source + QStringLiteral("/out");
        const QString deep = m_source + QStringLiteral("/level1/level2");
        QVERIFY(writeFile(m_source + QStringLiteral("/big.bin"), big) && writeFile(m_source + QStringLiteral("/small.bin"), "small"));
        QVERIFY(writeFile(m_source + QStringLiteral("/locked.txt"), "new") && writeFile(m_source + QStringLiteral("/free.txt"), "new"));
        QVERIFY(writeFile(out + QStringLiteral("/locked.txt"), "old"));
        QVERIFY(QFile::setPermissions(out + QStringLiteral("/locked.txt"), QFileDevice::ReadOwner | QFileDevice::ReadGroup));
        TraceCapture trace;
        CTestState state("deep");
        auto* action = state.use(new CActionCopyFiles(&state, "deep"),
                                 {"srcDir=" + m_source, "copyFile1=%SRC%/*.bin::%SRC%/level1/level2", "copyFile2=" + m_source + "/*.txt::" + out});
        QSignalSpy progress(&state, &CState::progress);
        QCOMPARE(runState(state), QStringLiteral("success"));
        QCOMPARE(action->result(), 1);
        QVERIFY(trace.contains(QStringLiteral("  Non-fatal error: access denied.\n")));
        QCOMPARE(readFile(deep + QStringLiteral("/big.bin")), big);
        QCOMPARE(readFile(deep + QStringLiteral("/small.bin")), QByteArray("small"));
        QCOMPARE(QDir(deep).entryList(QDir::Files | QDir::Hidden).size(), 2);
        QCOMPARE(readFile(out + QStringLiteral("/locked.txt")), QByteArray("old"));
        QCOMPARE(readFile(out + QStringLiteral("/free.txt")), QByteArray("new"));
        QCOMPARE(progress.last().at(0).toInt(), 100);
        QVERIFY(progress.count() >= 4); // one step per file, then leaving
    }

    void copyStopInTheMiddleOfAFile()
    {
        // The source is a pipe that the test feeds, so the stop lands inside the file for sure.
        QDir().mkpath(m_source);
        const QString fifo = m_source + QStringLiteral("/stream.dat");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const int writer = ::open(QFile::encodeName(fifo).constData(), O_RDWR | O_NONBLOCK);
        QVERIFY(writer >= 0);
        const QByteArray chunk(CActionCopyFiles::chunkSize, 'x'); // fills the pipe
        QCOMPARE(::write(writer, chunk.constData(), size_t(chunk.size())), ssize_t(chunk.size()));
        const QString listed = m_source + QStringLiteral("/listed.dat"); // stands for the stream
        QVERIFY(writeFile(listed, "listed"));

        CTestState state("stream");
        const QString out = m_source + QStringLiteral("-out");
        auto* action = state.use(new CStreamCopy(&state, fifo), {"copyFile1=" + listed + "::" + out, "copyFile2=" + listed + "::" + out + "/later"});
        QSignalSpy finished(&state, &CState::finished);
        state.execute();
        QSignalSpy progress(action, &CAction::actionProgress);
        QTRY_VERIFY(pending(writer) == 0); // the worker has read the first chunk and waits for more
        action->stop();
        QCOMPARE(::write(writer, chunk.constData(), size_t(chunk.size())), ssize_t(chunk.size())); // wakes the read
        QTRY_VERIFY_WITH_TIMEOUT(!action->isWorkerRunning(), 1000);
        ::close(writer);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(finished.count(), 0);
        QCOMPARE(progress.count(), 0);
        // No destination, no truncated file, no temporary left behind.
        QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList());
        QVERIFY(!QFileInfo::exists(out + QStringLiteral("/later")));
    }

private:
    QTemporaryDir m_dir;
    QString m_machine;
    QString m_source;
};

QTEST_GUILESS_MAIN(TstActions)
#include "tst_actions.moc"
