// File versions on the wide-character calls of version.dll: the block is what
// GetFileVersionInfoW reads, and VerQueryValueW looks values up in it.

#include "platform/fileversion.h"
#include "platform/win32/win32util.h"

#include <winver.h>

namespace winsteps::platform {

namespace {

using win32::lastError;
using win32::widen;

class Win32FileVersions final : public FileVersions {
public:
    std::uint32_t getFileVersionInfoSize(const std::string& path, std::uint32_t* size) override
    {
        DWORD handle = 0;
        ::SetLastError(ERROR_SUCCESS);
        *size = ::GetFileVersionInfoSizeW(widen(path).c_str(), &handle);
        return *size ? ERROR_SUCCESS : lastError();
    }

    std::uint32_t getFileVersionInfo(const std::string& path, std::uint32_t size, void* data) override
    {
        if (!data)
            return ERROR_INVALID_PARAMETER;
        return ::GetFileVersionInfoW(widen(path).c_str(), 0, size, data) ? ERROR_SUCCESS : lastError();
    }

    std::uint32_t verQueryValue(const void* block, std::uint32_t size, const std::string& subBlock,
                                const void** value, std::uint32_t* length) override
    {
        // Windows reads the block by its own lengths; one shorter than its header is refused here.
        if (!block || size < 6)
            return ERROR_RESOURCE_TYPE_NOT_FOUND;
        void* found = nullptr;
        UINT foundLength = 0;
        if (!::VerQueryValueW(block, widen(subBlock).c_str(), &found, &foundLength) || !found)
            return ERROR_RESOURCE_TYPE_NOT_FOUND;
        *value = found;
        *length = foundLength;
        return ERROR_SUCCESS;
    }
};

} // namespace

FileVersions& fileVersions()
{
    static Win32FileVersions instance;
    return instance;
}

} // namespace winsteps::platform
