// winsteps machine plug and unplug: devices arriving at and leaving an existing machine while
// wizards may run on it, and the device tree and drives that machine show lists. The tree is a
// record of the machine's store, so every process on the folder sees a change at its next call.

#include "cwizardrunner.h"
#include "machineactions.h"
#include "platform/emulated/devicestate.h"
#include "subcommand.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace winsteps::host::machine {

namespace {

using platform::emulated::DeviceNodeRecord;
using platform::emulated::EmulatedDrives;
using platform::emulated::EmulatedMachine;

const QString PlugAction = QStringLiteral("plug");
const QString UnplugAction = QStringLiteral("unplug");

QString secondsText(qint64 milliseconds)
{
    return QStringLiteral("%1 s").arg(QString::number(double(qRound64(double(milliseconds) / 100.0)) / 10.0));
}

// Reads the device file: the nodes it describes, or the exit status of a wrong one.
bool readDeviceFile(const QString& fileName, QList<DeviceNodeRecord>* nodes, int* status)
{
    const QString command = QStringLiteral("machine ") + PlugAction;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        *status = cli::usageError(command, QStringLiteral("cannot read \"%1\": %2").arg(fileName, file.errorString()));
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    const QString where = QStringLiteral("device file \"%1\"").arg(fileName);
    if (parseError.error != QJsonParseError::NoError) {
        *status = cli::usageError(command, QStringLiteral("%1: not JSON (%2 at offset %3)")
                                               .arg(where, parseError.errorString())
                                               .arg(parseError.offset));
        return false;
    }
    const QJsonValue top = document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object());
    QString error;
    if (!platform::emulated::readDeviceNodes(top, where, QString(), QDateTime::currentMSecsSinceEpoch(), nodes, &error)) {
        *status = cli::usageError(command, error);
        return false;
    }
    if (nodes->isEmpty()) {
        *status = cli::usageError(command, where + QStringLiteral(": holds no device"));
        return false;
    }
    return true;
}

// "Volume ... mounts as E: (after 2 s)." for each volume among the nodes.
QString volumeLines(const QList<DeviceNodeRecord>& nodes, qint64 now)
{
    QString text;
    for (const DeviceNodeRecord& n : nodes) {
        if (!n.isVolume() || !n.present)
            continue;
        text += QStringLiteral("Volume \"%1\" mounts as %2:%3%4.\n")
                    .arg(n.instanceId, n.letter,
                         n.mountAt > now ? QStringLiteral(" after %1").arg(secondsText(n.mountAt - now)) : QString(),
                         n.media ? QString() : QStringLiteral(" (no media)"));
    }
    return text;
}

} // namespace

int plugAction(const QStringList& arguments)
{
    QCommandLineParser parser;
    if (const int status = parseAction(
            parser, PlugAction, QStringLiteral("DIR DEVICE.json"),
            QStringLiteral("Plugs the device that DEVICE.json describes (with the devices inside it) into the\n"
                           "machine in DIR; wizards running on it see it at their next call. A volume\n"
                           "mounts as a drive letter after its \"mountDelay\" seconds. The format is in the\n"
                           "README (\"The device tree\"); a mistake in the file names its key (exit status 2)."),
            arguments, 2, 2);
        status >= 0)
        return status;
    const QStringList positional = parser.positionalArguments();
    QList<DeviceNodeRecord> nodes;
    int status = ExitOk;
    if (!readDeviceFile(positional.at(1), &nodes, &status))
        return status;
    std::unique_ptr<EmulatedMachine> machine = openExisting(PlugAction, positional.first(), &status);
    if (!machine)
        return status;
    QString error;
    if (!machine->devices().addNodes(nodes, &error))
        return failure(PlugAction, error);
    DeviceNodeRecord top;
    machine->devices().node(nodes.first().instanceId, &top);
    QList<DeviceNodeRecord> added;
    for (const DeviceNodeRecord& n : std::as_const(nodes)) {
        DeviceNodeRecord stored;
        if (machine->devices().node(n.instanceId, &stored) == platform::CR_SUCCESS)
            added << stored;
    }
    cli::out(QStringLiteral("Plugged \"%1\" into \"%2\" below \"%3\" (%4 device%5).\n")
                 .arg(top.instanceId, machine->folder(), top.parent)
                 .arg(nodes.size())
                 .arg(nodes.size() == 1 ? QString() : QStringLiteral("s"))
             + volumeLines(added, QDateTime::currentMSecsSinceEpoch()));
    return ExitOk;
}

