// The emulated service control manager beyond what Windows itself promises: behaviour staged
// by the profile, pending states that resolve by the clock, and run-time state and the
// database lock shared with other processes on the machine folder (servicetool).

#include "platform/emulated/emulatedmachine.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include "support/freshmachine.h"

using namespace winsteps::platform;
using namespace winsteps::platform::emulated;

namespace {

// Services staged for the cases; each has its program on drive C:.
const char* const profileText = R"({
  "inherits": "winxp-sp2",
  "registry": {"HKLM\\SYSTEM\\CurrentControlSet\\Services\\Preinstalled":
                 {"Type": 16, "Start": 2, "ImagePath": "C:\\svc.exe"}},
  "services": {
    "Quick": {"startSeconds": 0, "stopSeconds": 0},
    "slow": {"startSeconds": 0.3, "stopSeconds": 0.3},
    "Hangs": {"hangs": "starting"},
    "HangsStopping": {"startSeconds": 0, "hangs": "stopping"},
    "Fails": {"startSeconds": 0.2, "startFailure": 1234},
    "Stubborn": {"startSeconds": 0, "stoppable": false},
    "Pausable": {"startSeconds": 0, "stopSeconds": 0, "pausable": true},
    "preinstalled": {"state": "running", "stopSeconds": 0}
  }
})";

} // namespace

class TestServices : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void stagedBehaviour_data();
    void stagedBehaviour();
    void profileStatesAService();
    void otherProcessesSeeTheState();
    void lockOfAKilledHolderIsFree();
    void restartStartsTheAutomaticServices();

private:
    std::uint32_t state(SC_HANDLE service);
    SC_HANDLE createService(const QString& name);

    QTemporaryDir m_dir;
    std::unique_ptr<EmulatedMachine> m_machine;
    SC_HANDLE m_manager = SC_HANDLE_NULL;
};

void TestServices::init()
{
    QString error;
    m_machine = testsupport::freshMachine(m_dir, QString::fromLatin1(profileText), &error);
    QVERIFY2(m_machine, qPrintable(error));
    QFile program(m_machine->hostPath(QStringLiteral("C:\\svc.exe")));
    QVERIFY(program.open(QIODevice::WriteOnly));
    QCOMPARE(m_machine->services().openSCManager("", "", SC_MANAGER_ALL_ACCESS, &m_manager), ERROR_SUCCESS);
}

void TestServices::cleanup()
{
    if (m_machine && m_manager)
        m_machine->services().closeServiceHandle(m_manager);
    m_manager = SC_HANDLE_NULL;
    m_machine.reset();
}

std::uint32_t TestServices::state(SC_HANDLE service)
{
    ServiceStatus status;
    return m_machine->services().queryServiceStatus(service, &status) == ERROR_SUCCESS ? status.currentState : 0;
}

SC_HANDLE TestServices::createService(const QString& name)
{
    SC_HANDLE service = SC_HANDLE_NULL;
    const std::uint32_t code = m_machine->services().createService(
        m_manager, name.toStdString(), "", SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
        SERVICE_ERROR_NORMAL, "\"C:\\svc.exe\" -service", "", {}, "", "", &service);
    return code == ERROR_SUCCESS ? service : SC_HANDLE_NULL;
}

