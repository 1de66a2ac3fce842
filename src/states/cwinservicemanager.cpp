#include "states/cwinservicemanager.h"

#include "debug/debugoutput.h"

#include <chrono>
#include <thread>

namespace platform = winsteps::platform;
using namespace winsteps::platform;
using winsteps::servicecontrol::ServiceDatabaseLock;
using winsteps::servicecontrol::ServiceHandle;

namespace {

void traceLine(const QString& text)
{
    winsteps::trace(winsteps::module::WinServiceManager, text + QLatin1Char('\n'));
}

// Per Windows service state 1 to 7: its word and its status trace.
struct StateText {
    const char* word;
    const char* trace;
};
constexpr StateText stateTexts[] = {
    {"stopped", "Service is stopped"},
    {"starting", "Service is starting"},
    {"stopping", "Service is stopping"},
    {"running", "Service is in running status"},
    {"continuePending", "Service continue is continue pending status"},
    {"pausePending", "Service pause is continue pending status"},
    {"paused", "Service is in paused status"},
};

// Per internal start type 0 to 4: its word and the Windows start type.
struct StartTypeText {
    const char* word;
    std::uint32_t windows;
};
constexpr StartTypeText startTypes[] = {
    {"disabled", SERVICE_DISABLED}, {"auto", SERVICE_AUTO_START}, {"boot", SERVICE_BOOT_START},
    {"manual", SERVICE_DEMAND_START}, {"system", SERVICE_SYSTEM_START},
};

bool isPending(int state)
{
    return state == int(SERVICE_START_PENDING) || state == int(SERVICE_STOP_PENDING)
        || state == int(SERVICE_CONTINUE_PENDING) || state == int(SERVICE_PAUSE_PENDING);
}

std::string utf8(const QString& text)
{
    return text.toStdString();
}

} // namespace

CWinServiceManager::CWinServiceManager()
    : m_scm(platform::services())
{
    SC_HANDLE manager = SC_HANDLE_NULL;
    const std::uint32_t code = m_scm.openSCManager(std::string(), std::string(), SC_MANAGER_ALL_ACCESS, &manager);
    if (code != ERROR_SUCCESS) {
        traceLine(QLatin1String("OpenSCManager failed: ") + QString::number(code));
        return;
    }
    m_manager = ServiceHandle(m_scm, manager);
}

CWinServiceManager::CWinServiceManager(const QString& serviceName)
    : m_scm(platform::services())
{
    SC_HANDLE handle = SC_HANDLE_NULL;
    if (m_scm.openSCManager(std::string(), std::string(), SC_MANAGER_ALL_ACCESS, &handle) != ERROR_SUCCESS) {
        traceLine(QStringLiteral("OpenSCManager failed"));
        return;
    }
    m_manager = ServiceHandle(m_scm, handle);
    if (m_scm.openService(handle, utf8(serviceName), SERVICE_ALL_ACCESS, &handle) != ERROR_SUCCESS) {
        traceLine(QStringLiteral("OpenService failed"));
        return;
    }
    m_service = ServiceHandle(m_scm, handle);
}

// The service handle goes first, then the manager's.
CWinServiceManager::~CWinServiceManager()
{
    m_service.reset();
    m_manager.reset();
}

bool CWinServiceManager::createService(const QString& name, const QString& displayName, const QString& path,
                                       const QString& group, int startType)
{
    if (!m_manager.isOpen())
        return false;
    m_service.reset();
    const int windowsStartType = toWinStartType(startType);
    if (windowsStartType < 0) {
        traceLine(QStringLiteral("createService: invalid start type"));
        return false;
    }
    SC_HANDLE service = SC_HANDLE_NULL;
    const std::uint32_t code = m_scm.createService(m_manager.get(), utf8(name), utf8(displayName), SERVICE_ALL_ACCESS,
                                                   SERVICE_WIN32_OWN_PROCESS, std::uint32_t(windowsStartType),
                                                   SERVICE_ERROR_NORMAL, utf8(path), utf8(group), {}, std::string(),
                                                   std::string(), &service);
    if (code != ERROR_SUCCESS) {
        traceLine(QStringLiteral("CreateService failed"));
        return false;
    }
    m_service = ServiceHandle(m_scm, service);
    return true;
}

bool CWinServiceManager::configService(const QString& displayName, const QString& path, const QString& description,
                                       const QString& group, int startType)
{
    if (!hasBoth())
        return false;
    bool ok = true;
    if (!displayName.isEmpty())
        ok = setDisplayName(displayName) && ok;
    if (!path.isEmpty())
        ok = setPath(path) && ok;
    if (!description.isEmpty())
        ok = setDescription(description) && ok;
    if (!group.isEmpty())
        ok = setGroup(group) && ok;
    if (startType != NoChange)
        ok = setStartup(startType) && ok;
    return ok;
}

