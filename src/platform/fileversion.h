#pragma once

#include "platform/common.h"
#include "platform/process.h" // ERROR_BAD_EXE_FORMAT
#include "winsteps_platform_export.h"

#include <cstdint>
#include <string>

// The file-version subsystem of the Windows system interface: the version resource of a
// program or library file, as GetFileVersionInfoSize, GetFileVersionInfo and VerQueryValue
// give it. Plain C++ only, like every interface header (see common.h).

namespace winsteps::platform {

// Win32 error codes of the version calls (the common ones are in common.h).
inline constexpr std::uint32_t ERROR_INVALID_DATA = 13;
inline constexpr std::uint32_t ERROR_RESOURCE_DATA_NOT_FOUND = 1812; // the image has no resource section
inline constexpr std::uint32_t ERROR_RESOURCE_TYPE_NOT_FOUND = 1813; // it has resources, but no version

// The signature of the fixed record, and what it holds.
inline constexpr std::uint32_t VS_FFI_SIGNATURE = 0xFEEF04BDu;
inline constexpr std::uint32_t VS_FFI_STRUCVERSION = 0x00010000u;
inline constexpr std::uint32_t VS_FFI_FILEFLAGSMASK = 0x0000003Fu;

// File operating systems and types of the fixed record.
inline constexpr std::uint32_t VOS__WINDOWS32 = 0x00000004u;
inline constexpr std::uint32_t VOS_NT_WINDOWS32 = 0x00040004u;
inline constexpr std::uint32_t VFT_APP = 1;
inline constexpr std::uint32_t VFT_DLL = 2;

// VS_FIXEDFILEINFO, field by field in Windows' order and layout (13 double words, 52 bytes),
// so that the record VerQueryValue points at may be copied into it whole. The most
// significant half of a version holds its first two numbers (high word first), the least
// significant half the last two: 1.10.1029.0 is 0x0001000A, 0x04050000.
struct FixedFileInfo {
    std::uint32_t signature = 0; // VS_FFI_SIGNATURE
    std::uint32_t strucVersion = 0;
    std::uint32_t fileVersionMS = 0;
    std::uint32_t fileVersionLS = 0;
    std::uint32_t productVersionMS = 0;
    std::uint32_t productVersionLS = 0;
    std::uint32_t fileFlagsMask = 0;
    std::uint32_t fileFlags = 0;
    std::uint32_t fileOS = 0;
    std::uint32_t fileType = 0;
    std::uint32_t fileSubtype = 0;
    std::uint32_t fileDateMS = 0;
    std::uint32_t fileDateLS = 0;
};
static_assert(sizeof(FixedFileInfo) == 52, "VS_FIXEDFILEINFO has 13 double words");

// The version resources of the files of one Windows machine as seen from the running process.
// Every method may be called from any thread. Paths are those of the files subsystem (see
// Files): "C:\..." on the machine, or a path of this process to read.
//
// Callers ask for the size first, allocate that many bytes, read the resource into them, and
// then look values up in the block read. A file that is missing gives ERROR_FILE_NOT_FOUND
// (ERROR_PATH_NOT_FOUND for a missing folder, ERROR_ACCESS_DENIED for a folder); a file that
// is no program image (text, an empty file) or an image without resources
// ERROR_RESOURCE_DATA_NOT_FOUND; an image with resources but no version resource
// ERROR_RESOURCE_TYPE_NOT_FOUND; an image that is damaged or cut short ERROR_BAD_EXE_FORMAT.
class WINSTEPS_PLATFORM_EXPORT FileVersions {
public:
    virtual ~FileVersions();

    // GetFileVersionInfoSize: *size is the number of bytes the version block needs (at least
    // the block's own length, Windows asks for more), or 0 on failure.
    virtual std::uint32_t getFileVersionInfoSize(const std::string& path, std::uint32_t* size) = 0;
    // GetFileVersionInfo(path, 0, size, data): the version block into data. A buffer smaller
    // than the block gets the block cut to its size, as Windows does.
    virtual std::uint32_t getFileVersionInfo(const std::string& path, std::uint32_t size, void* data) = 0;
    // VerQueryValue on a block that getFileVersionInfo filled (size: the size it was given,
    // which bounds what is read). subBlock "\" is the fixed record (*value points at a
    // FixedFileInfo, *length 52); "\VarFileInfo\Translation" and
    // "\StringFileInfo\<language><code page>\<name>" are the block's other values, as
    // VerQueryValueW gives them (text as UTF-16LE with its length in characters; a node
    // without a value, such as "\StringFileInfo", has length 0). Names compare without regard
    // to case. A block without that node (or whose fixed record is cut short or wrongly
    // signed) gives ERROR_RESOURCE_TYPE_NOT_FOUND.
    virtual std::uint32_t verQueryValue(const void* block, std::uint32_t size, const std::string& subBlock,
                                        const void** value, std::uint32_t* length) = 0;
};

// The file versions of this process's machine.
WINSTEPS_PLATFORM_EXPORT FileVersions& fileVersions();

} // namespace winsteps::platform