void TestServices::stagedBehaviour_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<uint>("started");   // at once after StartService
    QTest::addColumn<uint>("settled");   // 0.6 seconds later
    QTest::addColumn<uint>("exitCode");
    QTest::addColumn<uint>("stopCode");  // ControlService(stop) then
    QTest::addColumn<uint>("stopped");   // at once after it
    QTest::addColumn<uint>("pauseCode"); // ControlService(pause) of the settled service

    QTest::newRow("quick") << "quick" << 4u << 4u << 0u << 0u << 1u << ERROR_INVALID_SERVICE_CONTROL;
    QTest::newRow("slow") << "SLOW" << 2u << 4u << 0u << 0u << 3u << ERROR_INVALID_SERVICE_CONTROL;
    QTest::newRow("not staged: a second") << "Plain" << 2u << 2u << 0u << ERROR_SERVICE_CANNOT_ACCEPT_CTRL << 2u
                                          << ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    QTest::newRow("hangs starting") << "Hangs" << 2u << 2u << 0u << ERROR_SERVICE_CANNOT_ACCEPT_CTRL << 2u
                                    << ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    QTest::newRow("hangs stopping") << "HangsStopping" << 4u << 4u << 0u << 0u << 3u << ERROR_INVALID_SERVICE_CONTROL;
    QTest::newRow("fails") << "Fails" << 2u << 1u << 1234u << ERROR_SERVICE_NOT_ACTIVE << 1u << ERROR_SERVICE_NOT_ACTIVE;
    QTest::newRow("cannot be stopped") << "Stubborn" << 4u << 4u << 0u << ERROR_INVALID_SERVICE_CONTROL << 4u
                                       << ERROR_INVALID_SERVICE_CONTROL;
    QTest::newRow("pausable") << "Pausable" << 4u << 4u << 0u << 0u << 1u << 0u;
}

void TestServices::stagedBehaviour()
{
    QFETCH(QString, name);
    QFETCH(uint, started);
    QFETCH(uint, settled);
    QFETCH(uint, exitCode);
    QFETCH(uint, stopCode);
    QFETCH(uint, stopped);
    QFETCH(uint, pauseCode);
    Services& scm = m_machine->services();
    const SC_HANDLE service = createService(name);
    QVERIFY(service);
    QCOMPARE(scm.startService(service, {}), ERROR_SUCCESS);
    QCOMPARE(state(service), started);
    QThread::msleep(600);
    ServiceStatus status;
    QCOMPARE(scm.queryServiceStatus(service, &status), ERROR_SUCCESS);
    QCOMPARE(status.currentState, settled);
    QCOMPARE(status.win32ExitCode, exitCode);
    if (pauseCode == ERROR_SUCCESS) {
        // A paused service is stopped by "stop" itself, not by "continue" first.
        QCOMPARE(scm.controlService(service, SERVICE_CONTROL_PAUSE, &status), ERROR_SUCCESS);
        QCOMPARE(status.currentState, SERVICE_PAUSED);
    } else {
        QCOMPARE(scm.controlService(service, SERVICE_CONTROL_PAUSE, nullptr), pauseCode);
    }
    QCOMPARE(scm.controlService(service, SERVICE_CONTROL_STOP, nullptr), stopCode);
    QCOMPARE(state(service), stopped);
    QCOMPARE(scm.closeServiceHandle(service), ERROR_SUCCESS);
}

void TestServices::profileStatesAService()
{
    SC_HANDLE service = SC_HANDLE_NULL;
    QCOMPARE(m_machine->services().openService(m_manager, "PREINSTALLED", SERVICE_ALL_ACCESS, &service), ERROR_SUCCESS);
    QCOMPARE(state(service), SERVICE_RUNNING);
    // Made again after its removal, it starts out stopped like any new service.
    QCOMPARE(m_machine->services().controlService(service, SERVICE_CONTROL_STOP, nullptr), ERROR_SUCCESS);
    QCOMPARE(m_machine->services().deleteService(service), ERROR_SUCCESS);
    QCOMPARE(m_machine->services().closeServiceHandle(service), ERROR_SUCCESS);
    service = createService(QStringLiteral("Preinstalled"));
    QVERIFY(service);
    QCOMPARE(state(service), SERVICE_STOPPED);
    m_machine->services().closeServiceHandle(service);
}

void TestServices::otherProcessesSeeTheState()
{
    const SC_HANDLE service = createService(QStringLiteral("Slow"));
    QVERIFY(service);
    QCOMPARE(m_machine->services().startService(service, {}), ERROR_SUCCESS);
    const auto seen = [this]() {
        QProcess tool;
        tool.start(QStringLiteral(SERVICETOOL), {m_machine->folder(), QStringLiteral("status"), QStringLiteral("slow")});
        return tool.waitForFinished(-1) && tool.exitCode() == 0 ? tool.readAllStandardOutput().trimmed().toUInt() : 0u;
    };
    const uint first = seen();
    if (first != SERVICE_RUNNING) // a slow start of the tool may see it running already
        QCOMPARE(first, SERVICE_START_PENDING);
    QThread::msleep(600);
    QCOMPARE(seen(), SERVICE_RUNNING);
    m_machine->services().closeServiceHandle(service);
}

