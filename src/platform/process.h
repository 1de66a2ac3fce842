#pragma once

#include "platform/common.h"
#include "winsteps_platform_export.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Processes of the Windows system interface: creation (also under other credentials),
// waiting, exit codes, termination, the process list, the administrator test and the
// credential prompt. Plain C++ only, like every interface header (see common.h); text is UTF-8.
//
// A process is created from one Windows command line, as CreateProcess does when it is given
// no application name: the program is the first token of the line, and the program itself
// splits the rest into its arguments (by the rules of CommandLineToArgvW, below).

namespace winsteps::platform {

// Win32 error codes of the process calls (the common ones are in common.h).
inline constexpr std::uint32_t ERROR_BAD_EXE_FORMAT = 193;
inline constexpr std::uint32_t ERROR_CANCELLED = 1223;
inline constexpr std::uint32_t ERROR_INVALID_ACCOUNT_NAME = 1315;
inline constexpr std::uint32_t ERROR_LOGON_FAILURE = 1326;

// GetExitCodeProcess of a process that still runs.
inline constexpr std::uint32_t STILL_ACTIVE = 259;

// WaitForSingleObject.
inline constexpr std::uint32_t INFINITE = 0xFFFFFFFFu;
inline constexpr std::uint32_t WAIT_OBJECT_0 = 0;
inline constexpr std::uint32_t WAIT_TIMEOUT = 258;
inline constexpr std::uint32_t WAIT_FAILED = 0xFFFFFFFFu;

// Access rights of OpenProcess.
inline constexpr std::uint32_t PROCESS_TERMINATE = 0x0001;
inline constexpr std::uint32_t PROCESS_VM_READ = 0x0010;
inline constexpr std::uint32_t PROCESS_QUERY_INFORMATION = 0x0400;
inline constexpr std::uint32_t PROCESS_SYNCHRONIZE = 0x00100000; // SYNCHRONIZE

// Buffer sizes of the credential prompt, in UTF-16 characters without the terminating zero.
inline constexpr std::size_t CREDUI_MAX_USERNAME_LENGTH = 513;
inline constexpr std::size_t CREDUI_MAX_DOMAIN_TARGET_LENGTH = 337;
inline constexpr std::size_t CREDUI_MAX_PASSWORD_LENGTH = 256;

// Flags of CredUIPromptForCredentials.
inline constexpr std::uint32_t CREDUI_FLAGS_DO_NOT_PERSIST = 0x2;
inline constexpr std::uint32_t CREDUI_FLAGS_REQUEST_ADMINISTRATOR = 0x4;
inline constexpr std::uint32_t CREDUI_FLAGS_USERNAME_TARGET_CREDENTIALS = 0x80000;

// Overwrites size bytes with zeros in a way the compiler cannot leave out, even when the
// memory is not read again.
WINSTEPS_PLATFORM_EXPORT void secureWipe(void* data, std::size_t size);

// A fixed buffer for secret text (user names, domains, passwords): it never reallocates, so
// no copy of the text is left behind in freed memory, and it is wiped when destroyed.
// Characters is the capacity in UTF-16 characters; the buffer holds that many in UTF-8.
template <std::size_t Characters>
class SecretBuffer
{
public:
    // Bytes, terminating zero included: at most three UTF-8 bytes per UTF-16 character.
    static constexpr std::size_t capacity = Characters * 3 + 1;

    SecretBuffer() { wipe(); }
    ~SecretBuffer() { wipe(); }
    SecretBuffer(const SecretBuffer&) = delete;
    SecretBuffer& operator=(const SecretBuffer&) = delete;

    const char* c_str() const { return m_data; }
    bool empty() const { return m_data[0] == '\0'; }
    std::size_t size() const
    {
        std::size_t n = 0;
        while (n < capacity && m_data[n] != '\0')
            ++n;
        return n;
    }

    // Copies text in. When it does not fit, the buffer is left empty and false returned.
    bool assign(const char* text, std::size_t length)
    {
        wipe();
        if (length >= capacity)
            return false;
        for (std::size_t i = 0; i < length; ++i)
            m_data[i] = text[i];
        return true;
    }
    bool assign(const char* text)
    {
        std::size_t length = 0;
        while (text[length] != '\0')
            ++length;
        return assign(text, length);
    }

    void wipe() { secureWipe(m_data, capacity); }

private:
    char m_data[capacity];
};

using UserNameBuffer = SecretBuffer<CREDUI_MAX_USERNAME_LENGTH>;
using DomainBuffer = SecretBuffer<CREDUI_MAX_DOMAIN_TARGET_LENGTH>;
using PasswordBuffer = SecretBuffer<CREDUI_MAX_PASSWORD_LENGTH>;

// One open process handle; the destructor closes it (CloseHandle). Several handles may stand
// for one process; the process object lives on while any of them is open. Every method may be
// called from any thread.
class WINSTEPS_PLATFORM_EXPORT ProcessHandle
{
public:
    virtual ~ProcessHandle();

