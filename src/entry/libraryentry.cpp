#include "fsm/cstatefactory.h"
#include "states/ccomponentstates.h"
#include "states/ccreateregkeystate.h"
#include "states/cdetectproxysettings.h"
#include "states/cemailsettingsstate.h"
#include "states/creadregkeystate.h"
#include "states/cregisterstartstate.h"
#include "states/cregisteruninstallstate.h"
#include "states/cremovefilesafterrebootstate.h"
#include "states/cservicestates.h"
#include "states/cwriteregkeystate.h"
#include "netdev/ccheckfirewallstate.h"
#include "netdev/cdriverstates.h"
#include "netdev/cfinddriveletterstate.h"

// The plug-in's state types, one registration per type, in one list.
extern "C" CStateFactory* createFactory(CStateFactory* parent)
{
    auto* factory = new CStateFactory(QStringLiteral("win"), parent);
    factory->registerState(QStringLiteral("createRegkey"), &CStateFactory::creator<CCreateRegKeyState>);
    factory->registerState(QStringLiteral("detectProxy"), &CStateFactory::creator<CDetectProxySettings>);
    factory->registerState(QStringLiteral("readRegkey"), &CStateFactory::creator<CReadRegKeyState>);
    factory->registerState(QStringLiteral("registerStart"), &CStateFactory::creator<CRegisterStartState>);
    factory->registerState(QStringLiteral("registerUninstall"), &CStateFactory::creator<CRegisterUninstallState>);
    factory->registerState(QStringLiteral("removeFilesAfterReboot"), &CStateFactory::creator<CRemoveFilesAfterRebootState>);
    factory->registerState(QStringLiteral("setEmailAccount"), &CStateFactory::creator<CEmailSettingsState>);
    factory->registerState(QStringLiteral("writeRegkey"), &CStateFactory::creator<CWriteRegKeyState>);
    factory->registerState(QStringLiteral("installService"), &CStateFactory::creator<CInstallServiceState>);
    factory->registerState(QStringLiteral("configService"), &CStateFactory::creator<CConfigServiceState>);
    factory->registerState(QStringLiteral("deleteService"), &CStateFactory::creator<CDeleteServiceState>);
    factory->registerState(QStringLiteral("getServiceStatus"), &CStateFactory::creator<CGetServiceStatusState>);
    factory->registerState(QStringLiteral("startService"), &CStateFactory::creator<CStartServiceState>);
    factory->registerState(QStringLiteral("stopService"), &CStateFactory::creator<CStopServiceState>);
    factory->registerState(QStringLiteral("systemCheck_installMSI"), &CStateFactory::creator<CInstallMsiState>);
    factory->registerState(QStringLiteral("installAxComponent"), &CStateFactory::creator<CInstallAxComponentState>);
    factory->registerState(QStringLiteral("checkAxComponent"), &CStateFactory::creator<CCheckAxComponentState>);
    factory->registerState(QStringLiteral("configFirewall"), &CStateFactory::creator<CCheckFirewallState>);
    factory->registerState(QStringLiteral("installDriver"), &CStateFactory::creator<CInstallDriverInfState>);
    factory->registerState(QStringLiteral("checkDriverInstallState"), &CStateFactory::creator<CCheckInstallInfState>);
    factory->registerState(QStringLiteral("removeDriver"), &CStateFactory::creator<CRemoveDriverState>);
    factory->registerState(QStringLiteral("findDriveLetter"), &CStateFactory::creator<CFindDriveLetterState>);
    return factory;
}
