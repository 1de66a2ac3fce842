#include "platform/devices.h"
#include "platform/drives.h"

// The interfaces of the devices and drives subsystems, whichever backend answers.

namespace winsteps::platform {

Devices::~Devices() = default;
Drives::~Drives() = default;

} // namespace winsteps::platform
