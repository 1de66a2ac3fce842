// Processes of the emulated machine: starting them, the machine's process list, the calls.

#include "platform/emulated/emulatedprocess.h"

#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/processchildren.h"
#include "platform/emulated/processrecords.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

extern char** environ;

namespace winsteps::platform::emulated {

namespace {

constexpr std::uint32_t allAccess = PROCESS_TERMINATE | PROCESS_VM_READ | PROCESS_QUERY_INFORMATION
                                    | PROCESS_SYNCHRONIZE;

// --- starting ------------------------------------------------------------------------

// Whether path could be a program for this system: a file that is not a plain readable one
// (it cannot be told) or one that begins as a program or a script does. A file that is read
// and found to be neither is no program at all, whatever its permissions.
bool isProgram(const std::string& path)
{
    struct stat info;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return true;
    char head[4] = {};
    const bool plainFile = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    const ssize_t n = plainFile ? ::read(fd, head, sizeof head) : -1;
    ::close(fd);
    if (n < 0)
        return true;
    return (n == 4 && std::memcmp(head, "\x7f" "ELF", 4) == 0) || (n >= 2 && head[0] == '#' && head[1] == '!');
}

std::uint32_t spawnError(int error, const std::string& path)
{
    switch (error) {
    case ENOENT: {
        const std::string::size_type slash = path.rfind('/');
        struct stat info;
        if (slash != std::string::npos && slash > 0 && ::stat(path.substr(0, slash).c_str(), &info) != 0)
            return ERROR_PATH_NOT_FOUND;
        return ERROR_FILE_NOT_FOUND;
    }
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case ENOEXEC:
        return ERROR_BAD_EXE_FORMAT;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EACCES:
        return isProgram(path) ? ERROR_ACCESS_DENIED : ERROR_BAD_EXE_FORMAT;
    default:
        return ERROR_ACCESS_DENIED;
    }
}

// The host path of a program: "C:\..." lies on the machine's drive C:, "\" separates folders.
std::string hostProgramPath(EmulatedMachine& machine, const std::string& program)
{
    // A bare name is looked up in PATH when it is started.
    if (program.find_first_of("/\\:") == std::string::npos)
        return program;
    return machine.files().localFilePath(program);
}

// Environment entries without those naming one of the variables.
std::vector<std::string> withoutVariables(const std::vector<std::string>& entries,
                                          std::initializer_list<const char*> names)
{
    std::vector<std::string> kept;
    for (const std::string& entry : entries) {
        bool named = false;
        for (const char* name : names) {
            const std::size_t length = std::strlen(name);
            named = named || (entry.compare(0, length, name) == 0 && entry.size() > length && entry[length] == '=');
        }
        if (!named)
            kept.push_back(entry);
    }
    return kept;
}

std::vector<std::string> inheritedEnvironment()
{
    std::vector<std::string> entries;
    for (char** entry = environ; entry && *entry; ++entry)
        entries.emplace_back(*entry);
    return entries;
}

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> list;
    list.reserve(strings.size() + 1);
    for (std::string& s : strings)
        list.push_back(s.data());
    list.push_back(nullptr);
    return list;
}

// Descriptors from first up are closed in the child; the file actions run in order, so a
// descriptor moved below first by an earlier action survives.
bool closeDescriptorsFrom(posix_spawn_file_actions_t* actions, int first)
{
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    return posix_spawn_file_actions_addclosefrom_np(actions, first) == 0;
#else
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir)
        return false;
    const int own = ::dirfd(dir);
    while (dirent* entry = ::readdir(dir)) {
        const int fd = std::atoi(entry->d_name);
        if (fd >= first && fd != own && entry->d_name[0] != '.')
            posix_spawn_file_actions_addclose(actions, fd);
    }
    ::closedir(dir);
    return true;
#endif
}

