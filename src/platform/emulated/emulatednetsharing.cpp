#include "platform/emulated/emulatednetsharing.h"

#include "platform/emulated/emulatedmachine.h"

#include <QJsonDocument>

#include <algorithm>

namespace winsteps::platform::emulated {

namespace {

// The store's record of the connections; missing until something changes them.
const QString networkRecord = QStringLiteral("network");

PortMappingRecord* findMapping(ConnectionRecord* connection, qint64 id)
{
    if (!connection)
        return nullptr;
    for (PortMappingRecord& m : connection->mappings) {
        if (m.id == id)
            return &m;
    }
    return nullptr;
}

class EmulatedPortMapping final : public NetSharingPortMapping {
public:
    EmulatedPortMapping(EmulatedNetSharing& sharing, const QString& guid, qint64 id)
        : m_sharing(sharing), m_guid(guid), m_id(id)
    {
    }

    HRESULT properties(PortMappingProps* props) override
    {
        if (!props)
            return E_POINTER;
        return withMapping(false, [props](ConnectionRecord&, PortMappingRecord& m) {
            props->name = m.name.toStdString();
            props->ipProtocol = m.protocol;
            props->externalPort = m.externalPort;
            props->internalPort = m.internalPort;
            props->options = m.options;
            // A target given by name has no address until it is resolved, and the reverse.
            props->targetName = m.targetType == ICSTT_NAME ? m.target.toStdString() : std::string();
            props->targetIPAddress = m.targetType == ICSTT_IPADDRESS ? m.target.toStdString() : std::string();
            props->enabled = m.enabled ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        });
    }
    HRESULT enable() override { return setEnabled(true); }
    HRESULT disable() override { return setEnabled(false); }
    HRESULT deleteMapping() override
    {
        return withMapping(true, [this](ConnectionRecord& c, PortMappingRecord&) {
            c.mappings.erase(std::remove_if(c.mappings.begin(), c.mappings.end(),
                                            [this](const PortMappingRecord& m) { return m.id == m_id; }),
                             c.mappings.end());
            return S_OK;
        });
    }

private:
    HRESULT setEnabled(bool on)
    {
        return withMapping(true, [on](ConnectionRecord&, PortMappingRecord& m) {
            m.enabled = on;
            return S_OK;
        });
    }
    HRESULT withMapping(bool write, const std::function<HRESULT(ConnectionRecord&, PortMappingRecord&)>& work)
    {
        return m_sharing.access(write, [&](NetworkState& state) {
            ConnectionRecord* c = state.connection(m_guid);
            PortMappingRecord* m = findMapping(c, m_id);
            return m ? work(*c, *m) : RPC_E_DISCONNECTED;
        });
    }

    EmulatedNetSharing& m_sharing;
    const QString m_guid;
    const qint64 m_id;
};

// The work of an object on its connection; RPC_E_DISCONNECTED once the connection has gone.
HRESULT withConnection(EmulatedNetSharing& sharing, const QString& guid, bool write,
                       const std::function<HRESULT(NetworkState&, ConnectionRecord&)>& work)
{
    return sharing.access(write, [&](NetworkState& state) {
        ConnectionRecord* c = state.connection(guid);
        return c ? work(state, *c) : RPC_E_DISCONNECTED;
    });
}

HRESULT readFlag(EmulatedNetSharing& sharing, const QString& guid, bool ConnectionRecord::*flag, VARIANT_BOOL* out)
{
    if (!out)
        return E_POINTER;
    return withConnection(sharing, guid, false, [&](NetworkState&, ConnectionRecord& c) {
        *out = c.*flag ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    });
}

HRESULT writeFlag(EmulatedNetSharing& sharing, const QString& guid, bool ConnectionRecord::*flag, bool on)
{
    return withConnection(sharing, guid, true, [&](NetworkState&, ConnectionRecord& c) {
        c.*flag = on;
        return S_OK;
    });
}

class EmulatedSharingConfiguration final : public NetSharingConfiguration {
public:
    EmulatedSharingConfiguration(EmulatedNetSharing& sharing, const QString& guid) : m_sharing(sharing), m_guid(guid) {}