void TestServices::lockOfAKilledHolderIsFree()
{
    QProcess holder;
    holder.start(QStringLiteral(SERVICETOOL), {m_machine->folder(), QStringLiteral("lock")});
    QVERIFY(holder.waitForReadyRead(-1));
    QCOMPARE(holder.readAllStandardOutput().trimmed(), QByteArray("locked"));
    Services& scm = m_machine->services();
    SC_LOCK lock = 0;
    QCOMPARE(scm.lockServiceDatabase(m_manager, &lock), ERROR_SERVICE_DATABASE_LOCKED);
    const SC_HANDLE service = createService(QStringLiteral("Quick"));
    QCOMPARE(scm.startService(service, {}), ERROR_SERVICE_DATABASE_LOCKED);
    holder.kill();
    QVERIFY(holder.waitForFinished(-1));
    QCOMPARE(scm.lockServiceDatabase(m_manager, &lock), ERROR_SUCCESS);
    QCOMPARE(scm.startService(service, {}), ERROR_SUCCESS);
    QCOMPARE(scm.unlockServiceDatabase(lock), ERROR_SUCCESS);
    scm.closeServiceHandle(service);
}

void TestServices::restartStartsTheAutomaticServices()
{
    Services& scm = m_machine->services();
    const struct {
        const char* name;
        std::uint32_t start;
        const char* program;
        bool deleted;
        std::uint32_t after; // 0: gone
    } rows[] = {
        {"Automatic", SERVICE_AUTO_START, "C:\\svc.exe", false, SERVICE_RUNNING},
        {"OnDemand", SERVICE_DEMAND_START, "C:\\svc.exe", false, SERVICE_STOPPED},
        {"NoProgram", SERVICE_AUTO_START, "C:\\missing.exe", false, SERVICE_STOPPED},
        {"Deleted", SERVICE_AUTO_START, "C:\\svc.exe", true, 0},
    };
    std::vector<SC_HANDLE> open;
    for (const auto& row : rows) {
        SC_HANDLE service = SC_HANDLE_NULL;
        QCOMPARE(scm.createService(m_manager, row.name, "", SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, row.start,
                                   SERVICE_ERROR_NORMAL, row.program, "", {}, "", "", &service),
                 ERROR_SUCCESS);
        if (row.deleted)
            QCOMPARE(scm.deleteService(service), ERROR_SUCCESS);
        open.push_back(service); // held across the restart
    }
    SC_HANDLE spooler = SC_HANDLE_NULL;
    QCOMPARE(scm.openService(m_manager, "Spooler", SERVICE_ALL_ACCESS, &spooler), ERROR_SUCCESS);
    QCOMPARE(scm.controlService(spooler, SERVICE_CONTROL_STOP, nullptr), ERROR_SUCCESS);
    QList<EmulatedMachine::BootEntry> done;
    QString error;
    QVERIFY2(m_machine->reboot(&done, &error), qPrintable(error));
    QCOMPARE(scm.openSCManager("", "", SC_MANAGER_ALL_ACCESS, &m_manager), ERROR_SUCCESS);
    for (const auto& row : rows) {
        SC_HANDLE service = SC_HANDLE_NULL;
        QCOMPARE(scm.openService(m_manager, row.name, SERVICE_QUERY_STATUS, &service),
                 row.after ? ERROR_SUCCESS : ERROR_SERVICE_DOES_NOT_EXIST);
        if (row.after)
            QCOMPARE(state(service), row.after);
        scm.closeServiceHandle(service);
    }
    // The system's own programs need no file on drive C:.
    QCOMPARE(scm.openService(m_manager, "Spooler", SERVICE_QUERY_STATUS, &spooler), ERROR_SUCCESS);
    QCOMPARE(state(spooler), SERVICE_RUNNING);
    scm.closeServiceHandle(spooler);
}

QTEST_GUILESS_MAIN(TestServices)
#include "tst_services.moc"
