#include "platform/emulated/emulatedprocess.h"

#include "platform/emulated/emulatedmachine.h"

#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace winsteps::platform {

Processes& processes()
{
    // Never destroyed: children may still be reaped while the process shuts down.
    static auto* instance = new emulated::EmulatedProcesses;
    return *instance;
}

namespace emulated {

namespace {

constexpr std::uint32_t allAccess = PROCESS_TERMINATE | PROCESS_VM_READ | PROCESS_QUERY_INFORMATION
                                    | PROCESS_SYNCHRONIZE;

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    return text;
}

int openPidfd(pid_t pid)
{
#ifdef SYS_pidfd_open
    const long fd = ::syscall(SYS_pidfd_open, pid, 0);
    return fd < 0 ? -1 : int(fd);
#else
    (void)pid;
    return -1;
#endif
}

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// poll() with a Windows time-out (INFINITE: no limit).
int pollTimeout(std::uint32_t milliseconds)
{
    return milliseconds == INFINITE ? -1 : int(std::min<std::uint32_t>(milliseconds, INT_MAX));
}

// --- children ------------------------------------------------------------------------

// A child process this process started. Guarded by its mutex; the pid stays ours (and cannot
// be reused) until reaped is set, which happens under the same mutex.
struct Child
{
    pid_t pid = 0;
    int pidfd = -1;        // used by the reaper only
    int exitCodePipe = -1; // read end of an emulated tool's exit-code report
    std::mutex mutex;
    std::condition_variable ended;
    bool reaped = false;
    std::uint32_t exitCode = 0;
    bool terminated = false;
    std::uint32_t terminateCode = 0;
    bool closeRequested = false;
};

// The child has ended but is not reaped yet. Caller holds child.mutex.
bool isZombie(const Child& child)
{
    siginfo_t info{};
    return ::waitid(P_PID, id_t(child.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == child.pid;
}

// The code a tool reported on its pipe, when it reported a whole one.
bool readReportedCode(int fd, std::uint32_t* code)
{
    if (fd < 0)
        return false;
    char text[32] = {};
    ssize_t n;
    do {
        n = ::read(fd, text, sizeof text - 1);
    } while (n < 0 && errno == EINTR);
    if (n <= 1 || text[n - 1] != '\n')
        return false;
    text[n - 1] = '\0';
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value > 0xFFFFFFFFul)
        return false;
    *code = std::uint32_t(value);
    return true;
}

// Reaps every child as soon as it ends, so that none is left a zombie, whether or not a
// handle to it is still open. One thread for the whole process, started with the first
// child; it sleeps in poll() on the children's pidfds and a wake-up descriptor.
class Reaper
{
public:
    static Reaper& instance()
    {
        static auto* reaper = new Reaper; // never destroyed: its thread outlives main()
        return *reaper;
    }

    void add(const std::shared_ptr<Child>& child)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_children.push_back(child);
        if (!m_started) {
            m_started = true;
            std::thread([this] { loop(); }).detach();
        }
        wake();
    }

    std::shared_ptr<Child> find(pid_t pid)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const std::shared_ptr<Child>& child : m_children) {
            if (child->pid == pid)
                return child;
        }
        return nullptr;
    }

