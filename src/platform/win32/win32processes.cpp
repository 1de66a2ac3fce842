// Processes on the wide-character calls: creation (also under other credentials, with the
// credential buffers wiped after use), handles with their rights, the process list (tool-help
// snapshot, or PSAPI where there is none), the administrator test and the credential prompt.

#include "platform/process.h"
#include "platform/win32/win32util.h"

#include <tlhelp32.h>
#include <wincred.h>

#include <iterator>

namespace winsteps::platform {

namespace {

using win32::narrow;
using win32::widen;

class Win32Process final : public ProcessHandle {
public:
    Win32Process(win32::Handle handle, std::uint32_t id) : m_handle(std::move(handle)), m_id(id) {}

    // Held rather than asked (GetProcessId needs the query right, which a handle may lack).
    std::uint32_t processId() const override { return m_id; }

    std::uint32_t wait(std::uint32_t milliseconds) override
    {
        return ::WaitForSingleObject(m_handle.get(), milliseconds);
    }

    std::uint32_t getExitCode(std::uint32_t* code) override
    {
        DWORD exitCode = 0;
        if (!::GetExitCodeProcess(m_handle.get(), &exitCode))
            return win32::lastError();
        *code = exitCode;
        return ERROR_SUCCESS;
    }

    std::uint32_t terminate(std::uint32_t exitCode) override
    {
        return ::TerminateProcess(m_handle.get(), exitCode) ? ERROR_SUCCESS : win32::lastError();
    }

    std::unique_ptr<ProcessHandle> duplicate() const override
    {
        win32::Handle copy;
        if (!::DuplicateHandle(::GetCurrentProcess(), m_handle.get(), ::GetCurrentProcess(), copy.out(), 0, FALSE,
                               DUPLICATE_SAME_ACCESS))
            return nullptr;
        return std::make_unique<Win32Process>(std::move(copy), m_id);
    }

private:
    win32::Handle m_handle;
    std::uint32_t m_id;
};

// The environment block of CreateProcess: "NAME=value" entries, each ended by a NUL, and a
// closing NUL.
std::wstring environmentBlock(const std::vector<std::string>& environment)
{
    std::wstring block;
    for (const std::string& entry : environment) {
        block += widen(entry);
        block += L'\0';
    }
    if (block.empty())
        block += L'\0';
    block += L'\0';
    return block;
}

std::uint32_t started(const PROCESS_INFORMATION& information, ProcessHandlePtr* process)
{
    win32::Handle thread(information.hThread);
    *process = std::make_unique<Win32Process>(win32::Handle(information.hProcess), information.dwProcessId);
    return ERROR_SUCCESS;
}

// The process list from PSAPI, for Windows without the tool-help snapshot.
std::uint32_t psapiProcesses(std::vector<ProcessEntry>* processes)
{
    const win32::Library psapi(L"psapi.dll");
    using Enumerate = BOOL(WINAPI*)(DWORD*, DWORD, DWORD*);
    using BaseName = DWORD(WINAPI*)(HANDLE, HMODULE, LPWSTR, DWORD);
    const auto enumerate = psapi.function<Enumerate>("EnumProcesses");
    const auto baseName = psapi.function<BaseName>("GetModuleBaseNameW");
    if (!enumerate || !baseName)
        return psapi.loaded() ? ERROR_PROC_NOT_FOUND : ERROR_MOD_NOT_FOUND;
    std::vector<DWORD> ids(1024);
    DWORD bytes = 0;
    for (;;) {
        if (!enumerate(ids.data(), DWORD(ids.size() * sizeof(DWORD)), &bytes))
            return win32::lastError();
        if (bytes < ids.size() * sizeof(DWORD))
            break;
        ids.resize(ids.size() * 2);
    }
    ids.resize(bytes / sizeof(DWORD));
    for (const DWORD id : ids) {
        ProcessEntry entry;
        entry.processId = id;
        win32::Handle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id));
        wchar_t name[MAX_PATH] = {};
        if (process.valid() && baseName(process.get(), nullptr, name, MAX_PATH) > 0)
            entry.exeFile = narrow(name);
        processes->push_back(std::move(entry));
    }
    return ERROR_SUCCESS;
}

