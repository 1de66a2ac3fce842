// The staged driver packages in machine show.

#include "machineactions.h"

#include "platform/emulated/emulateddriverpackages.h"
#include "platform/emulated/emulatedmachine.h"

#include <QJsonArray>
#include <QJsonObject>

namespace winsteps::host::machine {

using platform::emulated::EmulatedDriverPackages;

QJsonArray driverPackagesJson(platform::emulated::EmulatedMachine& machine)
{
    QJsonArray list;
    for (const EmulatedDriverPackages::Staged& staged : EmulatedDriverPackages(machine).staged()) {
        list.append(QJsonObject{{QStringLiteral("name"), staged.name},
                                {QStringLiteral("provider"), staged.provider},
                                {QStringLiteral("classGuid"), staged.classGuid},
                                {QStringLiteral("driverVersion"), staged.driverVersion},
                                {QStringLiteral("hardwareIds"), QJsonArray::fromStringList(staged.hardwareIds)}});
    }
    return list;
}

QString driverPackagesSummary(platform::emulated::EmulatedMachine& machine)
{
    const QList<EmulatedDriverPackages::Staged> packages = EmulatedDriverPackages(machine).staged();
    if (packages.isEmpty())
        return QStringLiteral("Driver packages: none\n");
    QString text = QStringLiteral("Driver packages:\n");
    for (const EmulatedDriverPackages::Staged& staged : packages) {
        text += QStringLiteral("  %1 (%2%3): %4\n")
                    .arg(staged.name, staged.provider.isEmpty() ? QStringLiteral("no provider") : staged.provider,
                         staged.driverVersion.isEmpty() ? QString() : QStringLiteral(" ") + staged.driverVersion,
                         staged.hardwareIds.isEmpty() ? QStringLiteral("no model for this machine")
                                                      : staged.hardwareIds.join(QStringLiteral(", ")));
    }
    return text;
}

} // namespace winsteps::host::machine