private:
    Reaper() : m_wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

    void wake()
    {
        if (m_wake >= 0) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t n = ::write(m_wake, &one, sizeof one);
        }
    }

    void loop()
    {
        std::vector<std::shared_ptr<Child>> children;
        std::vector<pollfd> fds;
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                children = m_children;
            }
            fds.clear();
            if (m_wake >= 0)
                fds.push_back({m_wake, POLLIN, 0});
            bool withoutPidfd = m_wake < 0;
            for (const std::shared_ptr<Child>& child : children) {
                if (child->pidfd >= 0)
                    fds.push_back({child->pidfd, POLLIN, 0});
                else
                    withoutPidfd = true;
            }
            // Children without a pidfd are looked at every 20 ms.
            const int n = ::poll(fds.data(), nfds_t(fds.size()), withoutPidfd ? 20 : -1);
            if (n < 0 && errno != EINTR && errno != EAGAIN)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (m_wake >= 0) {
                std::uint64_t count;
                [[maybe_unused]] const ssize_t r = ::read(m_wake, &count, sizeof count);
            }
            for (const std::shared_ptr<Child>& child : children) {
                if (reap(*child)) {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_children.erase(std::remove(m_children.begin(), m_children.end(), child), m_children.end());
                }
            }
            children.clear();
        }
    }

    // True once the child is reaped.
    static bool reap(Child& child)
    {
        std::lock_guard<std::mutex> lock(child.mutex);
        if (child.reaped)
            return true;
        int status = 0;
        const pid_t r = ::waitpid(child.pid, &status, WNOHANG);
        if (r == 0 || (r < 0 && errno == EINTR))
            return false;
        // r < 0 otherwise: somebody else reaped it; the child is gone either way.
        std::uint32_t reported = 0;
        const bool hasReport = readReportedCode(child.exitCodePipe, &reported);
        if (child.terminated)
            child.exitCode = child.terminateCode;
        else if (hasReport)
            child.exitCode = reported;
        else if (r > 0 && WIFEXITED(status))
            child.exitCode = std::uint32_t(WEXITSTATUS(status));
        else if (r > 0 && WIFSIGNALED(status))
            child.exitCode = child.closeRequested && WTERMSIG(status) == SIGTERM ? 0 : 128u + std::uint32_t(WTERMSIG(status));
        closeFd(child.exitCodePipe);
        closeFd(child.pidfd);
        child.reaped = true;
        child.ended.notify_all();
        return true;
    }

    std::mutex m_mutex;
    std::vector<std::shared_ptr<Child>> m_children; // not yet reaped
    const int m_wake;
    bool m_started = false;
};

class ChildHandle final : public ProcessHandle
{
public:
    ChildHandle(std::shared_ptr<Child> child, std::uint32_t access)
        : m_child(std::move(child))
        , m_access(access)
    {
    }

    std::uint32_t processId() const override { return std::uint32_t(m_child->pid); }

    std::uint32_t wait(std::uint32_t milliseconds) override
    {
        if (!(m_access & PROCESS_SYNCHRONIZE))
            return WAIT_FAILED;
        std::unique_lock<std::mutex> lock(m_child->mutex);
        const auto done = [this] { return m_child->reaped; };
        if (milliseconds == INFINITE)
            m_child->ended.wait(lock, done);
        else
            m_child->ended.wait_for(lock, std::chrono::milliseconds(milliseconds), done);
        return m_child->reaped ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    }

    std::uint32_t getExitCode(std::uint32_t* code) override
    {
        if (!(m_access & PROCESS_QUERY_INFORMATION))
            return ERROR_ACCESS_DENIED;
        std::lock_guard<std::mutex> lock(m_child->mutex);
        *code = m_child->reaped ? m_child->exitCode : STILL_ACTIVE;
        return ERROR_SUCCESS;
    }

    std::uint32_t terminate(std::uint32_t exitCode) override
    {
        if (!(m_access & PROCESS_TERMINATE))
            return ERROR_ACCESS_DENIED;
        std::lock_guard<std::mutex> lock(m_child->mutex);
        // Windows refuses to terminate a process that has already ended.
        if (m_child->reaped || isZombie(*m_child))
            return ERROR_ACCESS_DENIED;
        if (::kill(m_child->pid, SIGKILL) != 0)
            return ERROR_ACCESS_DENIED;
        m_child->terminated = true;
        m_child->terminateCode = exitCode;
        return ERROR_SUCCESS;
    }

    ProcessHandlePtr duplicate() const override { return std::make_unique<ChildHandle>(m_child, m_access); }

private:
    std::shared_ptr<Child> m_child;
    std::uint32_t m_access;
};

