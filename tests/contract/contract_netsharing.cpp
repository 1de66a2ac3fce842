// Connection sharing as its automation objects give it: the manager (none on systems without
// connection sharing), its connections with their properties and sharing configuration, and
// the port mappings of a connection. The mapping cases add mappings of their own on a port
// nothing uses and delete them again.

#include "contract.h"

#include "platform/netsharing.h"

using namespace winsteps::platform;
using namespace contract;

namespace {

const std::uint16_t scratchPort = 47913;

std::shared_ptr<NetSharingManager> manager()
{
    std::shared_ptr<NetSharingManager> created;
    REQUIRE(netSharing().createManager(&created) == S_OK);
    return created;
}

// The configuration of the first connection, which the case needs; every mapping of the
// scratch port deleted from it.
std::shared_ptr<NetSharingConfiguration> firstConfiguration(NetSharingManager& sharing)
{
    std::vector<std::shared_ptr<NetConnection>> connections;
    REQUIRE(sharing.everyConnection(&connections) == S_OK);
    REQUIRE_MESSAGE(!connections.empty(), "no connection to map ports on");
    std::shared_ptr<NetSharingConfiguration> configuration;
    REQUIRE(sharing.sharingConfiguration(connections.front(), &configuration) == S_OK);
    std::vector<std::shared_ptr<NetSharingPortMapping>> mappings;
    REQUIRE(configuration->portMappings(ICSSC_DEFAULT, &mappings) == S_OK);
    for (const auto& mapping : mappings) {
        PortMappingProps props;
        if (mapping->properties(&props) == S_OK && props.externalPort == scratchPort)
            mapping->deleteMapping();
    }
    return configuration;
}

PortMappingProps propsOf(NetSharingPortMapping& mapping)
{
    PortMappingProps props;
    CHECK(mapping.properties(&props) == S_OK);
    return props;
}

int countMappings(NetSharingConfiguration& configuration, std::uint32_t flags)
{
    std::vector<std::shared_ptr<NetSharingPortMapping>> mappings;
    CHECK(configuration.portMappings(flags, &mappings) == S_OK);
    int count = 0;
    for (const auto& mapping : mappings)
        count += propsOf(*mapping).externalPort == scratchPort ? 1 : 0;
    return count;
}

} // namespace

TEST_CASE("the manager exists on the NT family from Windows XP on")
{
    const struct {
        const char* profile;
        bool present;
    } rows[] = {{"win98", false}, {"win2000", false}, {"winxp-sp1", true}, {"winxp-sp2", true}, {"vista", true}};
    for (const auto& row : rows) {
        CAPTURE(row.profile);
        if (!freshMachine(row.profile))
            continue; // not this system
        // Its ProgID is looked up before COM is asked for the object.
        std::shared_ptr<NetSharingManager> created;
        CHECK(netSharing().createManager(&created) == (row.present ? CO_E_NOTINITIALIZED : CO_E_CLASSSTRING));
        const ComStarted com;
        CHECK(netSharing().createManager(&created) == (row.present ? S_OK : CO_E_CLASSSTRING));
        CHECK((created != nullptr) == row.present);
    }
}

TEST_CASE("every connection has its properties and a sharing configuration")
{
    CONTRACT_MACHINE();
    if (!behaves(Behaviour::ConnectionSharing))
        return;
    const ComStarted com;
    const std::shared_ptr<NetSharingManager> sharing = manager();
    VARIANT_BOOL installed = VARIANT_FALSE;
    CHECK(sharing->sharingInstalled(&installed) == S_OK);
    std::vector<std::shared_ptr<NetConnection>> connections;
    REQUIRE(sharing->everyConnection(&connections) == S_OK);
    for (const auto& connection : connections) {
        NetConnectionProps props;
        REQUIRE(sharing->connectionProps(connection, &props) == S_OK);
        CAPTURE(props.name);
        GUID guid;
        CHECK(parseGuidText(props.guid, &guid));
        CHECK(!props.name.empty());
        CHECK(props.status <= NCS_CREDENTIALS_REQUIRED);
        std::shared_ptr<NetSharingConfiguration> configuration;
        REQUIRE(sharing->sharingConfiguration(connection, &configuration) == S_OK);
        VARIANT_BOOL firewalled = 1, shared = 1;
        CHECK(configuration->internetFirewallEnabled(&firewalled) == S_OK);
        CHECK(configuration->sharingEnabled(&shared) == S_OK);
        CHECK((firewalled == VARIANT_TRUE || firewalled == VARIANT_FALSE));
        CHECK((shared == VARIANT_TRUE || shared == VARIANT_FALSE));
    }
}

