#include "netdev/cactionremovedriver.h"

#include "actions/actionvalues.h"
#include "fsm/eventnames.h"
#include "netdev/driverwork.h"

#include <QVariantMap>

#include <algorithm>

using namespace winsteps::netdev;

CActionRemoveDriver::CActionRemoveDriver(QObject* parent, const char* name, const QDomNode& element)
    : CThreadedAction(parent, name, element)
{
}

CActionRemoveDriver::~CActionRemoveDriver()
{
    stopAndWait();
}

int CActionRemoveDriver::execute()
{
    setResultEvent(winsteps::event::failed);
    traceDevprep(QStringLiteral("Execute remove driver"));
    const QVariantMap map = property(QStringLiteral("hwIdMap")).toMap();
    for (auto entry = map.cbegin(); entry != map.cend(); ++entry) {
        const int result = removeWork(entry.key(), entry.value().toStringList());
        if (result != Success)
            return result;
    }
    setResultEvent(winsteps::event::success);
    return Success;
}

int CActionRemoveDriver::removeWork(const QString& enumerator, const QStringList& identifiers)
{
    traceDevprep(QLatin1String("Remove hardware ID(s): ") + identifiers.join(QLatin1String(", ")) + QLatin1String(" from enum: ")
                 + enumerator);
    int result = NotStarted;
    if (!winsteps::actionvalues::toBool(property(QStringLiteral("useInfInstaller")))) {
        result = Success;
        traceDevprep(QStringLiteral("remove using CDMDevice"));
        DeviceList devices;
        findDevices(enumerator, devices, false);
        for (const auto& device : devices) {
            // Removed once, however many identifiers it matches; a node that went with its
            // parent earlier in the list is not there to be removed any more.
            const QString hardwareId = device->hardwareId();
            const bool matches = std::any_of(identifiers.cbegin(), identifiers.cend(),
                                             [&](const QString& identifier) { return matchesId(hardwareId, identifier); });
            if (matches && !device->isNull() && !device->removeDevice())
                result = RemoveFailed;
        }
    } else {
        traceDevprep(QStringLiteral("remove using devprep.exe"));
        const QString location = property(QStringLiteral("rootPath")).toString() + property(QStringLiteral("infInstallerPath")).toString();
        traceDevprep(QLatin1String("  location = ") + location);
        QStringList arguments{QStringLiteral("-r"), enumerator};
        for (const QString& identifier : identifiers) {
            if (!identifier.isEmpty())
                arguments << identifier;
        }
        bool started = false;
        result = runTool(*this, location, arguments, &started);
        traceDevprep(started ? QLatin1String("   remove result = ") + QString::number(result)
                             : QStringLiteral("   devprep.exe not started"));
    }
    traceDevprep(QLatin1String("remove finished - result = ") + QString::number(result));
    return result;
}