// --- processes this process did not start --------------------------------------------

// The state letter of /proc/PID/stat, or 0 when the process is gone.
char processState(pid_t pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", int(pid));
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char text[512];
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n <= 0)
        return 0;
    text[n] = '\0';
    // "pid (comm) S ...": the name may hold blanks and parentheses; the state follows the last ")".
    const char* close = std::strrchr(text, ')');
    return close && close[1] == ' ' ? close[2] : 0;
}

bool isAlive(pid_t pid)
{
    const char state = processState(pid);
    return state != 0 && state != 'Z' && state != 'X';
}

// A handle to a process of somebody else: waits on a pidfd. Its exit code cannot be known.
class ForeignHandle final : public ProcessHandle
{
public:
    ForeignHandle(pid_t pid, int pidfd, std::uint32_t access)
        : m_pid(pid)
        , m_pidfd(pidfd)
        , m_access(access)
    {
    }
    ~ForeignHandle() override { closeFd(m_pidfd); }

    std::uint32_t processId() const override { return std::uint32_t(m_pid); }

    std::uint32_t wait(std::uint32_t milliseconds) override
    {
        if (!(m_access & PROCESS_SYNCHRONIZE))
            return WAIT_FAILED;
        if (m_pidfd >= 0) {
            pollfd fd{m_pidfd, POLLIN, 0};
            int n;
            do {
                n = ::poll(&fd, 1, pollTimeout(milliseconds));
            } while (n < 0 && errno == EINTR);
            if (n > 0 || !isAlive(m_pid))
                return WAIT_OBJECT_0;
            return n == 0 ? WAIT_TIMEOUT : WAIT_FAILED;
        }
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        while (isAlive(m_pid)) {
            if (milliseconds != INFINITE && std::chrono::steady_clock::now() >= until)
                return WAIT_TIMEOUT;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return WAIT_OBJECT_0;
    }

    std::uint32_t getExitCode(std::uint32_t* code) override
    {
        if (!(m_access & PROCESS_QUERY_INFORMATION))
            return ERROR_ACCESS_DENIED;
        if (!isAlive(m_pid)) // only its parent learns how it ended
            return ERROR_ACCESS_DENIED;
        *code = STILL_ACTIVE;
        return ERROR_SUCCESS;
    }

    std::uint32_t terminate(std::uint32_t) override
    {
        if (!(m_access & PROCESS_TERMINATE) || !isAlive(m_pid))
            return ERROR_ACCESS_DENIED;
        int result = -1;
#ifdef SYS_pidfd_send_signal
        if (m_pidfd >= 0)
            result = int(::syscall(SYS_pidfd_send_signal, m_pidfd, SIGKILL, nullptr, 0));
        else
#endif
            result = ::kill(m_pid, SIGKILL);
        return result == 0 ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    }

    ProcessHandlePtr duplicate() const override
    {
        const int fd = m_pidfd >= 0 ? ::fcntl(m_pidfd, F_DUPFD_CLOEXEC, 3) : -1;
        return std::make_unique<ForeignHandle>(m_pid, fd, m_access);
    }

private:
    pid_t m_pid;
    int m_pidfd;
    std::uint32_t m_access;
};

// --- starting ------------------------------------------------------------------------

QJsonObject profileObject(const char* key)
{
    return currentMachine().profile().json().value(QLatin1String(key)).toObject();
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
    default:
        return ERROR_ACCESS_DENIED;
    }
}

