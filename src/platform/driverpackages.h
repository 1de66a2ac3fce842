#pragma once

#include "platform/common.h"
#include "platform/devices.h" // ERROR_NO_SUCH_DEVINST, ERROR_INVALID_FLAGS
#include "winsteps_platform_export.h"

#include <cstdint>
#include <string>
#include <vector>

// The driver-packages subsystem of the Windows system interface: staging a driver package
// (an INF file) in the system's INF folder, installing the driver of a staged package on the
// device nodes it has a model for, and removing device nodes. Shaped after the setup calls
// SetupCopyOEMInf, UpdateDriverForPlugAndPlayDevices, the DIF_INSTALLDEVICE and DIF_REMOVE
// class-installer requests. Plain C++ only, like every interface header (see common.h).
//
// What an installed driver leaves behind, as Windows keeps it:
//   %WINDIR%\inf\oemN.inf                    a staged package, N the first free number
//   HKLM\SYSTEM\CurrentControlSet\Control\Class\{class}\NNNN
//                                            the driver key of a node ("{class}\NNNN" is the
//                                            node's driver-key text); values "InfPath"
//                                            ("oemN.inf"), "InfSection", "MatchingDeviceId",
//                                            "DriverDesc", "ProviderName", "DriverVersion",
//                                            "DriverDate"
//   HKLM\SYSTEM\CurrentControlSet\Services\NAME
//                                            the service the INF's AddService names (a kernel
//                                            driver, made where it is missing)
// The node itself then names its driver key, service, class and description, and reports
// DN_STARTED | DN_DRIVER_LOADED with problem 0.

namespace winsteps::platform {

// Errors of the setup calls (those of the device calls are in devices.h).
inline constexpr std::uint32_t ERROR_FILE_EXISTS = 80;
inline constexpr std::uint32_t ERROR_INVALID_COMPUTERNAME = 1210;
inline constexpr std::uint32_t ERROR_EXPECTED_SECTION_NAME = 0xE0000000u;
inline constexpr std::uint32_t ERROR_BAD_SECTION_NAME_LINE = 0xE0000001u;
inline constexpr std::uint32_t ERROR_SECTION_NAME_TOO_LONG = 0xE0000002u;
inline constexpr std::uint32_t ERROR_GENERAL_SYNTAX = 0xE0000003u;
inline constexpr std::uint32_t ERROR_WRONG_INF_STYLE = 0xE0000100u;
inline constexpr std::uint32_t ERROR_SECTION_NOT_FOUND = 0xE0000101u;
inline constexpr std::uint32_t ERROR_LINE_NOT_FOUND = 0xE0000102u;
inline constexpr std::uint32_t ERROR_NO_ASSOCIATED_CLASS = 0xE0000200u;
inline constexpr std::uint32_t ERROR_NO_DRIVER_SELECTED = 0xE0000203u;
inline constexpr std::uint32_t ERROR_NO_COMPAT_DRIVERS = 0xE0000228u;
inline constexpr std::uint32_t ERROR_CANT_REMOVE_DEVINST = 0xE0000232u;
inline constexpr std::uint32_t ERROR_IN_WOW64 = 0xE0000235u;
inline constexpr std::uint32_t ERROR_REMOTE_REQUEST_UNSUPPORTED = 0xE000023Bu;

// SetupCopyOEMInf: the media type (SPOST_PATH when a media location is given, else SPOST_NONE)
// and copy styles (SP_COPY_*).
inline constexpr std::uint32_t SPOST_NONE = 0;
inline constexpr std::uint32_t SPOST_PATH = 1;
inline constexpr std::uint32_t SP_COPY_NOOVERWRITE = 0x0000008;
inline constexpr std::uint32_t SP_COPY_OEMINF_CATALOG_ONLY = 0x0040000;

// UpdateDriverForPlugAndPlayDevices: install flags.
inline constexpr std::uint32_t INSTALLFLAG_FORCE = 0x00000001;
inline constexpr std::uint32_t INSTALLFLAG_READONLY = 0x00000002;
inline constexpr std::uint32_t INSTALLFLAG_NONINTERACTIVE = 0x00000004;

// The driver packages of one Windows machine as seen from the running process. Every method
// may be called from any thread; every call answers a Win32 or setup error code
// (ERROR_SUCCESS when it succeeded), as GetLastError would after the Windows call. Paths are
// Windows paths in UTF-8; INF file names and hardware ids compare without regard to case.
// Changing anything needs administrator rights: ERROR_ACCESS_DENIED otherwise.
class WINSTEPS_PLATFORM_EXPORT DriverPackages {
public:
    virtual ~DriverPackages();

