#include "platform/dmdev.h"

#include "platform/devices.h"
#include "platform/driverpackages.h"
#include "platform/registry.h"
#include "platform/system.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

// The device-manager module over the devices and driver-packages subsystems: the answers of
// those subsystems turned into the module's results and fixed-size 8-bit texts.

namespace winsteps::platform {

namespace {

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// "", ".", "localhost" and this computer's name (with or without "\\") are this machine.
bool isThisMachine(const char* host)
{
    std::string name = host ? lower(host) : std::string();
    if (name.rfind("\\\\", 0) == 0)
        name.erase(0, 2);
    if (name.empty() || name == "." || name == "localhost")
        return true;
    std::string computer;
    return system().getEnvironmentVariable("COMPUTERNAME", &computer) == ERROR_SUCCESS && !computer.empty()
        && lower(computer) == name;
}

// Copies text with its zero into a buffer of *size bytes; never cuts it.
std::uint32_t putText(const std::string& text, char* buffer, std::uint32_t* size)
{
    if (!buffer || !size)
        return DMDEV_ERROR_INVALID_PARAMETER;
    const std::uint32_t needed = std::uint32_t(text.size() + 1);
    if (needed > *size) {
        *size = needed;
        return DMDEV_ERROR_BUFFER_TOO_SMALL;
    }
    std::memcpy(buffer, text.c_str(), needed);
    *size = needed;
    return DMDEV_OK;
}

std::uint32_t fromConfigRet(CONFIGRET code)
{
    switch (code) {
    case CR_SUCCESS:
        return DMDEV_OK;
    case CR_NO_SUCH_DEVNODE:
    case CR_INVALID_DEVICE_ID:
        return DMDEV_ERROR_NO_SUCH_DEVICE;
    case CR_NO_SUCH_VALUE:
        return DMDEV_ERROR_NO_VALUE;
    case CR_ACCESS_DENIED:
        return DMDEV_ERROR_ACCESS_DENIED;
    case CR_INVALID_POINTER:
        return DMDEV_ERROR_INVALID_PARAMETER;
    default:
        return DMDEV_ERROR_FAILED;
    }
}

// The node's text property.
std::uint32_t textOf(const char* instanceId, std::uint32_t property, std::string* value)
{
    if (!instanceId)
        return DMDEV_ERROR_INVALID_PARAMETER;
    if (property == CM_DRP_HARDWAREID) {
        std::vector<std::string> ids;
        const CONFIGRET code = devices().listProperty(instanceId, CM_DRP_HARDWAREID, &ids);
        if (code != CR_SUCCESS)
            return fromConfigRet(code);
        if (ids.empty())
            return DMDEV_ERROR_NO_VALUE;
        *value = ids.front();
        return DMDEV_OK;
    }
    return fromConfigRet(devices().textProperty(instanceId, property, value));
}

std::uint32_t getText(const char* instanceId, std::uint32_t property, char* buffer, std::uint32_t* size)
{
    if (!buffer || !size)
        return DMDEV_ERROR_INVALID_PARAMETER;
    std::string value;
    const std::uint32_t code = textOf(instanceId, property, &value);
    return code == DMDEV_OK ? putText(value, buffer, size) : code;
}

std::uint32_t getTextRemote(const char* instanceId, const char* host, std::uint32_t property, char* buffer,
                            std::uint32_t* size)
{
    return isThisMachine(host) ? getText(instanceId, property, buffer, size) : DMDEV_ERROR_REMOTE;
}

// "InfPath" of the node's driver key.
std::uint32_t driverInfPath(const char* instanceId, std::string* value)
{
    std::string key;
    const std::uint32_t code = textOf(instanceId, CM_DRP_DRIVER, &key);
    if (code != DMDEV_OK)
        return code;
    Registry& reg = registry();
    HKEY handle = 0;
    if (reg.regOpenKeyEx(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Class\\" + key, KEY_QUERY_VALUE,
                         &handle)
        != ERROR_SUCCESS)
        return DMDEV_ERROR_NO_VALUE;
    std::uint32_t type = 0;
    std::uint8_t data[DMDEV_SLOT_SIZE] = {};
    std::uint32_t size = sizeof data;
    const std::uint32_t read = reg.regQueryValueEx(handle, "InfPath", &type, data, &size);
    reg.regCloseKey(handle);
    if (read != ERROR_SUCCESS || type != REG_SZ || size == 0)
        return DMDEV_ERROR_NO_VALUE;
    value->assign(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
    return DMDEV_OK;
}

std::uint32_t fromSetup(std::uint32_t code, std::uint32_t otherwise)
{
    switch (code) {
    case ERROR_SUCCESS:
        return DMDEV_OK;
    case ERROR_NO_SUCH_DEVINST:
        return DMDEV_ERROR_NO_SUCH_DEVICE;
    case ERROR_ACCESS_DENIED:
        return DMDEV_ERROR_ACCESS_DENIED;
    case ERROR_INVALID_PARAMETER:
        return DMDEV_ERROR_INVALID_PARAMETER;
    default:
        return otherwise;
    }
}

struct ProblemText {
    std::int32_t code;
    const char* text;
};

// The device manager's words for the problems a node reports.
const ProblemText problemTexts[] = {
    {0, "This device is working properly."},
    {1, "This device is not configured correctly."},
    {3, "The driver for this device might be corrupted, or the system may be running low on memory."},
    {10, "This device cannot start."},
    {12, "This device cannot find enough free resources that it can use."},
    {14, "This device cannot work properly until you restart your computer."},
    {18, "Reinstall the drivers for this device."},
    {19, "The configuration information of this device (in the registry) is incomplete or damaged."},
    {21, "Windows is removing this device."},
    {22, "This device is disabled."},
    {24, "This device is not present, is not working properly, or does not have all its drivers installed."},
    {28, "The drivers for this device are not installed."},
    {29, "This device is disabled because its firmware did not give it the required resources."},
    {31, "This device is not working properly because Windows cannot load the drivers it requires."},
    {32, "A driver (service) for this device has been disabled."},
    {37, "Windows cannot initialize the device driver for this hardware."},
    {39, "Windows cannot load the device driver for this hardware. The driver may be corrupted or missing."},
    {43, "Windows has stopped this device because it has reported problems."},
    {45, "Currently, this hardware device is not connected to the computer."},
    {47, "Windows cannot use this hardware device because it has been prepared for safe removal."},
    {48, "The software for this device has been blocked from starting because it is known to have problems."},
};

} // namespace

std::uint32_t DMDEV_Enumerate(const GUID* classGuid, char* buffer, std::uint16_t* count, int present,
                              const char* enumerator)
{
    if (!count)
        return DMDEV_ERROR_INVALID_PARAMETER;
    const std::string name = classGuid || !enumerator ? std::string() : std::string(enumerator);
    std::uint32_t flags = present ? DIGCF_PRESENT : 0;
    if (!classGuid)
        flags |= DIGCF_ALLCLASSES;
    std::vector<std::string> ids;
    if (devices().classDevices(classGuid, name, flags, &ids) != ERROR_SUCCESS)
        return DMDEV_ERROR_FAILED;
    if (ids.size() > 0xFFFF)
        return DMDEV_ERROR_TOO_MANY;
    if (!buffer) {
        *count = std::uint16_t(ids.size());
        return DMDEV_OK;
    }
    const std::size_t filled = std::min<std::size_t>(*count, ids.size());
    for (std::size_t i = 0; i < filled; ++i) {
        if (ids[i].size() + 1 > DMDEV_SLOT_SIZE)
            return DMDEV_ERROR_BUFFER_TOO_SMALL;
    }
    for (std::size_t i = 0; i < filled; ++i) {
        char* slot = buffer + i * DMDEV_SLOT_SIZE;
        std::memset(slot, 0, DMDEV_SLOT_SIZE);
        std::memcpy(slot, ids[i].c_str(), ids[i].size());
    }
    *count = std::uint16_t(filled);
    return DMDEV_OK;
}

std::uint32_t DMDEV_EnumerateRemote(const char* host, const GUID* classGuid, char* buffer, std::uint16_t* count,
                                    int present, const char* enumerator)
{
    return isThisMachine(host) ? DMDEV_Enumerate(classGuid, buffer, count, present, enumerator) : DMDEV_ERROR_REMOTE;
}

std::uint32_t DMDEV_GetDeviceDescription(const char* instanceId, char* buffer, std::uint32_t* size)
{
    return getText(instanceId, CM_DRP_DEVICEDESC, buffer, size);
}

std::uint32_t DMDEV_GetFriendlyName(const char* instanceId, char* buffer, std::uint32_t* size)
{
    return getText(instanceId, CM_DRP_FRIENDLYNAME, buffer, size);
}

std::uint32_t DMDEV_GetClassGUID(const char* instanceId, char* buffer, std::uint32_t* size)
{
    return getText(instanceId, CM_DRP_CLASSGUID, buffer, size);
}

std::uint32_t DMDEV_GetHardwareID(const char* instanceId, char* buffer, std::uint32_t* size)
{
    return getText(instanceId, CM_DRP_HARDWAREID, buffer, size);
}

std::uint32_t DMDEV_GetDriverKey(const char* instanceId, char* buffer, std::uint32_t* size)
{
    return getText(instanceId, CM_DRP_DRIVER, buffer, size);
}

std::uint32_t DMDEV_GetServiceName(const char* instanceId, char* buffer, std::uint32_t* size)
{
    return getText(instanceId, CM_DRP_SERVICE, buffer, size);
}

std::uint32_t DMDEV_GetDriverInfPath(const char* instanceId, char* buffer, std::uint32_t* size)
{
    if (!buffer || !size)
        return DMDEV_ERROR_INVALID_PARAMETER;
    std::string value;
    const std::uint32_t code = driverInfPath(instanceId, &value);
    return code == DMDEV_OK ? putText(value, buffer, size) : code;
}

std::uint32_t DMDEV_GetDeviceDescriptionRemote(const char* instanceId, const char* host, char* buffer,
                                               std::uint32_t* size)
{
    return getTextRemote(instanceId, host, CM_DRP_DEVICEDESC, buffer, size);
}

std::uint32_t DMDEV_GetFriendlyNameRemote(const char* instanceId, const char* host, char* buffer, std::uint32_t* size)
{
    return getTextRemote(instanceId, host, CM_DRP_FRIENDLYNAME, buffer, size);
}

std::uint32_t DMDEV_GetClassGUIDRemote(const char* instanceId, const char* host, char* buffer, std::uint32_t* size)
{
    return getTextRemote(instanceId, host, CM_DRP_CLASSGUID, buffer, size);
}

std::uint32_t DMDEV_GetHardwareIDRemote(const char* instanceId, const char* host, char* buffer, std::uint32_t* size)
{
    return getTextRemote(instanceId, host, CM_DRP_HARDWAREID, buffer, size);
}

std::uint32_t DMDEV_GetDriverKeyRemote(const char* instanceId, const char* host, char* buffer, std::uint32_t* size)
{
    return getTextRemote(instanceId, host, CM_DRP_DRIVER, buffer, size);
}

std::uint32_t DMDEV_GetServiceNameRemote(const char* instanceId, const char* host, char* buffer, std::uint32_t* size)
{
    return getTextRemote(instanceId, host, CM_DRP_SERVICE, buffer, size);
}

std::uint32_t DMDEV_SetFriendlyName(const char* instanceId, const char* name)
{
    if (!instanceId || !name)
        return DMDEV_ERROR_INVALID_PARAMETER;
    return fromConfigRet(devices().setFriendlyName(instanceId, name));
}

std::uint32_t DMDEV_SetFriendlyNameRemote(const char* instanceId, const char* host, const char* name)
{
    return isThisMachine(host) ? DMDEV_SetFriendlyName(instanceId, name) : DMDEV_ERROR_REMOTE;
}

std::uint32_t DMDEV_GetStatus(const char* instanceId, std::int32_t* status, std::int32_t* problem)
{
    if (!instanceId || !status || !problem)
        return DMDEV_ERROR_INVALID_PARAMETER;
    std::uint32_t bits = 0;
    std::uint32_t code = 0;
    const CONFIGRET result = devices().devNodeStatus(instanceId, &bits, &code);
    if (result != CR_SUCCESS)
        return fromConfigRet(result);
    *status = std::int32_t(bits);
    *problem = std::int32_t(code);
    return DMDEV_OK;
}

std::uint32_t DMDEV_GetStatusRemote(const char* instanceId, const char* host, std::int32_t* status,
                                    std::int32_t* problem)
{
    return isThisMachine(host) ? DMDEV_GetStatus(instanceId, status, problem) : DMDEV_ERROR_REMOTE;
}

std::uint32_t DMDEV_ProblemCodeToString(std::int32_t problem, char* buffer)
{
    if (!buffer)
        return DMDEV_ERROR_INVALID_PARAMETER;
    std::string text = "Unknown problem";
    for (const ProblemText& entry : problemTexts) {
        if (entry.code == problem)
            text = entry.text;
    }
    if (problem != 0)
        text += " (Code " + std::to_string(problem) + ")";
    std::uint32_t size = DMDEV_SLOT_SIZE;
    return putText(text, buffer, &size);
}

std::uint32_t DMDEV_InstallDriver(const char* instanceId, const char* infPath)
{
    if (!instanceId)
        return DMDEV_ERROR_INVALID_PARAMETER;
    return fromSetup(driverPackages().installOnNode(instanceId, infPath ? infPath : "", nullptr),
                     DMDEV_ERROR_INSTALL_FAILED);
}

std::uint32_t DMDEV_RemoveDevice(const char* instanceId)
{
    if (!instanceId)
        return DMDEV_ERROR_INVALID_PARAMETER;
    return fromSetup(driverPackages().removeNode(instanceId, nullptr), DMDEV_ERROR_REMOVE_FAILED);
}

std::uint32_t DMDEV_PreInstallDriver(const char* installFile, const char* installDir)
{
    if (!installFile)
        return DMDEV_ERROR_INVALID_PARAMETER;
    std::string name;
    const std::uint32_t code = driverPackages().copyOemInf(installFile, installDir ? installDir : "", 0, &name);
    return code == ERROR_NO_SUCH_DEVINST ? DMDEV_ERROR_PREINSTALL_FAILED : fromSetup(code, DMDEV_ERROR_PREINSTALL_FAILED);
}

std::uint32_t DMDEV_FindPreInstalledInf(const char* installFile, char* buffer, std::uint32_t* size)
{
    if (!installFile || !buffer || !size)
        return DMDEV_ERROR_INVALID_PARAMETER;
    std::string name;
    const std::uint32_t code = driverPackages().copyOemInf(installFile, "", SP_COPY_OEMINF_CATALOG_ONLY, &name);
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
        return DMDEV_ERROR_NO_VALUE;
    if (code != ERROR_SUCCESS)
        return fromSetup(code, DMDEV_ERROR_PREINSTALL_FAILED);
    return putText(name, buffer, size);
}

std::uint32_t DMDEV_GetChangeCount(std::uint64_t* count)
{
    if (!count)
        return DMDEV_ERROR_INVALID_PARAMETER;
    *count = devices().changeCount();
    return DMDEV_OK;
}

} // namespace winsteps::platform
