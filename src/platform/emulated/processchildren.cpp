// Children of this process on the emulated machine: one reaper thread, and handles to them.

#include "platform/emulated/processchildren.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

namespace winsteps::platform::emulated {

bool isZombie(const Child& child)
{
    siginfo_t info{};
    return ::waitid(P_PID, id_t(child.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == child.pid;
}

namespace {

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

    // The children not reaped yet, in the order they were started.
    std::vector<std::shared_ptr<Child>> children()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_children;
    }

    // See openChild(). The new handle is made under m_mutex, so that no other handle to the
    // child can close and no reaping can drop it in between; *process is replaced only after,
    // as closing a handle takes m_mutex too.
    ChildLookup open(pid_t pid, std::uint32_t access, ProcessHandlePtr* process)
    {
        ProcessHandlePtr handle;
        const ChildLookup found = openLocked(pid, access, &handle);
        if (found == ChildLookup::Opened)
            *process = std::move(handle);
        return found;
    }

    // A handle to child has closed: an ended child goes with its last one.
    void release(const std::shared_ptr<Child>& child)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::lock_guard<std::mutex> childLock(child->mutex);
        if (--child->handles == 0 && child->reaped)
            m_ended.erase(std::remove(m_ended.begin(), m_ended.end(), child), m_ended.end());
    }

private:
    Reaper() : m_wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

    ChildLookup openLocked(pid_t pid, std::uint32_t access, ProcessHandlePtr* handle)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // A running child first: once reaped, the pid may have gone to a new one.
        for (const auto* list : {&m_children, &m_ended}) {
            for (auto it = list->rbegin(); it != list->rend(); ++it) {
                const std::shared_ptr<Child>& child = *it;
                if (child->pid != pid)
                    continue;
                bool alive;
                {
                    std::lock_guard<std::mutex> childLock(child->mutex);
                    alive = child->handles > 0 || !(child->reaped || isZombie(*child));
                }
                if (!alive)
                    return ChildLookup::Gone;
                *handle = childHandle(child, access);
                return ChildLookup::Opened;
            }
        }
        return ChildLookup::NotOurs;
    }

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
                    std::lock_guard<std::mutex> childLock(child->mutex);
                    if (child->handles > 0) // it lives on while a handle is open
                        m_ended.push_back(child);
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
        forgetProcess(child.folder, child.record);
        child.reaped = true;
        child.ended.notify_all();
        return true;
    }

    std::mutex m_mutex;
    std::vector<std::shared_ptr<Child>> m_children; // not yet reaped
    std::vector<std::shared_ptr<Child>> m_ended;    // reaped, with a handle still open
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
        std::lock_guard<std::mutex> lock(m_child->mutex);
        ++m_child->handles;
    }
    ~ChildHandle() override { Reaper::instance().release(m_child); }

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

} // namespace

void reapWhenEnded(const std::shared_ptr<Child>& child)
{
    Reaper::instance().add(child);
}

std::shared_ptr<Child> startedChild(pid_t pid)
{
    return Reaper::instance().find(pid);
}

std::vector<std::shared_ptr<Child>> startedChildren()
{
    return Reaper::instance().children();
}

ProcessHandlePtr childHandle(std::shared_ptr<Child> child, std::uint32_t access)
{
    return std::make_unique<ChildHandle>(std::move(child), access);
}

ChildLookup openChild(pid_t pid, std::uint32_t access, ProcessHandlePtr* process)
{
    return Reaper::instance().open(pid, access, process);
}

} // namespace winsteps::platform::emulated
