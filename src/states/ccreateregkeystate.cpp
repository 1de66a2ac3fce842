#include "states/ccreateregkeystate.h"

#include "states/registrykey.h"

using namespace winsteps;

CCreateRegKeyState::CCreateRegKeyState(QObject* parent, const char* name, const QDomNode& description)
    : CState(parent, name, description)
{
    addEvent(QStringLiteral("success"));
    addEvent(QStringLiteral("failed"));
    addRequiredProperty(QStringLiteral("path"));
}

void CCreateRegKeyState::execute()
{
    setExitEvent(QStringLiteral("failed"));
    const std::uint32_t hive = registry::hiveOfScope(property("scope").toString());
    const QString path = property("path").toString();
    if (registry::regKeyExists(hive, path)) {
        setExitEvent(QStringLiteral("success"));
    } else {
        // The handle is released at once: only the key's existence matters.
        if (registry::createRegKey(hive, path, registry::FullAccess).isOpen())
            setExitEvent(QStringLiteral("success"));
    }
    leaveState();
}
