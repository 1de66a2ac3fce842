// Children of this process on the emulated machine: their state, reaping, and handles to them.

#pragma once

#include "platform/emulated/processrecords.h"
#include "platform/process.h"

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace winsteps::platform::emulated {

// A child process this process started. Guarded by its mutex; the pid stays ours (and cannot
// be reused) until reaped is set, which happens under the same mutex. Like a Windows process
// object it can be opened while it runs and, once ended, while a handle to it is open.
struct Child
{
    pid_t pid = 0;
    std::string folder;    // of the machine it runs on
    MachineProcess record; // its entry in the machine's process list
    int pidfd = -1;        // used by the reaper only
    int exitCodePipe = -1; // read end of an emulated tool's exit-code report
    std::mutex mutex;
    std::condition_variable ended;
    bool reaped = false;
    std::uint32_t exitCode = 0;
    bool terminated = false;
    std::uint32_t terminateCode = 0;
    bool closeRequested = false;
    int handles = 0; // open handles to it
};

// The child has ended but is not reaped yet. Caller holds child.mutex.
bool isZombie(const Child& child);

// Reaps child as soon as it ends (one thread for the whole process, started with the first
// child), whether or not a handle to it is still open.
void reapWhenEnded(const std::shared_ptr<Child>& child);
// The child of that pid not reaped yet, or null.
std::shared_ptr<Child> startedChild(pid_t pid);
// The children not reaped yet, in the order they were started.
std::vector<std::shared_ptr<Child>> startedChildren();
// A handle to child with the access rights given.
ProcessHandlePtr childHandle(std::shared_ptr<Child> child, std::uint32_t access);

// openProcess of one of this process's children. Opened: *process is a new handle (the child
// runs, or has ended while another handle to it is still open). Gone: it has ended and its
// last handle is closed, so it is no process any more. NotOurs: pid is no child this process
// knows of.
enum class ChildLookup { Opened, Gone, NotOurs };
ChildLookup openChild(pid_t pid, std::uint32_t access, ProcessHandlePtr* process);

} // namespace winsteps::platform::emulated
