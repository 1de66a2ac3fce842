#include "platform/process.h"

#include <string.h>

namespace winsteps::platform {

void secureWipe(void* data, std::size_t size)
{
    if (data && size > 0)
        explicit_bzero(data, size);
}

ProcessHandle::~ProcessHandle() = default;

Processes::~Processes() = default;

} // namespace winsteps::platform
