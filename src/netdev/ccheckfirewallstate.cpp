#include "netdev/ccheckfirewallstate.h"

#include "debug/debugoutput.h"
#include "fsm/eventnames.h"
#include "netdev/cactioncheckfirewall.h"
#include "netdev/cfirewall.h"
#include "states/statevalues.h"

namespace {

void traceLine(const QString& text)
{
    winsteps::trace(winsteps::module::sysTasks, text + QLatin1Char('\n'));
}

} // namespace

CCheckFirewallState::CCheckFirewallState(QObject* parent, const char* name, const QDomNode& description)
    : CActionState(parent, name, description)
{
    init();
    setAction(new CActionCheckFirewall(this, "actionCheckFirewall"));
    addEvent(winsteps::event::success);
}

void CCheckFirewallState::execute()
{
    if (CFirewall::isSupportedSystem())
        configureApplication();
    if (!property("description").toString().isEmpty()) {
        CActionState::execute();
        return;
    }
    setExitEvent(winsteps::event::success);
    leaveState();
}

void CCheckFirewallState::configureApplication()
{
    const QString path = expand(property("fullApplicationPath").toString());
    const QString friendlyName = property("friendlyName").toString();
    CFirewall firewall;
    if (winsteps::states::flagValue(property("remove"))) {
        traceLine(QLatin1String("Remove application from XP firewall: ") + path);
        if (!firewall.removeApplication(path))
            traceLine(QStringLiteral(" ! Warning ! Removing application failed."));
        return;
    }
    traceLine(QLatin1String("Add application to XP firewall: ") + path + QLatin1String(" - friendly name: ") + friendlyName);
    if (!firewall.addApplication(path, friendlyName))
        traceLine(QStringLiteral(" ! Warning ! Adding application failed."));
}

void CCheckFirewallState::slot_actionFinished(int result)
{
    traceLine(QLatin1String("--- State ") + objectName() + QLatin1String(": actionFinished - result = ")
              + QString::number(result));
    setExitEvent(winsteps::event::success);
    leaveState();
}
