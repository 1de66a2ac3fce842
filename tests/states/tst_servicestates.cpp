// The service states and CWinServiceManager under them, each case on a fresh emulated machine
// whose profile stages how its services behave.

#include "actions/cactionstate.h"
#include "actions/cthreadedaction.h"
#include "fsm/cstatefactory.h"
#include "platform/emulated/emulatedmachine.h"
#include "states/cwinservicemanager.h"

#include <QDomDocument>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "support/freshmachine.h"
#include "support/pluginstates.h"
#include "support/tracecapture.h"

#include <memory>

using namespace winsteps::platform;
using Range = QPair<int, int>; // at least, at most

namespace {

// Every staged service has its program C:\svc.exe and starts on demand unless said otherwise.
const char* const staging = R"({
  "Existing": {}, "Instant": {"startSeconds": 0, "stopSeconds": 0}, "Slow": {"startSeconds": 3},
  "Hangs": {"hangs": "starting"}, "Fails": {"startSeconds": 0, "startFailure": 1066},
  "Runs": {"state": "running", "stopSeconds": 3}, "HangsStopping": {"state": "running", "hangs": "stopping"},
  "Paused": {"state": "running", "pausable": true, "startSeconds": 0, "stopSeconds": 0},
  "Sticky": {"state": "running", "stoppable": false}
})";

// A machine for setup: "win98", "user" (the staged services, no administrator) or the staged
// services on XP.
QString profileOf(const QString& setup)
{
    if (setup == QLatin1String("win98"))
        return setup;
    const QJsonObject services = QJsonDocument::fromJson(staging).object();
    QJsonObject registry;
    for (auto it = services.begin(); it != services.end(); ++it) {
        const bool automatic = it.key() == QLatin1String("Existing") || it.key() == QLatin1String("Runs");
        registry[QStringLiteral("HKLM\\SYSTEM\\CurrentControlSet\\Services\\") + it.key()] = QJsonObject{
            {"Type", 16}, {"Start", automatic ? 2 : 3}, {"ErrorControl", 1}, {"ImagePath", "C:\\svc.exe"},
            {"DisplayName", it.key()}};
    }
    const QJsonObject profile{{"inherits", "winxp-sp2"}, {"administrator", setup != QLatin1String("user")},
                              {"registry", registry}, {"services", services}};
    return QString::fromUtf8(QJsonDocument(profile).toJson(QJsonDocument::Compact));
}

// "START|display name|path|group|description" of a service, or "error CODE".
QString describe(const QString& name)
{
    Services& scm = services();
    SC_HANDLE manager = SC_HANDLE_NULL, service = SC_HANDLE_NULL;
    std::uint32_t code = scm.openSCManager("", "", SC_MANAGER_CONNECT, &manager);
    if (code == ERROR_SUCCESS)
        code = scm.openService(manager, name.toStdString(), SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS, &service);
    ServiceConfig config;
    std::string description;
    std::uint32_t needed = 0;
    if (code == ERROR_SUCCESS && scm.queryServiceConfig(service, nullptr, 0, &needed) == ERROR_INSUFFICIENT_BUFFER)
        code = scm.queryServiceConfig(service, &config, needed, &needed);
    if (code == ERROR_SUCCESS)
        code = scm.queryServiceConfig2(service, SERVICE_CONFIG_DESCRIPTION, &description);
    scm.closeServiceHandle(service);
    scm.closeServiceHandle(manager);
    if (code != ERROR_SUCCESS)
        return QStringLiteral("error %1").arg(code);
    return QStringList{QString::number(config.startType), QString::fromStdString(config.displayName),
                       QString::fromStdString(config.binaryPathName), QString::fromStdString(config.loadOrderGroup),
                       QString::fromStdString(description)}.join(QLatin1Char('|'));
}

// The manager's traces with runs of one line kept once; *pending counts the pending states.
QStringList managerTrace(const TraceCapture& trace, int* pending)
{
    QStringList lines;
    *pending = 0;
    for (const QString& line : trace.lines(winsteps::module::WinServiceManager)) {
        if (line == QLatin1String("Service is starting") || line == QLatin1String("Service is stopping"))
            ++*pending;
        if (lines.isEmpty() || lines.last() != line)
            lines << line;
    }
    return lines;
}

} // namespace

