#pragma once

#include "winsteps_export.h"

#include <cstdint>
#include <memory>
#include <string>

// Constants and types of the file calls of Platform (platform.h).

namespace winsteps::platform {

// Win32 error codes of the file calls (beside those in platform.h and registry.h).
inline constexpr std::uint32_t ERROR_HANDLE_EOF = 38;
inline constexpr std::uint32_t ERROR_DIRECTORY = 267; // the name is not a directory

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
class WINSTEPS_EXPORT FileHandle {
public:
    virtual ~FileHandle();
    // ReadFile: up to size bytes from the current position; *done 0 at the end of the file.
    virtual std::uint32_t read(void* buffer, std::uint32_t size, std::uint32_t* done) = 0;
    // WriteFile: size bytes at the current position.
    virtual std::uint32_t write(const void* buffer, std::uint32_t size, std::uint32_t* done) = 0;
};

using FileHandlePtr = std::unique_ptr<FileHandle>;

} // namespace winsteps::platform
