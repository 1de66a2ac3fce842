#pragma once

#include "platform/common.h"
#include "winsteps_platform_export.h"

#include <cstdint>
#include <string>
#include <vector>

// The drives subsystem of the Windows system interface: the logical drives, their types and
// the volumes mounted on them (GetLogicalDriveStrings, GetDriveType,
// GetVolumeNameForVolumeMountPoint, GetVolumeInformation). Plain C++ only, like every
// interface header (see common.h).

namespace winsteps::platform {

// GetDriveType's answers.
inline constexpr std::uint32_t DRIVE_UNKNOWN = 0;
inline constexpr std::uint32_t DRIVE_NO_ROOT_DIR = 1;
inline constexpr std::uint32_t DRIVE_REMOVABLE = 2;
inline constexpr std::uint32_t DRIVE_FIXED = 3;
inline constexpr std::uint32_t DRIVE_REMOTE = 4;
inline constexpr std::uint32_t DRIVE_CDROM = 5;
inline constexpr std::uint32_t DRIVE_RAMDISK = 6;

// Win32 error codes of the drive calls (the common ones are in common.h).
inline constexpr std::uint32_t ERROR_INVALID_DRIVE = 15;
inline constexpr std::uint32_t ERROR_NOT_READY = 21;

// The drives of one Windows machine as seen from the running process. Every method may be
// called from any thread.
class WINSTEPS_PLATFORM_EXPORT Drives {
public:
    virtual ~Drives();

    // GetLogicalDriveStrings: the roots of the drives that have a letter ("C:\", "D:\"), in
    // letter order, letters in upper case. ERROR_SUCCESS with *roots replaced.
    virtual std::uint32_t logicalDriveStrings(std::vector<std::string>* roots) = 0;
    // GetDriveType(root): a DRIVE_* value. root is "E:\" (any case of the letter; "E:" is read
    // as "E:\"); a letter without a drive, or any other text, gives DRIVE_NO_ROOT_DIR.
    virtual std::uint32_t driveType(const std::string& root) = 0;
    // GetVolumeNameForVolumeMountPoint: the volume GUID path ("\\?\Volume{...}\") of what is
    // mounted at mountPoint, which is a drive root ("E:\") or a volume interface's device path
    // with "\" appended (see Devices::deviceInterfaces). ERROR_SUCCESS with *volumeName set;
    // ERROR_NOT_READY for a drive without media; ERROR_INVALID_PARAMETER when mountPoint does
    // not end in "\"; another error (ERROR_FILE_NOT_FOUND on the emulated machine) for anything else.
    virtual std::uint32_t volumeNameForMountPoint(const std::string& mountPoint, std::string* volumeName) = 0;
    // Whether the drive at root holds media (GetVolumeInformation succeeds on it): ERROR_SUCCESS
    // with *present set, false meaning ERROR_NOT_READY from the system; ERROR_INVALID_DRIVE
    // (or ERROR_PATH_NOT_FOUND) when root is no drive's.
    virtual std::uint32_t mediaPresent(const std::string& root, bool* present) = 0;
};

// The drives of this process's machine.
WINSTEPS_PLATFORM_EXPORT Drives& drives();

} // namespace winsteps::platform