class Win32Processes final : public Processes {
public:
    std::uint32_t createProcess(const std::string& commandLine, const std::vector<std::string>* environment,
                                ProcessHandlePtr* process) override
    {
        process->reset();
        std::wstring line = widen(commandLine); // CreateProcessW may write into it
        std::wstring block = environment ? environmentBlock(*environment) : std::wstring();
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION information{};
        if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE,
                              environment ? CREATE_UNICODE_ENVIRONMENT : 0, environment ? block.data() : nullptr,
                              nullptr, &startup, &information))
            return win32::lastError();
        return started(information, process);
    }

    std::uint32_t createProcessWithLogon(const char* user, const char* domain, const char* password,
                                         const std::string& commandLine, const std::vector<std::string>* environment,
                                         ProcessHandlePtr* process) override
    {
        process->reset();
        using WithLogon = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, LPCWSTR, DWORD, LPCWSTR, LPWSTR, DWORD, LPVOID, LPCWSTR,
                                        LPSTARTUPINFOW, LPPROCESS_INFORMATION);
        static const auto withLogon = win32::systemFunction<WithLogon>(L"advapi32.dll", "CreateProcessWithLogonW");
        if (!withLogon)
            return ERROR_PROC_NOT_FOUND;
        const win32::SecretWide wideUser(user), wideDomain(domain), widePassword(password);
        std::wstring line = widen(commandLine);
        std::wstring block = environment ? environmentBlock(*environment) : std::wstring();
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION information{};
        if (!withLogon(wideUser.get(), wideDomain.get(), widePassword.get(), 0, nullptr, line.data(),
                       environment ? CREATE_UNICODE_ENVIRONMENT : 0, environment ? block.data() : nullptr, nullptr,
                       &startup, &information))
            return win32::lastError();
        return started(information, process);
    }

    std::uint32_t openProcess(std::uint32_t access, std::uint32_t processId, ProcessHandlePtr* process) override
    {
        process->reset();
        win32::Handle handle(::OpenProcess(access, FALSE, processId));
        if (!handle.valid())
            return win32::lastError();
        *process = std::make_unique<Win32Process>(std::move(handle), processId);
        return ERROR_SUCCESS;
    }

    std::uint32_t postCloseToWindows(std::uint32_t processId) override
    {
        win32::Handle handle(::OpenProcess(SYNCHRONIZE, FALSE, processId));
        if (!handle.valid())
            return ERROR_INVALID_PARAMETER;
        ::EnumWindows(
            [](HWND window, LPARAM id) -> BOOL {
                DWORD owner = 0;
                ::GetWindowThreadProcessId(window, &owner);
                if (owner == DWORD(id))
                    ::PostMessageW(window, WM_CLOSE, 0, 0);
                return TRUE;
            },
            LPARAM(processId));
        return ERROR_SUCCESS;
    }

    std::uint32_t enumProcesses(std::vector<ProcessEntry>* processes) override
    {
        processes->clear();
        using Snapshot = HANDLE(WINAPI*)(DWORD, DWORD);
        using Walk = BOOL(WINAPI*)(HANDLE, LPPROCESSENTRY32W);
        static const auto snapshot = win32::systemFunction<Snapshot>(L"kernel32.dll", "CreateToolhelp32Snapshot");
        static const auto first = win32::systemFunction<Walk>(L"kernel32.dll", "Process32FirstW");
        static const auto next = win32::systemFunction<Walk>(L"kernel32.dll", "Process32NextW");
        if (!snapshot || !first || !next)
            return psapiProcesses(processes);
        win32::Handle list(snapshot(TH32CS_SNAPPROCESS, 0));
        if (!list.valid())
            return psapiProcesses(processes);
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = first(list.get(), &entry); more; more = next(list.get(), &entry))
            processes->push_back(ProcessEntry{entry.th32ProcessID, narrow(entry.szExeFile)});
        return ERROR_SUCCESS;
    }

    bool isAdmin() override
    {
        SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
        PSID administrators = nullptr;
        if (!::AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0,
                                        0, 0, 0, &administrators))
            return false;
        BOOL member = FALSE;
        if (!::CheckTokenMembership(nullptr, administrators, &member))
            member = FALSE;
        ::FreeSid(administrators);
        return member != FALSE;
    }

    std::uint32_t promptForCredentials(const std::string& message, const std::string& caption, std::uint32_t flags,
                                       UserNameBuffer* userName, PasswordBuffer* password) override
    {
        using Prompt = DWORD(WINAPI*)(PCREDUI_INFOW, PCWSTR, void*, DWORD, PWSTR, ULONG, PWSTR, ULONG, BOOL*,
                                      DWORD);
        static const win32::Library credui(L"credui.dll");
        static const auto prompt = credui.function<Prompt>("CredUIPromptForCredentialsW");
        if (!prompt)
            return credui.loaded() ? ERROR_PROC_NOT_FOUND : ERROR_MOD_NOT_FOUND;
        const std::wstring wideMessage = widen(message), wideCaption = widen(caption);
        CREDUI_INFOW info{};
        info.cbSize = sizeof info;
        info.pszMessageText = wideMessage.c_str();
        info.pszCaptionText = wideCaption.c_str();
        struct Secrets {
            wchar_t user[CREDUI_MAX_USERNAME_LENGTH + 1] = {};
            wchar_t password[CREDUI_MAX_PASSWORD_LENGTH + 1] = {};
            ~Secrets() { ::SecureZeroMemory(this, sizeof *this); }
        } secrets;
        BOOL save = FALSE;
        const DWORD code = prompt(&info, nullptr, nullptr, 0, secrets.user, ULONG(std::size(secrets.user)),
                                  secrets.password, ULONG(std::size(secrets.password)), &save, flags);
        if (code != ERROR_SUCCESS)
            return code;
        if (!win32::assignSecret(userName, secrets.user) || !win32::assignSecret(password, secrets.password))
            return ERROR_INSUFFICIENT_BUFFER;
        return ERROR_SUCCESS;
    }

    std::uint32_t parseUserName(const char* userName, UserNameBuffer* user, DomainBuffer* domain) override
    {
        using Parse = DWORD(WINAPI*)(PCWSTR, PWSTR, ULONG, PWSTR, ULONG);
        static const win32::Library credui(L"credui.dll");
        static const auto parse = credui.function<Parse>("CredUIParseUserNameW");
        user->wipe();
        domain->wipe();
        if (!parse)
            return credui.loaded() ? ERROR_PROC_NOT_FOUND : ERROR_MOD_NOT_FOUND;
        const win32::SecretWide name(userName);
        struct Parts {
            wchar_t user[CREDUI_MAX_USERNAME_LENGTH + 1] = {};
            wchar_t domain[CREDUI_MAX_DOMAIN_TARGET_LENGTH + 1] = {};
            ~Parts() { ::SecureZeroMemory(this, sizeof *this); }
        } parts;
        const DWORD code = parse(name.get(), parts.user, ULONG(std::size(parts.user)), parts.domain,
                                 ULONG(std::size(parts.domain)));
        if (code != ERROR_SUCCESS)
            return code;
        if (!win32::assignSecret(user, parts.user) || !win32::assignSecret(domain, parts.domain))
            return ERROR_INSUFFICIENT_BUFFER;
        return ERROR_SUCCESS;
    }
};

} // namespace

Processes& processes()
{
    static Win32Processes instance;
    return instance;
}

} // namespace winsteps::platform
