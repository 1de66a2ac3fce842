// The device tree on SetupAPI and the configuration manager (wide-character calls): nodes are
// named by their instance ids at the interface and opened afresh at every call, in a device
// information set of their own; their properties are read through SetupAPI, the tree and the
// status through the configuration manager.

#include "platform/devices.h"
#include "platform/win32/win32util.h"

#include <cfgmgr32.h>
#include <setupapi.h>

namespace winsteps::platform {

namespace {

using win32::lastError;
using win32::narrow;
using win32::widen;

::GUID nativeGuid(const GUID& guid)
{
    ::GUID native;
    native.Data1 = guid.data1;
    native.Data2 = guid.data2;
    native.Data3 = guid.data3;
    for (int i = 0; i < 8; ++i)
        native.Data4[i] = guid.data4[i];
    return native;
}

// A device information set, destroyed when it goes.
class InfoSet {
public:
    explicit InfoSet(HDEVINFO set) : m_set(set) {}
    InfoSet(const InfoSet&) = delete;
    InfoSet& operator=(const InfoSet&) = delete;
    ~InfoSet()
    {
        if (valid())
            ::SetupDiDestroyDeviceInfoList(m_set);
    }
    bool valid() const { return m_set != INVALID_HANDLE_VALUE; }
    HDEVINFO get() const { return m_set; }

private:
    HDEVINFO m_set;
};

std::string deviceId(DEVINST node)
{
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
    return ::CM_Get_Device_IDW(node, id, MAX_DEVICE_ID_LEN, 0) == CR_SUCCESS ? narrow(id) : std::string();
}

// One node opened by its instance id (empty: the root of the tree) in a set of its own.
struct Node {
    InfoSet set{::SetupDiCreateDeviceInfoList(nullptr, nullptr)};
    SP_DEVINFO_DATA data{};
};

// Opens the node; phantom: a node that is not present counts too.
CONFIGRET open(const std::string& instanceId, bool phantom, Node* node)
{
    if (!node->set.valid())
        return CR_OUT_OF_MEMORY;
    node->data.cbSize = sizeof node->data;
    const std::wstring id = widen(instanceId.empty() ? std::string("HTREE\\ROOT\\0") : instanceId);
    if (!::SetupDiOpenDeviceInfoW(node->set.get(), id.c_str(), nullptr, 0, &node->data)) {
        const DWORD error = ::GetLastError();
        return error == ERROR_INVALID_DEVINST_NAME ? CR_INVALID_DEVICE_ID : CR_NO_SUCH_DEVNODE;
    }
    ULONG status = 0, problem = 0;
    if (!phantom && ::CM_Get_DevNode_Status(&status, &problem, node->data.DevInst, 0) == CR_NO_SUCH_DEVINST)
        return CR_NO_SUCH_DEVNODE;
    return CR_SUCCESS;
}

// A registry property of a node read whole (SPDRP_* is the CM_DRP_* value less one).
CONFIGRET readProperty(const std::string& instanceId, std::uint32_t property, DWORD* type, std::vector<BYTE>* data)
{
    Node node;
    const CONFIGRET result = open(instanceId, true, &node);
    if (result != CR_SUCCESS)
        return result;
    DWORD size = 0;
    ::SetupDiGetDeviceRegistryPropertyW(node.set.get(), &node.data, property - 1, type, nullptr, 0, &size);
    if (size == 0)
        return CR_NO_SUCH_VALUE;
    data->assign(size + sizeof(wchar_t) * 2, 0);
    return ::SetupDiGetDeviceRegistryPropertyW(node.set.get(), &node.data, property - 1, type, data->data(), size, &size)
        ? CR_SUCCESS
        : CR_NO_SUCH_VALUE;
}

bool listPropertyKind(std::uint32_t property)
{
    return property == CM_DRP_HARDWAREID || property == CM_DRP_COMPATIBLEIDS;
}

bool textPropertyKind(std::uint32_t property)
{
    switch (property) {
    case CM_DRP_DEVICEDESC:
    case CM_DRP_SERVICE:
    case CM_DRP_CLASS:
    case CM_DRP_CLASSGUID:
    case CM_DRP_DRIVER:
    case CM_DRP_MFG:
    case CM_DRP_FRIENDLYNAME:
    case CM_DRP_LOCATION_INFORMATION:
    case CM_DRP_ENUMERATOR_NAME:
        return true;
    default:
        return false;
    }
}

class Win32Devices final : public Devices {
public:
    std::uint32_t classDevices(const GUID* classGuid, const std::string& enumerator, std::uint32_t flags,
                               std::vector<std::string>* instanceIds) override
    {
        if (flags & ~std::uint32_t(DIGCF_DEFAULT | DIGCF_PRESENT | DIGCF_ALLCLASSES | DIGCF_PROFILE))
            return ERROR_INVALID_FLAGS;
        const ::GUID native = classGuid ? nativeGuid(*classGuid) : ::GUID{};
        const std::wstring name = widen(enumerator);
        const InfoSet set(::SetupDiGetClassDevsW(classGuid ? &native : nullptr, name.empty() ? nullptr : name.c_str(),
                                                 nullptr, flags | (classGuid ? 0 : DIGCF_ALLCLASSES)));
        if (!set.valid()) {
            const std::uint32_t error = lastError();
            // An enumerator the system does not know lists nothing.
            if (!name.empty() && (error == ERROR_INVALID_DATA || error == ERROR_INVALID_PARAMETER)) {
                if (instanceIds)
                    instanceIds->clear();
                return ERROR_SUCCESS;
            }
            return error;
        }
        std::vector<std::string> ids;
        SP_DEVINFO_DATA data{};
        data.cbSize = sizeof data;
        for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set.get(), i, &data); ++i)
            ids.push_back(deviceId(data.DevInst));
        if (instanceIds)
            *instanceIds = ids;
        return ERROR_SUCCESS;
    }

