#include "platform/files.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace winsteps::platform {

System::~System() = default;

Registry::~Registry() = default;

Files::~Files() = default;

FileHandle::~FileHandle() = default;

} // namespace winsteps::platform
