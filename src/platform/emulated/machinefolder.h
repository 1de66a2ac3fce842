#pragma once

#include "winsteps_platform_export.h"

#include <string>
#include <vector>

// The emulated machine of this process: which profile it was made from and the folder it
// lives in. On a non-Windows build every subsystem (system(), registry(), files(),
// processes()) answers from an emulated Windows machine made from a profile and living in a
// machine folder (its drive C: is "<folder>/drive_c").

namespace winsteps::platform::emulated {

// Opens the machine of this process from a built-in profile name or a JSON profile file.
// folder empty: a temporary folder, removed at process exit. False + error text on failure;
// the current machine is then unchanged. A machine replaced by another stays valid (a
// reference taken from a subsystem accessor never dangles).
WINSTEPS_PLATFORM_EXPORT bool openMachine(const std::string& profile, const std::string& folder,
                                 std::string* error);

// The current machine's profile: a built-in name, or the profile file as given. First use
// of the machine without openMachine: the default profile in the folder named by the
// environment variable WINSTEPS_MACHINE, or in a temporary folder.
WINSTEPS_PLATFORM_EXPORT std::string currentProfileName();

// The current machine's folder (absolute, no trailing slash).
WINSTEPS_PLATFORM_EXPORT std::string currentMachineFolder();

// The names of the compiled-in profiles, sorted.
WINSTEPS_PLATFORM_EXPORT std::vector<std::string> builtinProfileNames();

// The profile used when none is named.
WINSTEPS_PLATFORM_EXPORT std::string defaultProfileName();

// While on, every debugger-channel text of the current machine (and of machines opened
// later) is appended to "<machine folder>/debugview.log".
WINSTEPS_PLATFORM_EXPORT void setDebuggerCapture(bool on);

} // namespace winsteps::platform::emulated
