// The service control manager as Windows runs it: handles and rights, the configuration read
// size first, changes of single items, the states a service goes through, deletion of a
// service that is open or still runs, the database lock, and the systems without a manager.
// Cases that start a service need a program that runs as one: they run on the machines of the
// emulated backend, which start any program.

#include "contract.h"

#include "platform/services.h"

#include <chrono>
#include <thread>

using namespace winsteps::platform;
using namespace contract;

namespace {

std::uint32_t closeService(SC_HANDLE service)
{
    return services().closeServiceHandle(service);
}
// A service handle, closed when it goes.
using Handle = Closing<closeService>;

Handle manager(std::uint32_t access = SC_MANAGER_ALL_ACCESS)
{
    Handle handle;
    REQUIRE(services().openSCManager("", "", access, handle.out()) == ERROR_SUCCESS);
    return handle;
}

// The program of the scratch service: a file that exists on the machine.
std::string program()
{
    const std::string path = scratch() + "\\service.exe";
    REQUIRE(writeFile(path, "MZ") == ERROR_SUCCESS);
    return path;
}

std::uint32_t create(SC_HANDLE scm, const std::string& name, const std::string& path, Handle* service,
                     std::uint32_t start = SERVICE_DEMAND_START, const std::string& display = std::string())
{
    return services().createService(scm, name, display, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, start,
                                    SERVICE_ERROR_NORMAL, path, "", {}, "", "", service->out());
}

// The scratch service, made (and stopped) for the case.
Handle madeService(SC_HANDLE scm, std::uint32_t start = SERVICE_DEMAND_START)
{
    Handle service;
    REQUIRE(create(scm, scratchService(), program(), &service, start) == ERROR_SUCCESS);
    return service;
}

std::uint32_t openCode(SC_HANDLE scm, const std::string& name, std::uint32_t access = SERVICE_ALL_ACCESS)
{
    Handle service;
    return services().openService(scm, name, access, service.out());
}

ServiceStatus status(SC_HANDLE service)
{
    ServiceStatus result;
    REQUIRE(services().queryServiceStatus(service, &result) == ERROR_SUCCESS);
    return result;
}

// Polls every 100 ms until the service settles in a state that is not pending, for at most
// seconds; the state it settled in (or the pending one at the end).
std::uint32_t settle(SC_HANDLE service, int seconds = 10)
{
    std::uint32_t state = status(service).currentState;
    for (int i = 0; i < seconds * 10; ++i) {
        if (state == SERVICE_STOPPED || state == SERVICE_RUNNING || state == SERVICE_PAUSED)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        state = status(service).currentState;
    }
    return state;
}

// The configuration read as callers read it: its size first.
ServiceConfig config(SC_HANDLE service)
{
    std::uint32_t needed = 0;
    REQUIRE(services().queryServiceConfig(service, nullptr, 0, &needed) == ERROR_INSUFFICIENT_BUFFER);
    ServiceConfig result;
    std::uint32_t again = 0;
    CHECK(services().queryServiceConfig(service, &result, needed - 1, &again) == ERROR_INSUFFICIENT_BUFFER);
    CHECK(again == needed);
    REQUIRE(services().queryServiceConfig(service, &result, needed, &needed) == ERROR_SUCCESS);
    CHECK(needed == serviceConfigBytes(result));
    return result;
}

} // namespace

