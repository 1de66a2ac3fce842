#pragma once

#include "platform/services.h"

#include <QJsonObject>
#include <QMap>
#include <QString>

namespace winsteps::platform::emulated {

class MachineProfile;
class RegistryStore;

// What the service control manager of an emulated machine keeps, and how a service behaves.
//
// - The configuration of a service lives where Windows keeps it, in the registry key
//   HKLM\SYSTEM\CurrentControlSet\Services\NAME ("Type", "Start", "ErrorControl",
//   "ImagePath", "DisplayName", "Group", "DependOnService", "ObjectName", "Description").
// - Its run-time state (status, the pending operation and when it began, whether it waits
//   to be removed, which processes hold handles to it) is a record in the machine's store, so
//   that every process on the machine folder sees it. A pending state resolves by the clock
//   when it is read: no helper process runs the service.
// - How it behaves is staged in the profile's "services" table, by service name (any case):
//     "services": {"NAME": {"startSeconds": 3, "stopSeconds": 1, "hangs": "starting"|"stopping",
//                           "startFailure": CODE, "stoppable": false, "pausable": true,
//                           "state": "running"|"stopped"}}
//   Defaults: starts and stops in a second, cannot pause, can be stopped; "state" is the
//   status of a service that nothing has started or stopped yet (default: running for the
//   services a fresh system runs, stopped for any other).
// - An existing machine keeps a table of the same shape in its store (the machine's staging,
//   see EmulatedServices::stage); its items stand over the profile's, item by item, and every
//   process on the folder reads them at its next call ("hangs": "none" undoes a hang).

// The staged behaviour of one service.
struct ServiceBehaviour {
    qint64 startMs = 1000;
    qint64 stopMs = 1000;
    bool hangsStarting = false;
    bool hangsStopping = false;
    std::uint32_t startFailure = 0;
    bool stoppable = true;
    bool pausable = false;
    std::uint32_t initialState = SERVICE_STOPPED;
};

// The services a fresh system of the profile's family has: their keys, added to the initial
// registry, and whether each runs from the start.
void addFreshServices(const MachineProfile& profile, QJsonObject* registry);
bool freshServiceRuns(const MachineProfile& profile, const QString& name);
// Whether the service is one of them (its program is the system's own, present without a file).
bool isFreshService(const MachineProfile& profile, const QString& name);

// Checks a profile's "services" table: false + error text naming the profile and the key for
// anything it cannot mean.
bool checkServiceStaging(const QJsonObject& profile, const QString& source, QString* error);

// The entry of name in a "services" table (any case of the name); empty when there is none.
QJsonObject stagedEntry(const QJsonObject& table, const QString& name);

// The behaviour of the service name on a machine of the profile, with the items of staged
// (one entry of the machine's staging table) over the profile's.
ServiceBehaviour serviceBehaviour(const MachineProfile& profile, const QString& name,
                                  const QJsonObject& staged = QJsonObject());

// The run-time record of one service.
struct ServiceRunState {
    std::uint32_t state = SERVICE_STOPPED; // a settled state, or the pending one
    std::uint32_t target = SERVICE_STOPPED; // the state a pending one resolves to
    qint64 since = 0;                       // when the pending state began (ms since the epoch)
    qint64 duration = 0;                    // how long it lasts; -1: for ever (a hang)
    std::uint32_t exitCode = 0;
    bool marked = false; // marked for deletion
    QMap<QString, int> holders; // "PID:START" of a process -> handles it holds
    bool known = false; // read from the store (false: the defaults of a record never written)

    // Settles a pending state whose time has come; true when it changed.
    bool resolve(qint64 now);
    bool pending() const;
    // Whether a process that still runs holds a handle.
    bool held() const;
};

// The machine store's side of services; the caller holds the store's lock and a transaction.
class ServiceStore {
public:
    ServiceStore(RegistryStore& store, qint64 hklm)
        : m_store(store)
        , m_hklm(hklm)
    {
    }

    // The key of the service (0: none), the "Services" key made when create is true.
    qint64 serviceKey(const QString& name);
    qint64 servicesKey(bool create);
    // The names of every service key, as created.
    QStringList names();

    bool readConfig(qint64 key, ServiceConfig* config, QString* description);
    // Writes the items given (a null pointer keeps the item).
    void writeConfig(qint64 key, const ServiceConfig& config, std::uint32_t mask);
    void writeDescription(qint64 key, const QString& description);
    qint64 createKey(const QString& name);
    void removeKey(qint64 key);
    // The service with that display name (0: none).
    qint64 keyByDisplayName(const QString& displayName);

    ServiceRunState runState(const QString& name, const ServiceBehaviour& behaviour);
    void saveRunState(const QString& name, const ServiceRunState& state);
    void forgetRunState(const QString& name);

    QString lockOwner();
    void setLockOwner(const QString& owner);

    // The machine's staging table, {"NAME": {items}}, and the behaviour of a service with it.
    QJsonObject staging();
    void setStaging(const QJsonObject& table);
    ServiceBehaviour behaviour(const MachineProfile& profile, const QString& name);
    // Stages items for the service name in the table (over its earlier items unless reset);
    // "state" also puts a service that exists into that state at once. Answers the behaviour
    // that results.
    ServiceBehaviour stage(const MachineProfile& profile, const QString& name, const QJsonObject& items, bool reset);

    // Items of writeConfig's mask.
    enum Item {
        Type = 1, Start = 2, ErrorControl = 4, ImagePath = 8, Group = 16, Dependencies = 32, ObjectName = 64,
        DisplayName = 128, All = 255
    };

private:
    RegistryStore& m_store;
    qint64 m_hklm;
};

// The caller process's mark in holders and lock owners: "PID:START".
QString thisProcessMark();
// Whether the process of a mark still runs.
bool markRuns(const QString& mark);
// Milliseconds since the epoch.
qint64 nowMs();

} // namespace winsteps::platform::emulated
