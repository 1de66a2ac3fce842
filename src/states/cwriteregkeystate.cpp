#include "states/cwriteregkeystate.h"

#include "objects/valueconversion.h"
#include "fsm/eventnames.h"
#include "states/registrykey.h"
#include "states/statevalues.h"

using namespace winsteps;

CWriteRegKeyState::CWriteRegKeyState(QObject* parent, const char* name, const QDomNode& description)
    : CState(parent, name, description)
{
    addEvent(event::success);
    addEvent(event::failed);
    addRequiredProperty(QStringLiteral("path"));
    addRequiredProperty(QStringLiteral("key"));
    addRequiredProperty(QStringLiteral("value"));
}

void CWriteRegKeyState::execute()
{
    setExitEvent(event::failed);
    const std::uint32_t hive = registry::hiveOfScope(property("scope").toString());
    const QString path = property("path").toString();
    const QString key = property("key").toString();
    const QString type = property("type").toString().toLower();
    const QVariant value = property("value");

    bool written = false;
    if (type == QLatin1String("dword"))
        written = registry::writeRegDword(hive, path, key, states::dwordValue(value));
    else if (type == QLatin1String("list"))
        written = registry::writeRegMultiString(hive, path, key, states::stringListValue(value));
    else
        written = registry::writeRegString(hive, path, key, winsteps::valueconversion::toText(value)); // a list has no text

    if (written)
        setExitEvent(event::success);
    leaveState();
}
