#include "states/cdetectproxysettings.h"

#include "fsm/eventnames.h"
#include "states/registrykey.h"

using namespace winsteps;

namespace {

const QString InternetSettingsKey = QStringLiteral("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings");

struct Protocol {
    const char* prefix;
    const char* property;
};

// Tested in this order.
const Protocol protocols[] = {
    {"http=", "proxyHttpServer"},   {"https=", "proxyHttpsServer"},   {"ftp=", "proxyFtpServer"},
    {"gopher=", "proxyGopherServer"}, {"socks=", "proxySocksServer"},
};

// The first protocol whose prefix occurs in text, and the text behind that prefix.
const Protocol* findProtocol(const QString& text, QString* rest)
{
    for (const Protocol& protocol : protocols) {
        const QString prefix = QLatin1String(protocol.prefix);
        const qsizetype at = text.indexOf(prefix);
        if (at >= 0) {
            *rest = text.mid(at + prefix.size());
            return &protocol;
        }
    }
    return nullptr;
}

} // namespace

CDetectProxySettings::CDetectProxySettings(QObject* parent, const char* name, const QDomNode& description)
    : CState(parent, name, description)
{
    addEvent(event::finished);
    for (const Protocol& protocol : protocols)
        addResultProperty(QLatin1String(protocol.property));
}

void CDetectProxySettings::execute()
{
    const registry::RegistryKey key = registry::openRegKey(registry::UserHive, InternetSettingsKey, registry::FullAccess);
    QString text;
    if (registry::readRegFlag(key, QStringLiteral("ProxyEnable"), false))
        text = registry::readRegString(key, QStringLiteral("ProxyServer"), QString());
    applyProxyText(text);
    setExitEvent(event::finished);
    leaveState();
}

void CDetectProxySettings::applyProxyText(const QString& text)
{
    const QStringList pieces = text.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    QString rest;
    if (pieces.size() >= 2) {
        // One entry per protocol; a later entry of the same protocol wins.
        for (const QString& piece : pieces) {
            if (const Protocol* protocol = findProtocol(piece, &rest))
                setProperty(QLatin1String(protocol->property), rest);
        }
        return;
    }
    if (const Protocol* protocol = findProtocol(text, &rest)) {
        setProperty(QLatin1String(protocol->property), rest);
        return;
    }
    // One proxy for every protocol (empty when none is set).
    for (const Protocol& protocol : protocols)
        setProperty(QLatin1String(protocol.property), text);
}