std::uint32_t spawn(EmulatedMachine& machine, const std::string& commandLine,
                    const std::vector<std::string>* environment, ProcessHandlePtr* process)
{
    process->reset();
    // What the program gets: the arguments a Windows program finds in its command line.
    const std::vector<std::string> words = commandLineToArgv(commandLine);
    if (words.empty() || words.front().empty())
        return ERROR_FILE_NOT_FOUND;
    const std::string& program = words.front();
    const std::vector<std::string> arguments(words.begin() + 1, words.end());
    const std::string tool = toolForProgram(machine.profile(), program);
    std::string path;
    std::vector<std::string> argv;
    std::vector<std::string> envp = environment ? *environment : inheritedEnvironment();
    int reportPipe[2] = {-1, -1};

    if (!tool.empty()) {
        path = toolHost();
        if (path.empty())
            return ERROR_FILE_NOT_FOUND;
        argv = {programFileName(program), "tool", tool};
        if (::pipe2(reportPipe, O_CLOEXEC) != 0)
            return ERROR_NOT_ENOUGH_MEMORY;
        if (reportPipe[1] == 3) { // would be left close-on-exec by dup2(3, 3)
            const int moved = ::fcntl(reportPipe[1], F_DUPFD_CLOEXEC, 4);
            closeFd(reportPipe[1]);
            reportPipe[1] = moved;
        }
        ::fcntl(reportPipe[0], F_SETFL, O_NONBLOCK);
        envp = withoutVariables(envp, {toolMachineVariable, toolProfileVariable, toolExitCodeVariable});
        envp.push_back(std::string(toolMachineVariable) + '=' + machine.folder().toStdString());
        envp.push_back(std::string(toolProfileVariable) + '=' + machine.profile().name().toStdString());
        envp.push_back(std::string(toolExitCodeVariable) + "=3");
    } else {
        path = hostProgramPath(machine, program);
        if (path.empty())
            return ERROR_FILE_NOT_FOUND;
        argv = {program};
    }
    argv.insert(argv.end(), arguments.begin(), arguments.end());

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    // A console program gets a console of its own: nothing to read, and its output kept
    // in the machine's console log rather than mixed into this process's output. Only
    // those three descriptors (and a tool's report pipe) reach the child.
    const std::string folder = machine.folder().toStdString();
    const std::string console = ::access(folder.c_str(), W_OK) == 0 ? folder + "/console.log" : "/dev/null";
    bool prepared = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) == 0
                    && posix_spawn_file_actions_addopen(&actions, 1, console.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644) == 0
                    && posix_spawn_file_actions_adddup2(&actions, 1, 2) == 0;
    if (reportPipe[1] >= 0)
        prepared = prepared && posix_spawn_file_actions_adddup2(&actions, reportPipe[1], 3) == 0;
    prepared = prepared && closeDescriptorsFrom(&actions, reportPipe[1] >= 0 ? 4 : 3);
    // A fresh signal state: no blocked signals, default handlers.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argvPointers = pointers(argv);
    std::vector<char*> envPointers = pointers(envp);
    pid_t pid = 0;
    int error = ENOMEM;
    if (prepared) {
        error = path.find('/') == std::string::npos
                    ? posix_spawnp(&pid, path.c_str(), &actions, &attributes, argvPointers.data(), envPointers.data())
                    : posix_spawn(&pid, path.c_str(), &actions, &attributes, argvPointers.data(), envPointers.data());
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    closeFd(reportPipe[1]);
    if (error != 0) {
        closeFd(reportPipe[0]);
        return spawnError(error, path);
    }

    // Listed on the machine under its program's file name before anybody can ask for it.
    auto child = std::make_shared<Child>();
    child->pid = pid;
    child->folder = folder;
    child->record = {std::uint32_t(pid), processStartTime(pid), programFileName(program)};
    child->pidfd = openPidfd(pid);
    child->exitCodePipe = reportPipe[0];
    if (child->record.startTime != 0) // else it has ended already
        recordProcess(folder, child->record);
    *process = childHandle(child, allAccess); // first: a child reaped with a handle open lives on
    reapWhenEnded(child);
    return ERROR_SUCCESS;
}

} // namespace

// --- the machine's process list ----------------------------------------------------------

std::vector<ProcessEntry> startedProcesses()
{
    const std::string folder = currentMachine().folder().toStdString();
    std::vector<ProcessEntry> list;
    for (const std::shared_ptr<Child>& child : startedChildren()) {
        std::lock_guard<std::mutex> lock(child->mutex);
        if (child->folder == folder && !child->reaped && !isZombie(*child))
            list.push_back({std::uint32_t(child->pid), child->record.name});
    }
    return list;
}

