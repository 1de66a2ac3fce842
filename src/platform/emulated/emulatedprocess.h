#pragma once

#include "platform/process.h"

#include <cstdint>
#include <string>
#include <vector>

// Processes of the emulated machine: real Linux child processes.
//
// - A command line is split as a Windows program splits it (commandLineToArgv); its first
//   token is the program and the child's whole argv (argv[0] included, as written). The
//   program goes to posix_spawn (no shell): "C:\..." is the machine's drive C:, "\" separates
//   folders, a bare name is searched in PATH. A program gets a console of its own: its
//   standard input is empty and its output and error are appended to
//   "<machine folder>/console.log". It inherits no other descriptor.
// - Windows system programs are emulated: when a program's file name (compared without
//   regard to case) is one the machine maps to a tool, the child is the winsteps executable
//   running "tool NAME ARGUMENTS..." on the same machine folder, with the program's file name
//   as its argv[0].
// - The process list is the machine's own (see processrecords.h): its system processes, then
//   the processes started on it by any process using the folder, in the order they started,
//   each under its program's file name. Finding, opening, waiting for, closing and ending
//   work on that list only: a process of the host is never seen, waited for or signalled.
// - Every child is reaped as soon as it ends, whether or not a handle is still open: no
//   zombies. An ended child can still be opened while a handle to it is open, and no more
//   once its last handle is closed. Exit codes: the code the program exits with; for an emulated tool the whole
//   32-bit code it reports; the code given to terminate(); 0 after a close request that
//   ended it; 128 + the signal number for any other signal. The exit code of a process that
//   another process started cannot be known.
// - isAdmin, the credential prompt and log-on answer from the machine's profile:
//     "administrator": bool
//     "credentials": {"user": "DOMAIN\\name", "password": "..."}   what the user types into
//                    the prompt (absent or null: the user cancels)
//     "accounts": {"DOMAIN\\name": "password", ...}   the administrator accounts a log-on
//                    accepts, each with its password (names compare without regard to case,
//                    passwords exactly); absent: "COMPUTERNAME\\Administrator" with an empty
//                    password
//     "tools": {"file.exe": "tool" | null}    more (or fewer) emulated system programs
//   The built-in tools are listed by builtinTools().

namespace winsteps::platform::emulated {

// Environment of an emulated tool: the machine folder and profile it acts on, and the
// descriptor on which it reports its 32-bit exit code.
inline constexpr const char* toolMachineVariable = "WINSTEPS_MACHINE";
inline constexpr const char* toolProfileVariable = "WINSTEPS_PROFILE";
inline constexpr const char* toolExitCodeVariable = "WINSTEPS_EXIT_CODE_FD";
// Names the winsteps executable for processes that are not winsteps themselves.
inline constexpr const char* toolHostVariable = "WINSTEPS_TOOL_HOST";

struct ToolMapping
{
    const char* fileName; // lower case
    const char* tool;
};

// The system programs every emulated machine maps to tools, unless its profile says otherwise.
WINSTEPS_PLATFORM_EXPORT const std::vector<ToolMapping>& builtinTools();

// The tool that the current machine runs for program (by its file name), or "".
WINSTEPS_PLATFORM_EXPORT std::string toolForProgram(const std::string& program);

// The winsteps executable: this process's own when it is winsteps, else the one named by
// WINSTEPS_TOOL_HOST; "" when there is none.
WINSTEPS_PLATFORM_EXPORT std::string toolHost();

// In an emulated tool: opens the machine named by the tool's environment. False + error text.
WINSTEPS_PLATFORM_EXPORT bool openToolMachine(std::string* error);

// In an emulated tool: hands the whole exit code to the process that started the tool (its
// exit status carries only the low 8 bits). Does nothing when not started as a tool.
WINSTEPS_PLATFORM_EXPORT void reportToolExitCode(std::uint32_t code);

// The last path component of a program ("/" or "\" separated).
WINSTEPS_PLATFORM_EXPORT std::string programFileName(const std::string& program);

// The processes this process started on the current machine that still run, in the order
// they started.
WINSTEPS_PLATFORM_EXPORT std::vector<ProcessEntry> startedProcesses();

// Ends every process started on the current machine (by any process using its folder):
// first a close request, then, for those still running after graceMilliseconds, for good.
// System processes are left alone. For a machine that is about to go away.
WINSTEPS_PLATFORM_EXPORT void endMachineProcesses(std::uint32_t graceMilliseconds);

class EmulatedMachine;
class MachineProfile;

// The tool that a machine of that profile runs for program (by its file name), or "".
std::string toolForProgram(const MachineProfile& profile, const std::string& program);

// Whether a log-on with these credentials is accepted by a machine of that profile.
bool logonAccepted(const MachineProfile& profile, const char* user, const char* domain, const char* password);

// The process calls of one emulated machine (see above).
class WINSTEPS_PLATFORM_EXPORT EmulatedProcesses final : public Processes
{
public:
    explicit EmulatedProcesses(EmulatedMachine& machine);
    EmulatedProcesses(const EmulatedProcesses&) = delete;
    EmulatedProcesses& operator=(const EmulatedProcesses&) = delete;

    std::uint32_t createProcess(const std::string& commandLine, const std::vector<std::string>* environment,
                                ProcessHandlePtr* process) override;
    std::uint32_t createProcessWithLogon(const char* user, const char* domain, const char* password,
                                         const std::string& commandLine, const std::vector<std::string>* environment,
                                         ProcessHandlePtr* process) override;
    std::uint32_t openProcess(std::uint32_t access, std::uint32_t processId, ProcessHandlePtr* process) override;
    std::uint32_t postCloseToWindows(std::uint32_t processId) override;
    std::uint32_t enumProcesses(std::vector<ProcessEntry>* processes) override;
    bool isAdmin() override;
    std::uint32_t promptForCredentials(const std::string& message, const std::string& caption, std::uint32_t flags,
                                       UserNameBuffer* userName, PasswordBuffer* password) override;
    std::uint32_t parseUserName(const char* userName, UserNameBuffer* user, DomainBuffer* domain) override;

private:
    EmulatedMachine& m_machine;
};

} // namespace winsteps::platform::emulated
