#pragma once

#include "platform/com.h" // GUID, CLSID
#include "platform/common.h"
#include "platform/firewall.h" // VARIANT_BOOL, E_NOTIMPL
#include "winsteps_platform_export.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The connection-sharing subsystem of the Windows system interface: the sharing manager of
// Internet Connection Sharing and the connection firewall (ProgID "HNetCfg.HNetShare.1"), its
// network connections, their sharing configuration and port mappings, each call answering the
// HRESULT its COM method gives. Plain C++ only, like every interface header (see common.h).
//
// Objects are held by std::shared_ptr, as in firewall.h: a holder owns one reference of the
// COM object, a copy of the holder another one. Release every object before the thread's
// CoUninitialize that balances the CoInitialize it was created under.

namespace winsteps::platform {

// The sharing manager's ProgID, the class context it is created with, and the interfaces.
inline constexpr const char* netSharingManagerProgId = "HNetCfg.HNetShare.1";
inline constexpr std::uint32_t CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr std::uint32_t CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr std::uint32_t CLSCTX_REMOTE_SERVER = 0x10;
inline constexpr std::uint32_t CLSCTX_ALL = 23; // in-process server and handler, local and remote server
inline constexpr GUID IID_INetSharingManager = {0xC08956B7, 0x1CD3, 0x11D1, {0xB1, 0xC5, 0x00, 0x80, 0x5F, 0xC1, 0x27, 0x0E}};
inline constexpr GUID IID_INetConnection = {0xC08956A1, 0x1CD3, 0x11D1, {0xB1, 0xC5, 0x00, 0x80, 0x5F, 0xC1, 0x27, 0x0E}};
inline constexpr GUID IID_INetSharingConfiguration = {
    0xC08956B6, 0x1CD3, 0x11D1, {0xB1, 0xC5, 0x00, 0x80, 0x5F, 0xC1, 0x27, 0x0E}};
inline constexpr GUID IID_INetSharingPortMapping = {
    0xC08956B1, 0x1CD3, 0x11D1, {0xB1, 0xC5, 0x00, 0x80, 0x5F, 0xC1, 0x27, 0x0E}};

// E_ACCESSDENIED: the call is not allowed (a LAN connection cannot be deleted).
inline constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005u);

// NETCON_STATUS: the state of a connection.
using NETCON_STATUS = std::uint32_t;
inline constexpr NETCON_STATUS NCS_DISCONNECTED = 0;
inline constexpr NETCON_STATUS NCS_CONNECTING = 1;
inline constexpr NETCON_STATUS NCS_CONNECTED = 2;
inline constexpr NETCON_STATUS NCS_DISCONNECTING = 3;
inline constexpr NETCON_STATUS NCS_HARDWARE_NOT_PRESENT = 4;
inline constexpr NETCON_STATUS NCS_HARDWARE_DISABLED = 5;
inline constexpr NETCON_STATUS NCS_HARDWARE_MALFUNCTION = 6;
inline constexpr NETCON_STATUS NCS_MEDIA_DISCONNECTED = 7;
inline constexpr NETCON_STATUS NCS_AUTHENTICATING = 8;
inline constexpr NETCON_STATUS NCS_AUTHENTICATION_SUCCEEDED = 9;
inline constexpr NETCON_STATUS NCS_AUTHENTICATION_FAILED = 10;
inline constexpr NETCON_STATUS NCS_INVALID_ADDRESS = 11;
inline constexpr NETCON_STATUS NCS_CREDENTIALS_REQUIRED = 12;

// NETCON_MEDIATYPE: the kind of a connection. A wireless network card is a LAN connection.
using NETCON_MEDIATYPE = std::uint32_t;
inline constexpr NETCON_MEDIATYPE NCM_NONE = 0;
inline constexpr NETCON_MEDIATYPE NCM_DIRECT = 1;
inline constexpr NETCON_MEDIATYPE NCM_ISDN = 2;
inline constexpr NETCON_MEDIATYPE NCM_LAN = 3;
inline constexpr NETCON_MEDIATYPE NCM_PHONE = 4; // dial-up
inline constexpr NETCON_MEDIATYPE NCM_TUNNEL = 5;
inline constexpr NETCON_MEDIATYPE NCM_PPPOE = 6;
inline constexpr NETCON_MEDIATYPE NCM_BRIDGE = 7;
inline constexpr NETCON_MEDIATYPE NCM_SHAREDACCESSHOST_LAN = 8;
inline constexpr NETCON_MEDIATYPE NCM_SHAREDACCESSHOST_RAS = 9;

// SHARINGCONNECTIONTYPE: which side of the sharing a connection is.
using SHARINGCONNECTIONTYPE = std::uint32_t;
inline constexpr SHARINGCONNECTIONTYPE ICSSHARINGTYPE_PUBLIC = 0;
inline constexpr SHARINGCONNECTIONTYPE ICSSHARINGTYPE_PRIVATE = 1;

// SHARINGCONNECTION_ENUM_FLAGS of the port-mapping collection.
inline constexpr std::uint32_t ICSSC_DEFAULT = 0;
inline constexpr std::uint32_t ICSSC_ENABLED = 1;

// ICS_TARGETTYPE: what AddPortMapping's target text is.
using ICS_TARGETTYPE = std::uint32_t;
inline constexpr ICS_TARGETTYPE ICSTT_NAME = 0;
inline constexpr ICS_TARGETTYPE ICSTT_IPADDRESS = 1;

// IP protocol numbers of a port mapping.
inline constexpr std::uint8_t NAT_PROTOCOL_TCP = 6;
inline constexpr std::uint8_t NAT_PROTOCOL_UDP = 17;

