#pragma once

#include "platform/common.h"
#include "platform/registry.h" // DELETE, READ_CONTROL: the standard rights
#include "winsteps_platform_export.h"

#include <cstdint>
#include <string>
#include <vector>

// The services subsystem of the Windows system interface: the service control manager's
// types, constants and error codes, with the values Windows gives them, and its calls. Plain
// C++ only, like every interface header (see common.h).

namespace winsteps::platform {

// A handle of the service control manager or of one service, as OpenSCManager,
// OpenService and CreateService return it (CloseServiceHandle releases it).
using SC_HANDLE = std::uintptr_t;
// The database lock that LockServiceDatabase returns.
using SC_LOCK = std::uintptr_t;

inline constexpr SC_HANDLE SC_HANDLE_NULL = 0;

// Win32 error codes of the service calls (the common ones are in common.h).
inline constexpr std::uint32_t ERROR_INVALID_NAME = 123;
inline constexpr std::uint32_t ERROR_DEPENDENT_SERVICES_RUNNING = 1051;
inline constexpr std::uint32_t ERROR_INVALID_SERVICE_CONTROL = 1052;
inline constexpr std::uint32_t ERROR_SERVICE_REQUEST_TIMEOUT = 1053;
inline constexpr std::uint32_t ERROR_SERVICE_DATABASE_LOCKED = 1055;
inline constexpr std::uint32_t ERROR_SERVICE_ALREADY_RUNNING = 1056;
inline constexpr std::uint32_t ERROR_SERVICE_DISABLED = 1058;
inline constexpr std::uint32_t ERROR_SERVICE_DOES_NOT_EXIST = 1060;
inline constexpr std::uint32_t ERROR_SERVICE_CANNOT_ACCEPT_CTRL = 1061;
inline constexpr std::uint32_t ERROR_SERVICE_NOT_ACTIVE = 1062;
inline constexpr std::uint32_t ERROR_SERVICE_SPECIFIC_ERROR = 1066;
inline constexpr std::uint32_t ERROR_INVALID_SERVICE_LOCK = 1071;
inline constexpr std::uint32_t ERROR_SERVICE_MARKED_FOR_DELETE = 1072;
inline constexpr std::uint32_t ERROR_SERVICE_EXISTS = 1073;
inline constexpr std::uint32_t ERROR_DUPLICATE_SERVICE_NAME = 1078;

// Rights of the service control manager.
inline constexpr std::uint32_t SC_MANAGER_CONNECT = 0x0001;
inline constexpr std::uint32_t SC_MANAGER_CREATE_SERVICE = 0x0002;
inline constexpr std::uint32_t SC_MANAGER_ENUMERATE_SERVICE = 0x0004;
inline constexpr std::uint32_t SC_MANAGER_LOCK = 0x0008;
inline constexpr std::uint32_t SC_MANAGER_QUERY_LOCK_STATUS = 0x0010;
inline constexpr std::uint32_t SC_MANAGER_MODIFY_BOOT_CONFIG = 0x0020;
inline constexpr std::uint32_t SC_MANAGER_ALL_ACCESS = 0x000F003F;

// Rights of a service.
inline constexpr std::uint32_t SERVICE_QUERY_CONFIG = 0x0001;
inline constexpr std::uint32_t SERVICE_CHANGE_CONFIG = 0x0002;
inline constexpr std::uint32_t SERVICE_QUERY_STATUS = 0x0004;
inline constexpr std::uint32_t SERVICE_ENUMERATE_DEPENDENTS = 0x0008;
inline constexpr std::uint32_t SERVICE_START = 0x0010;
inline constexpr std::uint32_t SERVICE_STOP = 0x0020;
inline constexpr std::uint32_t SERVICE_PAUSE_CONTINUE = 0x0040;
inline constexpr std::uint32_t SERVICE_INTERROGATE = 0x0080;
inline constexpr std::uint32_t SERVICE_USER_DEFINED_CONTROL = 0x0100;
inline constexpr std::uint32_t SERVICE_ALL_ACCESS = 0x000F01FF;

// Service types.
inline constexpr std::uint32_t SERVICE_KERNEL_DRIVER = 0x01;
inline constexpr std::uint32_t SERVICE_FILE_SYSTEM_DRIVER = 0x02;
inline constexpr std::uint32_t SERVICE_WIN32_OWN_PROCESS = 0x10;
inline constexpr std::uint32_t SERVICE_WIN32_SHARE_PROCESS = 0x20;
inline constexpr std::uint32_t SERVICE_INTERACTIVE_PROCESS = 0x100;

// Start types.
inline constexpr std::uint32_t SERVICE_BOOT_START = 0;
inline constexpr std::uint32_t SERVICE_SYSTEM_START = 1;
inline constexpr std::uint32_t SERVICE_AUTO_START = 2;
inline constexpr std::uint32_t SERVICE_DEMAND_START = 3;
inline constexpr std::uint32_t SERVICE_DISABLED = 4;

// Error controls.
inline constexpr std::uint32_t SERVICE_ERROR_IGNORE = 0;
inline constexpr std::uint32_t SERVICE_ERROR_NORMAL = 1;
inline constexpr std::uint32_t SERVICE_ERROR_SEVERE = 2;
inline constexpr std::uint32_t SERVICE_ERROR_CRITICAL = 3;

// ChangeServiceConfig: the item keeps its value.
inline constexpr std::uint32_t SERVICE_NO_CHANGE = 0xFFFFFFFFu;

// Service states.
inline constexpr std::uint32_t SERVICE_STOPPED = 1;
inline constexpr std::uint32_t SERVICE_START_PENDING = 2;
inline constexpr std::uint32_t SERVICE_STOP_PENDING = 3;
inline constexpr std::uint32_t SERVICE_RUNNING = 4;
inline constexpr std::uint32_t SERVICE_CONTINUE_PENDING = 5;
inline constexpr std::uint32_t SERVICE_PAUSE_PENDING = 6;
inline constexpr std::uint32_t SERVICE_PAUSED = 7;

// Controls, and the controls a service accepts.
inline constexpr std::uint32_t SERVICE_CONTROL_STOP = 1;
inline constexpr std::uint32_t SERVICE_CONTROL_PAUSE = 2;
inline constexpr std::uint32_t SERVICE_CONTROL_CONTINUE = 3;
inline constexpr std::uint32_t SERVICE_CONTROL_INTERROGATE = 4;
inline constexpr std::uint32_t SERVICE_ACCEPT_STOP = 0x01;
inline constexpr std::uint32_t SERVICE_ACCEPT_PAUSE_CONTINUE = 0x02;

// Information levels of ChangeServiceConfig2 / QueryServiceConfig2.
inline constexpr std::uint32_t SERVICE_CONFIG_DESCRIPTION = 1;

// SERVICE_STATUS.
struct ServiceStatus {
    std::uint32_t serviceType = 0;
    std::uint32_t currentState = 0;
    std::uint32_t controlsAccepted = 0;
    std::uint32_t win32ExitCode = 0;
    std::uint32_t serviceSpecificExitCode = 0;
    std::uint32_t checkPoint = 0;
    std::uint32_t waitHint = 0;
};

// QUERY_SERVICE_CONFIG (its own name is a macro of the Windows headers). Its size, as
// QueryServiceConfig counts it, is that of the ANSI record: queryServiceConfigSize (36 bytes)
// plus each text in UTF-8 with its NUL, the dependencies with one more NUL at their end.
struct ServiceConfig {
    std::uint32_t serviceType = 0;
    std::uint32_t startType = 0;
    std::uint32_t errorControl = 0;
    std::string binaryPathName;
    std::string loadOrderGroup;
    std::uint32_t tagId = 0;
    std::vector<std::string> dependencies;
    std::string serviceStartName;
    std::string displayName;
};
inline constexpr std::uint32_t queryServiceConfigSize = 36;

// The size QueryServiceConfig needs for a record, counted as above.
inline std::uint32_t serviceConfigBytes(const ServiceConfig& config)
{
    std::size_t size = queryServiceConfigSize + config.binaryPathName.size() + 1 + config.loadOrderGroup.size() + 1
        + config.serviceStartName.size() + 1 + config.displayName.size() + 1 + 1;
    for (const std::string& name : config.dependencies)
        size += name.size() + 1;
    return std::uint32_t(size);
}

// The service control manager of one Windows machine as seen from the running process. Every
// method may be called from any thread; every call answers a Win32 error code (ERROR_SUCCESS
// when it succeeded), as GetLastError would after the Windows call. Names and texts are
// UTF-8; service names compare without regard to case. The 9x family has no service control
// manager: every call gives ERROR_CALL_NOT_IMPLEMENTED there.
class WINSTEPS_PLATFORM_EXPORT Services {
public:
    virtual ~Services();

