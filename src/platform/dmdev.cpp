#include "platform/dmdev.h"

#include <cstring>

namespace winsteps::platform {

std::uint32_t DMDEV_Enumerate(const GUID*, char*, std::uint16_t*, int, const char*) { return DMDEV_ERROR_FAILED; }
std::uint32_t DMDEV_EnumerateRemote(const char*, const GUID*, char*, std::uint16_t*, int, const char*)
{
    return DMDEV_ERROR_FAILED;
}
std::uint32_t DMDEV_GetDeviceDescription(const char*, char*, std::uint32_t*) { return DMDEV_ERROR_FAILED; }
std::uint32_t DMDEV_GetFriendlyName(const char*, char*, std::uint32_t*) { return DMDEV_ERROR_FAILED; }
std::uint32_t DMDEV_GetClassGUID(const char*, char*, std::uint32_t*) { return DMDEV_ERROR_FAILED; }
std::uint32_t DMDEV_GetHardwareID(const char*, char*, std::uint32_t*) { return DMDEV_ERROR_FAILED; }
std::uint32_t DMDEV_GetDriverKey(const char*, char*, std::uint32_t*) { return DMDEV_ERROR_FAILED; }
std::uint32_t DMDEV_GetServiceName(const char*, char*, std::uint32_t*) { return DMDEV_ERROR_FAILED; }
std::uint32_t DMDEV_GetDriverInfPath(const char*, char*, std::uint32_t*) { return DMDEV_ERROR_FAILED; }
std::uint32_t DMDEV_GetDeviceDescriptionRemote(const char*, const char*, char*, std::uint32_t*) { return DMDEV_ERROR_FAILED; }
std::uint32_t DMDEV_GetFriendlyNameRemote(const char*, const char*, char*, std::uint32_t*) { return DMDEV_ERROR_FAILED; }
std::uint32_t DMDEV_GetClassGUIDRemote(const char*, const char*, char*, std::uint32_t*) { return DMDEV_ERROR_FAILED; }
std::uint32_t DMDEV_GetHardwareIDRemote(const char*, const char*, char*, std::uint32_t*) { return DMDEV_ERROR_FAILED; }
std::uint32_t DMDEV_GetDriverKeyRemote(const char*, const char*, char*, std::uint32_t*) { return DMDEV_ERROR_FAILED; }
std::uint32_t DMDEV_GetServiceNameRemote(const char*, const char*, char*, std::uint32_t*) { return DMDEV_ERROR_FAILED; }
std::uint32_t DMDEV_SetFriendlyName(const char*, const char*) { return DMDEV_ERROR_FAILED; }
std::uint32_t DMDEV_SetFriendlyNameRemote(const char*, const char*, const char*) { return DMDEV_ERROR_FAILED; }
std::uint32_t DMDEV_GetStatus(const char*, std::int32_t*, std::int32_t*) { return DMDEV_ERROR_FAILED; }
std::uint32_t DMDEV_GetStatusRemote(const char*, const char*, std::int32_t*, std::int32_t*) { return DMDEV_ERROR_FAILED; }
std::uint32_t DMDEV_ProblemCodeToString(std::int32_t, char* buffer)
{
    if (!buffer)
        return DMDEV_ERROR_INVALID_PARAMETER;
    std::strcpy(buffer, "Unknown problem");
    return DMDEV_OK;
}
std::uint32_t DMDEV_InstallDriver(const char*, const char*) { return DMDEV_ERROR_FAILED; }
std::uint32_t DMDEV_RemoveDevice(const char*) { return DMDEV_ERROR_FAILED; }
std::uint32_t DMDEV_PreInstallDriver(const char*, const char*) { return DMDEV_ERROR_FAILED; }
std::uint32_t DMDEV_FindPreInstalledInf(const char*, char*, std::uint32_t*) { return DMDEV_ERROR_FAILED; }
std::uint32_t DMDEV_GetChangeCount(std::uint64_t*) { return DMDEV_ERROR_FAILED; }

} // namespace winsteps::platform
