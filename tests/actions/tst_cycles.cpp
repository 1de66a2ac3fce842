// Every threaded action of the plug-in, started and stopped again and again on an emulated
// machine: start-application, copy-files, service start and stop, the port check, and the
// driver install, check and removal. WINSTEPS_CYCLES sets the number of cycles per action (20
// when unset; the sanitizer builds run 200).

#include "actions/cactioncopyfiles.h"
#include "actions/cactionstartapp.h"
#include "actions/cactionstate.h"
#include "debug/debugoutput.h"
#include "fsm/cstatefactory.h"
#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/emulatedprocess.h"
#include "states/cwinservicemanager.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include "support/files.h"
#include "support/freshmachine.h"
#include "support/pluginstates.h"

#include <memory>

using namespace winsteps::platform;
using emulated::DeviceNodeRecord;

namespace {

const char* const netClass = "{4D36E972-E325-11CE-BFC1-08002BE10318}";

// One machine for every action: two services that take a moment to start or to stop (and
// none to be put back), a firewalled LAN connection, and a package for the staged adapters.
const char* const profile = R"({"inherits": "winxp-sp2",
  "registry": {
    "HKLM\\SYSTEM\\CurrentControlSet\\Services\\Starts": {"Type": 16, "Start": 3, "ErrorControl": 1, "ImagePath": "C:\\svc.exe"},
    "HKLM\\SYSTEM\\CurrentControlSet\\Services\\Stops": {"Type": 16, "Start": 2, "ErrorControl": 1, "ImagePath": "C:\\svc.exe"}},
  "services": {"Starts": {"startSeconds": 0.05, "stopSeconds": 0},
               "Stops": {"state": "running", "startSeconds": 0, "stopSeconds": 0.05}},
  "connections": {"Local Area Connection": {"firewall": true}}})";

const char* const netInf = "[Version]\nSignature=\"$Windows NT$\"\nClass=Net\nClassGuid={4D36E972-E325-11CE-BFC1-08002BE10318}\n"
                           "[Manufacturer]\nDemo=Demo\n[Demo]\n\"Demo Adapter\"=Demo.Install,PCI\\VEN_1234&DEV_0001\n"
                           "[Demo.Install]\n[Demo.Install.Services]\nAddService=demonet,0x2,Demo.Service\n"
                           "[Demo.Service]\nServiceType=1\nStartType=3\nErrorControl=1\nServiceBinary=%12%\\demonet.sys\n";

// Two adapters of the package, without a driver until one is installed.
QList<DeviceNodeRecord> adapters()
{
    QList<DeviceNodeRecord> nodes;
    for (const char* id : {"PCI\\VEN_1234&DEV_0001\\1", "PCI\\VEN_1234&DEV_0001\\2"}) {
        DeviceNodeRecord record;
        record.instanceId = QString::fromLatin1(id);
        record.hardwareIds = QStringList{QStringLiteral("PCI\\VEN_1234&DEV_0001")};
        record.classGuid = QString::fromLatin1(netClass);
        record.description = QStringLiteral("Demo adapter");
        record.problem = CM_PROB_FAILED_INSTALL;
        nodes << record;
    }
    return nodes;
}

// Puts back what an earlier cycle changed, so that each run does its work again.
void restageStarts() { CWinServiceManager(QStringLiteral("Starts")).stop(0); } // asked only: it stops at once
void restageStops() { CWinServiceManager(QStringLiteral("Stops")).start(0); }
void restageAdapters()
{
    for (const DeviceNodeRecord& record : adapters())
        emulated::currentMachine().devices().removeNode(record.instanceId); // as the last run left it, if at all
    QString error;
    QVERIFY2(emulated::currentMachine().devices().addNodes(adapters(), &error), qPrintable(error));
}

// Actions that no state type of their own runs: a bare action state gets them.
CAction* startApp(CActionState* state) { return new CActionStartApp(state, "step"); }
CAction* copyFiles(CActionState* state) { return new CActionCopyFiles(state, "step"); }

