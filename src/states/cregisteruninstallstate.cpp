#include "states/cregisteruninstallstate.h"

#include "debug/debugoutput.h"
#include "fsm/eventnames.h"
#include "states/registrykey.h"
#include "states/statevalues.h"

using namespace winsteps;

namespace {
const QString UninstallKey = QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
} // namespace

CRegisterUninstallState::CRegisterUninstallState(QObject* parent, const char* name, const QDomNode& description)
    : CState(parent, name, description)
{
    addEvent(event::finished);
    addRequiredProperty(QStringLiteral("applicationName"));
    init();
}

void CRegisterUninstallState::execute()
{
    const QString applicationName = property("applicationName").toString();
    QString displayName = property("displayName").toString();
    if (displayName.isEmpty())
        displayName = applicationName;
    const QString command = expand(property("command").toString());
    const bool unregister = states::flagValue(property("unregister"));
    const QString path = QStringLiteral("%1\\%2").arg(UninstallKey, applicationName);

    if (applicationName.trimmed().isEmpty()) {
        // Without a name the path would be the Uninstall key itself: registering would write
        // into the list's own key, unregistering could take the whole list away.
        trace(module::state, QStringLiteral("--- State %1:  ! Warning ! No applicationName: nothing registered.\n")
                                 .arg(objectName()));
    } else if (!unregister) {
        const registry::RegistryKey key = registry::createRegKey(registry::GlobalHive, path, registry::FullAccess);
        registry::writeRegString(key, QStringLiteral("DisplayName"), displayName);
        registry::writeRegString(key, QStringLiteral("UninstallString"), command);
    } else if (registry::regKeyExists(registry::GlobalHive, path)) {
        registry::deleteRegKey(registry::GlobalHive, path);
    }

    setExitEvent(event::finished);
    leaveState();
}