TEST_CASE("a service keeps its configuration as made, found by its name in any case, and changed item by item")
{
    CONTRACT_MACHINE();
    Handle scm = manager();
    const std::string path = program();
    {
        Handle service;
        REQUIRE(create(scm.get(), scratchService(), path, &service, SERVICE_AUTO_START, "Winsteps Contract")
                == ERROR_SUCCESS);
    }
    Handle service;
    REQUIRE(services().openService(scm.get(), folded(scratchService()), SERVICE_ALL_ACCESS, service.out()) == ERROR_SUCCESS);
    const ServiceConfig read = config(service.get());
    CHECK(read.serviceType == SERVICE_WIN32_OWN_PROCESS);
    CHECK(read.startType == SERVICE_AUTO_START);
    CHECK(read.errorControl == SERVICE_ERROR_NORMAL);
    CHECK(folded(read.binaryPathName) == folded(path));
    CHECK(read.loadOrderGroup.empty());
    CHECK(read.displayName == "Winsteps Contract");
    CHECK(folded(read.serviceStartName) == "localsystem");
    const ServiceStatus now = status(service.get());
    CHECK(now.currentState == SERVICE_STOPPED);
    CHECK(now.serviceType == SERVICE_WIN32_OWN_PROCESS);

    // Names taken: the service's own in another case, and another service's display name.
    Handle other;
    CHECK(create(scm.get(), folded(scratchService()), path, &other) == ERROR_SERVICE_EXISTS);
    CHECK(create(scm.get(), scratchService(3), path, &other, SERVICE_DEMAND_START, "Winsteps Contract")
          == ERROR_DUPLICATE_SERVICE_NAME);
    CHECK(other.get() == SC_HANDLE_NULL);

    // One item a call: a call that reset the others would undo an earlier one.
    const std::string group = "Winsteps Group", display = "Winsteps Shown", otherPath = scratch() + "\\other.exe";
    const auto change = [&service](std::uint32_t start, const std::string* path, const std::string* group,
                                   const std::string* display) {
        return services().changeServiceConfig(service.get(), SERVICE_NO_CHANGE, start, SERVICE_NO_CHANGE, path, group,
                                              nullptr, nullptr, nullptr, display);
    };
    REQUIRE(change(SERVICE_DISABLED, nullptr, nullptr, nullptr) == ERROR_SUCCESS);
    REQUIRE(change(SERVICE_NO_CHANGE, &otherPath, nullptr, nullptr) == ERROR_SUCCESS);
    REQUIRE(change(SERVICE_NO_CHANGE, nullptr, &group, nullptr) == ERROR_SUCCESS);
    REQUIRE(change(SERVICE_NO_CHANGE, nullptr, nullptr, &display) == ERROR_SUCCESS);
    CHECK(change(7, nullptr, nullptr, nullptr) == ERROR_INVALID_PARAMETER);
    std::string description = "unset";
    REQUIRE(services().queryServiceConfig2(service.get(), SERVICE_CONFIG_DESCRIPTION, &description) == ERROR_SUCCESS);
    CHECK(description.empty());
    REQUIRE(services().changeServiceConfig2(service.get(), SERVICE_CONFIG_DESCRIPTION, "Does the contract's work")
            == ERROR_SUCCESS);
    REQUIRE(services().queryServiceConfig2(service.get(), SERVICE_CONFIG_DESCRIPTION, &description) == ERROR_SUCCESS);
    CHECK(description == "Does the contract's work");
    const ServiceConfig after = config(service.get());
    CHECK(after.serviceType == SERVICE_WIN32_OWN_PROCESS);
    CHECK(after.errorControl == SERVICE_ERROR_NORMAL);
    CHECK(after.startType == SERVICE_DISABLED);
    CHECK(folded(after.binaryPathName) == folded(otherPath));
    CHECK(after.loadOrderGroup == group);
    CHECK(after.displayName == display);
    CHECK(folded(after.serviceStartName) == "localsystem");
}

TEST_CASE("a service starts, refuses what its state does not allow, and stops")
{
    CONTRACT_MACHINE("winxp-sp2");
    Handle scm = manager();
    Handle service = madeService(scm.get());
    CHECK(services().controlService(service.get(), SERVICE_CONTROL_STOP, nullptr) == ERROR_SERVICE_NOT_ACTIVE);
    REQUIRE(services().startService(service.get(), {}) == ERROR_SUCCESS);
    const std::uint32_t first = status(service.get()).currentState;
    CHECK((first == SERVICE_START_PENDING || first == SERVICE_RUNNING));
    REQUIRE(settle(service.get()) == SERVICE_RUNNING);
    const ServiceStatus running = status(service.get());
    CHECK((running.controlsAccepted & SERVICE_ACCEPT_STOP) != 0);
    CHECK(services().startService(service.get(), {}) == ERROR_SERVICE_ALREADY_RUNNING);
    // Marked for deletion, it runs on until it is stopped, and goes with its last handle.
    REQUIRE(services().deleteService(service.get()) == ERROR_SUCCESS);
    CHECK(status(service.get()).currentState == SERVICE_RUNNING);
    ServiceStatus after;
    REQUIRE(services().controlService(service.get(), SERVICE_CONTROL_STOP, &after) == ERROR_SUCCESS);
    CHECK((after.currentState == SERVICE_STOP_PENDING || after.currentState == SERVICE_STOPPED));
    CHECK(settle(service.get()) == SERVICE_STOPPED);
    CHECK(openCode(scm.get(), scratchService()) == ERROR_SERVICE_MARKED_FOR_DELETE);
    REQUIRE(service.close() == ERROR_SUCCESS);
    CHECK(openCode(scm.get(), scratchService()) == ERROR_SERVICE_DOES_NOT_EXIST);
}

