#pragma once

#include "platform/com.h" // GUID
#include "winsteps_platform_export.h"

#include <cstdint>

// The device-manager module: a small C-shaped library over the devices and driver-packages
// subsystems, for callers that want one call per question and 8-bit texts in fixed buffers.
// Plain C++ only, like every interface header (see common.h).
//
// Every call answers 0 (DMDEV_OK) when it succeeded, otherwise a non-zero code (below).
// Texts in and out are 8-bit, zero-terminated; on this layer they are UTF-8. Output buffers
// hold DMDEV_SLOT_SIZE (260) bytes unless a size says otherwise; a text longer than the
// buffer is not cut: the call fails with DMDEV_ERROR_BUFFER_TOO_SMALL and writes nothing.
//
// The Remote forms take a computer name: "", ".", "localhost" and this machine's own name
// (in any case, with or without a leading "\\") are this machine and answer as the local
// form; any other host gives DMDEV_ERROR_REMOTE. Installing, removing and pre-installing
// have no remote forms.
//
// Every call may be made from any thread; no state is kept between calls.

namespace winsteps::platform {

// The size of a slot of DMDEV_Enumerate and of every text buffer.
inline constexpr std::uint32_t DMDEV_SLOT_SIZE = 260;

// Results.
inline constexpr std::uint32_t DMDEV_OK = 0;
inline constexpr std::uint32_t DMDEV_ERROR_INVALID_PARAMETER = 1; // a null pointer where one is needed
inline constexpr std::uint32_t DMDEV_ERROR_NO_SUCH_DEVICE = 2;     // the instance id names no node
inline constexpr std::uint32_t DMDEV_ERROR_BUFFER_TOO_SMALL = 3;   // the text does not fit; *size = bytes needed
inline constexpr std::uint32_t DMDEV_ERROR_NO_VALUE = 4;           // the node has no such property
inline constexpr std::uint32_t DMDEV_ERROR_REMOTE = 5;             // a host other than this machine
inline constexpr std::uint32_t DMDEV_ERROR_TOO_MANY = 6;           // more than 65,535 nodes to count
inline constexpr std::uint32_t DMDEV_ERROR_INSTALL_FAILED = 7;     // no staged package has a model for the node
inline constexpr std::uint32_t DMDEV_ERROR_REMOVE_FAILED = 8;      // the node could not be removed
inline constexpr std::uint32_t DMDEV_ERROR_PREINSTALL_FAILED = 9;  // the INF is missing, malformed or not stored
inline constexpr std::uint32_t DMDEV_ERROR_ACCESS_DENIED = 10;     // the caller lacks administrator rights
inline constexpr std::uint32_t DMDEV_ERROR_FAILED = 11;            // the system refused for another reason

// The device nodes of a class (classGuid non-null; enumerator then ignored) or of an
// enumerator ("PCI", "USB", "ROOT", ..., any case; classGuid null), only the present ones
// when present is non-zero. classGuid and enumerator both null (or enumerator empty): every
// node. With buffer null: *count := the number of nodes. With a buffer of *count slots of
// DMDEV_SLOT_SIZE bytes: fills min(*count, number) instance ids, one zero-terminated id per
// slot, in the tree's order (parents before children), and sets *count to the number filled.
WINSTEPS_PLATFORM_EXPORT std::uint32_t DMDEV_Enumerate(const GUID* classGuid, char* buffer, std::uint16_t* count,
                                                       int present, const char* enumerator);
WINSTEPS_PLATFORM_EXPORT std::uint32_t DMDEV_EnumerateRemote(const char* host, const GUID* classGuid, char* buffer,
                                                             std::uint16_t* count, int present,
                                                             const char* enumerator);

// The properties of a node. *size is the buffer's size in bytes on entry (DMDEV_SLOT_SIZE);
// on success the buffer holds the zero-terminated text and *size its length with the zero.
// A node without the property (no friendly name, no driver yet) gives DMDEV_ERROR_NO_VALUE.
//   DeviceDescription  the description ("Intel(R) PRO/1000 MT Network Connection")
//   FriendlyName       the friendly name
//   ClassGUID          "{4D36E972-E325-11CE-BFC1-08002BE10318}", upper case
//   HardwareID         the first hardware id
//   DriverKey          "{class}\NNNN", below HKLM\SYSTEM\CurrentControlSet\Control\Class
//   ServiceName        the service of the node's driver
//   DriverInfPath      the staged INF the node's driver came from ("oem3.inf"), from the
//                      driver key's "InfPath"
WINSTEPS_PLATFORM_EXPORT std::uint32_t DMDEV_GetDeviceDescription(const char* instanceId, char* buffer,
                                                                  std::uint32_t* size);
WINSTEPS_PLATFORM_EXPORT std::uint32_t DMDEV_GetFriendlyName(const char* instanceId, char* buffer, std::uint32_t* size);
WINSTEPS_PLATFORM_EXPORT std::uint32_t DMDEV_GetClassGUID(const char* instanceId, char* buffer, std::uint32_t* size);
WINSTEPS_PLATFORM_EXPORT std::uint32_t DMDEV_GetHardwareID(const char* instanceId, char* buffer, std::uint32_t* size);
WINSTEPS_PLATFORM_EXPORT std::uint32_t DMDEV_GetDriverKey(const char* instanceId, char* buffer, std::uint32_t* size);
WINSTEPS_PLATFORM_EXPORT std::uint32_t DMDEV_GetServiceName(const char* instanceId, char* buffer, std::uint32_t* size);
WINSTEPS_PLATFORM_EXPORT std::uint32_t DMDEV_GetDriverInfPath(const char* instanceId, char* buffer,
                                                              std::uint32_t* size);

WINSTEPS_PLATFORM_EXPORT std::uint32_t DMDEV_GetDeviceDescriptionRemote(const char* instanceId, const char* host,
                                                                        char* buffer, std::uint32_t* size);
WINSTEPS_PLATFORM_EXPORT std::uint32_t DMDEV_GetFriendlyNameRemote(const char* instanceId, const char* host,
                                                                   char* buffer, std::uint32_t* size);
WINSTEPS_PLATFORM_EXPORT std::uint32_t DMDEV_GetClassGUIDRemote(const char* instanceId, const char* host,
                                                                char* buffer, std::uint32_t* size);
WINSTEPS_PLATFORM_EXPORT std::uint32_t DMDEV_GetHardwareIDRemote(const char* instanceId, const char* host,
                                                                 char* buffer, std::uint32_t* size);
WINSTEPS_PLATFORM_EXPORT std::uint32_t DMDEV_GetDriverKeyRemote(const char* instanceId, const char* host,
                                                                char* buffer, std::uint32_t* size);
WINSTEPS_PLATFORM_EXPORT std::uint32_t DMDEV_GetServiceNameRemote(const char* instanceId, const char* host,
                                                                  char* buffer, std::uint32_t* size);

// Writes the node's friendly name; an empty name removes it.
WINSTEPS_PLATFORM_EXPORT std::uint32_t DMDEV_SetFriendlyName(const char* instanceId, const char* name);
WINSTEPS_PLATFORM_EXPORT std::uint32_t DMDEV_SetFriendlyNameRemote(const char* instanceId, const char* host,
                                                                   const char* name);

// The node's status word (DN_* bits) and problem code (CM_PROB_*, 0 for none). Each output
// is written only when the node is known; the caller presets both to -1.
WINSTEPS_PLATFORM_EXPORT std::uint32_t DMDEV_GetStatus(const char* instanceId, std::int32_t* status,
                                                       std::int32_t* problem);
WINSTEPS_PLATFORM_EXPORT std::uint32_t DMDEV_GetStatusRemote(const char* instanceId, const char* host,
                                                             std::int32_t* status, std::int32_t* problem);

// The text of a problem code ("This device is not configured correctly. (Code 1)" ...; an
// unknown code gives "Unknown problem (Code N)") into a buffer of DMDEV_SLOT_SIZE bytes.
// Always DMDEV_OK unless buffer is null.
WINSTEPS_PLATFORM_EXPORT std::uint32_t DMDEV_ProblemCodeToString(std::int32_t problem, char* buffer);

// Installs the driver of a staged package on the node (local only). infPath may name an INF
// file (staged first, as DMDEV_PreInstallDriver does) or a folder, or be empty: then the best
// model among the staged packages is taken. DMDEV_ERROR_NO_SUCH_DEVICE for an unknown or
// absent node, DMDEV_ERROR_INSTALL_FAILED when no package has a model for it.
WINSTEPS_PLATFORM_EXPORT std::uint32_t DMDEV_InstallDriver(const char* instanceId, const char* infPath);

// Removes the node and its children (local only).
WINSTEPS_PLATFORM_EXPORT std::uint32_t DMDEV_RemoveDevice(const char* instanceId);

// Stages the driver package installFile (a Windows path of an INF file) as
// %WINDIR%\inf\oemN.inf; installDir is the folder its driver files come from (may be empty:
// the INF's own folder). The same package twice keeps its first name.
// DMDEV_ERROR_PREINSTALL_FAILED for a missing or malformed INF.
WINSTEPS_PLATFORM_EXPORT std::uint32_t DMDEV_PreInstallDriver(const char* installFile, const char* installDir);

// The name ("oem3.inf") under which the package installFile is staged, into a buffer of
// *size bytes: DMDEV_ERROR_NO_VALUE when it is not staged (or the file is missing),
// DMDEV_ERROR_PREINSTALL_FAILED when it does not read as an INF. Changes nothing.
WINSTEPS_PLATFORM_EXPORT std::uint32_t DMDEV_FindPreInstalledInf(const char* installFile, char* buffer,
                                                                 std::uint32_t* size);

// A number that changes whenever the device tree changes (a node added, removed, bound to a
// driver, a volume mounted): a caller polls it to learn of device-node changes.
WINSTEPS_PLATFORM_EXPORT std::uint32_t DMDEV_GetChangeCount(std::uint64_t* count);

} // namespace winsteps::platform