bool CWinServiceManager::deleteService()
{
    if (!m_service.isOpen())
        return false;
    if (m_scm.deleteService(m_service.get()) != ERROR_SUCCESS) {
        traceLine(QStringLiteral("DeleteService failed"));
        return false;
    }
    return true;
}

bool CWinServiceManager::changeLocked(const char* name, const char* changeCall,
                                      const std::function<std::uint32_t()>& change)
{
    if (!hasBoth())
        return false;
    const ServiceDatabaseLock lock(m_scm, m_manager.get());
    if (!lock.isLocked()) {
        traceLine(QLatin1String(name) + QLatin1String(": unable to get ServiceDatabase lock"));
        return false;
    }
    if (change() != ERROR_SUCCESS) {
        traceLine(QLatin1String(name) + QLatin1String(": ") + QLatin1String(changeCall) + QLatin1String(" failed"));
        return false;
    }
    return true;
}

bool CWinServiceManager::setDisplayName(const QString& displayName)
{
    const std::string text = utf8(displayName);
    return changeLocked("setDisplayName", "ChangeServiceConfig", [&] {
        return m_scm.changeServiceConfig(m_service.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                         nullptr, nullptr, nullptr, nullptr, nullptr, &text);
    });
}

bool CWinServiceManager::setPath(const QString& path)
{
    const std::string text = utf8(path);
    return changeLocked("setPath", "ChangeServiceConfig", [&] {
        return m_scm.changeServiceConfig(m_service.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                         &text, nullptr, nullptr, nullptr, nullptr, nullptr);
    });
}

bool CWinServiceManager::setDescription(const QString& description)
{
    return changeLocked("setDescription", "ChangeServiceConfig2", [&] {
        return m_scm.changeServiceConfig2(m_service.get(), SERVICE_CONFIG_DESCRIPTION, utf8(description));
    });
}

bool CWinServiceManager::setGroup(const QString& group)
{
    const std::string text = utf8(group);
    return changeLocked("setGroup", "ChangeServiceConfig", [&] {
        return m_scm.changeServiceConfig(m_service.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                         nullptr, &text, nullptr, nullptr, nullptr, nullptr);
    });
}