void endMachineProcesses(std::uint32_t graceMilliseconds)
{
    Processes& system = processes();
    std::vector<ProcessEntry> list;
    system.enumProcesses(&list);
    std::vector<ProcessHandlePtr> handles;
    for (const ProcessEntry& entry : list) {
        ProcessHandlePtr handle;
        if (system.openProcess(PROCESS_SYNCHRONIZE | PROCESS_TERMINATE, entry.processId, &handle) == ERROR_SUCCESS) {
            system.postCloseToWindows(entry.processId);
            handles.push_back(std::move(handle));
        }
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMilliseconds);
    for (const ProcessHandlePtr& handle : handles) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (handle->wait(std::uint32_t(std::max<std::int64_t>(0, left.count()))) != WAIT_OBJECT_0) {
            handle->terminate(1);
            handle->wait(1000);
        }
    }
}

// --- EmulatedProcesses -------------------------------------------------------------------

EmulatedProcesses::EmulatedProcesses(EmulatedMachine& machine)
    : m_machine(machine)
{
}

std::uint32_t EmulatedProcesses::createProcess(const std::string& commandLine,
                                               const std::vector<std::string>* environment, ProcessHandlePtr* process)
{
    return spawn(m_machine, commandLine, environment, process);
}

std::uint32_t EmulatedProcesses::createProcessWithLogon(const char* user, const char* domain, const char* password,
                                                        const std::string& commandLine,
                                                        const std::vector<std::string>* environment,
                                                        ProcessHandlePtr* process)
{
    process->reset();
    if (!logonAccepted(m_machine.profile(), user, domain, password))
        return ERROR_LOGON_FAILURE;
    return spawn(m_machine, commandLine, environment, process);
}

std::uint32_t EmulatedProcesses::openProcess(std::uint32_t access, std::uint32_t processId, ProcessHandlePtr* process)
{
    process->reset();
    if (isSystemProcess(m_machine.profile(), processId)) {
        if (access & PROCESS_TERMINATE) // the system's own processes cannot be ended
            return ERROR_ACCESS_DENIED;
        *process = openSystemProcess(processId, access);
        return ERROR_SUCCESS;
    }
    if (processId == 0 || processId >= systemProcessIdBase)
        return ERROR_INVALID_PARAMETER;
    switch (openChild(pid_t(processId), access, process)) {
    case ChildLookup::Opened:
        return ERROR_SUCCESS;
    case ChildLookup::Gone:
        return ERROR_INVALID_PARAMETER;
    case ChildLookup::NotOurs:
        break;
    }
    // Started on this machine by another process.
    MachineProcess recorded;
    if (!findRecordedProcess(m_machine.folder().toStdString(), processId, &recorded))
        return ERROR_INVALID_PARAMETER;
    if ((access & PROCESS_TERMINATE) && ::kill(pid_t(processId), 0) != 0 && errno == EPERM)
        return ERROR_ACCESS_DENIED;
    *process = openRecordedProcess(recorded, access);
    return ERROR_SUCCESS;
}

std::uint32_t EmulatedProcesses::postCloseToWindows(std::uint32_t processId)
{
    if (isSystemProcess(m_machine.profile(), processId))
        return ERROR_ACCESS_DENIED;
    if (processId == 0 || processId >= systemProcessIdBase)
        return ERROR_INVALID_PARAMETER;
    if (std::shared_ptr<Child> child = startedChild(pid_t(processId))) {
        std::lock_guard<std::mutex> lock(child->mutex);
        if (child->reaped || isZombie(*child))
            return ERROR_INVALID_PARAMETER;
        child->closeRequested = true;
        return ::kill(child->pid, SIGTERM) == 0 ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    }
    MachineProcess recorded;
    if (!findRecordedProcess(m_machine.folder().toStdString(), processId, &recorded))
        return ERROR_INVALID_PARAMETER;
    return signalRecordedProcess(recorded, SIGTERM) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

std::uint32_t EmulatedProcesses::enumProcesses(std::vector<ProcessEntry>* processes)
{
    processes->clear();
    const std::vector<std::string> system = systemProcessNames(m_machine.profile());
    for (std::size_t i = 0; i < system.size(); ++i)
        processes->push_back({systemProcessId(i), system[i]});
    const std::string folder = m_machine.folder().toStdString();
    for (const MachineProcess& recorded : recordedProcesses(folder))
        processes->push_back({recorded.processId, recorded.name});
    // This process's own children, also where the folder could not take their records.
    for (const ProcessEntry& started : startedProcesses()) {
        const bool listed = std::any_of(processes->begin(), processes->end(),
                                        [&started](const ProcessEntry& e) { return e.processId == started.processId; });
        if (!listed)
            processes->push_back(started);
    }
    return ERROR_SUCCESS;
}

} // namespace winsteps::platform::emulated
