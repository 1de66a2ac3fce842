// The emulated machine's service control manager: handles, rights, the Windows rules of
// creating, deleting, starting and stopping, one store transaction per call.

#include "platform/emulated/emulatedservices.h"

#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/servicestate.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace winsteps::platform::emulated {

namespace {

// Rights a user without administrator rights is granted.
constexpr std::uint32_t userManagerRights = SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE
    | SC_MANAGER_QUERY_LOCK_STATUS | READ_CONTROL;
constexpr std::uint32_t userServiceRights = SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_ENUMERATE_DEPENDENTS
    | SERVICE_INTERROGATE | SERVICE_USER_DEFINED_CONTROL | READ_CONTROL;
constexpr std::uint32_t maximumAllowed = 0x02000000u;

bool validStartType(std::uint32_t type)
{
    return type <= SERVICE_DISABLED;
}

bool validServiceType(std::uint32_t type)
{
    const std::uint32_t base = type & ~SERVICE_INTERACTIVE_PROCESS;
    return base == SERVICE_KERNEL_DRIVER || base == SERVICE_FILE_SYSTEM_DRIVER || base == SERVICE_WIN32_OWN_PROCESS
        || base == SERVICE_WIN32_SHARE_PROCESS;
}

bool validName(const std::string& name)
{
    return !name.empty() && name.size() <= 256 && name.find('\\') == std::string::npos
        && name.find('/') == std::string::npos;
}

} // namespace

EmulatedServices::EmulatedServices(EmulatedMachine& machine)
    : m_machine(machine)
{
}

bool EmulatedServices::noManager() const
{
    return !m_machine.profile().isNt();
}

std::uint32_t EmulatedServices::transact(bool write, const std::function<std::uint32_t(ServiceStore&)>& body)
{
    std::lock_guard<std::mutex> lock(m_machine.storeMutex());
    StoreTransaction transaction(m_machine.store(), write);
    if (!transaction.ok())
        return ERROR_NOT_ENOUGH_MEMORY;
    ServiceStore store(m_machine.store(), m_machine.rootRow(HKEY_LOCAL_MACHINE));
    const std::uint32_t result = body(store);
    const std::uint32_t finished = transaction.finish(result);
    return finished == ERROR_REGISTRY_IO_FAILED ? ERROR_NOT_ENOUGH_MEMORY : finished;
}

