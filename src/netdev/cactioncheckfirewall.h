#pragma once

#include "actions/cthreadedaction.h"
#include "netdev/cportmapcontainer.h"
#include "winsteps_export.h"

#include <QList>

class CNetConnection;

// The port check: makes the connection firewall of every firewalled LAN connection agree
// with a list of requested port mappings. A request to open is enabled where a matching
// mapping exists (same protocol, external port and target text; every match is brought into
// line) or added and enabled where none does; a request to close disables every match.
//
// The requests are read once, when the action is constructed, from the properties
// "description", "protocol", "intPort", "extPort", "targetIp" and "open" (normally the owning
// state's): each a list of entries separated by ";", entry i of each list belonging to
// request i. execute() runs on the worker thread with COM started there for the run; the
// maximum progress is requests x connections, and each handled (LAN, firewalled) connection
// steps it once per request. The result is always 0; no result event is set.
class WINSTEPS_EXPORT CActionCheckFirewall : public CThreadedAction
{
    Q_OBJECT
public:
    // The media type of a LAN connection (NCM_LAN).
    static constexpr int lanMediaType = 3;

    CActionCheckFirewall(QObject* parent, const char* name);
    ~CActionCheckFirewall() override;

    int execute() override;
    // Fills the request list from the six properties.
    virtual void readPortRequests();

    const QList<CPortMapContainer>& portRequests() const { return m_requests; }

private:
    // Brings the mappings of connection into line with request.
    void checkRequest(CNetConnection& connection, const CPortMapContainer& request);

    QList<CPortMapContainer> m_requests;
};
