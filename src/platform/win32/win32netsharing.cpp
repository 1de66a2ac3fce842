// Connection sharing on its automation objects (hnetcfg's HNetCfg.HNetShare.1): the manager,
// its connections, their sharing configuration and port mappings, each wrapper holding one
// reference of its object.

#include "platform/netsharing.h"
#include "platform/win32/win32automation.h"

#include <netcon.h>

namespace winsteps::platform {

namespace {

using win32::Bstr;
using win32::forEachObject;
using win32::nativeGuid;
using win32::owned;
using win32::readText;

// Hands a new object to out (set on success only); a call that succeeded without one is E_POINTER.
template <typename Wrapper, typename Interface, typename Out>
HRESULT give(HRESULT result, Interface* object, Out* out)
{
    if (SUCCEEDED(result) && object) {
        *out = std::make_shared<Wrapper>(object);
        return result;
    }
    if (object)
        object->Release();
    return SUCCEEDED(result) ? E_POINTER : result;
}

class Win32PortMapping final : public NetSharingPortMapping {
public:
    explicit Win32PortMapping(INetSharingPortMapping* object) : m_object(owned(object)) {}

    HRESULT properties(PortMappingProps* props) override
    {
        if (!props)
            return E_POINTER;
        INetSharingPortMappingProps* object = nullptr;
        HRESULT result = m_object->get_Properties(&object);
        if (FAILED(result) || !object)
            return FAILED(result) ? result : E_POINTER;
        const std::shared_ptr<INetSharingPortMappingProps> read = owned(object);
        PortMappingProps got;
        UCHAR protocol = 0;
        LONG external = 0, internal = 0, options = 0;
        result = readText([&](BSTR* text) { return read->get_Name(text); }, &got.name);
        if (SUCCEEDED(result))
            result = read->get_IPProtocol(&protocol);
        if (SUCCEEDED(result))
            result = read->get_ExternalPort(&external);
        if (SUCCEEDED(result))
            result = read->get_InternalPort(&internal);
        if (SUCCEEDED(result))
            result = read->get_Options(&options);
        if (SUCCEEDED(result))
            result = readText([&](BSTR* text) { return read->get_TargetName(text); }, &got.targetName);
        if (SUCCEEDED(result))
            result = readText([&](BSTR* text) { return read->get_TargetIPAddress(text); }, &got.targetIPAddress);
        if (SUCCEEDED(result))
            result = read->get_Enabled(&got.enabled);
        if (FAILED(result))
            return result;
        got.ipProtocol = protocol;
        got.externalPort = external;
        got.internalPort = internal;
        got.options = options;
        *props = got;
        return result;
    }
    HRESULT enable() override { return m_object->Enable(); }
    HRESULT disable() override { return m_object->Disable(); }
    HRESULT deleteMapping() override { return m_object->Delete(); }

private:
    std::shared_ptr<INetSharingPortMapping> m_object;
};

class Win32SharingConfiguration final : public NetSharingConfiguration {
public:
    explicit Win32SharingConfiguration(INetSharingConfiguration* object) : m_object(owned(object)) {}

    HRESULT sharingEnabled(VARIANT_BOOL* enabled) override
    {
        return enabled ? m_object->get_SharingEnabled(enabled) : E_POINTER;
    }
    HRESULT enableSharing(SHARINGCONNECTIONTYPE type) override
    {
        return m_object->EnableSharing(::SHARINGCONNECTIONTYPE(type));
    }
    HRESULT disableSharing() override { return m_object->DisableSharing(); }
    HRESULT internetFirewallEnabled(VARIANT_BOOL* enabled) override
    {
        return enabled ? m_object->get_InternetFirewallEnabled(enabled) : E_POINTER;
    }
    HRESULT enableInternetFirewall() override { return m_object->EnableInternetFirewall(); }
    HRESULT disableInternetFirewall() override { return m_object->DisableInternetFirewall(); }