TEST_CASE("a port mapping is added disabled, enabled, disabled and deleted")
{
    CONTRACT_MACHINE();
    if (!behaves(Behaviour::ConnectionSharing))
        return;
    const ComStarted com;
    const std::shared_ptr<NetSharingManager> sharing = manager();
    const std::shared_ptr<NetSharingConfiguration> configuration = firstConfiguration(*sharing);

    // Arguments it refuses.
    const struct {
        std::string name;
        std::uint8_t protocol;
        std::uint16_t external, internal;
        std::string target;
    } refused[] = {{"", NAT_PROTOCOL_TCP, scratchPort, 80, "127.0.0.1"},
                   {"Contract", 1, scratchPort, 80, "127.0.0.1"},
                   {"Contract", NAT_PROTOCOL_TCP, 0, 80, "127.0.0.1"},
                   {"Contract", NAT_PROTOCOL_TCP, scratchPort, 0, "127.0.0.1"},
                   {"Contract", NAT_PROTOCOL_TCP, scratchPort, 80, ""}};
    for (const auto& row : refused) {
        CAPTURE(row.name);
        CAPTURE(int(row.protocol));
        std::shared_ptr<NetSharingPortMapping> none;
        CHECK(configuration->addPortMapping(row.name, row.protocol, row.external, row.internal, 0, row.target,
                                            ICSTT_IPADDRESS, &none)
              == E_INVALIDARG);
        CHECK(!none);
    }

    std::shared_ptr<NetSharingPortMapping> mapping;
    REQUIRE(configuration->addPortMapping("Contract", NAT_PROTOCOL_TCP, scratchPort, 8080, 0, "127.0.0.1",
                                          ICSTT_IPADDRESS, &mapping)
            == S_OK);
    PortMappingProps props = propsOf(*mapping);
    CHECK(props.name == "Contract");
    CHECK(props.ipProtocol == NAT_PROTOCOL_TCP);
    CHECK(props.externalPort == scratchPort);
    CHECK(props.internalPort == 8080);
    CHECK(props.targetIPAddress == "127.0.0.1");
    CHECK(props.enabled == VARIANT_FALSE);
    CHECK(countMappings(*configuration, ICSSC_DEFAULT) == 1);
    CHECK(countMappings(*configuration, ICSSC_ENABLED) == 0);
    // The same protocol and external port again is refused; the other protocol is another mapping.
    std::shared_ptr<NetSharingPortMapping> again;
    CHECK(FAILED(configuration->addPortMapping("Again", NAT_PROTOCOL_TCP, scratchPort, 8081, 0, "127.0.0.1",
                                               ICSTT_IPADDRESS, &again)));
    REQUIRE(configuration->addPortMapping("Udp", NAT_PROTOCOL_UDP, scratchPort, 8081, 0, "127.0.0.1",
                                          ICSTT_IPADDRESS, &again)
            == S_OK);

    CHECK(mapping->enable() == S_OK);
    CHECK(propsOf(*mapping).enabled == VARIANT_TRUE);
    CHECK(countMappings(*configuration, ICSSC_ENABLED) == 1);
    CHECK(mapping->disable() == S_OK);
    CHECK(propsOf(*mapping).enabled == VARIANT_FALSE);
    CHECK(mapping->deleteMapping() == S_OK);
    CHECK(again->deleteMapping() == S_OK);
    CHECK(countMappings(*configuration, ICSSC_DEFAULT) == 0);
    PortMappingProps gone;
    CHECK(FAILED(mapping->properties(&gone)));
}