    // GetProcessId.
    virtual std::uint32_t processId() const = 0;
    // WaitForSingleObject: WAIT_OBJECT_0 once the process has ended, WAIT_TIMEOUT when it
    // still runs after milliseconds (INFINITE: no limit), WAIT_FAILED without the
    // synchronisation right.
    virtual std::uint32_t wait(std::uint32_t milliseconds) = 0;
    // GetExitCodeProcess: STILL_ACTIVE while the process runs. ERROR_ACCESS_DENIED without
    // the query right, or when the code cannot be known. The code has 32 bits, except on the
    // emulated machine for a program of its host, whose exit status holds only the low 8 bits
    // (its emulated tools and terminate() keep all 32).
    virtual std::uint32_t getExitCode(std::uint32_t* code) = 0;
    // TerminateProcess: ends the process at once with exitCode. ERROR_ACCESS_DENIED without
    // the terminate right or when the process has already ended.
    virtual std::uint32_t terminate(std::uint32_t exitCode) = 0;
    // DuplicateHandle with the same access.
    virtual std::unique_ptr<ProcessHandle> duplicate() const = 0;
};

using ProcessHandlePtr = std::unique_ptr<ProcessHandle>;

// One entry of the process list (the tool-help snapshot): the bare executable file name.
struct ProcessEntry
{
    std::uint32_t processId = 0;
    std::string exeFile;
};

// The command line of a program and its arguments, as Windows programs build it: the
// program, then for each argument one blank and the argument unchanged (an argument that
// needs quotes carries its own). Only a program path with a blank or tab and no quotes of
// its own is put in quotes, so "C:\Program Files\x.exe" can never start "C:\Program.exe".
WINSTEPS_PLATFORM_EXPORT std::string buildCommandLine(const std::string& program, const std::vector<std::string>& arguments);

// The arguments a Windows program gets from its command line (CommandLineToArgvW):
// - the first token is the program: up to the next quote when it starts with one, else up
//   to the first blank or tab; backslashes mean nothing there;
// - the other arguments are separated by blanks and tabs outside quotes; quotes group and
//   are removed; 2n backslashes before a quote give n backslashes (the quote groups),
//   2n+1 give n backslashes and a literal quote; other backslashes stay as they are;
// - inside quotes, a doubled quote gives one literal quote and ends the quoted part ("a""b
//   gives a"b, and a closing quote after it opens them again); a tripled quote gives a
//   literal quote and stays inside.
// An empty or blank line gives no arguments at all.
WINSTEPS_PLATFORM_EXPORT std::vector<std::string> commandLineToArgv(const std::string& commandLine);

class WINSTEPS_PLATFORM_EXPORT Processes
{
public:
    virtual ~Processes();

    // CreateProcess with no application name, without handle inheritance, working
    // directory or window: the program is the first token of commandLine (see
    // commandLineToArgv). environment: the new process's whole environment ("NAME=value"
    // entries), or nullptr to inherit this process's. On success *process holds a handle
    // with every access right. ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND,
    // ERROR_ACCESS_DENIED, ERROR_BAD_EXE_FORMAT.
    virtual std::uint32_t createProcess(const std::string& commandLine, const std::vector<std::string>* environment,
                                        ProcessHandlePtr* process) = 0;

    // CreateProcessWithLogonW with logon flags 0: as createProcess, under the given account.
    // ERROR_LOGON_FAILURE when the account is unknown or the password is wrong.
    virtual std::uint32_t createProcessWithLogon(const char* user, const char* domain, const char* password,
                                                 const std::string& commandLine,
                                                 const std::vector<std::string>* environment,
                                                 ProcessHandlePtr* process) = 0;

    // OpenProcess. ERROR_INVALID_PARAMETER when no such process exists, ERROR_ACCESS_DENIED
    // when a right is refused.
    virtual std::uint32_t openProcess(std::uint32_t access, std::uint32_t processId, ProcessHandlePtr* process) = 0;

    // Posts a close request (WM_CLOSE) to every top-level window of the process: a polite
    // request to end that the program may refuse. ERROR_INVALID_PARAMETER for no such process.
    virtual std::uint32_t postCloseToWindows(std::uint32_t processId) = 0;

    // A snapshot of the running processes (CreateToolhelp32Snapshot and Process32First/Next),
    // in the order the system lists them.
    virtual std::uint32_t enumProcesses(std::vector<ProcessEntry>* processes) = 0;

    // Whether the calling thread's token (or the process token) is in the built-in
    // administrators group.
    virtual bool isAdmin() = 0;

    // CredUIPromptForCredentialsW without parent window or target name, with message,
    // caption and flags. ERROR_SUCCESS with the typed user name and password,
    // ERROR_CANCELLED when the user cancels, ERROR_MOD_NOT_FOUND without credui.dll.
    virtual std::uint32_t promptForCredentials(const std::string& message, const std::string& caption,
                                               std::uint32_t flags, UserNameBuffer* userName,
                                               PasswordBuffer* password) = 0;

    // CredUIParseUserNameW: "DOMAIN\user" gives user and domain; "user@domain" gives the
    // whole name as user and an empty domain; anything else ERROR_INVALID_ACCOUNT_NAME.
    virtual std::uint32_t parseUserName(const char* userName, UserNameBuffer* user, DomainBuffer* domain) = 0;
};

// The processes of this process's machine.
WINSTEPS_PLATFORM_EXPORT Processes& processes();

} // namespace winsteps::platform
