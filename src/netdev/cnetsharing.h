#pragma once

#include "platform/netsharing.h"
#include "winsteps_export.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <memory>

// Wrappers of the connection-sharing automation objects: the manager, a network connection
// and a port mapping of a connection. Connections and mappings are values: a copy holds the
// same objects (one more reference each). They are used on one thread at a time, which must
// have started COM, and must go before that thread ends it.
//
// Getters never fail: on a null object or a failed call they answer false, 0, -1 or an empty
// text. The operations that change something answer whether the call returned S_OK; when it
// failed, lastError() holds its HRESULT (S_OK after a call that did not fail).

class CPortMap;

// One network connection, with the manager it came from.
class WINSTEPS_EXPORT CNetConnection
{
public:
    CNetConnection(std::shared_ptr<winsteps::platform::NetSharingManager> manager,
                   std::shared_ptr<winsteps::platform::NetConnection> connection);
    CNetConnection(const CNetConnection&) = default;
    CNetConnection& operator=(const CNetConnection&) = default;
    virtual ~CNetConnection();

    virtual bool connect();
    virtual bool disconnect();
    virtual bool deleteConnection();
    virtual bool rename(const QString& name);
    virtual QString guid() const;
    virtual QString name() const;
    virtual QString deviceName() const;
    // NETCON_STATUS and NETCON_MEDIATYPE; -1 when they cannot be read.
    virtual int status() const;
    virtual int mediaType() const;
    virtual bool sharingEnabled() const;
    virtual bool firewallEnabled() const;
    // True: shared as the public connection; false: not shared.
    virtual bool setSharingEnabled(bool enabled);
    virtual bool setFirewallEnabled(bool enabled);
    virtual QList<CPortMap> portMappings() const;
    // A new mapping (disabled until enabled); null when it could not be added. The target is
    // an address when targetIsAddress, else a computer name.
    virtual std::unique_ptr<CPortMap> addPortMapping(const QString& description, std::uint8_t protocol,
                                                     std::uint16_t externalPort, std::uint16_t internalPort,
                                                     const QString& target, bool targetIsAddress);

    bool isNull() const { return !m_manager || !m_connection; }
    winsteps::platform::HRESULT lastError() const { return m_lastError; }

private:
    bool props(winsteps::platform::NetConnectionProps* props) const;
    std::shared_ptr<winsteps::platform::NetSharingConfiguration> configuration() const;
    // Records hr as the last error when it is one; true for S_OK.
    bool check(winsteps::platform::HRESULT hr);

    std::shared_ptr<winsteps::platform::NetSharingManager> m_manager;
    std::shared_ptr<winsteps::platform::NetConnection> m_connection;
    winsteps::platform::HRESULT m_lastError = winsteps::platform::S_OK;
};

// One port mapping of a connection. Null when it holds no mapping.
class WINSTEPS_EXPORT CPortMap
{
public:
    CPortMap() = default;
    CPortMap(std::shared_ptr<winsteps::platform::NetConnection> connection,
             std::shared_ptr<winsteps::platform::NetSharingPortMapping> mapping);
    CPortMap(const CPortMap&) = default;
    CPortMap& operator=(const CPortMap&) = default;
    virtual ~CPortMap();

    virtual bool isNull() const;
    // Enable (true) or Disable (false); false when the call did not return S_OK.
    virtual bool enable(bool enabled);
    virtual bool deleteMapping();
    virtual QString name() const;
    virtual std::uint8_t protocol() const;
    // -1 when they cannot be read.
    virtual int externalPort() const;
    virtual int internalPort() const;
    virtual QString targetName() const;
    virtual QString targetIpAddress() const;
    virtual bool enabled() const;

    winsteps::platform::HRESULT lastError() const { return m_lastError; }

private:
    bool props(winsteps::platform::PortMappingProps* props) const;

    std::shared_ptr<winsteps::platform::NetConnection> m_connection;
    std::shared_ptr<winsteps::platform::NetSharingPortMapping> m_mapping;
    winsteps::platform::HRESULT m_lastError = winsteps::platform::S_OK;
};

// The sharing manager. Creating it never fails outwardly: on a system without connection
// sharing it is null, sharingInstalled() is false and there are no connections.
class WINSTEPS_EXPORT CNetSharingManager
{
public:
    CNetSharingManager();
    virtual ~CNetSharingManager();
    CNetSharingManager(const CNetSharingManager&) = delete;
    CNetSharingManager& operator=(const CNetSharingManager&) = delete;

    virtual bool isNull() const;
    virtual bool sharingInstalled() const;
    // Every connection, in the manager's order.
    virtual QList<CNetConnection> connections() const;

private:
    std::shared_ptr<winsteps::platform::NetSharingManager> m_manager;
};