// The host path of a program: "C:\..." lies on the machine's drive C:, "\" separates folders.
std::string hostProgramPath(const std::string& program)
{
    QString path = currentMachine().hostPath(QString::fromStdString(program));
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return path.toStdString();
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

// The parent of a spawn goes on while the kernel still sets up the new program: for a moment
// the process has no command line, so the process list would not know its name. Windows
// lists a process under its name as soon as CreateProcess returns; so does this.
void waitUntilListed(pid_t pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/cmdline", int(pid));
    for (int attempt = 0; attempt < 10000; ++attempt) { // at most about a second
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return; // gone already
        char first = 0;
        const ssize_t n = ::read(fd, &first, 1);
        ::close(fd);
        const char state = processState(pid);
        if (n != 0 || state == 0 || state == 'Z' || state == 'X')
            return;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
}

std::uint32_t spawn(const std::string& program, const std::vector<std::string>& arguments,
                    const std::vector<std::string>* environment, ProcessHandlePtr* process)
{
    process->reset();
    const std::string tool = toolForProgram(program);
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
        EmulatedMachine& machine = currentMachine();
        envp.push_back(std::string(toolMachineVariable) + '=' + machine.folder().toStdString());
        envp.push_back(std::string(toolProfileVariable) + '=' + machine.profile().name().toStdString());
        envp.push_back(std::string(toolExitCodeVariable) + "=3");
    } else {
        path = hostProgramPath(program);
        if (path.empty())
            return ERROR_FILE_NOT_FOUND;
        argv = {path};
    }
    argv.insert(argv.end(), arguments.begin(), arguments.end());

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    // A console program gets a console of its own: nothing to read, and its output kept
    // in the machine's console log rather than mixed into this process's output. Only
    // those three descriptors (and a tool's report pipe) reach the child.
    const std::string folder = currentMachine().folder().toStdString();
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

    waitUntilListed(pid);
    auto child = std::make_shared<Child>();
    child->pid = pid;
    child->pidfd = openPidfd(pid);
    child->exitCodePipe = reportPipe[0];
    Reaper::instance().add(child);
    *process = std::make_unique<ChildHandle>(child, allAccess);
    return ERROR_SUCCESS;
}

// "DOMAIN\user" into its parts; a user principal name stays whole.
std::uint32_t splitUserName(const std::string& name, std::string* user, std::string* domain)
{
    const std::string::size_type backslash = name.find('\\');
    if (backslash != std::string::npos) {
        if (backslash == 0 || backslash + 1 == name.size() || name.find('\\', backslash + 1) != std::string::npos)
            return ERROR_INVALID_ACCOUNT_NAME;
        *domain = name.substr(0, backslash);
        *user = name.substr(backslash + 1);
        return ERROR_SUCCESS;
    }
    const std::string::size_type at = name.find('@');
    if (at != std::string::npos && at > 0 && at + 1 < name.size()) {
        *user = name;
        domain->clear();
        return ERROR_SUCCESS;
    }
    return ERROR_INVALID_ACCOUNT_NAME;
}

// Overwrites a temporary copy of secret text before it is freed.
void wipe(std::string& text)
{
    secureWipe(text.data(), text.size());
    text.clear();
}

void wipe(QByteArray& text)
{
    secureWipe(text.data(), std::size_t(text.size()));
    text.clear();
}

} // namespace

// --- tools ---------------------------------------------------------------------------

const std::vector<ToolMapping>& builtinTools()
{
    static const std::vector<ToolMapping> tools = {
        {"ping.exe", "ping"},
    };
    return tools;
}

std::string programFileName(const std::string& program)
{
    const std::string::size_type separator = program.find_last_of("/\\");
    return separator == std::string::npos ? program : program.substr(separator + 1);
}

std::string toolForProgram(const std::string& program)
{
    const std::string name = lower(programFileName(program));
    if (name.empty())
        return std::string();
    const QJsonObject tools = profileObject("tools");
    for (auto it = tools.begin(); it != tools.end(); ++it) {
        if (lower(it.key().toStdString()) == name)
            return it.value().isString() ? it.value().toString().toStdString() : std::string();
    }
    for (const ToolMapping& mapping : builtinTools()) {
        if (name == mapping.fileName)
            return mapping.tool;
    }
    return std::string();
}

std::string toolHost()
{
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        self[n] = '\0';
        if (programFileName(self) == "winsteps")
            return self;
    }
    const char* named = std::getenv(toolHostVariable);
    return named && *named && ::access(named, X_OK) == 0 ? std::string(named) : std::string();
}