    HRESULT portMappings(std::uint32_t flags, std::vector<std::shared_ptr<NetSharingPortMapping>>* mappings) override
    {
        if (!mappings)
            return E_POINTER;
        INetSharingPortMappingCollection* object = nullptr;
        HRESULT result = m_object->get_EnumPortMappings(::SHARINGCONNECTION_ENUM_FLAGS(flags), &object);
        if (FAILED(result) || !object)
            return FAILED(result) ? result : E_POINTER;
        const std::shared_ptr<INetSharingPortMappingCollection> collection = owned(object);
        static const ::IID iid = nativeGuid(IID_INetSharingPortMapping);
        std::vector<std::shared_ptr<NetSharingPortMapping>> found;
        result = forEachObject(collection.get(), [&](IUnknown* element) {
            INetSharingPortMapping* mapping = nullptr;
            if (SUCCEEDED(element->QueryInterface(iid, reinterpret_cast<void**>(&mapping))) && mapping)
                found.push_back(std::make_shared<Win32PortMapping>(mapping));
        });
        if (SUCCEEDED(result))
            *mappings = std::move(found);
        return result;
    }

    HRESULT addPortMapping(const std::string& name, std::uint8_t ipProtocol, std::uint16_t externalPort,
                           std::uint16_t internalPort, std::uint32_t options, const std::string& target,
                           ICS_TARGETTYPE targetType, std::shared_ptr<NetSharingPortMapping>* mapping) override
    {
        if (!mapping)
            return E_POINTER;
        const Bstr nameText(name), targetText(target);
        if (!nameText.get() || !targetText.get())
            return E_OUTOFMEMORY;
        INetSharingPortMapping* added = nullptr;
        const HRESULT result = m_object->AddPortMapping(nameText.get(), ipProtocol, externalPort, internalPort, options,
                                                        targetText.get(), ::ICS_TARGETTYPE(targetType), &added);
        return give<Win32PortMapping>(result, added, mapping);
    }

private:
    std::shared_ptr<INetSharingConfiguration> m_object;
};

class Win32NetConnection final : public NetConnection {
public:
    explicit Win32NetConnection(INetConnection* object) : m_object(owned(object)) {}

    HRESULT connect() override { return m_object->Connect(); }
    HRESULT disconnect() override { return m_object->Disconnect(); }
    HRESULT deleteConnection() override { return m_object->Delete(); }
    HRESULT rename(const std::string& name) override
    {
        const std::wstring wide = win32::widen(name);
        return m_object->Rename(wide.c_str());
    }

    INetConnection* get() const { return m_object.get(); }

private:
    std::shared_ptr<INetConnection> m_object;
};

class Win32SharingManager final : public NetSharingManager {
public:
    explicit Win32SharingManager(INetSharingManager* object) : m_object(owned(object)) {}

    HRESULT sharingInstalled(VARIANT_BOOL* installed) override
    {
        return installed ? m_object->get_SharingInstalled(installed) : E_POINTER;
    }

    HRESULT everyConnection(std::vector<std::shared_ptr<NetConnection>>* connections) override
    {
        if (!connections)
            return E_POINTER;
        INetSharingEveryConnectionCollection* object = nullptr;
        HRESULT result = m_object->get_EnumEveryConnection(&object);
        if (FAILED(result) || !object)
            return FAILED(result) ? result : E_POINTER;
        const std::shared_ptr<INetSharingEveryConnectionCollection> collection = owned(object);
        static const ::IID iid = nativeGuid(IID_INetConnection);
        std::vector<std::shared_ptr<NetConnection>> found;
        result = forEachObject(collection.get(), [&](IUnknown* element) {
            INetConnection* connection = nullptr;
            if (SUCCEEDED(element->QueryInterface(iid, reinterpret_cast<void**>(&connection))) && connection)
                found.push_back(std::make_shared<Win32NetConnection>(connection));
        });
        if (SUCCEEDED(result))
            *connections = std::move(found);
        return result;
    }

