#pragma once

#include "actions/cactionstate.h"
#include "system/istandardpaths.h"
#include "winsteps_export.h"

// "configFirewall": on Windows XP SP2 and later, adds "fullApplicationPath" (path macros
// expanded) under "friendlyName" to the firewall's authorised applications, or removes it
// when "remove" is set; then, when "description" is not empty, runs the port check
// (CActionCheckFirewall, "actionCheckFirewall") on the requests of "description",
// "protocol", "intPort", "extPort", "targetIp" and "open". Every failure is only traced: the
// state always leaves by "success".
class WINSTEPS_EXPORT CCheckFirewallState : public CActionState, private IStandardPaths
{
    Q_OBJECT
public:
    CCheckFirewallState(QObject* parent, const char* name, const QDomNode& description);
    void execute() override;

public Q_SLOTS:
    // Traces the port check's result and leaves by "success", whatever it was.
    void slot_actionFinished(int result) override;

private:
    void configureApplication();
};