namespace {
int toolReportFd = -1; // set once, before any thread of the tool starts
} // namespace

bool openToolMachine(std::string* error)
{
    if (const char* fd = std::getenv(toolExitCodeVariable)) {
        char* end = nullptr;
        const long value = std::strtol(fd, &end, 10);
        if (end != fd && *end == '\0' && value >= 3 && value < INT_MAX && ::fcntl(int(value), F_GETFD) >= 0) {
            toolReportFd = int(value);
            // Programs that this tool starts in turn must not inherit the report pipe.
            ::fcntl(toolReportFd, F_SETFD, FD_CLOEXEC);
        }
        ::unsetenv(toolExitCodeVariable);
    }
    const char* folder = std::getenv(toolMachineVariable);
    const char* profile = std::getenv(toolProfileVariable);
    if (!folder || !*folder) {
        if (error)
            *error = std::string(toolMachineVariable) + " names no machine folder";
        return false;
    }
    return openMachine(profile && *profile ? profile : defaultProfileName(), folder, error);
}

void reportToolExitCode(std::uint32_t code)
{
    if (toolReportFd < 0)
        return;
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%u\n", unsigned(code));
    [[maybe_unused]] const ssize_t n = ::write(toolReportFd, text, std::size_t(length));
    ::close(toolReportFd);
    toolReportFd = -1;
}

// --- EmulatedProcesses -----------------------------------------------------------------

std::uint32_t EmulatedProcesses::createProcess(const std::string& program, const std::vector<std::string>& arguments,
                                               const std::vector<std::string>* environment, ProcessHandlePtr* process)
{
    return spawn(program, arguments, environment, process);
}

std::uint32_t EmulatedProcesses::createProcessWithLogon(const char* user, const char* domain, const char* password,
                                                        const std::string& program,
                                                        const std::vector<std::string>& arguments,
                                                        const std::vector<std::string>* environment,
                                                        ProcessHandlePtr* process)
{
    process->reset();
    // The one account the machine knows besides the user's own: the profile's credentials.
    const QJsonObject credentials = profileObject("credentials");
    std::string knownUser, knownDomain;
    if (splitUserName(credentials.value(QLatin1String("user")).toString().toStdString(), &knownUser, &knownDomain)
        != ERROR_SUCCESS)
        return ERROR_LOGON_FAILURE;
    QByteArray knownPassword = credentials.value(QLatin1String("password")).toString().toUtf8();
    const bool accepted = user && domain && password && lower(knownUser) == lower(user)
                          && lower(knownDomain) == lower(domain) && knownPassword == password;
    wipe(knownPassword);
    if (!accepted)
        return ERROR_LOGON_FAILURE;
    return spawn(program, arguments, environment, process);
}

std::uint32_t EmulatedProcesses::openProcess(std::uint32_t access, std::uint32_t processId, ProcessHandlePtr* process)
{
    process->reset();
    const pid_t pid = pid_t(processId);
    if (processId == 0 || pid <= 0)
        return ERROR_INVALID_PARAMETER;
    if (std::shared_ptr<Child> child = Reaper::instance().find(pid)) {
        *process = std::make_unique<ChildHandle>(child, access);
        return ERROR_SUCCESS;
    }
    if (processState(pid) == 0)
        return ERROR_INVALID_PARAMETER;
    if ((access & PROCESS_TERMINATE) && ::kill(pid, 0) != 0 && errno == EPERM)
        return ERROR_ACCESS_DENIED;
    *process = std::make_unique<ForeignHandle>(pid, openPidfd(pid), access);
    return ERROR_SUCCESS;
}