    HRESULT connectionProps(const std::shared_ptr<NetConnection>& connection, NetConnectionProps* props) override
    {
        const auto* ours = dynamic_cast<const Win32NetConnection*>(connection.get());
        if (!props)
            return E_POINTER;
        if (!ours)
            return E_INVALIDARG;
        INetConnectionProps* object = nullptr;
        HRESULT result = m_object->get_NetConnectionProps(ours->get(), &object);
        if (FAILED(result) || !object)
            return FAILED(result) ? result : E_POINTER;
        const std::shared_ptr<INetConnectionProps> read = owned(object);
        NetConnectionProps got;
        ::NETCON_STATUS status = ::NCS_DISCONNECTED;
        ::NETCON_MEDIATYPE media = ::NCM_NONE;
        DWORD characteristics = 0;
        result = readText([&](BSTR* text) { return read->get_Guid(text); }, &got.guid);
        if (SUCCEEDED(result))
            result = readText([&](BSTR* text) { return read->get_Name(text); }, &got.name);
        if (SUCCEEDED(result))
            result = readText([&](BSTR* text) { return read->get_DeviceName(text); }, &got.deviceName);
        if (SUCCEEDED(result))
            result = read->get_Status(&status);
        if (SUCCEEDED(result))
            result = read->get_MediaType(&media);
        if (SUCCEEDED(result))
            result = read->get_Characteristics(&characteristics);
        if (FAILED(result))
            return result;
        got.status = NETCON_STATUS(status);
        got.mediaType = NETCON_MEDIATYPE(media);
        got.characteristics = characteristics;
        *props = got;
        return result;
    }

    HRESULT sharingConfiguration(const std::shared_ptr<NetConnection>& connection,
                                 std::shared_ptr<NetSharingConfiguration>* configuration) override
    {
        const auto* ours = dynamic_cast<const Win32NetConnection*>(connection.get());
        if (!configuration)
            return E_POINTER;
        if (!ours)
            return E_INVALIDARG;
        INetSharingConfiguration* object = nullptr;
        const HRESULT result = m_object->get_INetSharingConfigurationForINetConnection(ours->get(), &object);
        return give<Win32SharingConfiguration>(result, object, configuration);
    }

private:
    std::shared_ptr<INetSharingManager> m_object;
};

class Win32NetSharing final : public NetSharing {
public:
    // The class is looked up by its ProgID, created for IUnknown in every server context, run
    // (a context with a local server wants that before another interface is asked for), then
    // asked for the manager's interface.
    HRESULT createManager(std::shared_ptr<NetSharingManager>* manager) override
    {
        if (!manager)
            return E_POINTER;
        static const ::IID unknownInterface = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
        const std::wstring progId = win32::widen(netSharingManagerProgId);
        ::CLSID clsid{};
        HRESULT result = ::CLSIDFromProgID(progId.c_str(), &clsid);
        if (FAILED(result))
            return result;
        IUnknown* unknown = nullptr;
        result = ::CoCreateInstance(clsid, nullptr, CLSCTX_ALL, unknownInterface, reinterpret_cast<void**>(&unknown));
        if (FAILED(result) || !unknown)
            return FAILED(result) ? result : E_POINTER;
        const std::shared_ptr<IUnknown> created = owned(unknown);
        result = ::OleRun(created.get());
        if (FAILED(result))
            return result;
        INetSharingManager* object = nullptr;
        const ::IID iid = nativeGuid(IID_INetSharingManager);
        result = created->QueryInterface(iid, reinterpret_cast<void**>(&object));
        return give<Win32SharingManager>(result, object, manager);
    }
};

} // namespace

NetSharing& netSharing()
{
    static Win32NetSharing instance;
    return instance;
}

} // namespace winsteps::platform