TEST_CASE("a service that cannot start says why")
{
    CONTRACT_MACHINE();
    if (!behaves(Behaviour::FailedStartLeavesNoTrace))
        return;
    Handle scm = manager();
    struct Row {
        const char* why;
        std::string path;
        std::uint32_t start;
        std::uint32_t code;
    };
    const Row rows[] = {
        {"its program is missing", scratch() + "\\missing.exe", SERVICE_DEMAND_START, ERROR_FILE_NOT_FOUND},
        {"it is disabled", program(), SERVICE_DISABLED, ERROR_SERVICE_DISABLED},
    };
    int count = 0;
    for (const Row& row : rows) {
        CAPTURE(row.why);
        Handle service;
        REQUIRE(create(scm.get(), scratchService(++count), row.path, &service, row.start) == ERROR_SUCCESS);
        CHECK(services().startService(service.get(), {}) == row.code);
        CHECK(status(service.get()).currentState == SERVICE_STOPPED);
        CHECK(services().deleteService(service.get()) == ERROR_SUCCESS);
    }
}

TEST_CASE("a service marked for deletion goes once its handles are closed")
{
    CONTRACT_MACHINE();
    Handle scm = manager();
    Handle service = madeService(scm.get());
    Handle second;
    REQUIRE(services().openService(scm.get(), scratchService(), SERVICE_QUERY_STATUS, second.out()) == ERROR_SUCCESS);
    REQUIRE(services().deleteService(service.get()) == ERROR_SUCCESS);
    // Until then its name is neither open nor free, and it takes no more changes.
    CHECK(services().deleteService(service.get()) == ERROR_SERVICE_MARKED_FOR_DELETE);
    const bool refusesOpen = behaves(Behaviour::MarkedServiceRefusesOpen);
    if (refusesOpen)
        CHECK(openCode(scm.get(), scratchService()) == ERROR_SERVICE_MARKED_FOR_DELETE);
    Handle again;
    CHECK(create(scm.get(), scratchService(), program(), &again) == ERROR_SERVICE_MARKED_FOR_DELETE);
    CHECK(status(second.get()).currentState == SERVICE_STOPPED);
    REQUIRE(service.close() == ERROR_SUCCESS);
    if (refusesOpen)
        CHECK(openCode(scm.get(), scratchService()) == ERROR_SERVICE_MARKED_FOR_DELETE); // the second handle holds it
    REQUIRE(second.close() == ERROR_SUCCESS);
    if (behaves(Behaviour::MarkedServiceGoesWithHandles)) {
        CHECK(openCode(scm.get(), scratchService()) == ERROR_SERVICE_DOES_NOT_EXIST);
        CHECK(create(scm.get(), scratchService(), program(), &again) == ERROR_SUCCESS);
    }
}

