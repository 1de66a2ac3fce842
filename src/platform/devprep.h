#pragma once

#include "winsteps_platform_export.h"

#include <ostream>
#include <string>
#include <vector>

// devprep: stages driver packages, installs their drivers on matching devices and removes
// matching devices, through the device-manager module. The emulated tool and the Windows
// program devprep.exe both run it. Plain C++ only, like every interface header.

namespace winsteps::platform {

// Exit codes.
enum DevprepExitCode : int {
    DevprepDone = 0,
    DevprepUsage = 1,            // a wrong command line
    DevprepPreInstallFailed = 2, // the INF is missing or malformed
    DevprepInstallFailed = 3,    // the devices could not be listed, or a matching device got no driver
    DevprepRemoveFailed = 4,     // the devices could not be listed, or a matching device stays
    DevprepAccessDenied = 5,     // the user is no administrator
};

// Runs one command line (without the program's name):
//   -p "DRIVERDIR" "DRIVERDIR/FILE.inf"
//   -i "DRIVERDIR" ENUMERATOR HARDWAREID...
//   -r ENUMERATOR HARDWAREID...
// Double quotes around an argument are dropped. Writes one line per device it worked on (and
// the usage for a wrong command line) to out; answers the exit code.
WINSTEPS_PLATFORM_EXPORT int runDevprep(const std::vector<std::string>& arguments, std::ostream& out);

} // namespace winsteps::platform
