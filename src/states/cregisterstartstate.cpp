#include "states/cregisterstartstate.h"

#include "system/cosversion.h"
#include "fsm/eventnames.h"
#include "states/registrykey.h"
#include "states/statevalues.h"

using namespace winsteps;

namespace {
const QString RunKey = QStringLiteral("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run");
const QString RunOnceKey = QStringLiteral("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce");
} // namespace

CRegisterStartState::CRegisterStartState(QObject* parent, const char* name, const QDomNode& description)
    : CState(parent, name, description)
{
    addEvent(event::finished);
    addRequiredProperty(QStringLiteral("description"));
    init();
}

void CRegisterStartState::execute()
{
    const QString command = expand(property("command").toString());
    const QString valueName = property("description").toString();
    const bool allUsers = states::flagValue(property("allUsers"));
    const bool runOnce = states::flagValue(property("runOnce"));
    const bool unregister = states::flagValue(property("unregister"));

    // The 9x family has one set of start-up entries for everybody.
    const std::uint32_t hive = COsVersion().isWin9x() || allUsers ? registry::GlobalHive : registry::UserHive;
    const registry::RegistryKey key = registry::openRegKey(hive, runOnce ? RunOnceKey : RunKey, registry::FullAccess);
    const bool exists = registry::regValueExists(key, valueName);
    if (exists || unregister) {
        if (exists && unregister)
            registry::deleteRegValue(key, valueName);
    } else {
        registry::writeRegString(key, valueName, command);
    }

    setExitEvent(event::finished);
    leaveState();
}
