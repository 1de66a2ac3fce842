#include "netdev/cdriverstates.h"

#include "fsm/eventnames.h"
#include "netdev/cactioncheckdriverinstall.h"
#include "netdev/cactioninstalldriverinf.h"
#include "netdev/cactionremovedriver.h"
#include "netdev/driverwork.h"

#include <QVariantMap>

namespace {

void requireAll(CState& state, std::initializer_list<const char*> names)
{
    for (const char* name : names)
        state.addRequiredProperty(QLatin1String(name));
}

} // namespace

CInstallDriverInfState::CInstallDriverInfState(QObject* parent, const char* name, const QDomNode& description)
    : CActionState(parent, name, description)
{
    addEvent(winsteps::event::success);
    addEvent(winsteps::event::failed);
    requireAll(*this, {"infFile", "driverPath", "enumName", "hwidList"});
    setAction(new CActionInstallDriverInf(this, name, description));
}

CCheckInstallInfState::CCheckInstallInfState(QObject* parent, const char* name, const QDomNode& description)
    : CActionState(parent, name, description)
{
    addEvent(CActionCheckDriverInstall::nothingInstalled);
    addEvent(CActionCheckDriverInstall::partlyInstalled);
    addEvent(CActionCheckDriverInstall::allInstalled);
    addEvent(winsteps::event::failed);
    requireAll(*this, {"enumName", "hwidList"});
    setAction(new CActionCheckDriverInstall(this, name, description));
}

CRemoveDriverState::CRemoveDriverState(QObject* parent, const char* name, const QDomNode& description)
    : CActionState(parent, name, description)
{
    addEvent(winsteps::event::success);
    addEvent(winsteps::event::failed);
    requireAll(*this, {"enumName", "hwidList"});
    setAction(new CActionRemoveDriver(this, name, description));
}

void CRemoveDriverState::execute()
{
    if (action()) {
        const QStringList ids = winsteps::netdev::identifiers(property(QStringLiteral("hwidList")).toString(), QLatin1Char(';'));
        QVariantMap map;
        map.insert(property(QStringLiteral("enumName")).toString(), ids);
        action()->setProperty(QStringLiteral("hwIdMap"), map);
    }
    CActionState::execute();
}
