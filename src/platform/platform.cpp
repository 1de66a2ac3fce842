#include "platform/files.h"
#include "platform/fileversion.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "platform/system.h"

namespace winsteps::platform {

System::~System() = default;

Registry::~Registry() = default;

Files::~Files() = default;

Services::~Services() = default;

FileHandle::~FileHandle() = default;

FileVersions::~FileVersions() = default;

} // namespace winsteps::platform
