#pragma once

#include "platform/process.h"
#include "winsteps_platform_export.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The process list of an emulated machine: what runs on that machine, and nothing of the host.
//
// - Every process started on the machine is recorded in its folder, one file per process in
//   "<folder>/processes/", named "PID-START" and holding the program's file name. START is the
//   kernel's start time of the process (field 22 of /proc/PID/stat): a record stands for its
//   process only while a process with that identifier and that start time runs, so an
//   identifier that the kernel hands out again never matches. Records of ended processes are
//   dropped whenever the list is read. Every process that uses the folder sees the records.
// - The system processes that the profile declares come first in the list and run for ever.
//   Their identifiers lie above every Linux process identifier; nothing ever signals them.
//     "systemProcesses": ["System", "smss.exe", ...]   absent: those of the profile's family

namespace winsteps::platform::emulated {

class MachineProfile;

struct MachineProcess
{
    std::uint32_t processId = 0;
    std::uint64_t startTime = 0;
    std::string name;
};

// The kernel's start time of the process (clock ticks since boot); 0 when no process runs
// under that identifier (a process that has ended and is not reaped yet does not run).
std::uint64_t processStartTime(int pid);

// Records a process started on the machine in folder. False when it cannot be recorded.
WINSTEPS_PLATFORM_EXPORT bool recordProcess(const std::string& folder, const MachineProcess& process);
void forgetProcess(const std::string& folder, const MachineProcess& process);
// The recorded processes that still run, in the order they started.
WINSTEPS_PLATFORM_EXPORT std::vector<MachineProcess> recordedProcesses(const std::string& folder);
// The recorded process of that identifier, when it still runs.
bool findRecordedProcess(const std::string& folder, std::uint32_t processId, MachineProcess* process);

// Identifiers of system processes: above Linux's largest process identifier (2^22).
inline constexpr std::uint32_t systemProcessIdBase = 0x400000;

// The system processes of a profile: its "systemProcesses", else those of its family.
WINSTEPS_PLATFORM_EXPORT std::vector<std::string> systemProcessNames(const MachineProfile& profile);
// The identifier of the index-th system process (a multiple of 4, as on Windows).
inline std::uint32_t systemProcessId(std::size_t index)
{
    return systemProcessIdBase + 4 * std::uint32_t(index + 1);
}

// Whether the identifier is one of the system processes of a machine of that profile.
bool isSystemProcess(const MachineProfile& profile, std::uint32_t processId);
// A handle to a system process: it never ends (waits time out), and it cannot be ended.
ProcessHandlePtr openSystemProcess(std::uint32_t processId, std::uint32_t access);

// A handle to a recorded process that another process started: it waits on a pidfd and
// signals through it, and only while the process with the recorded start time runs. Its
// exit code cannot be known (only a parent learns it).
ProcessHandlePtr openRecordedProcess(const MachineProcess& process, std::uint32_t access);
// Sends the signal to that process while it runs. False when it has ended or refuses.
bool signalRecordedProcess(const MachineProcess& process, int signal);

// pidfd_open: a descriptor that polls readable once the process has ended; -1 without one.
int openPidfd(int pid);
// Closes fd when open and marks it closed.
void closeFd(int& fd);
// poll()'s time-out for a Windows one (INFINITE: no limit).
int pollTimeout(std::uint32_t milliseconds);

} // namespace winsteps::platform::emulated