    std::uint32_t deviceInterfaces(const GUID& interfaceClass, std::uint32_t flags,
                                   std::vector<DeviceInterface>* interfaces) override
    {
        if (flags & ~std::uint32_t(DIGCF_DEFAULT | DIGCF_PRESENT | DIGCF_PROFILE | DIGCF_DEVICEINTERFACE))
            return ERROR_INVALID_FLAGS;
        const ::GUID native = nativeGuid(interfaceClass);
        const InfoSet set(::SetupDiGetClassDevsW(&native, nullptr, nullptr, flags | DIGCF_DEVICEINTERFACE));
        if (!set.valid())
            return lastError();
        std::vector<DeviceInterface> found;
        SP_DEVICE_INTERFACE_DATA item{};
        item.cbSize = sizeof item;
        for (DWORD i = 0; ::SetupDiEnumDeviceInterfaces(set.get(), nullptr, &native, i, &item); ++i) {
            DWORD size = 0;
            ::SetupDiGetDeviceInterfaceDetailW(set.get(), &item, nullptr, 0, &size, nullptr);
            if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
                continue;
            std::vector<BYTE> buffer(size + sizeof(wchar_t));
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
            SP_DEVINFO_DATA node{};
            node.cbSize = sizeof node;
            if (::SetupDiGetDeviceInterfaceDetailW(set.get(), &item, detail, size, nullptr, &node))
                found.push_back({narrow(detail->DevicePath), deviceId(node.DevInst)});
        }
        if (interfaces)
            *interfaces = found;
        return ERROR_SUCCESS;
    }

    CONFIGRET locateDevNode(const std::string& instanceId, std::uint32_t flags, std::string* found) override
    {
        if (flags & ~std::uint32_t(CM_LOCATE_DEVNODE_PHANTOM))
            return CR_INVALID_FLAG;
        Node node;
        const CONFIGRET result = open(instanceId, flags & CM_LOCATE_DEVNODE_PHANTOM, &node);
        if (result == CR_SUCCESS && found)
            *found = deviceId(node.data.DevInst);
        return result;
    }