class TstServiceStates : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { m_factory.reset(createFactory(nullptr)); }
    void cleanup() // before the next machine replaces the one they belong to
    {
        m_lock.reset();
        m_manager.reset();
    }
    void immediateStates_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QStringList>("properties");
        QTest::addColumn<QString>("event");
        QTest::addColumn<QString>("service"); // described afterwards
        QTest::addColumn<QString>("after");   // for the status state, its "status|startType"
        QTest::addColumn<QString>("trace"); // a line the manager writes, "" for none

        const QStringList fresh{"serviceName=Fresh", "displayName=Fresh Service", "path=%WINDIR%\\fresh.exe"};
        QTest::newRow("install a new service") << "" << "installService" << fresh + QStringList{"startType=auto", "group=Extras", "description=Made here"}
                                               << "finished" << "Fresh" << "2|Fresh Service|C:\\WINDOWS\\fresh.exe|Extras|Made here" << "";
        QTest::newRow("install reconfigures an existing one") << "" << "installService"
            << QStringList{"serviceName=existing", "displayName=Renamed", "path=C:\\new.exe", "startType=disabled"}
            << "finished" << "Existing" << "4|Renamed|C:\\new.exe||" << "CreateService failed";
        QTest::newRow("install without a start type") << "" << "installService" << fresh << "failed" << "Fresh" << "error 1060" << "OpenService failed";
        QTest::newRow("install as no administrator") << "user" << "installService" << fresh + QStringList{"startType=auto"}
                                                     << "failed" << "Fresh" << "error 1060" << "OpenSCManager failed: 5";
        QTest::newRow("install on 9x") << "win98" << "installService" << fresh + QStringList{"startType=auto"} << "failed" << "Fresh"
                                       << "error 120" << "OpenSCManager failed: 120";
        const QList<QPair<const char*, const char*>> words{{"disabled", "4"}, {"boot", "0"}, {"manual", "3"}, {"system", "1"}};
        for (const auto& [word, windows] : words)
            QTest::addRow("config %s", word) << "" << "configService" << QStringList{"serviceName=Existing", QStringLiteral("startType=") + word}
                                             << "finished" << "Existing" << QStringLiteral("%1|Existing|C:\\svc.exe||").arg(windows) << "";
        QTest::newRow("config auto") << "" << "configService" << QStringList{"serviceName=Instant", "startType=auto"}
                                     << "finished" << "Instant" << "2|Instant|C:\\svc.exe||" << "";
        QTest::newRow("config Auto changes nothing") << "" << "configService" << QStringList{"serviceName=Instant", "startType=Auto"}
                                                     << "finished" << "Instant" << "3|Instant|C:\\svc.exe||" << "";
        QTest::newRow("config the other items") << "" << "configService"
            << QStringList{"serviceName=Existing", "displayName=Shown", "path=%WINDIR%\\x.exe", "group=G", "description=D"}
            << "finished" << "Existing" << "2|Shown|C:\\WINDOWS\\x.exe|G|D" << "";
        QTest::newRow("config a display name taken") << "" << "configService" << QStringList{"serviceName=Existing", "displayName=Instant", "group=G"}
                                                     << "failed" << "Existing" << "2|Existing|C:\\svc.exe|G|"
                                                     << "setDisplayName: ChangeServiceConfig failed";
        QTest::newRow("config with the lock held elsewhere") << "locked" << "configService" << QStringList{"serviceName=Existing", "startType=manual"}
                                                             << "failed" << "Existing" << "2|Existing|C:\\svc.exe||"
                                                             << "setStartup: unable to get ServiceDatabase lock";
        QTest::newRow("config a missing service") << "" << "configService" << QStringList{"serviceName=None", "startType=manual"}
                                                  << "failed" << "None" << "error 1060" << "OpenService failed";
        QTest::newRow("delete a stopped service") << "" << "deleteService" << QStringList{"serviceName=Instant"} << "finished"
                                                  << "Instant" << "error 1060" << "";
        QTest::newRow("delete a running one marks it") << "" << "deleteService" << QStringList{"serviceName=Runs"} << "finished"
                                                       << "Runs" << "error 1072" << "";
        QTest::newRow("delete a missing service") << "" << "deleteService" << QStringList{"serviceName=None"} << "failed"
                                                  << "None" << "error 1060" << "OpenService failed";
        const auto status = [](const char* row, const char* setup, const QString& name, const char* event,
                               const char* after) {
            QTest::newRow(row) << setup << "getServiceStatus" << QStringList{"serviceName=" + name} << event << name
                               << after << "";
        };
        status("status of a stopped service on demand", "", "Instant", "finished", "stopped|manual");
        status("status of a running automatic one", "", "runs", "finished", "running|auto");
        status("status of a paused one", "", "Paused", "finished", "paused|manual");
        status("status of a missing one", "", "None", "failed", "|");
        status("status as no administrator", "user", "Instant", "failed", "|");
        status("status on 9x", "win98", "Instant", "failed", "|");
    }

    void immediateStates()
    {
        QFETCH(QString, setup);
        QFETCH(QString, type);
        QFETCH(QStringList, properties);
        QFETCH(QString, event);
        QFETCH(QString, service);
        QFETCH(QString, after);
        QFETCH(QString, trace);
        machine(setup);
        TraceCapture traces;
        const std::unique_ptr<CState> state = create(type, properties);
        QCOMPARE(run(state.get()), event);
        const QString got = type != QLatin1String("getServiceStatus")
                                ? describe(service)
                                : state->property("status").toString() + '|' + state->property("startType").toString();
        QCOMPARE(got, after);
        int pending = 0;
        QCOMPARE(managerTrace(traces, &pending).contains(trace), !trace.isEmpty());
    }

    void startAndStop_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("timeout");
        QTest::addColumn<QString>("event");
        QTest::addColumn<QStringList>("trace"); // the manager's, each run of one line kept once
        QTest::addColumn<Range>("pending"); // how many pending states it saw, at least and at most
        QTest::addColumn<QString>("after"); // the status word afterwards

        const QString start = QStringLiteral("startService"), stop = QStringLiteral("stopService");
        const Range none{0, 0};
        const QStringList starting{"Service is stopped", "start: Starting..."};
        QTest::newRow("start, time-out 0: only asks") << "" << start << "Slow" << 0 << "finished" << QStringList() << none << "starting";
        QTest::newRow("start, time-out 1, hangs: ten polls") << "" << start << "Hangs" << 1 << "failed"
            << starting + QStringList{"Service is starting", "start: Timeout"} << qMakePair(10, 10) << "starting";
        QTest::newRow("start, time-out 10, a 3-second service") << "" << start << "Slow" << 10 << "finished"
            << starting + QStringList{"Service is starting", "Service is in running status", "start: Started."} << qMakePair(10, 31) << "running";
        QTest::newRow("start a running service") << "" << start << "Runs" << 5 << "finished"
                                                 << QStringList{"Service is in running status", "start: Started."} << none << "running";
        QTest::newRow("start a paused service continues it") << "" << start << "Paused" << 5 << "finished"
            << QStringList{"Service is in paused status", "start: Continuing...", "Service is in running status", "start: Started."} << none << "running";
        QTest::newRow("start a service that fails: asked once") << "" << start << "Fails" << 5 << "failed"
            << starting + QStringList{"Service is stopped", "start: Failed, the service did not start."} << none << "stopped";
        QTest::newRow("start a missing service") << "" << start << "None" << 5 << "failed" << QStringList{"OpenService failed"} << none << "";
        QTest::newRow("start as no administrator") << "user" << start << "Instant" << 5 << "failed" << QStringList{"OpenSCManager failed"} << none << "";
        QTest::newRow("stop, time-out 0: only sends stop") << "" << stop << "Runs" << 0 << "finished" << QStringList() << none << "stopping";
        QTest::newRow("stop, time-out 0, of a stopped service") << "" << stop << "Instant" << 0 << "failed"
                                                                << QStringList{"ControlService failed"} << none << "stopped";
        QTest::newRow("stop, time-out 1, hangs: ten polls") << "" << stop << "HangsStopping" << 1 << "failed"
            << QStringList{"Service is in running status", "stop: Stopping...", "Service is stopping", "stop: Timeout"}
            << qMakePair(10, 10) << "stopping";
        QTest::newRow("stop a paused service sends stop") << "" << stop << "Paused" << 5 << "finished"
            << QStringList{"Service is in paused status", "stop: Stopping...", "Service is stopped", "stop: Stopped."} << none << "stopped";
        QTest::newRow("stop a stopped service") << "" << stop << "Instant" << 5 << "finished"
                                                << QStringList{"Service is stopped", "stop: Stopped."} << none << "stopped";
        QTest::newRow("stop a service that refuses") << "" << stop << "Sticky" << 5 << "failed"
            << QStringList{"Service is in running status", "stop: Stopping...", "ControlService failed"} << none << "running";
    }

    void startAndStop()
    {
        QFETCH(QString, setup);
        QFETCH(QString, type);
        QFETCH(QString, name);
        QFETCH(int, timeout);
        QFETCH(QString, event);
        QFETCH(QStringList, trace);
        QFETCH(Range, pending);
        QFETCH(QString, after);
        machine(setup);
        TraceCapture traces;
        QCOMPARE(run(create(type, {QStringLiteral("serviceName=") + name, QStringLiteral("timeout=%1").arg(timeout)}).get()), event);
        int polls = 0;
        QCOMPARE(managerTrace(traces, &polls), trace);
        QVERIFY2(polls >= pending.first && polls <= pending.second, qPrintable(QString::number(polls)));
        QCOMPARE(CWinServiceManager(name).statusWord(), after);
    }

    // The progress of both actions, and a stop request in the middle of a long wait.
    void progressAndStopRequest()
    {
        for (const char* type : {"startService", "stopService"}) {
            machine(QString());
            TraceCapture traces;
            const std::unique_ptr<CState> state = create(QLatin1String(type),
                {QLatin1String(type[2] == 'a' ? "serviceName=Hangs" : "serviceName=HangsStopping"), QStringLiteral("timeout=20")});
            auto* action = qobject_cast<CThreadedAction*>(static_cast<CActionState*>(state.get())->action());
            QVERIFY(action);
            QCOMPARE(action->objectName(), QLatin1String(type));
            QCOMPARE(action->maxProgress(), 50);
            state->execute();
            QCOMPARE(action->progress(), 0);
            QVERIFY(action->progressTimer()->isActive());
            QTRY_VERIFY(traces.lines(winsteps::module::WinServiceManager).size() >= 5); // waiting
            state->onLeave(); // what leaving the state does
            QVERIFY(!action->progressTimer()->isActive());
            QCOMPARE(action->progress(), 50);
            QTRY_VERIFY_WITH_TIMEOUT(!action->isWorkerRunning(), 1000);
            QCOMPARE(traces.lines(winsteps::module::WinServiceManager).last(),
                     QLatin1String(type[2] == 'a' ? "start: Cancelled." : "stop: Cancelled."));
        }
    }