bool CWinServiceManager::setStartup(int startType)
{
    // An invalid start type would read as "no change" below: refused before anything is done.
    const int windowsStartType = toWinStartType(startType);
    if (windowsStartType < 0) {
        if (hasBoth())
            traceLine(QStringLiteral("setStartup: invalid start type"));
        return false;
    }
    return changeLocked("setStartup", "ChangeServiceConfig", [&] {
        return m_scm.changeServiceConfig(m_service.get(), SERVICE_NO_CHANGE, std::uint32_t(windowsStartType),
                                         SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    });
}

bool CWinServiceManager::startService()
{
    if (!m_service.isOpen())
        return false;
    if (m_scm.startService(m_service.get(), {}) != ERROR_SUCCESS) {
        traceLine(QStringLiteral("StartService failed"));
        return false;
    }
    return true;
}

bool CWinServiceManager::start(int timeout)
{
    if (timeout == 0)
        return startService();
    return poll(true, timeout);
}

bool CWinServiceManager::stop(int timeout)
{
    if (timeout == 0)
        return control(StopOperation);
    return poll(false, timeout);
}

// The service is asked once to start (or continue, or stop); a service that falls back to a
// state that would call for asking again has failed, rather than being asked for ever.
bool CWinServiceManager::poll(bool starting, int timeout)
{
    const QString prefix = QLatin1String(starting ? "start: " : "stop: ");
    const int done = int(starting ? SERVICE_RUNNING : SERVICE_STOPPED);
    bool asked = false;
    for (int waits = 0;;) {
        int state = 0;
        if (!queryStatus(&state))
            return false;
        if (state == done) {
            traceLine(prefix + QLatin1String(starting ? "Started." : "Stopped."));
            return true;
        }
        if (isPending(state) && waits >= 10 * timeout) {
            traceLine(prefix + QLatin1String("Timeout"));
            return false;
        }
        if (isPending(state)) {
            ++waits;
        } else {
            if (asked) {
                traceLine(prefix + QLatin1String(starting ? "Failed, the service did not start."
                                                          : "Failed, the service did not stop."));
                return false;
            }
            if (!ask(starting, state))
                return false;
            asked = true;
            waits = 1;
        }
        if (!wait()) {
            traceLine(prefix + QLatin1String("Cancelled."));
            return false;
        }
    }
}

bool CWinServiceManager::ask(bool starting, int state)
{
    if (starting && state == int(SERVICE_STOPPED)) {
        traceLine(QStringLiteral("start: Starting..."));
        return startService();
    }
    if (starting && state == int(SERVICE_PAUSED)) {
        traceLine(QStringLiteral("start: Continuing..."));
        return control(ContinueOperation);
    }
    if (!starting && (state == int(SERVICE_RUNNING) || state == int(SERVICE_PAUSED))) {
        traceLine(QStringLiteral("stop: Stopping..."));
        return control(StopOperation);
    }
    return false;
}

bool CWinServiceManager::wait()
{
    if (m_wait)
        return m_wait(pollInterval);
    std::this_thread::sleep_for(std::chrono::milliseconds(pollInterval));
    return true;
}

bool CWinServiceManager::control(int operation)
{
    if (!hasBoth())
        return false;
    switch (operation) {
    case StartOperation:
        return startService();
    case QueryOperation: {
        int state = 0;
        return queryStatus(&state);
    }
    case StopOperation:
    case PauseOperation:
    case ContinueOperation:
    case InterrogateOperation: {
        // Operations 2 to 5 are the service controls 1 to 4.
        ServiceStatus status;
        if (m_scm.controlService(m_service.get(), std::uint32_t(operation - 1), &status) != ERROR_SUCCESS) {
            traceLine(QStringLiteral("ControlService failed"));
            return false;
        }
        return true;
    }
    default:
        return false;
    }
}

bool CWinServiceManager::queryStatus(int* state)
{
    if (!m_service.isOpen())
        return false;
    ServiceStatus status;
    if (m_scm.queryServiceStatus(m_service.get(), &status) != ERROR_SUCCESS) {
        traceLine(QStringLiteral("QueryServiceStatus failed"));
        return false;
    }
    if (status.currentState >= 1 && status.currentState <= 7)
        traceLine(QLatin1String(stateTexts[status.currentState - 1].trace));
    if (state)
        *state = int(status.currentState);
    return true;
}

int CWinServiceManager::toWinStartType(int startType)
{
    return startType >= 0 && startType <= 4 ? int(startTypes[startType].windows) : -1;
}

QString CWinServiceManager::statusWord()
{
    int state = 0;
    return queryStatus(&state) ? wordOfState(state) : QString();
}

int CWinServiceManager::queryStartType()
{
    if (!m_service.isOpen())
        return NoChange;
    // The size first, then the record in a buffer of that size.
    std::uint32_t needed = 0;
    std::uint32_t code = m_scm.queryServiceConfig(m_service.get(), nullptr, 0, &needed);
    ServiceConfig config;
    if (code == ERROR_INSUFFICIENT_BUFFER)
        code = m_scm.queryServiceConfig(m_service.get(), &config, needed, &needed);
    switch (code) {
    case ERROR_SUCCESS:
        break;
    case ERROR_ACCESS_DENIED:
        traceLine(QStringLiteral("QueryServiceConfig: ERROR_ACCESS_DENIED"));
        return NoChange;
    case ERROR_INVALID_HANDLE:
        traceLine(QStringLiteral("QueryServiceConfig: ERROR_INVALID_HANDLE"));
        return NoChange;
    case ERROR_INSUFFICIENT_BUFFER:
        traceLine(QStringLiteral("QueryServiceConfig: ERROR_INSUFFICIENT_BUFFER"));
        return NoChange;
    default:
        traceLine(QLatin1String("QueryServiceConfig: error ") + QString::number(code));
        return NoChange;
    }
    for (int type = Disabled; type <= System; ++type) {
        if (startTypes[type].windows == config.startType)
            return type;
    }
    return NoChange;
}

void CWinServiceManager::setWaitFunction(WaitFunction wait)
{
    m_wait = std::move(wait);
}

int CWinServiceManager::startTypeOfWord(const QString& word)
{
    for (int type = Disabled; type <= System; ++type) {
        if (word == QLatin1String(startTypes[type].word))
            return type;
    }
    return NoChange;
}

QString CWinServiceManager::wordOfStartType(int startType)
{
    return startType >= Disabled && startType <= System ? QLatin1String(startTypes[startType].word) : QString();
}

QString CWinServiceManager::wordOfState(int state)
{
    return state >= 1 && state <= 7 ? QLatin1String(stateTexts[state - 1].word) : QString();
}
