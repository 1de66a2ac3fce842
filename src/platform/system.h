#pragma once

#include "platform/common.h"
#include "winsteps_platform_export.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The system subsystem of the Windows system interface: version, WOW64, administrator, user,
// executable, the Windows and system folders, the environment, shell folders, COM start and
// the debugger channel. Plain C++ only, like every interface header (see common.h).

namespace winsteps::platform {

// Win32 error codes of the system calls (the common ones are in common.h).
inline constexpr std::uint32_t ERROR_ENVVAR_NOT_FOUND = 203;

// HRESULTs of the COM calls.
inline constexpr HRESULT RPC_E_CHANGED_MODE = static_cast<HRESULT>(0x80010106u);
inline constexpr HRESULT RPC_E_TOO_LATE = static_cast<HRESULT>(0x80010119u);
inline constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0u);

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

// The system calls of one Windows machine as seen from the running process. Every method may
// be called from any thread.
class WINSTEPS_PLATFORM_EXPORT System {
public:
    virtual ~System();

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
};

// The system calls of this process's machine.
WINSTEPS_PLATFORM_EXPORT System& system();

} // namespace winsteps::platform