// INetConnectionProps: what the manager tells about a connection.
struct NetConnectionProps {
    std::string guid; // "{...}", as StringFromGUID2 writes it
    std::string name;
    std::string deviceName;
    NETCON_STATUS status = NCS_DISCONNECTED;
    NETCON_MEDIATYPE mediaType = NCM_NONE;
    std::uint32_t characteristics = 0;
};

// INetSharingPortMappingProps: one port mapping's properties.
struct PortMappingProps {
    std::string name;
    std::uint8_t ipProtocol = 0; // NAT_PROTOCOL_TCP, NAT_PROTOCOL_UDP
    std::int32_t externalPort = 0;
    std::int32_t internalPort = 0;
    std::int32_t options = 0;
    std::string targetName;
    std::string targetIPAddress;
    VARIANT_BOOL enabled = VARIANT_FALSE;
};

// INetSharingPortMapping: one port mapping of a connection.
class WINSTEPS_PLATFORM_EXPORT NetSharingPortMapping {
public:
    virtual ~NetSharingPortMapping();

    // get_Properties.
    virtual HRESULT properties(PortMappingProps* props) = 0;
    // Enable, Disable: the mapping forwards traffic, or no longer does.
    virtual HRESULT enable() = 0;
    virtual HRESULT disable() = 0;
    // Delete: the mapping goes; later calls on this object fail.
    virtual HRESULT deleteMapping() = 0;
};

// INetSharingConfiguration: the sharing and firewall settings of one connection.
class WINSTEPS_PLATFORM_EXPORT NetSharingConfiguration {
public:
    virtual ~NetSharingConfiguration();

    // get_SharingEnabled, EnableSharing(type), DisableSharing.
    virtual HRESULT sharingEnabled(VARIANT_BOOL* enabled) = 0;
    virtual HRESULT enableSharing(SHARINGCONNECTIONTYPE type) = 0;
    virtual HRESULT disableSharing() = 0;
    // get_InternetFirewallEnabled, EnableInternetFirewall, DisableInternetFirewall.
    virtual HRESULT internetFirewallEnabled(VARIANT_BOOL* enabled) = 0;
    virtual HRESULT enableInternetFirewall() = 0;
    virtual HRESULT disableInternetFirewall() = 0;
    // get_EnumPortMappings(flags), enumerated: the connection's mappings in the order they
    // were added (ICSSC_ENABLED: the enabled ones only). *mappings is replaced on success.
    virtual HRESULT portMappings(std::uint32_t flags, std::vector<std::shared_ptr<NetSharingPortMapping>>* mappings) = 0;
    // AddPortMapping: a new mapping, disabled until Enable. E_INVALIDARG for an empty name or
    // target, a protocol other than TCP or UDP, or a port of 0; a mapping of the same protocol
    // and external port on the connection already: HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS).
    // *mapping is set on success only.
    virtual HRESULT addPortMapping(const std::string& name, std::uint8_t ipProtocol, std::uint16_t externalPort,
                                   std::uint16_t internalPort, std::uint32_t options, const std::string& target,
                                   ICS_TARGETTYPE targetType, std::shared_ptr<NetSharingPortMapping>* mapping) = 0;
};

// INetConnection: one network connection.
class WINSTEPS_PLATFORM_EXPORT NetConnection {
public:
    virtual ~NetConnection();

    // Connect, Disconnect.
    virtual HRESULT connect() = 0;
    virtual HRESULT disconnect() = 0;
    // Delete: the connection goes with its mappings (E_ACCESSDENIED for a LAN connection).
    virtual HRESULT deleteConnection() = 0;
    // Rename.
    virtual HRESULT rename(const std::string& name) = 0;
};

// INetSharingManager.
class WINSTEPS_PLATFORM_EXPORT NetSharingManager {
public:
    virtual ~NetSharingManager();

    // get_SharingInstalled.
    virtual HRESULT sharingInstalled(VARIANT_BOOL* installed) = 0;
    // get_EnumEveryConnection, enumerated: every connection, the elements that are no
    // connection object skipped. *connections is replaced on success.
    virtual HRESULT everyConnection(std::vector<std::shared_ptr<NetConnection>>* connections) = 0;
    // get_NetConnectionProps(connection), read at once. E_INVALIDARG for a connection of
    // another manager's kind.
    virtual HRESULT connectionProps(const std::shared_ptr<NetConnection>& connection, NetConnectionProps* props) = 0;
    // get_INetSharingConfigurationForINetConnection; *configuration is set on success only.
    virtual HRESULT sharingConfiguration(const std::shared_ptr<NetConnection>& connection,
                                         std::shared_ptr<NetSharingConfiguration>* configuration) = 0;
};

// The connection sharing of one Windows machine as seen from the running process. Every
// method may be called from any thread that started COM.
class WINSTEPS_PLATFORM_EXPORT NetSharing {
public:
    virtual ~NetSharing();

    // CLSIDFromProgID(netSharingManagerProgId), then CoCreateInstance in CLSCTX_ALL for
    // IID_INetSharingManager (created for IUnknown, run, then queried, as COM wants for a
    // context that includes a local server). CO_E_CLASSSTRING where the system has no
    // connection sharing (its ProgID is unknown; REGDB_E_CLASSNOTREG when only the class is
    // missing); else CO_E_NOTINITIALIZED when the calling thread has not started COM.
    // *manager is set on success only.
    virtual HRESULT createManager(std::shared_ptr<NetSharingManager>* manager) = 0;
};

// The connection sharing of this process's machine.
WINSTEPS_PLATFORM_EXPORT NetSharing& netSharing();

} // namespace winsteps::platform