private:
    // A fresh machine for setup (see profileOf; "locked": the database lock is held here),
    // with the staged service "Paused" paused.
    void machine(const QString& setup)
    {
        std::string error;
        QVERIFY2(!testsupport::openFreshMachine(m_dir, profileOf(setup), &error).isEmpty(), error.c_str());
        QFile program(emulated::currentMachine().hostPath(QStringLiteral("C:\\svc.exe")));
        QVERIFY(program.open(QIODevice::WriteOnly));
        if (setup.isEmpty() || setup == QLatin1String("locked"))
            QVERIFY(CWinServiceManager(QStringLiteral("Paused")).control(CWinServiceManager::PauseOperation));
        if (setup == QLatin1String("locked")) {
            SC_HANDLE manager = SC_HANDLE_NULL;
            QCOMPARE(services().openSCManager("", "", SC_MANAGER_ALL_ACCESS, &manager), ERROR_SUCCESS);
            m_manager = winsteps::servicecontrol::ServiceHandle(services(), manager);
            m_lock = std::make_unique<winsteps::servicecontrol::ServiceDatabaseLock>(services(), manager);
            QVERIFY(m_lock->isLocked());
        }
    }

    std::unique_ptr<CState> create(const QString& type, const QStringList& properties)
    {
        return testsupport::createState(*m_factory, type, properties);
    }
    static QString run(CState* state) { return testsupport::runState(*state); }

    QTemporaryDir m_dir;
    std::unique_ptr<CStateFactory> m_factory;
    winsteps::servicecontrol::ServiceHandle m_manager; // for the database lock
    std::unique_ptr<winsteps::servicecontrol::ServiceDatabaseLock> m_lock;
};

QTEST_GUILESS_MAIN(TstServiceStates)
#include "tst_servicestates.moc"
