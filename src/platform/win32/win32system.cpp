// The system queries on the wide-character calls: version, WOW64, administrator, program,
// user, folders, environment, shell folders, COM and the debugger channel.

#include "platform/system.h"
#include "platform/win32/win32util.h"

#include <objbase.h>
#include <shlobj.h>

#include <mutex>

namespace winsteps::platform {

namespace {

using win32::narrow;
using win32::widen;

// A text that a call writes into a buffer of the caller's size, returning the length it
// wrote or, when the buffer is short, a length at least as long as the buffer: the call is
// repeated with a larger buffer until the text fits.
template <typename Call>
std::uint32_t fetchText(Call call, std::string* text)
{
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (;;) {
        ::SetLastError(ERROR_SUCCESS);
        const DWORD length = call(buffer.data(), DWORD(buffer.size()));
        if (length == 0 && ::GetLastError() != ERROR_SUCCESS)
            return ::GetLastError();
        if (length < buffer.size()) {
            *text = narrow(buffer.data(), length);
            return ERROR_SUCCESS;
        }
        if (buffer.size() >= 32768 * 2)
            return ERROR_INSUFFICIENT_BUFFER;
        buffer.resize(std::max<std::size_t>(buffer.size() * 2, length + 1));
    }
}

std::string withoutTrailingSeparator(std::string path)
{
    while (path.size() > 1 && (path.back() == '\\' || path.back() == '/'))
        path.pop_back();
    return path;
}

// SHGetFolderPathW from shfolder.dll, loaded once and kept for the process's life.
using GetFolderPathW = ::HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);

GetFolderPathW folderFunction()
{
    static const win32::Library library(L"shfolder.dll");
    static const auto function = library.function<GetFolderPathW>("SHGetFolderPathW");
    return function;
}

class Win32System final : public System {
public:
    std::uint32_t getVersionEx(OsVersionInfoEx* info) override
    {
        const bool extended = info->size == OSVERSIONINFOEX_SIZE;
        if (!extended && info->size != OSVERSIONINFO_SIZE)
            return ERROR_INSUFFICIENT_BUFFER;
        OSVERSIONINFOEXW record{};
        record.dwOSVersionInfoSize = extended ? sizeof(OSVERSIONINFOEXW) : sizeof(OSVERSIONINFOW);
        if (!::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&record)))
            return win32::lastError();
        const std::uint32_t size = info->size;
        *info = OsVersionInfoEx{};
        info->size = size;
        info->majorVersion = record.dwMajorVersion;
        info->minorVersion = record.dwMinorVersion;
        info->buildNumber = record.dwBuildNumber;
        info->platformId = record.dwPlatformId;
        info->servicePack = narrow(record.szCSDVersion);
        if (extended) {
            info->servicePackMajor = record.wServicePackMajor;
            info->servicePackMinor = record.wServicePackMinor;
            info->suiteMask = record.wSuiteMask;
            info->productType = record.wProductType;
            info->reserved = record.wReserved;
        }
        return ERROR_SUCCESS;
    }

    std::uint32_t isWow64Process(bool* wow64) override
    {
        *wow64 = false;
        using IsWow64 = BOOL(WINAPI*)(HANDLE, PBOOL);
        static const auto function = win32::systemFunction<IsWow64>(L"kernel32.dll", "IsWow64Process");
        if (!function)
            return ERROR_PROC_NOT_FOUND;
        BOOL result = FALSE;
        if (!function(::GetCurrentProcess(), &result))
            return win32::lastError();
        *wow64 = result != FALSE;
        return ERROR_SUCCESS;
    }

    bool isUserAnAdmin() override { return ::IsUserAnAdmin() != FALSE; }

    std::uint32_t getModuleFileName(std::string* path) override
    {
        return fetchText([](wchar_t* buffer, DWORD size) { return ::GetModuleFileNameW(nullptr, buffer, size); },
                         path);
    }

    std::uint32_t getUserName(std::string* name) override
    {
        return fetchText(
            [](wchar_t* buffer, DWORD size) -> DWORD {
                DWORD length = size;
                if (::GetUserNameW(buffer, &length))
                    return length - 1; // counted with its NUL
                return ::GetLastError() == ERROR_INSUFFICIENT_BUFFER ? std::max(length, size) : 0;
            },
            name);
    }

    std::uint32_t getWindowsDirectory(std::string* path) override
    {
        const std::uint32_t code =
            fetchText([](wchar_t* buffer, DWORD size) { return ::GetWindowsDirectoryW(buffer, size); }, path);
        *path = withoutTrailingSeparator(*path);
        return code;
    }

    std::uint32_t getSystemDirectory(std::string* path) override
    {
        const std::uint32_t code =
            fetchText([](wchar_t* buffer, DWORD size) { return ::GetSystemDirectoryW(buffer, size); }, path);
        *path = withoutTrailingSeparator(*path);
        return code;
    }

    std::uint32_t getSystemDrive(std::string* drive) override
    {
        std::string path;
        const std::uint32_t code = getSystemDirectory(&path);
        if (code == ERROR_SUCCESS)
            *drive = path.substr(0, 2);
        return code;
    }

    std::uint32_t getEnvironmentVariable(const std::string& name, std::string* value) override
    {
        const std::wstring wideName = widen(name);
        return fetchText(
            [&wideName](wchar_t* buffer, DWORD size) { return ::GetEnvironmentVariableW(wideName.c_str(), buffer, size); },
            value);
    }

    std::uint32_t setEnvironmentVariable(const std::string& name, const std::string* value) override
    {
        const std::wstring wideValue = value ? widen(*value) : std::wstring();
        if (!::SetEnvironmentVariableW(widen(name).c_str(), value ? wideValue.c_str() : nullptr))
            return win32::lastError();
        return ERROR_SUCCESS;
    }

    std::vector<std::pair<std::string, std::string>> environmentStrings() override
    {
        struct Block {
            wchar_t* strings = ::GetEnvironmentStringsW();
            ~Block()
            {
                if (strings)
                    ::FreeEnvironmentStringsW(strings);
            }
        } block;
        std::vector<std::pair<std::string, std::string>> list;
        for (const wchar_t* entry = block.strings; entry && *entry; entry += wcslen(entry) + 1) {
            const std::string text = narrow(entry);
            // The per-drive folders ("=C:=C:\...") have a name beginning with '='.
            const std::size_t equals = text.find('=', 1);
            if (equals != std::string::npos)
                list.emplace_back(text.substr(0, equals), text.substr(equals + 1));
        }
        return list;
    }

    bool shellFolderApiAvailable() override { return folderFunction() != nullptr; }

    HRESULT getFolderPath(int csidl, std::string* path) override
    {
        const GetFolderPathW function = folderFunction();
        if (!function)
            return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
        wchar_t buffer[MAX_PATH + 1] = {};
        const ::HRESULT result = function(nullptr, csidl, nullptr, 0, buffer);
        if (result == S_OK)
            *path = narrow(buffer);
        return result;
    }

    HRESULT coInitialize() override { return ::CoInitialize(nullptr); }

    HRESULT coInitializeSecurity(std::int32_t authnServices, std::uint32_t authnLevel, std::uint32_t impLevel,
                                 std::uint32_t capabilities) override
    {
        return ::CoInitializeSecurity(nullptr, authnServices, nullptr, nullptr, authnLevel, impLevel, nullptr,
                                      capabilities, nullptr);
    }

    void coUninitialize() override { ::CoUninitialize(); }

    void outputDebugString(const std::string& text) override { ::OutputDebugStringW(widen(text).c_str()); }
};

} // namespace

System& system()
{
    static Win32System instance;
    return instance;
}

} // namespace winsteps::platform
