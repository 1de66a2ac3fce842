#include "states/ccreateregkeystate.h"

#include "fsm/eventnames.h"
#include "states/registrykey.h"

using namespace winsteps;

CCreateRegKeyState::CCreateRegKeyState(QObject* parent, const char* name, const QDomNode& description)
    : CState(parent, name, description)
{
    addEvent(event::success);
    addEvent(event::failed);
    addRequiredProperty(QStringLiteral("path"));
}

void CCreateRegKeyState::execute()
{
    setExitEvent(event::failed);
    const std::uint32_t hive = registry::hiveOfScope(property("scope").toString());
    const QString path = property("path").toString();
    if (registry::regKeyExists(hive, path)) {
        setExitEvent(event::success);
    } else {
        // The handle is released at once: only the key's existence matters.
        if (registry::createRegKey(hive, path, registry::FullAccess).isOpen())
            setExitEvent(event::success);
    }
    leaveState();
}
