#include "netdev/cnetsharing.h"

namespace platform = winsteps::platform;

namespace {

QString text(const std::string& utf8)
{
    return QString::fromStdString(utf8);
}

} // namespace

// --- CNetConnection ------------------------------------------------------------------------

CNetConnection::CNetConnection(std::shared_ptr<platform::NetSharingManager> manager,
                               std::shared_ptr<platform::NetConnection> connection)
    : m_manager(std::move(manager))
    , m_connection(std::move(connection))
{
}

CNetConnection::~CNetConnection() = default;

bool CNetConnection::check(platform::HRESULT hr)
{
    m_lastError = platform::FAILED(hr) ? hr : platform::S_OK;
    return hr == platform::S_OK;
}

bool CNetConnection::connect()
{
    return !isNull() && check(m_connection->connect());
}

bool CNetConnection::disconnect()
{
    return !isNull() && check(m_connection->disconnect());
}

bool CNetConnection::deleteConnection()
{
    return !isNull() && check(m_connection->deleteConnection());
}

bool CNetConnection::rename(const QString& name)
{
    return !isNull() && check(m_connection->rename(name.toStdString()));
}

bool CNetConnection::props(platform::NetConnectionProps* props) const
{
    return !isNull() && platform::SUCCEEDED(m_manager->connectionProps(m_connection, props));
}

QString CNetConnection::guid() const
{
    platform::NetConnectionProps p;
    return props(&p) ? text(p.guid) : QString();
}

QString CNetConnection::name() const
{
    platform::NetConnectionProps p;
    return props(&p) ? text(p.name) : QString();
}

QString CNetConnection::deviceName() const
{
    platform::NetConnectionProps p;
    return props(&p) ? text(p.deviceName) : QString();
}

int CNetConnection::status() const
{
    platform::NetConnectionProps p;
    return props(&p) ? int(p.status) : -1;
}

int CNetConnection::mediaType() const
{
    platform::NetConnectionProps p;
    return props(&p) ? int(p.mediaType) : -1;
}

std::shared_ptr<platform::NetSharingConfiguration> CNetConnection::configuration() const
{
    std::shared_ptr<platform::NetSharingConfiguration> configuration;
    if (isNull() || platform::FAILED(m_manager->sharingConfiguration(m_connection, &configuration)))
        return nullptr;
    return configuration;
}

bool CNetConnection::sharingEnabled() const
{
    const auto config = configuration();
    platform::VARIANT_BOOL enabled = platform::VARIANT_FALSE;
    return config && platform::SUCCEEDED(config->sharingEnabled(&enabled)) && enabled != 0;
}

bool CNetConnection::firewallEnabled() const
{
    const auto config = configuration();
    platform::VARIANT_BOOL enabled = platform::VARIANT_FALSE;
    return config && platform::SUCCEEDED(config->internetFirewallEnabled(&enabled)) && enabled != 0;
}

bool CNetConnection::setSharingEnabled(bool enabled)
{
    const auto config = configuration();
    if (!config)
        return check(platform::E_POINTER);
    return check(enabled ? config->enableSharing(platform::ICSSHARINGTYPE_PUBLIC) : config->disableSharing());
}

bool CNetConnection::setFirewallEnabled(bool enabled)
{
    const auto config = configuration();
    if (!config)
        return check(platform::E_POINTER);
    return check(enabled ? config->enableInternetFirewall() : config->disableInternetFirewall());
}

QList<CPortMap> CNetConnection::portMappings() const
{
    QList<CPortMap> list;
    const auto config = configuration();
    std::vector<std::shared_ptr<platform::NetSharingPortMapping>> mappings;
    if (!config || platform::FAILED(config->portMappings(platform::ICSSC_DEFAULT, &mappings)))
        return list;
    for (const auto& mapping : mappings) {
        if (mapping)
            list << CPortMap(m_connection, mapping);
    }
    return list;
}

