#pragma once

#include "platform/common.h"
#include "winsteps_platform_export.h"

#include <cstdint>
#include <string>
#include <vector>

// The registry subsystem of the Windows system interface: its types and constants, with the
// values Windows gives them, and its calls. Plain C++ only, like every interface header (see
// common.h).

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

// Win32 error codes of the registry calls (the common ones are in common.h).
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

// The registry calls of one Windows machine as seen from the running process. Every method
// may be called from any thread.
class WINSTEPS_PLATFORM_EXPORT Registry {
public:
    virtual ~Registry();

    // The registry calls of Windows with their rights, error codes and the 32-bit view of a
    // process under WOW64. Key and value names are UTF-8. String data (REG_SZ,
    // REG_EXPAND_SZ, REG_MULTI_SZ) is passed as its UTF-8 bytes with the closing NUL(s), and
    // sizes count those bytes, as the ANSI calls of Windows count the bytes of their code
    // page. The empty value name is the key's default value. A sub-key path separates its
    // keys by "\" and must not begin with one (ERROR_BAD_PATHNAME).

    // RegOpenKeyEx: the existing key subKey below key (subKey empty: key itself), with the
    // rights sam. ERROR_FILE_NOT_FOUND when missing, ERROR_ACCESS_DENIED when the key does
    // not grant every right asked for.
    virtual std::uint32_t regOpenKeyEx(HKEY key, const std::string& subKey, REGSAM sam, HKEY* result) = 0;
    // RegCreateKeyEx: opens subKey, creating it and any missing keys on the way;
    // *disposition (may be null) tells REG_CREATED_NEW_KEY or REG_OPENED_EXISTING_KEY.
    virtual std::uint32_t regCreateKeyEx(HKEY key, const std::string& subKey, std::uint32_t options,
                                         REGSAM sam, HKEY* result, std::uint32_t* disposition) = 0;
    // RegCloseKey. Closing a predefined root key succeeds and does nothing.
    virtual std::uint32_t regCloseKey(HKEY key) = 0;
    // RegDeleteKeyEx (RegDeleteKey when sam is 0): removes subKey, which needs the DELETE
    // right, in the registry view that sam names (KEY_WOW64_64KEY or KEY_WOW64_32KEY). On NT
    // a key with sub-keys is refused (ERROR_ACCESS_DENIED); the 9x family removes the whole
    // tree.
    virtual std::uint32_t regDeleteKeyEx(HKEY key, const std::string& subKey, REGSAM sam) = 0;
    // RegQueryValueEx: *type (may be null) and the data. data null: only *size is set to
    // the size needed. *size on entry is the buffer's size; when it is too small the call
    // answers ERROR_MORE_DATA with the size needed in *size and the buffer untouched.
    virtual std::uint32_t regQueryValueEx(HKEY key, const std::string& name, std::uint32_t* type,
                                          std::uint8_t* data, std::uint32_t* size) = 0;
    // RegSetValueEx: stores size bytes of data as the value name of type type.
    virtual std::uint32_t regSetValueEx(HKEY key, const std::string& name, std::uint32_t type,
                                        const std::uint8_t* data, std::uint32_t size) = 0;
    // RegDeleteValue.
    virtual std::uint32_t regDeleteValue(HKEY key, const std::string& name) = 0;
    // RegEnumKeyEx: the name of the index-th sub-key (sorted without regard to case);
    // ERROR_NO_MORE_ITEMS past the last, ERROR_INVALID_PARAMETER without a name buffer.
    virtual std::uint32_t regEnumKeyEx(HKEY key, std::uint32_t index, std::string* name) = 0;
    // RegEnumValue: the index-th value (in the order the values were first set) with its
    // type and all its data; ERROR_NO_MORE_ITEMS past the last.
    virtual std::uint32_t regEnumValue(HKEY key, std::uint32_t index, std::string* name, std::uint32_t* type,
                                       std::vector<std::uint8_t>* data) = 0;
};

// The registry of this process's machine.
WINSTEPS_PLATFORM_EXPORT Registry& registry();

} // namespace winsteps::platform