    // OpenSCManager of this computer (machineName empty) and its active database
    // (databaseName empty). A user without administrator rights gets ERROR_ACCESS_DENIED for
    // any right beyond connect, enumerate and query-lock-status.
    virtual std::uint32_t openSCManager(const std::string& machineName, const std::string& databaseName,
                                        std::uint32_t access, SC_HANDLE* result) = 0;
    // OpenService: ERROR_SERVICE_DOES_NOT_EXIST, ERROR_SERVICE_MARKED_FOR_DELETE for a
    // service that waits to be removed; ERROR_INVALID_HANDLE when manager is no manager.
    virtual std::uint32_t openService(SC_HANDLE manager, const std::string& serviceName, std::uint32_t access,
                                      SC_HANDLE* result) = 0;
    // CreateService (no tag). Empty texts stand for NULL: no group, no dependencies, the
    // local system account, no password; an empty display name is the service name.
    // ERROR_SERVICE_EXISTS when the name is taken, ERROR_SERVICE_MARKED_FOR_DELETE when it
    // belongs to a service waiting to be removed, ERROR_DUPLICATE_SERVICE_NAME when another
    // service shows that display name.
    virtual std::uint32_t createService(SC_HANDLE manager, const std::string& serviceName,
                                        const std::string& displayName, std::uint32_t access,
                                        std::uint32_t serviceType, std::uint32_t startType,
                                        std::uint32_t errorControl, const std::string& binaryPathName,
                                        const std::string& loadOrderGroup,
                                        const std::vector<std::string>& dependencies,
                                        const std::string& serviceStartName, const std::string& password,
                                        SC_HANDLE* result) = 0;
    // DeleteService: marks the service for deletion; it goes once it is stopped and every
    // handle to it is closed.
    virtual std::uint32_t deleteService(SC_HANDLE service) = 0;
    // ChangeServiceConfig: SERVICE_NO_CHANGE for a number, a null pointer for a text, keeps
    // that item.
    virtual std::uint32_t changeServiceConfig(SC_HANDLE service, std::uint32_t serviceType,
                                              std::uint32_t startType, std::uint32_t errorControl,
                                              const std::string* binaryPathName, const std::string* loadOrderGroup,
                                              const std::vector<std::string>* dependencies,
                                              const std::string* serviceStartName, const std::string* password,
                                              const std::string* displayName) = 0;
    // ChangeServiceConfig2 / QueryServiceConfig2 at SERVICE_CONFIG_DESCRIPTION (any other
    // level: ERROR_INVALID_PARAMETER). An empty description removes it.
    virtual std::uint32_t changeServiceConfig2(SC_HANDLE service, std::uint32_t infoLevel,
                                               const std::string& description) = 0;
    virtual std::uint32_t queryServiceConfig2(SC_HANDLE service, std::uint32_t infoLevel,
                                              std::string* description) = 0;
    // QueryServiceConfig: config null or bufferSize below the size needed (see
    // serviceConfigBytes) gives ERROR_INSUFFICIENT_BUFFER with *bytesNeeded set; callers ask
    // for the size first, then read with a buffer of that size.
    virtual std::uint32_t queryServiceConfig(SC_HANDLE service, ServiceConfig* config,
                                             std::uint32_t bufferSize, std::uint32_t* bytesNeeded) = 0;
    // QueryServiceStatus.
    virtual std::uint32_t queryServiceStatus(SC_HANDLE service, ServiceStatus* status) = 0;
    // StartService: ERROR_SERVICE_ALREADY_RUNNING unless stopped, ERROR_SERVICE_DISABLED,
    // the error of starting its program (ERROR_FILE_NOT_FOUND when it does not exist),
    // ERROR_SERVICE_DATABASE_LOCKED while another process holds the database lock.
    virtual std::uint32_t startService(SC_HANDLE service, const std::vector<std::string>& arguments) = 0;
    // ControlService: ERROR_SERVICE_NOT_ACTIVE for a stopped service,
    // ERROR_SERVICE_CANNOT_ACCEPT_CTRL while it is pending, ERROR_INVALID_SERVICE_CONTROL for
    // a control it does not accept. *status (may be null) is its status after the control.
    virtual std::uint32_t controlService(SC_HANDLE service, std::uint32_t control, ServiceStatus* status) = 0;
    // LockServiceDatabase: one holder at a time on the whole machine
    // (ERROR_SERVICE_DATABASE_LOCKED); UnlockServiceDatabase releases it
    // (ERROR_INVALID_SERVICE_LOCK for a lock that is not held).
    virtual std::uint32_t lockServiceDatabase(SC_HANDLE manager, SC_LOCK* lock) = 0;
    virtual std::uint32_t unlockServiceDatabase(SC_LOCK lock) = 0;
    // CloseServiceHandle.
    virtual std::uint32_t closeServiceHandle(SC_HANDLE handle) = 0;
};

// The service control manager of this process's machine.
WINSTEPS_PLATFORM_EXPORT Services& services();

} // namespace winsteps::platform
