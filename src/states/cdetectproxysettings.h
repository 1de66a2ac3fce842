#pragma once

#include "fsm/cstate.h"
#include "winsteps_export.h"

// "detectProxy": reads the current user's Internet proxy settings and publishes the proxy of
// each protocol as "proxyHttpServer", "proxyHttpsServer", "proxyFtpServer",
// "proxyGopherServer" and "proxySocksServer". One proxy without a protocol prefix serves
// every protocol; a disabled proxy gives empty texts. Always leaves by "finished".
class WINSTEPS_EXPORT CDetectProxySettings : public CState
{
    Q_OBJECT
public:
    CDetectProxySettings(QObject* parent, const char* name, const QDomNode& description);
    void execute() override;

    // Applies the proxy text ("ProxyServer" when the proxy is enabled, else empty) to the
    // result properties.
    void applyProxyText(const QString& text);
};