const QStringList package{"infFile=demonet.inf", "rootPath=C:\\drv", "driverPath=\\net", "enumName=PCI",
                          "hwidList=PCI\\VEN_1234&DEV_0001", "useInfInstaller=0"};

// Each threaded action: its state, properties ("%1" the cycle, "%2" the machine's folder), the
// exit event of a run that is not stopped, and what puts back an earlier cycle's work.
struct Cycled
{
    const char* tag;
    const char* type; // the state type, or null for a bare action state with action()
    CAction* (*action)(CActionState*);
    QStringList properties;
    const char* outcome;
    void (*restage)();
};

const Cycled cycled[] = {
    {"start application", nullptr, startApp, {"command=/bin/sleep", "argumentList=0.05", "timeout=5"}, "success", nullptr},
    {"copy files", nullptr, copyFiles, {"srcDir=%2/drive_c/src", "destDir=%2/drive_c/out%1", "copyFile1=%SRC%/*.*::%DEST%"}, "success", nullptr},
    {"start service", "startService", nullptr, {"serviceName=Starts", "timeout=5"}, "finished", restageStarts},
    {"stop service", "stopService", nullptr, {"serviceName=Stops", "timeout=5"}, "finished", restageStops},
    {"port check", "configFirewall", nullptr,
     {"description=web;dns", "protocol=tcp;udp", "intPort=80;53", "extPort=8080;53"}, "success", nullptr},
    {"driver install", "installDriver", nullptr, package, "success", restageAdapters},
    {"driver check", "checkDriverInstallState", nullptr, package, "nothingInstalled", nullptr},
    {"driver removal", "removeDriver", nullptr, package, "success", restageAdapters},
};

int cycleCount()
{
    bool ok = false;
    const int n = qEnvironmentVariableIntValue("WINSTEPS_CYCLES", &ok);
    return ok && n > 0 ? n : 20;
}

// Drops every trace: thousands of runs would fill the test log.
class QuietTraces : public winsteps::TraceSink
{
public:
    QuietTraces() { winsteps::setTraceSink(this); }
    ~QuietTraces() override { winsteps::setTraceSink(nullptr); }
    void write(const std::string&) override {}
};

int threadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

} // namespace