int unplugAction(const QStringList& arguments)
{
    QCommandLineParser parser;
    if (const int status = parseAction(parser, UnplugAction, QStringLiteral("DIR INSTANCE_ID"),
                                       QStringLiteral("Unplugs the device INSTANCE_ID (any case) from the machine in DIR, "
                                                      "with every device\nbelow it: their volumes dismount and their "
                                                      "drive letters go."),
                                       arguments, 2, 2);
        status >= 0)
        return status;
    const QStringList positional = parser.positionalArguments();
    int status = ExitOk;
    std::unique_ptr<EmulatedMachine> machine = openExisting(UnplugAction, positional.first(), &status);
    if (!machine)
        return status;
    const QList<EmulatedDrives::Drive> before = machine->drives().mounted();
    QStringList removed;
    const platform::CONFIGRET result = machine->devices().removeNode(positional.at(1), &removed);
    if (result == platform::CR_NO_SUCH_DEVNODE)
        return failure(UnplugAction, QStringLiteral("no device \"%1\" on \"%2\"").arg(positional.at(1), machine->folder()));
    if (result == platform::CR_REMOVE_VETOED)
        return failure(UnplugAction, QStringLiteral("the root of the device tree cannot be unplugged"));
    if (result != platform::CR_SUCCESS)
        return failure(UnplugAction, QStringLiteral("cannot write to \"%1\"").arg(machine->folder()));
    QString text = QStringLiteral("Unplugged \"%1\" from \"%2\" (%3 device%4).\n")
                       .arg(removed.first(), machine->folder())
                       .arg(removed.size())
                       .arg(removed.size() == 1 ? QString() : QStringLiteral("s"));
    for (const EmulatedDrives::Drive& drive : before) {
        if (removed.contains(drive.instanceId, Qt::CaseInsensitive))
            text += QStringLiteral("Drive %1 is gone.\n").arg(drive.root);
    }
    cli::out(text);
    return ExitOk;
}

QJsonArray devicesJson(EmulatedMachine& machine)
{
    QJsonArray list;
    for (const DeviceNodeRecord& n : machine.devices().nodes()) {
        list.append(QJsonObject{{QStringLiteral("instanceId"), n.instanceId},
                                {QStringLiteral("parent"), n.parent},
                                {QStringLiteral("hardwareIds"), QJsonArray::fromStringList(n.hardwareIds)},
                                {QStringLiteral("classGuid"), n.classGuid},
                                {QStringLiteral("description"), n.description},
                                {QStringLiteral("driver"), n.driver},
                                {QStringLiteral("service"), n.service},
                                {QStringLiteral("status"), double(n.status)},
                                {QStringLiteral("problem"), double(n.problem)},
                                {QStringLiteral("present"), n.present}});
    }
    return list;
}

QJsonArray drivesJson(EmulatedMachine& machine)
{
    QJsonArray list;
    for (const EmulatedDrives::Drive& d : machine.drives().mounted()) {
        list.append(QJsonObject{{QStringLiteral("root"), d.root},
                                {QStringLiteral("type"), platform::emulated::driveTypeWord(d.type)},
                                {QStringLiteral("volume"), d.volume},
                                {QStringLiteral("media"), d.media}});
    }
    return list;
}

QString devicesSummary(EmulatedMachine& machine)
{
    QString text = QStringLiteral("Devices:\n");
    for (const QJsonValue& value : devicesJson(machine)) {
        const QJsonObject n = value.toObject();
        const QString driver = n.value(QStringLiteral("driver")).toString();
        const int problem = n.value(QStringLiteral("problem")).toInt();
        const QString description = n.value(QStringLiteral("description")).toString();
        text += QStringLiteral("  %1%2: %3%4%5\n")
                    .arg(n.value(QStringLiteral("instanceId")).toString(),
                         description.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(description),
                         driver.isEmpty() ? QStringLiteral("no driver") : QStringLiteral("driver ") + driver,
                         n.value(QStringLiteral("service")).toString().isEmpty()
                             ? QString()
                             : QStringLiteral(", service ") + n.value(QStringLiteral("service")).toString(),
                         !n.value(QStringLiteral("present")).toBool() ? QStringLiteral(", not present")
                             : problem != 0                             ? QStringLiteral(", problem %1").arg(problem)
                                                                        : QString());
    }
    text += QStringLiteral("Drives:\n");
    for (const QJsonValue& value : drivesJson(machine)) {
        const QJsonObject d = value.toObject();
        text += QStringLiteral("  %1 %2 %3%4\n")
                    .arg(d.value(QStringLiteral("root")).toString(), d.value(QStringLiteral("type")).toString(),
                         d.value(QStringLiteral("volume")).toString(),
                         d.value(QStringLiteral("media")).toBool() ? QString() : QStringLiteral(", no media"));
    }
    return text;
}

} // namespace winsteps::host::machine
