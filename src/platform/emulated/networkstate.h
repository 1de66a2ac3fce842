#pragma once

#include "platform/netsharing.h"
#include "winsteps_platform_export.h"

#include <QJsonObject>
#include <QList>
#include <QString>

namespace winsteps::platform::emulated {

class MachineProfile;

// What the firewall and the connection sharing of an emulated machine keep.
//
// - The firewall's authorised list lives where Windows XP SP2 keeps it, in the registry (see
//   firewallListKey), so a profile's "registry", a .reg import or export-reg show and stage it.
// - The connections and their port mappings are a record of the machine's store, shared by
//   every process on the machine folder; until something changes them they are those the
//   profile declares.
// - The profile says what the system has and which connections it starts with:
//     "firewall": {"manager": bool, "sharing": bool}
//       manager: the firewall manager exists (default: Windows XP SP2, Server 2003 SP1 and
//       later); sharing: the connection-sharing manager exists (default: NT 5.1 and later).
//     "connections": {"NAME": null | {"type": "lan"|"wireless"|"dialup", "device": text,
//                     "guid": "{...}", "status": "connected"|"disconnected"|
//                     "mediaDisconnected"|"hardwareDisabled", "firewall": bool, "sharing": bool,
//                     "mappings": [{"name": text, "protocol": "tcp"|"udp",
//                                   "externalPort": 1-65535, "internalPort": 1-65535,
//                                   "target": text, "targetType": "ip"|"name",
//                                   "enabled": bool}]}}
//   A system with connection sharing starts with "Local Area Connection" (a LAN, connected,
//   firewalled where the firewall manager exists); a profile's entry of the same name changes
//   its items, null takes it away. A connection's defaults: type "lan", a device of its type,
//   a GUID made from its name, "connected" ("disconnected" for dial-up), firewalled where the
//   manager exists, not shared, no mappings. A mapping's: "tcp", "targetType" "ip", enabled.

// The authorised list of the standard profile, below HKEY_LOCAL_MACHINE: one REG_SZ value per
// program, named by its path, with the data "PATH:SCOPE:Enabled:NAME" (or "Disabled").
inline constexpr const char* firewallProfileKey =
    "SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters\\FirewallPolicy\\StandardProfile";
inline constexpr const char* firewallListKey =
    "SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters\\FirewallPolicy\\StandardProfile\\"
    "AuthorizedApplications\\List";

struct PortMappingRecord {
    qint64 id = 0; // unique on the machine
    QString name;
    std::uint8_t protocol = NAT_PROTOCOL_TCP;
    int externalPort = 0;
    int internalPort = 0;
    int options = 0;
    QString target;
    ICS_TARGETTYPE targetType = ICSTT_IPADDRESS;
    bool enabled = true;
};

struct ConnectionRecord {
    QString guid; // "{...}" in upper case
    QString name;
    QString device;
    NETCON_MEDIATYPE mediaType = NCM_LAN;
    NETCON_STATUS status = NCS_CONNECTED;
    bool wireless = false;
    bool firewall = false;
    bool sharing = false;
    SHARINGCONNECTIONTYPE sharingType = ICSSHARINGTYPE_PUBLIC;
    QList<PortMappingRecord> mappings;
};

struct WINSTEPS_PLATFORM_EXPORT NetworkState {
    QList<ConnectionRecord> connections;
    qint64 nextMapping = 1;

    // The connection of that GUID (any case); null when there is none.
    ConnectionRecord* connection(const QString& guid);
    QJsonObject toJson() const;
    static NetworkState fromJson(const QJsonObject& json);
};

// Whether the system of the profile has the firewall manager, the connection-sharing manager.
WINSTEPS_PLATFORM_EXPORT bool hasFirewallManager(const MachineProfile& profile);
WINSTEPS_PLATFORM_EXPORT bool hasConnectionSharing(const MachineProfile& profile);

// Checks a profile's "firewall" and "connections": false + error text naming the profile and
// the key for anything they cannot mean.
WINSTEPS_PLATFORM_EXPORT bool checkNetworkProfile(const QJsonObject& profile, const QString& source, QString* error);

// The connections a machine of the profile starts with.
WINSTEPS_PLATFORM_EXPORT NetworkState initialNetwork(const MachineProfile& profile);

// The words of a status and of a media type ("connected", "lan", ...), as the profile and
// machine show write them.
WINSTEPS_PLATFORM_EXPORT QString statusWord(NETCON_STATUS status);
WINSTEPS_PLATFORM_EXPORT QString mediaWord(const ConnectionRecord& connection);

} // namespace winsteps::platform::emulated
