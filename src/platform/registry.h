#pragma once

#include <cstdint>

// Types and constants of the Windows registry and of the file calls that the platform
// interface (platform.h) offers, with the values Windows gives them. Plain C++ only.

namespace winsteps::platform {

// A registry key handle: one of the predefined root keys below, or a handle that an open
// or create call returned (which regCloseKey releases).
using HKEY = std::uintptr_t;
using REGSAM = std::uint32_t;

inline constexpr HKEY HKEY_NULL = 0;
inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
inline constexpr HKEY HKEY_USERS = 0x80000003u;
inline constexpr HKEY HKEY_PERFORMANCE_DATA = 0x80000004u;
inline constexpr HKEY HKEY_CURRENT_CONFIG = 0x80000005u;
inline constexpr HKEY HKEY_DYN_DATA = 0x80000006u; // the 9x family only

// Further Win32 error codes of the registry and file calls.
inline constexpr std::uint32_t ERROR_CALL_NOT_IMPLEMENTED = 120;
inline constexpr std::uint32_t ERROR_BAD_PATHNAME = 161;
inline constexpr std::uint32_t ERROR_ALREADY_EXISTS = 183;
inline constexpr std::uint32_t ERROR_NO_MORE_ITEMS = 259;
inline constexpr std::uint32_t ERROR_REGISTRY_IO_FAILED = 1016;
inline constexpr std::uint32_t ERROR_KEY_DELETED = 1018;

// Access rights of keys.
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_CREATE_LINK = 0x0020;
inline constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
inline constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
inline constexpr REGSAM DELETE = 0x00010000;
inline constexpr REGSAM READ_CONTROL = 0x00020000;
inline constexpr REGSAM WRITE_DAC = 0x00040000;
inline constexpr REGSAM WRITE_OWNER = 0x00080000;
inline constexpr REGSAM MAXIMUM_ALLOWED = 0x02000000;
inline constexpr REGSAM KEY_READ = READ_CONTROL | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY;
inline constexpr REGSAM KEY_WRITE = READ_CONTROL | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;
inline constexpr REGSAM KEY_ALL_ACCESS = 0x000F003F;

// Value types.
inline constexpr std::uint32_t REG_NONE = 0;
inline constexpr std::uint32_t REG_SZ = 1;
inline constexpr std::uint32_t REG_EXPAND_SZ = 2;
inline constexpr std::uint32_t REG_BINARY = 3;
inline constexpr std::uint32_t REG_DWORD = 4;
inline constexpr std::uint32_t REG_DWORD_BIG_ENDIAN = 5;
inline constexpr std::uint32_t REG_LINK = 6;
inline constexpr std::uint32_t REG_MULTI_SZ = 7;
inline constexpr std::uint32_t REG_RESOURCE_LIST = 8;
inline constexpr std::uint32_t REG_FULL_RESOURCE_DESCRIPTOR = 9;
inline constexpr std::uint32_t REG_RESOURCE_REQUIREMENTS_LIST = 10;
inline constexpr std::uint32_t REG_QWORD = 11;

// Options and dispositions of RegCreateKeyEx.
inline constexpr std::uint32_t REG_OPTION_NON_VOLATILE = 0;
inline constexpr std::uint32_t REG_OPTION_VOLATILE = 1;
inline constexpr std::uint32_t REG_CREATED_NEW_KEY = 1;
inline constexpr std::uint32_t REG_OPENED_EXISTING_KEY = 2;

// Flags of MoveFileEx.
inline constexpr std::uint32_t MOVEFILE_REPLACE_EXISTING = 0x1;
inline constexpr std::uint32_t MOVEFILE_COPY_ALLOWED = 0x2;
inline constexpr std::uint32_t MOVEFILE_DELAY_UNTIL_REBOOT = 0x4;

// Where Windows keeps the renames and removals that wait for the next restart: pairs of
// "\??\C:\..." source and target (empty: remove; "!" in front: replace an existing target)
// in a REG_MULTI_SZ value below HKEY_LOCAL_MACHINE.
inline constexpr const char* SESSION_MANAGER_KEY = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
inline constexpr const char* PENDING_FILE_RENAME_OPERATIONS = "PendingFileRenameOperations";

} // namespace winsteps::platform