std::unique_ptr<CPortMap> CNetConnection::addPortMapping(const QString& description, std::uint8_t protocol,
                                                         std::uint16_t externalPort, std::uint16_t internalPort,
                                                         const QString& target, bool targetIsAddress)
{
    const auto config = configuration();
    if (!config)
        return nullptr;
    std::shared_ptr<platform::NetSharingPortMapping> mapping;
    const platform::HRESULT hr =
        config->addPortMapping(description.toStdString(), protocol, externalPort, internalPort, 0, target.toStdString(),
                               targetIsAddress ? platform::ICSTT_IPADDRESS : platform::ICSTT_NAME, &mapping);
    if (platform::FAILED(hr) || !mapping) {
        m_lastError = platform::FAILED(hr) ? hr : platform::E_POINTER;
        return nullptr;
    }
    return std::make_unique<CPortMap>(m_connection, mapping);
}

// --- CPortMap ------------------------------------------------------------------------------

CPortMap::CPortMap(std::shared_ptr<platform::NetConnection> connection,
                   std::shared_ptr<platform::NetSharingPortMapping> mapping)
    : m_connection(std::move(connection))
    , m_mapping(std::move(mapping))
{
}

CPortMap::~CPortMap() = default;

bool CPortMap::isNull() const
{
    return !m_mapping;
}

bool CPortMap::enable(bool enabled)
{
    if (isNull())
        return false;
    const platform::HRESULT hr = enabled ? m_mapping->enable() : m_mapping->disable();
    m_lastError = platform::FAILED(hr) ? hr : platform::S_OK;
    return hr == platform::S_OK;
}

bool CPortMap::deleteMapping()
{
    if (isNull())
        return false;
    const platform::HRESULT hr = m_mapping->deleteMapping();
    m_lastError = platform::FAILED(hr) ? hr : platform::S_OK;
    return hr == platform::S_OK;
}

bool CPortMap::props(platform::PortMappingProps* props) const
{
    return !isNull() && platform::SUCCEEDED(m_mapping->properties(props));
}

QString CPortMap::name() const
{
    platform::PortMappingProps p;
    return props(&p) ? text(p.name) : QString();
}

std::uint8_t CPortMap::protocol() const
{
    platform::PortMappingProps p;
    return props(&p) ? p.ipProtocol : 0;
}

int CPortMap::externalPort() const
{
    platform::PortMappingProps p;
    return props(&p) ? int(std::uint16_t(p.externalPort)) : -1;
}

int CPortMap::internalPort() const
{
    platform::PortMappingProps p;
    return props(&p) ? int(std::uint16_t(p.internalPort)) : -1;
}

QString CPortMap::targetName() const
{
    platform::PortMappingProps p;
    return props(&p) ? text(p.targetName) : QString();
}

QString CPortMap::targetIpAddress() const
{
    platform::PortMappingProps p;
    return props(&p) ? text(p.targetIPAddress) : QString();
}

bool CPortMap::enabled() const
{
    platform::PortMappingProps p;
    return props(&p) && p.enabled != 0;
}

// --- CNetSharingManager --------------------------------------------------------------------

CNetSharingManager::CNetSharingManager()
{
    // A system without connection sharing leaves the manager null; nothing is reported.
    if (platform::FAILED(platform::netSharing().createManager(&m_manager)))
        m_manager.reset();
}

CNetSharingManager::~CNetSharingManager() = default;

bool CNetSharingManager::isNull() const
{
    return !m_manager;
}

bool CNetSharingManager::sharingInstalled() const
{
    platform::VARIANT_BOOL installed = platform::VARIANT_FALSE;
    return m_manager && platform::SUCCEEDED(m_manager->sharingInstalled(&installed)) && installed != 0;
}

QList<CNetConnection> CNetSharingManager::connections() const
{
    QList<CNetConnection> list;
    std::vector<std::shared_ptr<platform::NetConnection>> connections;
    if (!m_manager || platform::FAILED(m_manager->everyConnection(&connections)))
        return list;
    for (const auto& connection : connections) {
        if (connection)
            list << CNetConnection(m_manager, connection);
    }
    return list;
}
