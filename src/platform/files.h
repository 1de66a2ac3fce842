#pragma once

#include "platform/common.h"
#include "winsteps_platform_export.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The files subsystem of the Windows system interface: its constants and types, and its
// calls. Plain C++ only, like every interface header (see common.h).

namespace winsteps::platform {

// Win32 error codes of the file calls (the common ones are in common.h).
inline constexpr std::uint32_t ERROR_HANDLE_EOF = 38;
inline constexpr std::uint32_t ERROR_DIRECTORY = 267; // the name is not a directory
inline constexpr std::uint32_t ERROR_HANDLE_DISK_FULL = 39; // a write found the disk full
inline constexpr std::uint32_t ERROR_DISK_FULL = 112;       // no room for what a call records

// File attributes.
inline constexpr std::uint32_t FILE_ATTRIBUTE_READONLY = 0x0001;
inline constexpr std::uint32_t FILE_ATTRIBUTE_HIDDEN = 0x0002;
inline constexpr std::uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x0010;
inline constexpr std::uint32_t FILE_ATTRIBUTE_NORMAL = 0x0080;
inline constexpr std::uint32_t FILE_ATTRIBUTE_REPARSE_POINT = 0x0400; // a symbolic link

// CreateFile: access and creation disposition.
inline constexpr std::uint32_t GENERIC_READ = 0x80000000u;
inline constexpr std::uint32_t GENERIC_WRITE = 0x40000000u;
inline constexpr std::uint32_t CREATE_ALWAYS = 2;
inline constexpr std::uint32_t OPEN_EXISTING = 3;

// One entry of a directory listing (FindFirstFile / FindNextFile).
struct FindData {
    std::string name;
    std::uint32_t attributes = 0;
    std::uint64_t size = 0;
};

// An open file (CreateFile); closed by the destructor (CloseHandle).
class WINSTEPS_PLATFORM_EXPORT FileHandle {
public:
    virtual ~FileHandle();
    // ReadFile: up to size bytes from the current position; *done 0 at the end of the file.
    virtual std::uint32_t read(void* buffer, std::uint32_t size, std::uint32_t* done) = 0;
    // WriteFile: size bytes at the current position.
    virtual std::uint32_t write(const void* buffer, std::uint32_t size, std::uint32_t* done) = 0;
};

using FileHandlePtr = std::unique_ptr<FileHandle>;

// Flags of MoveFileEx.
inline constexpr std::uint32_t MOVEFILE_REPLACE_EXISTING = 0x1;
inline constexpr std::uint32_t MOVEFILE_COPY_ALLOWED = 0x2;
inline constexpr std::uint32_t MOVEFILE_DELAY_UNTIL_REBOOT = 0x4;

// Where Windows keeps the renames and removals that wait for the next restart: pairs of
// "\??\C:\..." source and target (empty: remove; "!" in front: replace an existing target)
// in a REG_MULTI_SZ value below HKEY_LOCAL_MACHINE.
inline constexpr const char* SESSION_MANAGER_KEY = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
inline constexpr const char* PENDING_FILE_RENAME_OPERATIONS = "PendingFileRenameOperations";

// The file calls of one Windows machine as seen from the running process. Every method may be
// called from any thread.
class WINSTEPS_PLATFORM_EXPORT Files {
public:
    virtual ~Files();

    // Paths are those of the machine: "C:\..." or "C:/..." (drive letter in any case, "\"
    // and "/" both separate folders, names compare without regard to case, ".." stops at the
    // drive's root), "\..." for the root of drive C:, or a path of this process (such as
    // installation media, "/media/cd/setup"), which may be read but written only where it
    // lies on the machine's drive C:. A write anywhere else fails with ERROR_ACCESS_DENIED;
    // another drive or a network path gives ERROR_PATH_NOT_FOUND. A missing file gives
    // ERROR_FILE_NOT_FOUND, a missing folder on the way ERROR_PATH_NOT_FOUND.

    // The path under which this process reaches the file that path names, for reading or
    // for a program to start; a path of this process comes back as it is ("\" made "/").
    virtual std::string localFilePath(const std::string& path) = 0;
    // GetFileAttributes: FILE_ATTRIBUTE_* of a file or directory.
    virtual std::uint32_t getFileAttributes(const std::string& path, std::uint32_t* attributes) = 0;
    // FindFirstFile(directory + "\*") / FindNextFile: the entries of a directory, without
    // "." and "..", sorted by name without regard to case; a symbolic link is listed with
    // its target's attributes and FILE_ATTRIBUTE_REPARSE_POINT, and not at all when its
    // target is gone. ERROR_DIRECTORY for a file.
    virtual std::uint32_t findFiles(const std::string& directory, std::vector<FindData>* entries) = 0;
    // CreateDirectory: one directory whose parent exists; ERROR_ALREADY_EXISTS when the
    // name is taken.
    virtual std::uint32_t createDirectory(const std::string& path) = 0;
    // DeleteFile: a file (never a directory); a read-only file gives ERROR_ACCESS_DENIED.
    virtual std::uint32_t deleteFile(const std::string& path) = 0;
    // CreateFile(path, access, no sharing rules, disposition): GENERIC_READ with
    // OPEN_EXISTING, or GENERIC_WRITE with CREATE_ALWAYS (made or emptied). A directory, or
    // a read-only file opened for writing, gives ERROR_ACCESS_DENIED.
    virtual std::uint32_t createFile(const std::string& path, std::uint32_t access, std::uint32_t disposition,
                                     FileHandlePtr* file) = 0;
    // MoveFileEx. With MOVEFILE_DELAY_UNTIL_REBOOT the rename (newName given) or removal
    // (newName null) is recorded in PendingFileRenameOperations for the next restart; that
    // needs an administrator. Without it the file is renamed at once (a read-only or
    // directory target is never replaced).
    virtual std::uint32_t moveFileEx(const std::string& existing, const std::string* newName,
                                     std::uint32_t flags) = 0;
};

// The files of this process's machine.
WINSTEPS_PLATFORM_EXPORT Files& files();

} // namespace winsteps::platform