class TstCycles : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_factory.reset(createFactory(nullptr));
        // The workers' two start lines would fill the test log.
        QLoggingCategory::setFilterRules(QStringLiteral("winsteps.thread.debug=false"));
    }
    void cleanupTestCase() { emulated::endMachineProcesses(0); }

    void cycles_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(std::size(cycled)); ++i)
            QTest::newRow(cycled[i].tag) << i;
    }

    // Each cycle starts the state on the machine and leaves it (which stops its action) at once,
    // after a few milliseconds, after some tens of them, or not before it has finished. A run left
    // to finish ends by its event; a stopped one says nothing more and its worker ends
    // within the 100 ms its waits take; every action goes with its state, and no thread stays.
    void cycles()
    {
        QFETCH(int, row);
        const Cycled& step = cycled[row];

        std::string error;
        const QString folder = testsupport::openFreshMachine(m_dir, QString::fromLatin1(profile), &error);
        QVERIFY2(!folder.isEmpty(), error.c_str());
        QString message;
        QVERIFY2(emulated::currentMachine().devices().addNodes(adapters(), &message), qPrintable(message));
        QVERIFY(testsupport::writeFile(folder + QStringLiteral("/drive_c/drv/net/demonet.inf"), netInf));
        QVERIFY(testsupport::writeFile(folder + QStringLiteral("/drive_c/svc.exe"), "service"));
        QByteArray big(3 * CActionCopyFiles::chunkSize + 5, 'b'); // stopped in the middle of it now and then
        const QMap<QString, QByteArray> sources{{"big.bin", big}, {"a.txt", "a"}, {"b.txt", "b"}};
        for (auto it = sources.cbegin(); it != sources.cend(); ++it)
            QVERIFY(testsupport::writeFile(folder + QStringLiteral("/drive_c/src/") + it.key(), it.value()));

        QElapsedTimer clock;
        clock.start();
        const int cycles = cycleCount();
        int threads = 0;
        int stopped = 0;
        for (int n = 0; n < cycles; ++n) {
            if (step.restage)
                step.restage();
            std::unique_ptr<CActionState> state = create(step, n, folder);
            QVERIFY(state && state->action());
            QPointer<CAction> running = state->action();
            auto* threaded = qobject_cast<CThreadedAction*>(running.data());
            QVERIFY(threaded);
            QSignalSpy finished(state.get(), &CState::finished);
            state->execute();
            // Every fourth cycle runs to its end; the others are stopped 0 to 49 ms after the start.
            const int stopAfter = n % 4 == 3 ? -1 : n % 4 == 0 ? 0 : n % 4 == 1 ? n % 7 : 10 + n % 40;
            if (stopAfter > 0)
                QTest::qWait(stopAfter);
            if (stopAfter < 0)
                QVERIFY2(finished.count() == 1 || finished.wait(20000), qPrintable(QStringLiteral("cycle %1 never ended").arg(n)));
            if (finished.isEmpty()) {
                state->onLeave();
                int late = 0;
                connect(running, &CAction::actionFinished, this, [&late] { ++late; });
                connect(running, &CAction::actionProgress, this, [&late] { ++late; });
                // Without the event loop, which the worker does not need to end. A missed stop would
                // wait out the run's time-out of 5 seconds.
                QElapsedTimer ending;
                ending.start();
                while (threaded->isWorkerRunning() && ending.elapsed() < 2000)
                    QThread::msleep(1);
                QVERIFY2(!threaded->isWorkerRunning(), qPrintable(QStringLiteral("cycle %1 did not stop").arg(n)));
                QCoreApplication::sendPostedEvents();
                QCOMPARE(late, 0);
                QCOMPARE(finished.count(), 0);
                QVERIFY(!running->progressTimer()->isActive()); // a stopped run does not start it again
                ++stopped;
            } else {
                QCOMPARE(state->exitEvent(), QLatin1String(step.outcome));
                QVERIFY(!threaded->isWorkerRunning());
            }
            if (step.action == copyFiles) {
                // Stopped or not, every file that is there is whole, and no temporary is left.
                const QDir out(folder + QStringLiteral("/drive_c/out%1").arg(n));
                const QStringList copied = out.entryList(QDir::Files | QDir::Hidden);
                for (const QString& name : copied)
                    QVERIFY2(sources.value(name) == testsupport::readFile(out.filePath(name)), qPrintable(name));
                QVERIFY(finished.isEmpty() || copied.size() == sources.size());
                QDir(out).removeRecursively();
            }
            state.reset();
            QVERIFY(running.isNull());
            if (n == 0) // the machine's own threads (the process reaper) are there from now on
                threads = threadCount();
        }
        qInfo("%d cycles in %lld ms, %d of them stopped", cycles, clock.elapsed(), stopped);
        // At most as many as after the first cycle: a joined thread's task outlives the join for a moment.
        QTRY_VERIFY2(threadCount() <= threads, qPrintable(QString::number(threadCount() - threads) + " more threads"));
    }

private:
    // The state of the row with its action for cycle n on the machine in folder.
    std::unique_ptr<CActionState> create(const Cycled& row, int n, const QString& folder)
    {
        QStringList properties;
        for (const QString& text : row.properties)
            properties << QString(text).replace(QLatin1String("%1"), QString::number(n)).replace(QLatin1String("%2"), folder);
        if (row.type)
            return std::unique_ptr<CActionState>(qobject_cast<CActionState*>(
                testsupport::createState(*m_factory, QLatin1String(row.type), properties).release()));
        auto state = std::make_unique<CActionState>(nullptr, "step", QDomNode());
        state->setAction(row.action(state.get()));
        for (const QString& text : properties)
            state->setProperty(text.section(QLatin1Char('='), 0, 0), text.section(QLatin1Char('='), 1));
        return state;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<CStateFactory> m_factory;
    QuietTraces m_quiet;
};

QTEST_GUILESS_MAIN(TstCycles)
#include "tst_cycles.moc"
