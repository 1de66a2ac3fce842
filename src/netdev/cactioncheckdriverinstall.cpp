#include "netdev/cactioncheckdriverinstall.h"

#include "fsm/eventnames.h"
#include "netdev/driverwork.h"

#include <algorithm>

using namespace winsteps::netdev;

CActionCheckDriverInstall::CActionCheckDriverInstall(QObject* parent, const char* name, const QDomNode& element)
    : CThreadedAction(parent, name, element)
{
}

CActionCheckDriverInstall::~CActionCheckDriverInstall()
{
    stopAndWait();
}

int CActionCheckDriverInstall::execute()
{
    setResultEvent(winsteps::event::failed);
    const QString enumerator = property(QStringLiteral("enumName")).toString();
    const QStringList ids = identifiers(property(QStringLiteral("hwidList")).toString(), QLatin1Char(','));
    traceDevprep(QLatin1String("Check driver install state of hardware ID(s): ") + ids.join(QLatin1String(", "))
                 + QLatin1String(" from enum: ") + enumerator);
    DeviceList devices;
    const int listed = findDevices(enumerator, devices, true);
    // -1 with a name to look for is a list without devices; anything else is a failure.
    if (enumerator.isEmpty() || (listed != 0 && listed != -1)) {
        traceDevprep(QLatin1String("check failed - devices not listed, result = ") + QString::number(listed));
        return listed;
    }
    int matching = 0;
    int installed = 0;
    for (const auto& device : devices) {
        const QString hardwareId = device->hardwareId();
        if (std::none_of(ids.cbegin(), ids.cend(), [&](const QString& id) { return matchesId(hardwareId, id); }))
            continue;
        ++matching;
        const QString driverKey = device->driverKey();
        if (!driverKey.isEmpty() && driverKey != QLatin1String("null") && device->problem() == 0)
            ++installed;
    }
    const QLatin1String outcome = installed == 0 ? nothingInstalled : installed < matching ? partlyInstalled : allInstalled;
    traceDevprep(QStringLiteral("check finished - %1 of %2 device(s) installed: %3").arg(installed).arg(matching).arg(outcome));
    setResultEvent(outcome);
    return 0;
}
