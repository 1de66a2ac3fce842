#pragma once

#include "platform/services.h"
#include "winsteps_platform_export.h"

#include <QJsonObject>
#include <QString>

#include <functional>
#include <map>

namespace winsteps::platform::emulated {

class EmulatedMachine;
class ServiceStore;
struct ServiceBehaviour;
struct ServiceRunState;

// The service control manager of an emulated machine (see servicestate.h for where it keeps
// what): handles of this process, the rights of the profile's user, the database lock shared
// by every process on the machine folder (a lock whose holder has ended is free again), and
// one store transaction per call.
class WINSTEPS_PLATFORM_EXPORT EmulatedServices final : public Services {
public:
    explicit EmulatedServices(EmulatedMachine& machine);
    EmulatedServices(const EmulatedServices&) = delete;
    EmulatedServices& operator=(const EmulatedServices&) = delete;

    std::uint32_t openSCManager(const std::string& machineName, const std::string& databaseName,
                                std::uint32_t access, SC_HANDLE* result) override;
    std::uint32_t openService(SC_HANDLE manager, const std::string& serviceName, std::uint32_t access,
                              SC_HANDLE* result) override;
    std::uint32_t createService(SC_HANDLE manager, const std::string& serviceName, const std::string& displayName,
                                std::uint32_t access, std::uint32_t serviceType, std::uint32_t startType,
                                std::uint32_t errorControl, const std::string& binaryPathName,
                                const std::string& loadOrderGroup, const std::vector<std::string>& dependencies,
                                const std::string& serviceStartName, const std::string& password,
                                SC_HANDLE* result) override;
    std::uint32_t deleteService(SC_HANDLE service) override;
    std::uint32_t changeServiceConfig(SC_HANDLE service, std::uint32_t serviceType, std::uint32_t startType,
                                      std::uint32_t errorControl, const std::string* binaryPathName,
                                      const std::string* loadOrderGroup, const std::vector<std::string>* dependencies,
                                      const std::string* serviceStartName, const std::string* password,
                                      const std::string* displayName) override;
    std::uint32_t changeServiceConfig2(SC_HANDLE service, std::uint32_t infoLevel,
                                       const std::string& description) override;
    std::uint32_t queryServiceConfig2(SC_HANDLE service, std::uint32_t infoLevel, std::string* description) override;
    std::uint32_t queryServiceConfig(SC_HANDLE service, ServiceConfig* config, std::uint32_t bufferSize,
                                     std::uint32_t* bytesNeeded) override;
    std::uint32_t queryServiceStatus(SC_HANDLE service, ServiceStatus* status) override;
    std::uint32_t startService(SC_HANDLE service, const std::vector<std::string>& arguments) override;
    std::uint32_t controlService(SC_HANDLE service, std::uint32_t control, ServiceStatus* status) override;
    std::uint32_t lockServiceDatabase(SC_HANDLE manager, SC_LOCK* lock) override;
    std::uint32_t unlockServiceDatabase(SC_LOCK lock) override;
    std::uint32_t closeServiceHandle(SC_HANDLE handle) override;

    // For the machine's owner: every service with its configuration and status, by name.
    struct Entry {
        std::string name;
        ServiceConfig config;
        ServiceStatus status;
    };
    std::vector<Entry> list();
    // For the machine's owner: stages how the service name behaves (it need not exist yet):
    // the items of a profile's "services" entry, over those staged before on this machine (all
    // of them dropped first when reset is true). "state" also puts a service that exists now
    // into that state at once, ending what it was doing. *effective (may be null) is the
    // behaviour that results. ERROR_CALL_NOT_IMPLEMENTED on the 9x family.
    std::uint32_t stage(const QString& name, const QJsonObject& items, bool reset, ServiceBehaviour* effective);
    // After a restart of the machine: services marked for deletion are gone, those that start
    // automatically run (when their program exists), every other one is stopped; no handle and
    // no lock is left. The caller holds the store's lock and a write transaction.
    void restarted();

private:
    struct Handle {
        bool manager = false;
        std::uint32_t rights = 0;
        QString name; // a service's name as created
    };

    // ERROR_SUCCESS when handle is an open handle of the kind asked for (the manager's or a
    // service's) that holds every right needed; ERROR_INVALID_HANDLE or ERROR_ACCESS_DENIED
    // otherwise.
    std::uint32_t checkHandle(SC_HANDLE handle, bool manager, std::uint32_t needed) const;
    // Runs body under the store's lock in one store transaction (a writing one when write
    // is true); the transaction commits when body returns ERROR_SUCCESS.
    std::uint32_t transact(bool write, const std::function<std::uint32_t(ServiceStore&)>& body);
    // Like transact, for a service handle that holds the rights needed; body gets the
    // service's key, its run-time state as of now, and its name.
    std::uint32_t withService(SC_HANDLE handle, bool write, std::uint32_t needed,
                              const std::function<std::uint32_t(ServiceStore&, qint64, ServiceRunState&)>& body);
    // Removes a service marked for deletion once it is stopped and nobody holds a handle;
    // true when it went. The caller holds the lock and a write transaction.
    bool removeIfDone(ServiceStore& store, const QString& name, qint64 key, ServiceRunState& state);
    std::uint32_t grantedRights(bool manager, std::uint32_t access, std::uint32_t* granted) const;
    std::uint32_t statusOf(const ServiceBehaviour& behaviour, const ServiceRunState& state, std::uint32_t type,
                           ServiceStatus* status) const;
    // Whether the program a service's ImagePath names exists on the machine.
    bool imageExists(const std::string& imagePath) const;
    bool noManager() const;
    SC_HANDLE addHandle(const Handle& handle);

    EmulatedMachine& m_machine;
    std::map<SC_HANDLE, Handle> m_handles; // guarded by the store's lock
    SC_HANDLE m_nextHandle = 0x1000;
    SC_LOCK m_lock = 0; // the lock this process holds, 0: none
    SC_LOCK m_nextLock = 0x7000;
};

} // namespace winsteps::platform::emulated
