#pragma once

#include "platform/files.h"
#include "platform/registry.h"
#include "winsteps_export.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The Windows system interface. Plain C++ only (no Qt), so that a backend making real
// Windows calls can be built without the toolkit. Calls keep the Windows contracts: Win32
// error codes (ERROR_SUCCESS, ...) and HRESULTs (S_OK, S_FALSE, ...). Text is UTF-8; a real
// backend converts to and from UTF-16 at the call.
//
// On Windows, include this header before the system headers: they define the same names
// as macros with the same values.
//
// Fall-backs, buffer sizes, traces and events belong to the callers above this layer; a
// backend only answers each call the way Windows would.

namespace winsteps::platform {

using HRESULT = std::int32_t;

// Win32 error codes.
inline constexpr std::uint32_t ERROR_SUCCESS = 0;
inline constexpr std::uint32_t ERROR_FILE_NOT_FOUND = 2;
inline constexpr std::uint32_t ERROR_PATH_NOT_FOUND = 3;
inline constexpr std::uint32_t ERROR_ACCESS_DENIED = 5;
inline constexpr std::uint32_t ERROR_INVALID_HANDLE = 6;
inline constexpr std::uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr std::uint32_t ERROR_INVALID_PARAMETER = 87;
inline constexpr std::uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr std::uint32_t ERROR_MOD_NOT_FOUND = 126;
inline constexpr std::uint32_t ERROR_PROC_NOT_FOUND = 127;
inline constexpr std::uint32_t ERROR_ENVVAR_NOT_FOUND = 203;
inline constexpr std::uint32_t ERROR_MORE_DATA = 234;

// HRESULTs.
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
inline constexpr HRESULT RPC_E_CHANGED_MODE = static_cast<HRESULT>(0x80010106u);
inline constexpr HRESULT RPC_E_TOO_LATE = static_cast<HRESULT>(0x80010119u);
inline constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0u);

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }
constexpr HRESULT HRESULT_FROM_WIN32(std::uint32_t error)
{
    return error == 0 ? 0 : static_cast<HRESULT>((error & 0x0000FFFFu) | 0x80070000u);
}

// Platform identifiers of the version record.
inline constexpr std::uint32_t VER_PLATFORM_WIN32s = 0;
inline constexpr std::uint32_t VER_PLATFORM_WIN32_WINDOWS = 1; // the 9x family
inline constexpr std::uint32_t VER_PLATFORM_WIN32_NT = 2;

// Product types of the extended record.
inline constexpr std::uint8_t VER_NT_WORKSTATION = 1;
inline constexpr std::uint8_t VER_NT_DOMAIN_CONTROLLER = 2;
inline constexpr std::uint8_t VER_NT_SERVER = 3;

// Sizes of the two version records; the caller chooses one through OsVersionInfoEx::size.
inline constexpr std::uint32_t OSVERSIONINFO_SIZE = 148;
inline constexpr std::uint32_t OSVERSIONINFOEX_SIZE = 156;

// The (extended) operating-system version record. With the basic size only the fields up
// to servicePack are filled; the rest read 0.
struct OsVersionInfoEx {
    std::uint32_t size = OSVERSIONINFOEX_SIZE;
    std::uint32_t majorVersion = 0;
    std::uint32_t minorVersion = 0;
    // On the 9x family the high word repeats major and minor version, as Windows reports it.
    std::uint32_t buildNumber = 0;
    std::uint32_t platformId = 0;
    std::string servicePack; // at most 127 characters
    std::uint16_t servicePackMajor = 0;
    std::uint16_t servicePackMinor = 0;
    std::uint16_t suiteMask = 0;
    std::uint8_t productType = 0;
    std::uint8_t reserved = 0;
};

// Shell folder identifiers (CSIDL numbers) used by the library.
namespace csidl {
inline constexpr int PROGRAMS = 2;
inline constexpr int PERSONAL = 5;
inline constexpr int STARTUP = 7;
inline constexpr int STARTMENU = 11;
inline constexpr int DESKTOPDIRECTORY = 16;
inline constexpr int FONTS = 20;
inline constexpr int COMMON_STARTMENU = 22;
inline constexpr int COMMON_PROGRAMS = 23;
inline constexpr int COMMON_STARTUP = 24;
inline constexpr int COMMON_DESKTOPDIRECTORY = 25;
inline constexpr int APPDATA = 26;
inline constexpr int LOCAL_APPDATA = 28;
inline constexpr int COMMON_APPDATA = 35;
inline constexpr int WINDOWS = 36;
inline constexpr int SYSTEM = 37;
inline constexpr int PROGRAM_FILES = 38;
inline constexpr int PROFILE = 40;
inline constexpr int PROGRAM_FILESX86 = 42;
inline constexpr int PROGRAM_FILES_COMMON = 43;
inline constexpr int COMMON_DOCUMENTS = 46;
// Flag: create the folder when it does not exist.
inline constexpr int FLAG_CREATE = 0x8000;
inline constexpr int FLAG_MASK = 0xFF00;
} // namespace csidl

