#include "netdev/cactioncheckfirewall.h"

#include "debug/debugoutput.h"
#include "netdev/cnetsharing.h"
#include "system/ccominit.h"

#include <QStringList>

namespace {

void traceLine(const QString& text)
{
    winsteps::trace(winsteps::module::actioncheckfirewall, text + QLatin1Char('\n'));
}

// "NAME (tcp 8080 -> 192.168.0.5:80)", how the traces name a request.
QString describe(const CPortMapContainer& request)
{
    const QString protocol = request.protocol() == CPortMapContainer::tcp ? QStringLiteral("tcp")
        : request.protocol() == CPortMapContainer::udp                    ? QStringLiteral("udp")
                                                                          : QString::number(request.protocol());
    return QStringLiteral("%1 (%2 %3 -> %4:%5)")
        .arg(request.description(), protocol)
        .arg(request.externalPort())
        .arg(request.targetAddress())
        .arg(request.internalPort());
}

} // namespace

CActionCheckFirewall::CActionCheckFirewall(QObject* parent, const char* name)
    : CThreadedAction(parent, name)
{
    readPortRequests();
}

CActionCheckFirewall::~CActionCheckFirewall()
{
    stopAndWait(); // the worker reads m_requests
}

void CActionCheckFirewall::readPortRequests()
{
    const auto entries = [this](const char* name) {
        return property(QString::fromLatin1(name)).toString().split(QLatin1Char(';'), Qt::SkipEmptyParts);
    };
    const QStringList descriptions = entries("description");
    const QStringList protocols = entries("protocol");
    const QStringList internalPorts = entries("intPort");
    const QStringList externalPorts = entries("extPort");
    const QStringList targets = entries("targetIp");
    const QStringList opens = entries("open");

    m_requests.clear();
    for (qsizetype i = 0; i < descriptions.size(); ++i) {
        const QString description = descriptions[i].trimmed();
        if (description.isEmpty())
            continue;
        QString protocol = protocols.value(i).trimmed();
        if (protocol.isEmpty())
            protocol = QStringLiteral("tcp");
        // A port that is no unsigned number reads as 0; the record range-checks the rest.
        const std::uint32_t internalPort = internalPorts.value(i).trimmed().toUInt();
        const std::uint32_t externalPort = externalPorts.value(i).trimmed().toUInt();
        const QString open = opens.value(i).trimmed();
        const bool opened = !(open == QLatin1String("0") || open.toLower() == QLatin1String("false"));
        m_requests << CPortMapContainer(description, protocol, internalPort, externalPort, targets.value(i).trimmed(), opened);
    }
}

int CActionCheckFirewall::execute()
{
    const CComInit com; // ends after the manager and every connection have gone
    CNetSharingManager manager;
    if (!manager.sharingInstalled() || m_requests.isEmpty())
        return 0;
    QList<CNetConnection> connections = manager.connections();
    setMaxProgress(int(m_requests.size() * connections.size()));
    for (CNetConnection& connection : connections) {
        if (connection.mediaType() != lanMediaType || !connection.firewallEnabled())
            continue;
        for (const CPortMapContainer& request : std::as_const(m_requests)) {
            checkRequest(connection, request);
            stepProgress();
        }
    }
    return 0;
}

void CActionCheckFirewall::checkRequest(CNetConnection& connection, const CPortMapContainer& request)
{
    bool found = false;
    QList<CPortMap> mappings = connection.portMappings();
    for (CPortMap& mapping : mappings) {
        if (mapping.protocol() != request.protocol() || mapping.externalPort() != int(request.externalPort())
            || mapping.targetIpAddress() != request.targetAddress())
            continue;
        found = true;
        const bool enabled = mapping.enabled();
        if (enabled == request.open())
            continue;
        const bool done = mapping.enable(request.open());
        traceLine(QStringLiteral("%1 %2 for %3 on %4: %5")
                      .arg(request.open() ? QStringLiteral("Enable") : QStringLiteral("Disable"), mapping.name(),
                           describe(request), connection.name(), done ? QStringLiteral("done") : QStringLiteral("failed")));
    }
    if (found || !request.open() || request.externalPort() == 0 || request.internalPort() == 0)
        return;
    const std::unique_ptr<CPortMap> added =
        connection.addPortMapping(request.description(), std::uint8_t(request.protocol()), std::uint16_t(request.externalPort()),
                                  std::uint16_t(request.internalPort()), request.targetAddress(), true);
    const bool done = added && added->enable(true);
    traceLine(QStringLiteral("Add %1 on %2: %3")
                  .arg(describe(request), connection.name(), done ? QStringLiteral("done") : QStringLiteral("failed")));
}