TEST_CASE("the service database has one lock holder at a time")
{
    CONTRACT_MACHINE();
    Handle scm = manager();
    Handle service = madeService(scm.get());
    SC_LOCK lock = 0, second = 0;
    REQUIRE(services().lockServiceDatabase(scm.get(), &lock) == ERROR_SUCCESS);
    CHECK(lock != 0);
    const std::uint32_t secondCode = services().lockServiceDatabase(scm.get(), &second);
    if (secondCode == ERROR_SUCCESS)
        services().unlockServiceDatabase(second);
    const bool once = behaves(Behaviour::ServiceDatabaseLockOnce);
    if (once)
        CHECK(secondCode == ERROR_SERVICE_DATABASE_LOCKED);
    // The holder may change a service (as a setter under the lock does).
    CHECK(services().changeServiceConfig(service.get(), SERVICE_NO_CHANGE, SERVICE_AUTO_START, SERVICE_NO_CHANGE,
                                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)
          == ERROR_SUCCESS);
    REQUIRE(services().unlockServiceDatabase(lock) == ERROR_SUCCESS);
    if (once)
        CHECK(services().unlockServiceDatabase(lock) == ERROR_INVALID_SERVICE_LOCK);
    REQUIRE(services().lockServiceDatabase(scm.get(), &second) == ERROR_SUCCESS);
    CHECK(services().unlockServiceDatabase(second) == ERROR_SUCCESS);
}

TEST_CASE("rights: a user without administrator rights only looks, and handles are checked")
{
    CONTRACT_MACHINE("", false);
    struct Row {
        const char* what;
        bool manager;
        std::uint32_t access;
        std::uint32_t code;
    };
    const Row rows[] = {
        {"manager, all access", true, SC_MANAGER_ALL_ACCESS, ERROR_ACCESS_DENIED},
        {"manager, create", true, SC_MANAGER_CREATE_SERVICE, ERROR_ACCESS_DENIED},
        {"manager, lock", true, SC_MANAGER_LOCK, ERROR_ACCESS_DENIED},
        {"manager, connect", true, SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE, ERROR_SUCCESS},
        {"service, all access", false, SERVICE_ALL_ACCESS, ERROR_ACCESS_DENIED},
        {"service, start", false, SERVICE_START, ERROR_ACCESS_DENIED},
        {"service, query", false, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG, ERROR_SUCCESS},
    };
    Handle scm = manager(SC_MANAGER_CONNECT);
    for (const Row& row : rows) {
        CAPTURE(row.what);
        Handle handle;
        if (row.manager)
            CHECK(services().openSCManager("", "", row.access, handle.out()) == row.code);
        else
            CHECK(services().openService(scm.get(), "Spooler", row.access, handle.out()) == row.code);
        CHECK((handle.get() != SC_HANDLE_NULL) == (row.code == ERROR_SUCCESS));
    }
    Handle service;
    REQUIRE(services().openService(scm.get(), "Spooler", SERVICE_QUERY_STATUS, service.out()) == ERROR_SUCCESS);
    CHECK(services().controlService(service.get(), SERVICE_CONTROL_STOP, nullptr) == ERROR_ACCESS_DENIED);
    CHECK(services().queryServiceStatus(scm.get(), nullptr) == ERROR_INVALID_HANDLE);
    Handle wrong;
    CHECK(services().openService(service.get(), "Spooler", SERVICE_QUERY_STATUS, wrong.out()) == ERROR_INVALID_HANDLE);
}

TEST_CASE("a fresh system runs its usual services")
{
    CONTRACT_MACHINE("winxp-sp2");
    Handle scm = manager(SC_MANAGER_CONNECT);
    struct Row {
        const char* name;
        std::uint32_t start;
        std::uint32_t state;
    };
    const Row rows[] = {
        {"spooler", SERVICE_AUTO_START, SERVICE_RUNNING},
        {"EVENTLOG", SERVICE_AUTO_START, SERVICE_RUNNING},
        {"MSIServer", SERVICE_DEMAND_START, SERVICE_STOPPED},
    };
    for (const Row& row : rows) {
        CAPTURE(row.name);
        Handle service;
        REQUIRE(services().openService(scm.get(), row.name, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG, service.out())
                == ERROR_SUCCESS);
        CHECK(config(service.get()).startType == row.start);
        CHECK(status(service.get()).currentState == row.state);
    }
    CHECK(openCode(scm.get(), "NoSuchService", SERVICE_QUERY_STATUS) == ERROR_SERVICE_DOES_NOT_EXIST);
}

TEST_CASE("the 9x family has no service control manager")
{
    CONTRACT_MACHINE("win98");
    Handle scm;
    CHECK(services().openSCManager("", "", SC_MANAGER_CONNECT, scm.out()) == ERROR_CALL_NOT_IMPLEMENTED);
    CHECK(scm.get() == SC_HANDLE_NULL);
}