    HRESULT sharingEnabled(VARIANT_BOOL* enabled) override
    {
        return readFlag(m_sharing, m_guid, &ConnectionRecord::sharing, enabled);
    }
    // One connection is shared as the public side, one as the private side: enabling a side
    // takes it from the connection that had it.
    HRESULT enableSharing(SHARINGCONNECTIONTYPE type) override
    {
        if (type != ICSSHARINGTYPE_PUBLIC && type != ICSSHARINGTYPE_PRIVATE)
            return E_INVALIDARG;
        return withConnection(m_sharing, m_guid, true, [type](NetworkState& state, ConnectionRecord& c) {
            for (ConnectionRecord& other : state.connections) {
                if (other.sharing && other.sharingType == type)
                    other.sharing = false;
            }
            c.sharing = true;
            c.sharingType = type;
            return S_OK;
        });
    }
    HRESULT disableSharing() override { return writeFlag(m_sharing, m_guid, &ConnectionRecord::sharing, false); }
    HRESULT internetFirewallEnabled(VARIANT_BOOL* enabled) override
    {
        return readFlag(m_sharing, m_guid, &ConnectionRecord::firewall, enabled);
    }
    HRESULT enableInternetFirewall() override { return writeFlag(m_sharing, m_guid, &ConnectionRecord::firewall, true); }
    HRESULT disableInternetFirewall() override
    {
        return writeFlag(m_sharing, m_guid, &ConnectionRecord::firewall, false);
    }

