#include "platform/platform.h"

namespace winsteps::platform {

Platform::~Platform() = default;

} // namespace winsteps::platform
