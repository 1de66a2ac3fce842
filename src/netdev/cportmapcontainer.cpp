#include "netdev/cportmapcontainer.h"

#include <QHostAddress>

namespace {

// A port the mapping can use (1 to 65534), else 0.
std::uint32_t checkedPort(std::uint32_t port)
{
    return port > 0 && port < 65535 ? port : 0;
}

} // namespace

CPortMapContainer::CPortMapContainer(const QString& description, const QString& protocol, std::uint32_t internalPort,
                                     std::uint32_t externalPort, const QString& target, bool open)
    : m_description(description)
    , m_internalPort(checkedPort(internalPort))
    , m_externalPort(checkedPort(externalPort))
    , m_open(open)
{
    m_target = isValidAddress(target) ? target : QStringLiteral("127.0.0.1");
    const QString name = protocol.toLower();
    m_protocol = name == QLatin1String("tcp") ? tcp : name == QLatin1String("udp") ? udp : 0;
}

CPortMapContainer::~CPortMapContainer() = default;

QString CPortMapContainer::description() const
{
    return m_description;
}

std::uint32_t CPortMapContainer::protocol() const
{
    return m_protocol;
}

std::uint32_t CPortMapContainer::internalPort() const
{
    return m_internalPort;
}

std::uint32_t CPortMapContainer::externalPort() const
{
    return m_externalPort;
}

QString CPortMapContainer::targetAddress() const
{
    return m_target;
}

bool CPortMapContainer::open() const
{
    return m_open;
}

bool CPortMapContainer::isValidAddress(const QString& text) const
{
    QHostAddress address;
    return address.setAddress(text);
}