std::uint32_t EmulatedServices::checkHandle(SC_HANDLE handle, bool manager, std::uint32_t needed) const
{
    const auto it = m_handles.find(handle);
    if (it == m_handles.end() || it->second.manager != manager)
        return ERROR_INVALID_HANDLE;
    return (it->second.rights & needed) == needed ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

std::uint32_t EmulatedServices::withService(
    SC_HANDLE handle, bool write, std::uint32_t needed,
    const std::function<std::uint32_t(ServiceStore&, qint64, ServiceRunState&)>& body)
{
    if (noManager())
        return ERROR_CALL_NOT_IMPLEMENTED;
    return transact(write, [&](ServiceStore& store) -> std::uint32_t {
        if (const std::uint32_t code = checkHandle(handle, false, needed); code != ERROR_SUCCESS)
            return code;
        const QString name = m_handles.at(handle).name;
        const qint64 key = store.serviceKey(name);
        if (!key)
            return ERROR_SERVICE_DOES_NOT_EXIST; // removed behind the handle (a .reg import, say)
        ServiceRunState state = store.runState(name, store.behaviour(m_machine.profile(), name));
        state.resolve(nowMs());
        const std::uint32_t result = body(store, key, state);
        if (write && result == ERROR_SUCCESS)
            store.saveRunState(name, state);
        return result;
    });
}

std::uint32_t EmulatedServices::grantedRights(bool manager, std::uint32_t access, std::uint32_t* granted) const
{
    const std::uint32_t all = manager ? SC_MANAGER_ALL_ACCESS : SERVICE_ALL_ACCESS;
    const bool admin = m_machine.profile().administrator();
    const std::uint32_t allowed = admin ? all : (manager ? userManagerRights : userServiceRights);
    std::uint32_t asked = access;
    if (asked & maximumAllowed)
        asked = (asked & ~maximumAllowed) | allowed;
    if (asked & ~allowed)
        return ERROR_ACCESS_DENIED;
    *granted = asked;
    return ERROR_SUCCESS;
}

SC_HANDLE EmulatedServices::addHandle(const Handle& handle)
{
    const SC_HANDLE id = m_nextHandle;
    m_nextHandle += 4;
    m_handles[id] = handle;
    return id;
}

std::uint32_t EmulatedServices::openSCManager(const std::string& machineName, const std::string& databaseName,
                                              std::uint32_t access, SC_HANDLE* result)
{
    if (noManager())
        return ERROR_CALL_NOT_IMPLEMENTED;
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = SC_HANDLE_NULL;
    if (!machineName.empty())
        return 1722; // RPC_S_SERVER_UNAVAILABLE: the emulated machine has no network
    if (!databaseName.empty() && databaseName != "ServicesActive")
        return 1065; // ERROR_DATABASE_DOES_NOT_EXIST
    Handle handle;
    handle.manager = true;
    const std::uint32_t code = grantedRights(true, access, &handle.rights);
    if (code != ERROR_SUCCESS)
        return code;
    std::lock_guard<std::mutex> lock(m_machine.storeMutex());
    *result = addHandle(handle);
    return ERROR_SUCCESS;
}

bool EmulatedServices::removeIfDone(ServiceStore& store, const QString& name, qint64 key, ServiceRunState& state)
{
    state.resolve(nowMs());
    if (!state.marked || state.state != SERVICE_STOPPED || state.held())
        return false;
    store.removeKey(key);
    store.forgetRunState(name);
    return true;
}

std::uint32_t EmulatedServices::openService(SC_HANDLE manager, const std::string& serviceName, std::uint32_t access,
                                            SC_HANDLE* result)
{
    if (noManager())
        return ERROR_CALL_NOT_IMPLEMENTED;
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = SC_HANDLE_NULL;
    return transact(true, [&](ServiceStore& store) -> std::uint32_t {
        if (const std::uint32_t code = checkHandle(manager, true, SC_MANAGER_CONNECT); code != ERROR_SUCCESS)
            return code;
        if (!validName(serviceName))
            return ERROR_INVALID_NAME;
        const QString asked = QString::fromStdString(serviceName);
        const qint64 key = store.serviceKey(asked);
        if (!key)
            return ERROR_SERVICE_DOES_NOT_EXIST;
        RegistryStore::Key row;
        m_machine.store().key(key, &row);
        ServiceRunState state = store.runState(row.name, store.behaviour(m_machine.profile(), row.name));
        if (removeIfDone(store, row.name, key, state))
            return ERROR_SERVICE_DOES_NOT_EXIST;
        if (state.marked)
            return ERROR_SERVICE_MARKED_FOR_DELETE;
        Handle handle;
        const std::uint32_t code = grantedRights(false, access, &handle.rights);
        if (code != ERROR_SUCCESS)
            return code;
        handle.name = row.name;
        state.holders[thisProcessMark()] += 1;
        store.saveRunState(row.name, state);
        *result = addHandle(handle);
        return ERROR_SUCCESS;
    });
}

std::uint32_t EmulatedServices::createService(SC_HANDLE manager, const std::string& serviceName,
                                              const std::string& displayName, std::uint32_t access,
                                              std::uint32_t serviceType, std::uint32_t startType,
                                              std::uint32_t errorControl, const std::string& binaryPathName,
                                              const std::string& loadOrderGroup,
                                              const std::vector<std::string>& dependencies,
                                              const std::string& serviceStartName, const std::string&,
                                              SC_HANDLE* result)
{
    if (noManager())
        return ERROR_CALL_NOT_IMPLEMENTED;
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = SC_HANDLE_NULL;
    return transact(true, [&](ServiceStore& store) -> std::uint32_t {
        if (const std::uint32_t code = checkHandle(manager, true, SC_MANAGER_CREATE_SERVICE); code != ERROR_SUCCESS)
            return code;
        if (!validName(serviceName))
            return ERROR_INVALID_NAME;
        if (!validServiceType(serviceType) || !validStartType(startType) || errorControl > SERVICE_ERROR_CRITICAL
            || binaryPathName.empty())
            return ERROR_INVALID_PARAMETER;
        Handle handle;
        const std::uint32_t code = grantedRights(false, access, &handle.rights);
        if (code != ERROR_SUCCESS)
            return code;
        const QString name = QString::fromStdString(serviceName);
        if (const qint64 existing = store.serviceKey(name)) {
            RegistryStore::Key row;
            m_machine.store().key(existing, &row);
            ServiceRunState state = store.runState(row.name, store.behaviour(m_machine.profile(), row.name));
            if (!removeIfDone(store, row.name, existing, state))
                return state.marked ? ERROR_SERVICE_MARKED_FOR_DELETE : ERROR_SERVICE_EXISTS;
        }
        const QString shown = displayName.empty() ? name : QString::fromStdString(displayName);
        if (store.keyByDisplayName(shown))
            return ERROR_DUPLICATE_SERVICE_NAME;
        const qint64 key = store.createKey(name);
        if (!key)
            return ERROR_NOT_ENOUGH_MEMORY;
        ServiceConfig config;
        config.serviceType = serviceType;
        config.startType = startType;
        config.errorControl = errorControl;
        config.binaryPathName = binaryPathName;
        config.loadOrderGroup = loadOrderGroup;
        config.dependencies = dependencies;
        config.serviceStartName = serviceStartName;
        config.displayName = shown.toStdString();
        store.writeConfig(key, config, ServiceStore::All);
        ServiceRunState state;
        state.holders[thisProcessMark()] = 1;
        store.saveRunState(name, state);
        handle.name = name;
        *result = addHandle(handle);
        return ERROR_SUCCESS;
    });
}

std::uint32_t EmulatedServices::deleteService(SC_HANDLE service)
{
    return withService(service, true, DELETE, [&](ServiceStore&, qint64, ServiceRunState& state) -> std::uint32_t {
        if (state.marked)
            return ERROR_SERVICE_MARKED_FOR_DELETE;
        state.marked = true; // it goes when it is stopped and its last handle closes
        return ERROR_SUCCESS;
    });
}

std::uint32_t EmulatedServices::changeServiceConfig(SC_HANDLE service, std::uint32_t serviceType,
                                                    std::uint32_t startType, std::uint32_t errorControl,
                                                    const std::string* binaryPathName,
                                                    const std::string* loadOrderGroup,
                                                    const std::vector<std::string>* dependencies,
                                                    const std::string* serviceStartName, const std::string*,
                                                    const std::string* displayName)
{
    return withService(service, true, SERVICE_CHANGE_CONFIG,
                       [&](ServiceStore& store, qint64 key, ServiceRunState& state) -> std::uint32_t {
        if (state.marked)
            return ERROR_SERVICE_MARKED_FOR_DELETE;
        if ((serviceType != SERVICE_NO_CHANGE && !validServiceType(serviceType))
            || (startType != SERVICE_NO_CHANGE && !validStartType(startType))
            || (errorControl != SERVICE_NO_CHANGE && errorControl > SERVICE_ERROR_CRITICAL)
            || (binaryPathName && binaryPathName->empty()))
            return ERROR_INVALID_PARAMETER;
        if (displayName && !displayName->empty()) {
            const qint64 other = store.keyByDisplayName(QString::fromStdString(*displayName));
            if (other && other != key)
                return ERROR_DUPLICATE_SERVICE_NAME;
        }
        ServiceConfig config;
        std::uint32_t mask = 0;
        const auto number = [&mask](std::uint32_t value, std::uint32_t* into, std::uint32_t item) {
            if (value != SERVICE_NO_CHANGE) {
                *into = value;
                mask |= item;
            }
        };
        const auto text = [&mask](const std::string* value, std::string* into, std::uint32_t item) {
            if (value) {
                *into = *value;
                mask |= item;
            }
        };
        number(serviceType, &config.serviceType, ServiceStore::Type);
        number(startType, &config.startType, ServiceStore::Start);
        number(errorControl, &config.errorControl, ServiceStore::ErrorControl);
        text(binaryPathName, &config.binaryPathName, ServiceStore::ImagePath);
        text(loadOrderGroup, &config.loadOrderGroup, ServiceStore::Group);
        text(serviceStartName, &config.serviceStartName, ServiceStore::ObjectName);
        text(displayName, &config.displayName, ServiceStore::DisplayName);
        if (dependencies) {
            config.dependencies = *dependencies;
            mask |= ServiceStore::Dependencies;
        }
        store.writeConfig(key, config, mask);
        return ERROR_SUCCESS;
    });
}

std::uint32_t EmulatedServices::changeServiceConfig2(SC_HANDLE service, std::uint32_t infoLevel,
                                                     const std::string& description)
{
    return withService(service, true, SERVICE_CHANGE_CONFIG,
                       [&](ServiceStore& store, qint64 key, ServiceRunState& state) -> std::uint32_t {
        if (infoLevel != SERVICE_CONFIG_DESCRIPTION)
            return ERROR_INVALID_PARAMETER;
        if (state.marked)
            return ERROR_SERVICE_MARKED_FOR_DELETE;
        store.writeDescription(key, QString::fromStdString(description));
        return ERROR_SUCCESS;
    });
}

std::uint32_t EmulatedServices::queryServiceConfig2(SC_HANDLE service, std::uint32_t infoLevel,
                                                    std::string* description)
{
    return withService(service, false, SERVICE_QUERY_CONFIG,
                       [&](ServiceStore& store, qint64 key, ServiceRunState&) -> std::uint32_t {
        if (infoLevel != SERVICE_CONFIG_DESCRIPTION || !description)
            return ERROR_INVALID_PARAMETER;
        ServiceConfig config;
        QString text;
        store.readConfig(key, &config, &text);
        *description = text.toStdString();
        return ERROR_SUCCESS;
    });
}

std::uint32_t EmulatedServices::queryServiceConfig(SC_HANDLE service, ServiceConfig* config,
                                                   std::uint32_t bufferSize, std::uint32_t* bytesNeeded)
{
    return withService(service, false, SERVICE_QUERY_CONFIG,
                       [&](ServiceStore& store, qint64 key, ServiceRunState&) -> std::uint32_t {
        if (!bytesNeeded)
            return ERROR_INVALID_PARAMETER;
        ServiceConfig read;
        store.readConfig(key, &read, nullptr);
        *bytesNeeded = serviceConfigBytes(read);
        if (!config || bufferSize < *bytesNeeded)
            return ERROR_INSUFFICIENT_BUFFER;
        *config = read;
        return ERROR_SUCCESS;
    });
}

std::uint32_t EmulatedServices::statusOf(const ServiceBehaviour& behaviour, const ServiceRunState& state,
                                         std::uint32_t type, ServiceStatus* status) const
{
    *status = ServiceStatus();
    status->serviceType = type;
    status->currentState = state.state;
    status->win32ExitCode = state.state == SERVICE_STOPPED ? state.exitCode : ERROR_SUCCESS;
    if (state.state == SERVICE_RUNNING || state.state == SERVICE_PAUSED) {
        status->controlsAccepted = (behaviour.stoppable ? SERVICE_ACCEPT_STOP : 0)
            | (behaviour.pausable ? SERVICE_ACCEPT_PAUSE_CONTINUE : 0);
    }
    if (state.pending()) {
        const qint64 elapsed = nowMs() - state.since;
        status->checkPoint = std::uint32_t(elapsed / 100 + 1);
        status->waitHint = std::uint32_t(state.duration > 0 ? state.duration : 2000);
    }
    return ERROR_SUCCESS;
}

std::uint32_t EmulatedServices::queryServiceStatus(SC_HANDLE service, ServiceStatus* status)
{
    return withService(service, false, SERVICE_QUERY_STATUS,
                       [&](ServiceStore& store, qint64 key, ServiceRunState& state) -> std::uint32_t {
        if (!status)
            return ERROR_INVALID_PARAMETER;
        ServiceConfig config;
        store.readConfig(key, &config, nullptr);
        return statusOf(store.behaviour(m_machine.profile(), m_handles[service].name), state, config.serviceType,
                        status);
    });
}

bool EmulatedServices::imageExists(const std::string& imagePath) const
{
    QString path = QString::fromStdString(imagePath).trimmed();
    // %NAME% of the machine's environment.
    static const QRegularExpression variable(QStringLiteral("%([^%]+)%"));
    const QMap<QString, QString>& environment = m_machine.profile().environment();
    QRegularExpressionMatch match;
    int from = 0;
    while ((match = variable.match(path, from)).hasMatch()) {
        QString value;
        for (auto it = environment.begin(); it != environment.end(); ++it) {
            if (it.key().compare(match.captured(1), Qt::CaseInsensitive) == 0)
                value = it.value();
        }
        if (value.isNull()) {
            from = int(match.capturedEnd());
            continue;
        }
        path.replace(match.capturedStart(), match.capturedLength(), value);
        from = int(match.capturedStart() + value.size());
    }
    const auto exists = [this](QString candidate) {
        // A relative path (as drivers have) lies below the Windows folder.
        if (candidate.size() < 2 || candidate[1] != QLatin1Char(':'))
            candidate = QStringLiteral("C:\\") + m_machine.profile().windowsFolder() + QLatin1Char('\\') + candidate;
        return QFileInfo(m_machine.hostPath(candidate)).isFile();
    };
    if (path.startsWith(QLatin1Char('"'))) {
        const int close = path.indexOf(QLatin1Char('"'), 1);
        return close > 1 && exists(path.mid(1, close - 1));
    }
    // Unquoted: the longest part up to a blank that names a file, as Windows tries them.
    for (int end = int(path.size()); end > 0; end = int(path.lastIndexOf(QLatin1Char(' '), end - 1))) {
        if (exists(path.left(end)))
            return true;
    }
    return false;
}

std::uint32_t EmulatedServices::startService(SC_HANDLE service, const std::vector<std::string>&)
{
    return withService(service, true, SERVICE_START,
                       [&](ServiceStore& store, qint64 key, ServiceRunState& state) -> std::uint32_t {
        // Another process's lock; the holder itself may start a service.
        const QString lockOwner = store.lockOwner();
        if (!lockOwner.isEmpty() && !lockOwner.startsWith(thisProcessMark() + QLatin1Char(':'))
            && markRuns(lockOwner))
            return ERROR_SERVICE_DATABASE_LOCKED;
        if (state.marked)
            return ERROR_SERVICE_MARKED_FOR_DELETE;
        if (state.state != SERVICE_STOPPED)
            return ERROR_SERVICE_ALREADY_RUNNING;
        ServiceConfig config;
        store.readConfig(key, &config, nullptr);
        if (config.startType == SERVICE_DISABLED)
            return ERROR_SERVICE_DISABLED;
        if (!isFreshService(m_machine.profile(), m_handles[service].name) && !imageExists(config.binaryPathName))
            return ERROR_FILE_NOT_FOUND;
        const ServiceBehaviour behaviour = store.behaviour(m_machine.profile(), m_handles[service].name);
        state.exitCode = ERROR_SUCCESS;
        state.state = SERVICE_START_PENDING;
        state.since = nowMs();
        state.duration = behaviour.hangsStarting ? -1 : behaviour.startMs;
        state.target = behaviour.startFailure ? SERVICE_STOPPED : SERVICE_RUNNING;
        state.exitCode = behaviour.startFailure;
        state.resolve(state.since);
        return ERROR_SUCCESS;
    });
}

std::uint32_t EmulatedServices::controlService(SC_HANDLE service, std::uint32_t control, ServiceStatus* status)
{
    std::uint32_t needed = 0;
    switch (control) {
    case SERVICE_CONTROL_STOP:
        needed = SERVICE_STOP;
        break;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
        needed = SERVICE_PAUSE_CONTINUE;
        break;
    case SERVICE_CONTROL_INTERROGATE:
        needed = SERVICE_INTERROGATE;
        break;
    default:
        return noManager() ? ERROR_CALL_NOT_IMPLEMENTED : ERROR_INVALID_PARAMETER;
    }
    return withService(service, true, needed,
                       [&](ServiceStore& store, qint64 key, ServiceRunState& state) -> std::uint32_t {
        const QString name = m_handles[service].name;
        const ServiceBehaviour behaviour = store.behaviour(m_machine.profile(), name);
        ServiceConfig config;
        store.readConfig(key, &config, nullptr);
        if (state.state == SERVICE_STOPPED)
            return ERROR_SERVICE_NOT_ACTIVE;
        if (state.pending())
            return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
        switch (control) {
        case SERVICE_CONTROL_STOP:
            if (!behaviour.stoppable)
                return ERROR_INVALID_SERVICE_CONTROL;
            state.state = SERVICE_STOP_PENDING;
            state.target = SERVICE_STOPPED;
            state.since = nowMs();
            state.duration = behaviour.hangsStopping ? -1 : behaviour.stopMs;
            state.exitCode = ERROR_SUCCESS;
            state.resolve(state.since);
            break;
        case SERVICE_CONTROL_PAUSE:
        case SERVICE_CONTROL_CONTINUE:
            if (!behaviour.pausable)
                return ERROR_INVALID_SERVICE_CONTROL;
            state.state = control == SERVICE_CONTROL_PAUSE ? SERVICE_PAUSED : SERVICE_RUNNING;
            state.target = state.state;
            break;
        default:
            break;
        }
        if (status)
            statusOf(behaviour, state, config.serviceType, status);
        return ERROR_SUCCESS;
    });
}

std::uint32_t EmulatedServices::lockServiceDatabase(SC_HANDLE manager, SC_LOCK* lock)
{
    if (noManager())
        return ERROR_CALL_NOT_IMPLEMENTED;
    if (!lock)
        return ERROR_INVALID_PARAMETER;
    *lock = 0;
    return transact(true, [&](ServiceStore& store) -> std::uint32_t {
        if (const std::uint32_t code = checkHandle(manager, true, SC_MANAGER_LOCK); code != ERROR_SUCCESS)
            return code;
        // A lock whose holder has ended is free again.
        const QString owner = store.lockOwner();
        if (!owner.isEmpty() && markRuns(owner))
            return ERROR_SERVICE_DATABASE_LOCKED;
        const SC_LOCK token = m_nextLock++;
        store.setLockOwner(thisProcessMark() + QLatin1Char(':') + QString::number(token));
        m_lock = token;
        *lock = token;
        return ERROR_SUCCESS;
    });
}

std::uint32_t EmulatedServices::unlockServiceDatabase(SC_LOCK lock)
{
    if (noManager())
        return ERROR_CALL_NOT_IMPLEMENTED;
    return transact(true, [&](ServiceStore& store) -> std::uint32_t {
        if (lock == 0 || lock != m_lock
            || store.lockOwner() != thisProcessMark() + QLatin1Char(':') + QString::number(lock))
            return ERROR_INVALID_SERVICE_LOCK;
        store.setLockOwner(QString());
        m_lock = 0;
        return ERROR_SUCCESS;
    });
}

std::uint32_t EmulatedServices::closeServiceHandle(SC_HANDLE handle)
{
    if (noManager())
        return ERROR_CALL_NOT_IMPLEMENTED;
    return transact(true, [&](ServiceStore& store) -> std::uint32_t {
        const auto it = m_handles.find(handle);
        if (it == m_handles.end())
            return ERROR_INVALID_HANDLE;
        const Handle closed = it->second;
        m_handles.erase(it);
        if (closed.manager)
            return ERROR_SUCCESS;
        const qint64 key = store.serviceKey(closed.name);
        if (!key)
            return ERROR_SUCCESS;
        ServiceRunState state = store.runState(closed.name, store.behaviour(m_machine.profile(), closed.name));
        int& held = state.holders[thisProcessMark()];
        held = std::max(0, held - 1);
        if (!removeIfDone(store, closed.name, key, state))
            store.saveRunState(closed.name, state);
        return ERROR_SUCCESS;
    });
}

void EmulatedServices::restarted()
{
    if (noManager())
        return;
    ServiceStore store(m_machine.store(), m_machine.rootRow(HKEY_LOCAL_MACHINE));
    for (const QString& name : store.names()) {
        const qint64 key = store.serviceKey(name);
        ServiceRunState state = store.runState(name, store.behaviour(m_machine.profile(), name));
        if (state.marked) {
            store.removeKey(key);
            store.forgetRunState(name);
            continue;
        }
        ServiceConfig config;
        store.readConfig(key, &config, nullptr);
        ServiceRunState fresh;
        const bool starts = config.startType <= SERVICE_AUTO_START
            && (isFreshService(m_machine.profile(), name) || imageExists(config.binaryPathName));
        fresh.state = fresh.target = starts ? SERVICE_RUNNING : SERVICE_STOPPED;
        fresh.exitCode = config.startType <= SERVICE_AUTO_START && !starts ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
        store.saveRunState(name, fresh);
    }
    m_handles.clear();
    m_lock = 0;
    store.setLockOwner(QString());
}

std::vector<EmulatedServices::Entry> EmulatedServices::list()
{
    std::vector<Entry> entries;
    if (noManager())
        return entries;
    transact(false, [&](ServiceStore& store) -> std::uint32_t {
        for (const QString& name : store.names()) {
            Entry entry;
            entry.name = name.toStdString();
            store.readConfig(store.serviceKey(name), &entry.config, nullptr);
            const ServiceBehaviour behaviour = store.behaviour(m_machine.profile(), name);
            ServiceRunState state = store.runState(name, behaviour);
            state.resolve(nowMs());
            statusOf(behaviour, state, entry.config.serviceType, &entry.status);
            entries.push_back(entry);
        }
        return ERROR_SUCCESS;
    });
    return entries;
}

std::uint32_t EmulatedServices::stage(const QString& name, const QJsonObject& items, bool reset,
                                      ServiceBehaviour* effective)
{
    if (noManager())
        return ERROR_CALL_NOT_IMPLEMENTED;
    return transact(true, [&](ServiceStore& store) -> std::uint32_t {
        const ServiceBehaviour behaviour = store.stage(m_machine.profile(), name, items, reset);
        if (effective)
            *effective = behaviour;
        return ERROR_SUCCESS;
    });
}

} // namespace winsteps::platform::emulated
