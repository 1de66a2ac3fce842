#include "states/creadregkeystate.h"

#include "fsm/eventnames.h"
#include "states/registrykey.h"
#include "states/statevalues.h"

using namespace winsteps;

CReadRegKeyState::CReadRegKeyState(QObject* parent, const char* name, const QDomNode& description)
    : CState(parent, name, description)
{
    addEvent(event::finished);
    addRequiredProperty(QStringLiteral("path"));
    addRequiredProperty(QStringLiteral("key"));
    addResultProperty(QStringLiteral("value"));
}

void CReadRegKeyState::execute()
{
    const std::uint32_t hive = registry::hiveOfScope(property("scope").toString());
    const QString path = property("path").toString();
    const QString key = property("key").toString();
    const QString type = property("type").toString().toLower();
    const QVariant defaultValue = property("default");

    QVariant result;
    if (type == QLatin1String("dword"))
        result = QVariant::fromValue(qulonglong(registry::readRegDword(hive, path, key, states::dwordValue(defaultValue))));
    else if (type == QLatin1String("list"))
        result = registry::readRegMultiString(hive, path, key, QStringList());
    else
        result = registry::readRegString(hive, path, key, defaultValue.toString());

    setProperty("value", result);
    setExitEvent(event::finished);
    leaveState();
}