    CONFIGRET parent(const std::string& instanceId, std::string* parentId) override
    {
        Node node;
        DEVINST up = 0;
        CONFIGRET result = open(instanceId, true, &node);
        if (result == CR_SUCCESS)
            result = ::CM_Get_Parent(&up, node.data.DevInst, 0);
        if (result == CR_SUCCESS && parentId)
            *parentId = deviceId(up);
        return result == CR_NO_SUCH_DEVINST ? CR_NO_SUCH_DEVNODE : result;
    }

    CONFIGRET children(const std::string& instanceId, std::vector<std::string>* childIds) override
    {
        Node node;
        const CONFIGRET result = open(instanceId, true, &node);
        if (result != CR_SUCCESS)
            return result;
        std::vector<std::string> ids;
        DEVINST child = 0;
        for (CONFIGRET step = ::CM_Get_Child(&child, node.data.DevInst, 0); step == CR_SUCCESS;
             step = ::CM_Get_Sibling(&child, child, 0))
            ids.push_back(deviceId(child));
        if (childIds)
            *childIds = ids;
        return CR_SUCCESS;
    }

    CONFIGRET devNodeStatus(const std::string& instanceId, std::uint32_t* status, std::uint32_t* problem) override
    {
        Node node;
        CONFIGRET result = open(instanceId, true, &node);
        ULONG bits = 0, code = 0;
        if (result == CR_SUCCESS)
            result = ::CM_Get_DevNode_Status(&bits, &code, node.data.DevInst, 0);
        if (result != CR_SUCCESS)
            return result == CR_NO_SUCH_DEVINST ? CR_NO_SUCH_DEVNODE : result;
        if (status)
            *status = bits;
        if (problem)
            *problem = code;
        return CR_SUCCESS;
    }

    CONFIGRET textProperty(const std::string& instanceId, std::uint32_t property, std::string* value) override
    {
        if (!textPropertyKind(property))
            return CR_INVALID_PROPERTY;
        DWORD type = 0;
        std::vector<BYTE> data;
        const CONFIGRET result = readProperty(instanceId, property, &type, &data);
        if (result != CR_SUCCESS)
            return result;
        const auto* text = reinterpret_cast<const wchar_t*>(data.data());
        if (type != REG_SZ || text[0] == L'\0')
            return CR_NO_SUCH_VALUE;
        if (value)
            *value = narrow(text);
        return CR_SUCCESS;
    }

    CONFIGRET listProperty(const std::string& instanceId, std::uint32_t property,
                           std::vector<std::string>* values) override
    {
        if (!listPropertyKind(property))
            return CR_INVALID_PROPERTY;
        DWORD type = 0;
        std::vector<BYTE> data;
        const CONFIGRET result = readProperty(instanceId, property, &type, &data);
        if (result != CR_SUCCESS)
            return result;
        std::vector<std::string> list;
        for (const auto* text = reinterpret_cast<const wchar_t*>(data.data()); *text; text += wcslen(text) + 1)
            list.push_back(narrow(text));
        if (type != REG_MULTI_SZ || list.empty())
            return CR_NO_SUCH_VALUE;
        if (values)
            *values = list;
        return CR_SUCCESS;
    }

    CONFIGRET setFriendlyName(const std::string& instanceId, const std::string& name) override
    {
        Node node;
        const CONFIGRET result = open(instanceId, true, &node);
        if (result != CR_SUCCESS)
            return result;
        const std::wstring text = widen(name);
        if (::SetupDiSetDeviceRegistryPropertyW(node.set.get(), &node.data, SPDRP_FRIENDLYNAME,
                                                text.empty() ? nullptr : reinterpret_cast<const BYTE*>(text.c_str()),
                                                text.empty() ? 0 : DWORD((text.size() + 1) * sizeof(wchar_t))))
            return CR_SUCCESS;
        return ::GetLastError() == ERROR_ACCESS_DENIED ? CR_ACCESS_DENIED : CR_FAILURE;
    }

    // Windows tells of changes by window messages, not by a count.
    std::uint64_t changeCount() override { return 0; }
};

} // namespace

Devices& devices()
{
    static Win32Devices instance;
    return instance;
}

} // namespace winsteps::platform