std::uint32_t EmulatedProcesses::postCloseToWindows(std::uint32_t processId)
{
    const pid_t pid = pid_t(processId);
    if (processId == 0 || pid <= 0)
        return ERROR_INVALID_PARAMETER;
    if (std::shared_ptr<Child> child = Reaper::instance().find(pid)) {
        std::lock_guard<std::mutex> lock(child->mutex);
        if (child->reaped || isZombie(*child))
            return ERROR_INVALID_PARAMETER;
        child->closeRequested = true;
        return ::kill(pid, SIGTERM) == 0 ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    }
    if (!isAlive(pid))
        return ERROR_INVALID_PARAMETER;
    return ::kill(pid, SIGTERM) == 0 ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

std::uint32_t EmulatedProcesses::enumProcesses(std::vector<ProcessEntry>* processes)
{
    processes->clear();
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return ERROR_ACCESS_DENIED;
    std::vector<pid_t> pids;
    while (dirent* entry = ::readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (end != entry->d_name && *end == '\0' && pid > 0)
            pids.push_back(pid_t(pid));
    }
    ::closedir(proc);
    std::sort(pids.begin(), pids.end());

    for (const pid_t pid : pids) {
        char path[64];
        std::string name;
        std::snprintf(path, sizeof path, "/proc/%d/cmdline", int(pid));
        if (const int fd = ::open(path, O_RDONLY | O_CLOEXEC); fd >= 0) {
            char text[4096];
            const ssize_t n = ::read(fd, text, sizeof text - 1);
            ::close(fd);
            if (n > 0) {
                text[n] = '\0';
                name = programFileName(text); // argv[0] ends at the first zero
            }
        }
        if (name.empty()) { // kernel threads have no command line
            std::snprintf(path, sizeof path, "/proc/%d/comm", int(pid));
            if (const int fd = ::open(path, O_RDONLY | O_CLOEXEC); fd >= 0) {
                char text[64];
                const ssize_t n = ::read(fd, text, sizeof text - 1);
                ::close(fd);
                if (n > 0) {
                    text[n] = '\0';
                    name = text;
                    while (!name.empty() && name.back() == '\n')
                        name.pop_back();
                }
            }
        }
        if (!name.empty())
            processes->push_back({std::uint32_t(pid), name});
    }
    return ERROR_SUCCESS;
}

bool EmulatedProcesses::isAdmin()
{
    return currentMachine().isUserAnAdmin();
}

std::uint32_t EmulatedProcesses::promptForCredentials(const std::string&, const std::string&, std::uint32_t,
                                                      UserNameBuffer* userName, PasswordBuffer* password)
{
    userName->wipe();
    password->wipe();
    const QJsonValue value = currentMachine().profile().json().value(QLatin1String("credentials"));
    if (!value.isObject())
        return ERROR_CANCELLED; // nobody types anything in
    const QJsonObject credentials = value.toObject();
    QByteArray user = credentials.value(QLatin1String("user")).toString().toUtf8();
    QByteArray secret = credentials.value(QLatin1String("password")).toString().toUtf8();
    const bool fits = userName->assign(user.constData(), std::size_t(user.size()))
                      && password->assign(secret.constData(), std::size_t(secret.size()));
    wipe(user);
    wipe(secret);
    if (!fits) {
        userName->wipe();
        password->wipe();
        return ERROR_INSUFFICIENT_BUFFER;
    }
    return ERROR_SUCCESS;
}

std::uint32_t EmulatedProcesses::parseUserName(const char* userName, UserNameBuffer* user, DomainBuffer* domain)
{
    user->wipe();
    domain->wipe();
    if (!userName)
        return ERROR_INVALID_ACCOUNT_NAME;
    std::string name = userName;
    std::string userPart, domainPart;
    std::uint32_t result = splitUserName(name, &userPart, &domainPart);
    if (result == ERROR_SUCCESS && (!user->assign(userPart.c_str()) || !domain->assign(domainPart.c_str())))
        result = ERROR_INSUFFICIENT_BUFFER;
    wipe(name);
    wipe(userPart);
    wipe(domainPart);
    return result;
}

} // namespace emulated

} // namespace winsteps::platform