    // SetupCopyOEMInf(sourceInf, mediaLocation, SPOST_PATH, copyStyle, ...): reads the INF
    // (a malformed one gives ERROR_GENERAL_SYNTAX, ERROR_WRONG_INF_STYLE, ...; a missing one
    // ERROR_FILE_NOT_FOUND) and stores it as %WINDIR%\inf\oemN.inf with N the first free
    // number; *destinationName (when given) receives "oemN.inf". The same package staged
    // again (the same text) is not copied twice: the call succeeds with the existing name.
    // With SP_COPY_OEMINF_CATALOG_ONLY nothing is copied: the existing name of the same
    // package, or ERROR_FILE_NOT_FOUND when it is not staged. mediaLocation may be empty (the
    // INF's own folder). Any flag other than the two above is accepted and ignored.
    virtual std::uint32_t copyOemInf(const std::string& sourceInf, const std::string& mediaLocation,
                                     std::uint32_t copyStyle, std::string* destinationName)
        = 0;

    // The staged packages: the file names ("oem0.inf", ...) in the order of their number.
    virtual std::uint32_t oemInfs(std::vector<std::string>* names) = 0;

    // UpdateDriverForPlugAndPlayDevices(no window, hardwareId, fullInfPath, installFlags,
    // rebootRequired): installs the INF's driver on every present node that has hardwareId
    // among its hardware or compatible ids, when the INF has a model for it for this machine's
    // platform (.NTx86 / .NTamd64 / .NT / undecorated). ERROR_FILE_NOT_FOUND for a missing
    // INF, ERROR_NO_SUCH_DEVINST when no present node has the id, ERROR_NO_COMPAT_DRIVERS
    // when the INF has no model for it (the nodes then report CM_PROB_FAILED_INSTALL),
    // ERROR_IN_WOW64 for a 32-bit caller on a 64-bit Windows. The package is staged as with
    // copyOemInf. *rebootRequired (when given) is set to false.
    virtual std::uint32_t updateDriverForPlugAndPlayDevices(const std::string& hardwareId,
                                                            const std::string& fullInfPath,
                                                            std::uint32_t installFlags, bool* rebootRequired)
        = 0;

    // The driver of one node (DIF_SELECTBESTCOMPATDRV + DIF_INSTALLDEVICE on that node): when
    // infPath names an INF file, that package (staged as with copyOemInf); otherwise (empty,
    // or a folder) the staged packages. The best model wins: the one for the node's first
    // hardware id, then its later ids, then its compatible ids; among packages of one rank
    // the one staged last. ERROR_NO_SUCH_DEVINST for a node that is unknown or not present,
    // ERROR_NO_COMPAT_DRIVERS when no package has a model (the node then reports
    // CM_PROB_FAILED_INSTALL, or keeps the problem it had), ERROR_FILE_NOT_FOUND for an INF
    // file that is missing.
    virtual std::uint32_t installOnNode(const std::string& instanceId, const std::string& infPath,
                                        bool* rebootRequired)
        = 0;

    // DIF_REMOVE on one node: it and its children go (their volumes are dismounted and their
    // drive letters freed); the driver keys of the removed nodes are deleted, the services
    // stay. ERROR_NO_SUCH_DEVINST for an unknown node.
    virtual std::uint32_t removeNode(const std::string& instanceId, bool* rebootRequired) = 0;
};

// The driver packages of this process's machine.
WINSTEPS_PLATFORM_EXPORT DriverPackages& driverPackages();

} // namespace winsteps::platform
