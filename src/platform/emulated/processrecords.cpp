#include "platform/emulated/processrecords.h"

#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/machineprofile.h"

#include <QJsonArray>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace winsteps::platform::emulated {

namespace {

std::string recordsFolder(const std::string& folder)
{
    return folder + "/processes";
}

std::string recordName(const MachineProcess& process)
{
    return std::to_string(process.processId) + '-' + std::to_string(process.startTime);
}

// "PID-START" into its numbers.
bool parseRecordName(const char* name, MachineProcess* process)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long pid = std::strtoul(name, &end, 10);
    if (end == name || *end != '-' || errno != 0 || pid == 0 || pid >= systemProcessIdBase)
        return false;
    const char* start = end + 1;
    const unsigned long long time = std::strtoull(start, &end, 10);
    if (end == start || *end != '\0' || errno != 0 || time == 0)
        return false;
    process->processId = std::uint32_t(pid);
    process->startTime = time;
    return true;
}

std::string readSmallFile(const std::string& path)
{
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return text;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0 && text.size() < 4096)
        text.append(buffer, std::size_t(n));
    ::close(fd);
    return text;
}

// --- handles of processes this process did not start -----------------------------------

// A process that another process started on the same machine: known by its identifier and
// start time, so that an identifier used again never stands for it. Waits on a pidfd and
// signals through it. Its exit code cannot be known.
class ForeignHandle final : public ProcessHandle
{
public:
    ForeignHandle(const MachineProcess& process, std::uint32_t access)
        : m_pid(pid_t(process.processId))
        , m_startTime(process.startTime)
        , m_pidfd(openPidfd(m_pid))
        , m_access(access)
    {
        // Opened after the record was checked: make sure the descriptor is that process's.
        if (!running())
            closeFd(m_pidfd);
    }
    ~ForeignHandle() override { closeFd(m_pidfd); }

    std::uint32_t processId() const override { return std::uint32_t(m_pid); }

    bool running() const { return processStartTime(m_pid) == m_startTime; }

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
            if (n > 0 || !running())
                return WAIT_OBJECT_0;
            return n == 0 ? WAIT_TIMEOUT : WAIT_FAILED;
        }
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        while (running()) {
            if (milliseconds != INFINITE && std::chrono::steady_clock::now() >= until)
                return WAIT_TIMEOUT;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return WAIT_OBJECT_0;
    }

    std::uint32_t getExitCode(std::uint32_t* code) override
    {
        if (!(m_access & PROCESS_QUERY_INFORMATION) || !running()) // only its parent learns how it ended
            return ERROR_ACCESS_DENIED;
        *code = STILL_ACTIVE;
        return ERROR_SUCCESS;
    }

    std::uint32_t terminate(std::uint32_t) override
    {
        if (!(m_access & PROCESS_TERMINATE))
            return ERROR_ACCESS_DENIED;
        return signal(SIGKILL) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    }

    bool signal(int number)
    {
        if (!running())
            return false;
#ifdef SYS_pidfd_send_signal
        if (m_pidfd >= 0)
            return ::syscall(SYS_pidfd_send_signal, m_pidfd, number, nullptr, 0) == 0;
#endif
        return ::kill(m_pid, number) == 0;
    }

    ProcessHandlePtr duplicate() const override
    {
        return std::make_unique<ForeignHandle>(MachineProcess{std::uint32_t(m_pid), m_startTime, {}}, m_access);
    }

private:
    pid_t m_pid;
    std::uint64_t m_startTime;
    int m_pidfd;
    std::uint32_t m_access;
};

// A system process of the machine: it runs for ever and cannot be ended.
class SystemHandle final : public ProcessHandle
{
public:
    SystemHandle(std::uint32_t processId, std::uint32_t access)
        : m_processId(processId)
        , m_access(access)
    {
    }

    std::uint32_t processId() const override { return m_processId; }

    std::uint32_t wait(std::uint32_t milliseconds) override
    {
        if (!(m_access & PROCESS_SYNCHRONIZE))
            return WAIT_FAILED;
        do
            std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds == INFINITE ? 60000 : milliseconds));
        while (milliseconds == INFINITE);
        return WAIT_TIMEOUT;
    }

    std::uint32_t getExitCode(std::uint32_t* code) override
    {
        if (!(m_access & PROCESS_QUERY_INFORMATION))
            return ERROR_ACCESS_DENIED;
        *code = STILL_ACTIVE;
        return ERROR_SUCCESS;
    }

    std::uint32_t terminate(std::uint32_t) override { return ERROR_ACCESS_DENIED; }

    ProcessHandlePtr duplicate() const override { return std::make_unique<SystemHandle>(m_processId, m_access); }

private:
    std::uint32_t m_processId;
    std::uint32_t m_access;
};

} // namespace