// COM security constants used by the library.
inline constexpr std::int32_t RPC_C_AUTHN_DEFAULT = -1;
inline constexpr std::uint32_t RPC_C_AUTHN_LEVEL_PKT = 4;
inline constexpr std::uint32_t RPC_C_IMP_LEVEL_IMPERSONATE = 3;
inline constexpr std::uint32_t EOAC_NONE = 0;

// One Windows machine as seen from the running process. Every method may be called from
// any thread. Later subsystems (registry, services, processes, devices, ...) are added as
// further methods or as interfaces reached from here.
class WINSTEPS_EXPORT Platform {
public:
    virtual ~Platform();

    // --- version and process ---------------------------------------------------------

    // GetVersionEx: info->size selects the record (OSVERSIONINFOEX_SIZE or OSVERSIONINFO_SIZE);
    // other sizes fail with ERROR_INSUFFICIENT_BUFFER. Fills info on success.
    virtual std::uint32_t getVersionEx(OsVersionInfoEx* info) = 0;

    // IsWow64Process for the current process, looked up at run time in kernel32:
    // ERROR_PROC_NOT_FOUND when the function does not exist, another error when the call
    // fails, ERROR_SUCCESS with *wow64 set otherwise.
    virtual std::uint32_t isWow64Process(bool* wow64) = 0;

    // IsUserAnAdmin: the user runs with administrator rights.
    virtual bool isUserAnAdmin() = 0;

    // GetModuleFileName of the process's executable.
    virtual std::uint32_t getModuleFileName(std::string* path) = 0;

    // GetUserName.
    virtual std::uint32_t getUserName(std::string* name) = 0;

    // --- directories and environment --------------------------------------------------

    // GetWindowsDirectory / GetSystemDirectory, without a trailing separator.
    virtual std::uint32_t getWindowsDirectory(std::string* path) = 0;
    virtual std::uint32_t getSystemDirectory(std::string* path) = 0;
    // The drive holding the system directory ("C:" on Windows: the first two characters of
    // the system directory).
    virtual std::uint32_t getSystemDrive(std::string* drive) = 0;

    // GetEnvironmentVariable (names compare case-insensitively): ERROR_ENVVAR_NOT_FOUND when
    // unset.
    virtual std::uint32_t getEnvironmentVariable(const std::string& name, std::string* value) = 0;
    // SetEnvironmentVariable; value nullptr removes the variable.
    virtual std::uint32_t setEnvironmentVariable(const std::string& name, const std::string* value) = 0;
    // GetEnvironmentStrings: every variable as (name, value).
    virtual std::vector<std::pair<std::string, std::string>> environmentStrings() = 0;

    // --- shell folders ----------------------------------------------------------------

    // Whether SHGetFolderPathW can be loaded from shfolder.dll.
    virtual bool shellFolderApiAvailable() = 0;
    // SHGetFolderPathW(no window, csidl, no token, flags 0): S_OK with the folder's path,
    // E_INVALIDARG for an unknown folder, E_FAIL when it does not exist (and csidl does not
    // carry csidl::FLAG_CREATE), HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND) without the library.
    virtual HRESULT getFolderPath(int csidl, std::string* path) = 0;

    // --- COM ----------------------------------------------------------------------------

    // CoInitialize(NULL) for the calling thread: S_OK the first time, S_FALSE when the thread
    // already has COM (each success must be balanced by coUninitialize).
    virtual HRESULT coInitialize() = 0;
    // CoInitializeSecurity(no descriptor, authnServices, no list, authnLevel, impLevel, no
    // authentication info, capabilities): once per process; later calls give RPC_E_TOO_LATE.
    virtual HRESULT coInitializeSecurity(std::int32_t authnServices, std::uint32_t authnLevel,
                                         std::uint32_t impLevel, std::uint32_t capabilities) = 0;
    // CoUninitialize for the calling thread.
    virtual void coUninitialize() = 0;

    // --- debugger channel ---------------------------------------------------------------

    // OutputDebugString: the text goes whole to the debugger channel.
    virtual void outputDebugString(const std::string& text) = 0;

    // --- registry -----------------------------------------------------------------------
    //
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

    // --- files ----------------------------------------------------------------------------
    //
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

} // namespace winsteps::platform

#include "platform/machine.h"
