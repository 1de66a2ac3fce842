#include "platform/driverpackages.h"

namespace winsteps::platform {

DriverPackages::~DriverPackages() = default;

} // namespace winsteps::platform