    HRESULT portMappings(std::uint32_t flags, std::vector<std::shared_ptr<NetSharingPortMapping>>* mappings) override
    {
        if (!mappings)
            return E_POINTER;
        std::vector<std::shared_ptr<NetSharingPortMapping>> found;
        const HRESULT result = withConnection(m_sharing, m_guid, false, [&](NetworkState&, ConnectionRecord& c) {
            for (const PortMappingRecord& m : std::as_const(c.mappings)) {
                if (m.enabled || !(flags & ICSSC_ENABLED))
                    found.push_back(std::make_shared<EmulatedPortMapping>(m_sharing, m_guid, m.id));
            }
            return S_OK;
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
        if (name.empty() || target.empty() || (ipProtocol != NAT_PROTOCOL_TCP && ipProtocol != NAT_PROTOCOL_UDP)
            || externalPort == 0 || internalPort == 0 || (targetType != ICSTT_NAME && targetType != ICSTT_IPADDRESS))
            return E_INVALIDARG;
        qint64 id = 0;
        const HRESULT result = withConnection(m_sharing, m_guid, true, [&](NetworkState& state, ConnectionRecord& c) {
            for (const PortMappingRecord& m : std::as_const(c.mappings)) {
                if (m.protocol == ipProtocol && m.externalPort == externalPort)
                    return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
            }
            PortMappingRecord m;
            m.id = id = state.nextMapping++;
            m.name = QString::fromStdString(name);
            m.protocol = ipProtocol;
            m.externalPort = externalPort;
            m.internalPort = internalPort;
            m.options = int(options);
            m.target = QString::fromStdString(target);
            m.targetType = targetType;
            m.enabled = false;
            c.mappings.append(m);
            return S_OK;
        });
        if (SUCCEEDED(result))
            *mapping = std::make_shared<EmulatedPortMapping>(m_sharing, m_guid, id);
        return result;
    }

private:
    EmulatedNetSharing& m_sharing;
    const QString m_guid;
};

class EmulatedConnection final : public NetConnection {
public:
    EmulatedConnection(EmulatedNetSharing& sharing, const QString& guid) : m_sharing(sharing), m_guid(guid) {}

    HRESULT connect() override { return setStatus(NCS_CONNECTED); }
    HRESULT disconnect() override { return setStatus(NCS_DISCONNECTED); }
    HRESULT deleteConnection() override
    {
        return withConnection(m_sharing, m_guid, true, [this](NetworkState& state, ConnectionRecord& c) {
            if (c.mediaType == NCM_LAN)
                return E_ACCESSDENIED;
            state.connections.erase(std::remove_if(state.connections.begin(), state.connections.end(),
                                                   [this](const ConnectionRecord& r) { return r.guid == m_guid; }),
                                    state.connections.end());
            return S_OK;
        });
    }
    HRESULT rename(const std::string& name) override
    {
        const QString newName = QString::fromStdString(name);
        if (newName.trimmed().isEmpty())
            return E_INVALIDARG;
        return withConnection(m_sharing, m_guid, true, [&](NetworkState& state, ConnectionRecord& c) {
            for (const ConnectionRecord& other : std::as_const(state.connections)) {
                if (&other != &c && other.name.compare(newName, Qt::CaseInsensitive) == 0)
                    return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
            }
            c.name = newName;
            return S_OK;
        });
    }

    const QString& guid() const { return m_guid; }

private:
    HRESULT setStatus(NETCON_STATUS status)
    {
        return withConnection(m_sharing, m_guid, true, [status](NetworkState&, ConnectionRecord& c) {
            c.status = status;
            return S_OK;
        });
    }

    EmulatedNetSharing& m_sharing;
    const QString m_guid;
};

class EmulatedSharingManager final : public NetSharingManager {
public:
    explicit EmulatedSharingManager(EmulatedNetSharing& sharing) : m_sharing(sharing) {}

    HRESULT sharingInstalled(VARIANT_BOOL* installed) override
    {
        if (!installed)
            return E_POINTER;
        *installed = VARIANT_TRUE;
        return S_OK;
    }

    HRESULT everyConnection(std::vector<std::shared_ptr<NetConnection>>* connections) override
    {
        if (!connections)
            return E_POINTER;
        std::vector<std::shared_ptr<NetConnection>> found;
        const HRESULT result = m_sharing.access(false, [&](NetworkState& state) {
            for (const ConnectionRecord& c : std::as_const(state.connections))
                found.push_back(std::make_shared<EmulatedConnection>(m_sharing, c.guid));
            return S_OK;
        });
        if (SUCCEEDED(result))
            *connections = std::move(found);
        return result;
    }

    HRESULT connectionProps(const std::shared_ptr<NetConnection>& connection, NetConnectionProps* props) override
    {
        const auto* c = dynamic_cast<const EmulatedConnection*>(connection.get());
        if (!props)
            return E_POINTER;
        if (!c)
            return E_INVALIDARG;
        return withConnection(m_sharing, c->guid(), false, [props](NetworkState&, ConnectionRecord& r) {
            props->guid = r.guid.toStdString();
            props->name = r.name.toStdString();
            props->deviceName = r.device.toStdString();
            props->status = r.status;
            props->mediaType = r.mediaType;
            props->characteristics = 0;
            return S_OK;
        });
    }

    HRESULT sharingConfiguration(const std::shared_ptr<NetConnection>& connection,
                                 std::shared_ptr<NetSharingConfiguration>* configuration) override
    {
        const auto* c = dynamic_cast<const EmulatedConnection*>(connection.get());
        if (!configuration)
            return E_POINTER;
        if (!c)
            return E_INVALIDARG;
        const HRESULT result =
            withConnection(m_sharing, c->guid(), false, [](NetworkState&, ConnectionRecord&) { return S_OK; });
        if (SUCCEEDED(result))
            *configuration = std::make_shared<EmulatedSharingConfiguration>(m_sharing, c->guid());
        return result;
    }

private:
    EmulatedNetSharing& m_sharing;
};

} // namespace

EmulatedNetSharing::EmulatedNetSharing(EmulatedMachine& machine) : m_machine(machine) {}

HRESULT EmulatedNetSharing::createManager(std::shared_ptr<NetSharingManager>* manager)
{
    if (!manager)
        return E_POINTER;
    // The ProgID is looked up first, which needs no COM.
    if (!hasConnectionSharing(m_machine.profile()))
        return CO_E_CLASSSTRING;
    if (!m_machine.system().comInitialized())
        return CO_E_NOTINITIALIZED;
    *manager = std::make_shared<EmulatedSharingManager>(*this);
    return S_OK;
}

QList<ConnectionRecord> EmulatedNetSharing::connections()
{
    QList<ConnectionRecord> result;
    access(false, [&](NetworkState& state) {
        result = state.connections;
        return S_OK;
    });
    return result;
}

HRESULT EmulatedNetSharing::access(bool write, const std::function<HRESULT(NetworkState&)>& work)
{
    std::lock_guard<std::mutex> lock(m_machine.storeMutex());
    RegistryStore& store = m_machine.store();
    StoreTransaction transaction(store, write);
    if (!transaction.ok())
        return E_FAIL;
    const QString text = store.meta(networkRecord);
    NetworkState state = text.isEmpty() ? initialNetwork(m_machine.profile())
                                        : NetworkState::fromJson(QJsonDocument::fromJson(text.toUtf8()).object());
    const HRESULT result = work(state);
    if (FAILED(result)) {
        transaction.finish(ERROR_INVALID_PARAMETER); // dropped
        return result;
    }
    if (write)
        store.setMeta(networkRecord, QString::fromUtf8(QJsonDocument(state.toJson()).toJson(QJsonDocument::Compact)));
    return transaction.finish(ERROR_SUCCESS) == ERROR_SUCCESS ? result : E_FAIL;
}

} // namespace winsteps::platform::emulated

namespace winsteps::platform {

NetSharing& netSharing()
{
    return emulated::currentMachine().netSharing();
}

} // namespace winsteps::platform
