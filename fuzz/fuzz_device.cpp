// Device files: the input is a device file, read as `winsteps machine plug` reads it (JSON, one
// device or a list, children inside their parents) and plugged into an in-memory machine of
// the default profile. A file that is refused names a reason and leaves the tree as it was; a
// file that is plugged leaves every device it describes findable below a parent that is
// there, volumes with letters of their own that the drives list shows, driver keys that the
// machine handed out well formed and its own, and unplugging its devices brings the tree back
// to the one before.

#include "fuzzsupport.h"

#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/machinefolder.h"
#include "platform/emulated/machineprofile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <memory>

namespace {

using winsteps::platform::emulated::DeviceNodeRecord;
using winsteps::platform::emulated::EmulatedMachine;
using winsteps::platform::emulated::MachineProfile;

// One machine for the whole run: every input leaves its tree as it found it (or stops).
struct Fixed
{
    QTemporaryDir folder;
    MachineProfile profile;
    std::unique_ptr<EmulatedMachine> machine;

    Fixed()
    {
        if (!folder.isValid())
            qFatal("no temporary folder");
        QString error;
        if (!profile.load(QString::fromStdString(winsteps::platform::emulated::defaultProfileName()), &error))
            qFatal("no profile: %s", qPrintable(error));
        machine = EmulatedMachine::detached(profile, folder.filePath(QStringLiteral("machine")));
    }
};

QStringList idsOf(const QList<DeviceNodeRecord>& nodes)
{
    QStringList ids;
    for (const DeviceNodeRecord& n : nodes)
        ids << n.instanceId.toUpper();
    return ids;
}

// A driver key the machine gave is "{class}\NNNN" and no other device's (but one the file
// gave the same key on purpose).
void checkNewDriverKey(const QList<DeviceNodeRecord>& tree, const QStringList& givenKeys, const DeviceNodeRecord& node)
{
    static const QRegularExpression form(QStringLiteral("^\\{[0-9A-F-]{36}\\}\\\\[0-9]{4,}$"));
    if (!form.match(node.driver).hasMatch() || !node.driver.startsWith(node.classGuid, Qt::CaseInsensitive))
        qFatal("device \"%s\" got the driver key \"%s\"", qPrintable(node.instanceId), qPrintable(node.driver));
    for (const DeviceNodeRecord& other : tree) {
        if (other.driver.compare(node.driver, Qt::CaseInsensitive) == 0 && other.instanceId != node.instanceId
            && !givenKeys.contains(other.instanceId.toUpper()))
            qFatal("device \"%s\" got the driver key of \"%s\"", qPrintable(node.instanceId), qPrintable(other.instanceId));
    }
}

// Every plugged device is there below a parent that is there; volume letters are the
// machine's own, and each present volume shows among the drives.
void checkPlugged(EmulatedMachine& machine, const QList<DeviceNodeRecord>& plugged)
{
    const QList<DeviceNodeRecord> tree = machine.devices().nodes();
    const QStringList ids = idsOf(tree);
    QSet<QString> letters;
    for (const DeviceNodeRecord& n : tree) {
        if (!n.parent.isEmpty() && !ids.contains(n.parent.toUpper()))
            qFatal("device \"%s\" hangs below a missing parent", qPrintable(n.instanceId));
        if (!n.isVolume() || n.letter.isEmpty())
            continue;
        if (letters.contains(n.letter))
            qFatal("two volumes hold the letter %s:", qPrintable(n.letter));
        letters << n.letter;
    }
    QStringList givenKeys; // the devices the file gives a driver key
    for (const DeviceNodeRecord& n : plugged) {
        if (!n.driver.isEmpty())
            givenKeys << n.instanceId.toUpper();
    }
    QSet<QString> roots;
    for (const auto& drive : machine.drives().mounted())
        roots << drive.instanceId.toUpper();
    for (const DeviceNodeRecord& n : plugged) {
        DeviceNodeRecord stored;
        if (machine.devices().node(n.instanceId, &stored) != winsteps::platform::CR_SUCCESS)
            qFatal("a plugged device is missing: \"%s\"", qPrintable(n.instanceId));
        if (stored.isVolume() && stored.present && !roots.contains(stored.instanceId.toUpper()))
            qFatal("a plugged volume is no drive: \"%s\"", qPrintable(n.instanceId));
        if (n.driver.isEmpty() && !stored.driver.isEmpty())
            checkNewDriverKey(tree, givenKeys, stored);
        std::string text;
        fuzzsupport::keep(std::size_t(machine.devices().textProperty(n.instanceId.toStdString(), 0, &text)) + text.size());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > fuzzsupport::MaxInput)
        return -1;
    fuzzsupport::silenceTrace();
    static const Fixed fixed;

    const QJsonDocument document = QJsonDocument::fromJson(fuzzsupport::bytes(data, size));
    const QJsonValue top = document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object());
    QList<DeviceNodeRecord> nodes;
    QString error;
    // Mount delays count from the epoch: every volume is mounted by the time it is looked at.
    if (!winsteps::platform::emulated::readDeviceNodes(top, QStringLiteral("device file"), QString(), 0, &nodes, &error)) {
        if (error.isEmpty())
            qFatal("a device file was refused without a reason");
        fuzzsupport::keep(error);
        return 0;
    }
    if (nodes.isEmpty())
        return 0;

    EmulatedMachine* machine = fixed.machine.get();
    const QStringList before = idsOf(machine->devices().nodes());
    if (!machine->devices().addNodes(nodes, &error)) {
        if (error.isEmpty())
            qFatal("a plug was refused without a reason");
        if (idsOf(machine->devices().nodes()) != before)
            qFatal("a refused plug changed the tree");
        return 0;
    }
    checkPlugged(*machine, nodes);

    for (const DeviceNodeRecord& n : std::as_const(nodes)) {
        QStringList removed;
        const winsteps::platform::CONFIGRET result = machine->devices().removeNode(n.instanceId, &removed);
        if (result == winsteps::platform::CR_SUCCESS)
            fuzzsupport::keep(removed);
        else if (result != winsteps::platform::CR_NO_SUCH_DEVNODE) // already gone with its parent
            qFatal("a plugged device cannot be unplugged: \"%s\" (%u)", qPrintable(n.instanceId), unsigned(result));
    }
    if (idsOf(machine->devices().nodes()) != before)
        qFatal("unplugging what was plugged does not give the tree back");
    return 0;
}
