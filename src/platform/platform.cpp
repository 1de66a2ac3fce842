#include "platform/platform.h"

namespace winsteps::platform {

Platform::~Platform() = default;

FileHandle::~FileHandle() = default;

} // namespace winsteps::platform