int openPidfd(int pid)
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

std::uint64_t processStartTime(int pid)
{
    if (pid <= 0)
        return 0;
    const std::string text = readSmallFile("/proc/" + std::to_string(pid) + "/stat");
    // "PID (NAME) STATE ...": the name may hold blanks and parentheses; fields follow the last ")".
    const std::string::size_type close = text.rfind(')');
    if (close == std::string::npos || close + 2 >= text.size())
        return 0;
    const char state = text[close + 2];
    if (state == 'Z' || state == 'X' || state == 'x')
        return 0;
    // The state is field 3; the start time is field 22.
    std::string::size_type at = close + 2;
    for (int field = 3; field < 22 && at != std::string::npos; ++field) {
        at = text.find(' ', at);
        if (at != std::string::npos)
            ++at;
    }
    if (at == std::string::npos)
        return 0;
    return std::strtoull(text.c_str() + at, nullptr, 10);
}

bool recordProcess(const std::string& folder, const MachineProcess& process)
{
    const std::string dir = recordsFolder(folder);
    if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
        return false;
    // Written under a temporary name and renamed: a reader never sees half a record.
    const std::string path = dir + '/' + recordName(process);
    const std::string temporary = dir + "/.new-" + recordName(process);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const std::string text = process.name + '\n';
    const bool written = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

void forgetProcess(const std::string& folder, const MachineProcess& process)
{
    ::unlink((recordsFolder(folder) + '/' + recordName(process)).c_str());
}

std::vector<MachineProcess> recordedProcesses(const std::string& folder)
{
    std::vector<MachineProcess> list;
    const std::string dir = recordsFolder(folder);
    DIR* records = ::opendir(dir.c_str());
    if (!records)
        return list;
    std::vector<MachineProcess> ended;
    while (const dirent* entry = ::readdir(records)) {
        MachineProcess process;
        if (!parseRecordName(entry->d_name, &process))
            continue;
        if (processStartTime(int(process.processId)) != process.startTime) {
            ended.push_back(process);
            continue;
        }
        process.name = readSmallFile(dir + '/' + entry->d_name);
        while (!process.name.empty() && (process.name.back() == '\n' || process.name.back() == '\r'))
            process.name.pop_back();
        if (!process.name.empty())
            list.push_back(process);
    }
    ::closedir(records);
    for (const MachineProcess& process : ended)
        forgetProcess(folder, process);
    std::sort(list.begin(), list.end(), [](const MachineProcess& a, const MachineProcess& b) {
        return a.startTime != b.startTime ? a.startTime < b.startTime : a.processId < b.processId;
    });
    return list;
}

bool findRecordedProcess(const std::string& folder, std::uint32_t processId, MachineProcess* process)
{
    const std::vector<MachineProcess> list = recordedProcesses(folder);
    const auto found = std::find_if(list.begin(), list.end(),
                                    [processId](const MachineProcess& p) { return p.processId == processId; });
    if (found == list.end())
        return false;
    *process = *found;
    return true;
}

std::vector<std::string> systemProcessNames(const MachineProfile& profile)
{
    const QJsonValue declared = profile.json().value(QLatin1String("systemProcesses"));
    if (declared.isArray()) {
        std::vector<std::string> names;
        const QJsonArray array = declared.toArray();
        for (const QJsonValue& name : array) {
            if (name.isString() && !name.toString().isEmpty())
                names.push_back(name.toString().toStdString());
        }
        return names;
    }
    if (!profile.isNt())
        return {"KERNEL32.DLL", "MSGSRV32.EXE", "MPREXE.EXE", "MSTASK.EXE", "EXPLORER.EXE"};
    std::vector<std::string> names{"System", "smss.exe", "csrss.exe"};
    if (profile.version().majorVersion >= 6)
        names.push_back("wininit.exe");
    for (const char* name : {"winlogon.exe", "services.exe", "lsass.exe", "svchost.exe", "explorer.exe"})
        names.push_back(name);
    return names;
}

bool isSystemProcess(const MachineProfile& profile, std::uint32_t processId)
{
    if (processId <= systemProcessIdBase || processId % 4 != 0)
        return false;
    const std::size_t index = (processId - systemProcessIdBase) / 4 - 1;
    return index < systemProcessNames(profile).size();
}

ProcessHandlePtr openSystemProcess(std::uint32_t processId, std::uint32_t access)
{
    return std::make_unique<SystemHandle>(processId, access);
}

ProcessHandlePtr openRecordedProcess(const MachineProcess& process, std::uint32_t access)
{
    return std::make_unique<ForeignHandle>(process, access);
}

bool signalRecordedProcess(const MachineProcess& process, int signal)
{
    return ForeignHandle(process, PROCESS_TERMINATE).signal(signal);
}

} // namespace winsteps::platform::emulated
