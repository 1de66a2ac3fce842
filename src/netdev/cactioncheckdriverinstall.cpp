#include "netdev/cactioncheckdriverinstall.h"

#include "fsm/eventnames.h"
#include "netdev/driverwork.h"
#include "platform/dmdev.h"

#include <algorithm>

using namespace winsteps::netdev;
namespace dm = winsteps::platform;

namespace {

// The staged name ("oem3.inf") of a package; empty when it is not staged or unreadable.
QString stagedName(const QString& infPath)
{
    char buffer[dm::DMDEV_SLOT_SIZE] = {};
    std::uint32_t size = sizeof buffer;
    if (dm::DMDEV_FindPreInstalledInf(infPath.toUtf8().constData(), buffer, &size) != dm::DMDEV_OK)
        return QString();
    return QString::fromUtf8(buffer);
}

// The staged INF a device's driver came from; empty without a driver.
QString driverInf(const CDMDevice& device)
{
    char buffer[dm::DMDEV_SLOT_SIZE] = {};
    std::uint32_t size = sizeof buffer;
    if (dm::DMDEV_GetDriverInfPath(device.instanceId().toUtf8().constData(), buffer, &size) != dm::DMDEV_OK)
        return QString();
    return QString::fromUtf8(buffer);
}

// A driver is bound when the node has a driver key and no problem; with a package named,
// the driver must also come from that package.
bool isInstalled(const CDMDevice& device, bool packageNamed, const QString& package)
{
    const QString driverKey = device.driverKey();
    if (driverKey.isEmpty() || device.isNull() || device.problem() != 0)
        return false;
    return !packageNamed || (!package.isEmpty() && driverInf(device).compare(package, Qt::CaseInsensitive) == 0);
}

} // namespace

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
    // With "infFile" the package is rootPath + driverPath + "/" + infFile, as the install has it.
    const QString infFile = property(QStringLiteral("infFile")).toString();
    const bool packageNamed = !infFile.isEmpty();
    const QString package = packageNamed
        ? stagedName(property(QStringLiteral("rootPath")).toString() + property(QStringLiteral("driverPath")).toString()
                     + QLatin1Char('/') + infFile)
        : QString();
    int matching = 0;
    int installed = 0;
    for (const auto& device : devices) {
        const QString hardwareId = device->hardwareId();
        if (std::none_of(ids.cbegin(), ids.cend(), [&](const QString& id) { return matchesId(hardwareId, id); }))
            continue;
        ++matching;
        if (isInstalled(*device, packageNamed, package))
            ++installed;
    }
    const QLatin1String outcome = installed == 0 ? nothingInstalled : installed < matching ? partlyInstalled : allInstalled;
    traceDevprep(QStringLiteral("check finished - %1 of %2 device(s) installed: %3").arg(installed).arg(matching).arg(outcome));
    setResultEvent(outcome);
    return 0;
}
