// The emulated device tree and drives beyond what Windows itself promises: the profile's
// "devices" (and the mistakes refused), the hooks that bind drivers and add or remove nodes,
// volumes mounting by the clock, and plugs made by another process on the machine folder.

#include "platform/emulated/emulatedmachine.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "support/freshmachine.h"

using namespace winsteps::platform;
using namespace winsteps::platform::emulated;

namespace {

const QString netClass = QString::fromStdString(guidText(GUID_DEVCLASS_NET));
const char* const adapter = R"({"instanceId": "PCI\\VEN_10EC&DEV_8139\\3&1", "hardwareIds": ["PCI\\VEN_10EC&DEV_8139&REV_10"],
                                "className": "Net", "description": "Realtek RTL8139"})";
// A USB stick: the device, its disk, and the removable volume on it.
QString stick(const QString& volume)
{
    return QStringLiteral(R"({"instanceId": "USB\\VID_0781&PID_5567\\4C53", "className": "USB", "service": "USBSTOR",
        "children": [{"instanceId": "USBSTOR\\DISK&VEN_X\\4C53&0", "className": "DiskDrive", "service": "disk",
        "children": [{"instanceId": "STORAGE\\RemovableMedia\\7&1&0&RM", "volume": %1}]}]})").arg(volume);
}
const std::string stickId = "USB\\VID_0781&PID_5567\\4C53";
const std::string stickVolume = "STORAGE\\RemovableMedia\\7&1&0&RM";

std::vector<std::string> roots(Drives& drives)
{
    std::vector<std::string> list;
    drives.logicalDriveStrings(&list);
    return list;
}

std::string text(Devices& devices, const std::string& id, std::uint32_t property)
{
    std::string value = "none";
    devices.textProperty(id, property, &value);
    return value;
}

} // namespace

class TestDevices : public QObject {
    Q_OBJECT

private slots:
    void stagedDevices();
    void driverBindingAndRemoval();
    void volumeMountsAfterItsDelay();
    void plugsOfAnotherProcessAreSeen();

private:
    // A machine of winxp-sp2 with the devices given (the items of a JSON list) added to its seed.
    std::unique_ptr<EmulatedMachine> machine(const QString& devices)
    {
        return testsupport::freshMachine(m_dir, QStringLiteral(R"({"inherits": "winxp-sp2", "devices": [%1]})").arg(devices));
    }

    QTemporaryDir m_dir;
};

// The seed with a staged network adapter that has no driver yet, and a stick whose volume
// takes the first free letter.
void TestDevices::stagedDevices()
{
    auto m = machine(QLatin1String(adapter) + ',' + stick(QStringLiteral("{}")) + R"(, {"instanceId": "ROOT\\GONE\\0", "present": false})");
    QVERIFY(m);
    Devices& devices = m->devices();
    // A node that is not plugged in is known, but not present.
    const std::string gone = "ROOT\\GONE\\0";
    std::vector<std::string> all;
    QCOMPARE(devices.classDevices(nullptr, "root", 0, &all), ERROR_SUCCESS);
    QCOMPARE(all.back(), gone);
    QCOMPARE(devices.classDevices(nullptr, "root", DIGCF_PRESENT, &all), ERROR_SUCCESS);
    QVERIFY(all.back() != gone);
    QCOMPARE(devices.locateDevNode(gone, CM_LOCATE_DEVNODE_NORMAL, nullptr), CR_NO_SUCH_DEVNODE);
    QCOMPARE(devices.locateDevNode(gone, CM_LOCATE_DEVNODE_PHANTOM, nullptr), CR_SUCCESS);
    QCOMPARE(devices.devNodeStatus(gone, nullptr, nullptr), CR_NO_SUCH_DEVNODE);
    std::vector<std::string> ids;
    QCOMPARE(devices.classDevices(&GUID_DEVCLASS_NET, "", DIGCF_PRESENT, &ids), ERROR_SUCCESS);
    QCOMPARE(ids.size(), std::size_t(2));
    const std::string staged = ids.back();
    QCOMPARE(staged, std::string("PCI\\VEN_10EC&DEV_8139\\3&1"));
    std::string parentId;
    QCOMPARE(devices.parent(staged, &parentId), CR_SUCCESS);
    QCOMPARE(parentId, std::string("ACPI\\PNP0A03\\0")); // a PCI device hangs below the PCI bus
    QCOMPARE(devices.parent(stickId, &parentId), CR_SUCCESS);
    QVERIFY(parentId.rfind("USB\\ROOT_HUB", 0) == 0);
    std::uint32_t status = 0, problem = 0;
    QCOMPARE(devices.devNodeStatus(staged, &status, &problem), CR_SUCCESS);
    QCOMPARE(problem, CM_PROB_FAILED_INSTALL);
    QVERIFY((status & DN_HAS_PROBLEM) && !(status & DN_STARTED));
    QCOMPARE(text(devices, staged, CM_DRP_DRIVER), std::string("none"));
    QCOMPARE(text(devices, staged, CM_DRP_CLASSGUID), netClass.toLower().toStdString());
    QCOMPARE(text(devices, ids.front(), CM_DRP_DRIVER), QString(netClass + "\\0000").toStdString());
    // The enumerator narrows the list in any case; the stick's nodes got drivers of their classes.
    QCOMPARE(devices.classDevices(nullptr, "usbstor", DIGCF_PRESENT, &ids), ERROR_SUCCESS);
    QCOMPARE(ids, std::vector<std::string>{"USBSTOR\\DISK&VEN_X\\4C53&0"});
    QCOMPARE(text(devices, ids.front(), CM_DRP_DRIVER),
             guidText(GUID_DEVCLASS_DISKDRIVE) + "\\0001");
    QCOMPARE(roots(m->drives()), (std::vector<std::string>{"C:\\", "D:\\", "E:\\"}));
    QCOMPARE(m->drives().driveType("e:\\"), DRIVE_REMOVABLE);
    QCOMPARE(m->drives().driveType("D:"), DRIVE_CDROM);
}

void TestDevices::driverBindingAndRemoval()
{
    auto m = machine(QLatin1String(adapter) + ',' + stick(QStringLiteral("{}")));
    QVERIFY(m);
    EmulatedDevices& devices = m->devices();
    const QString staged = QStringLiteral("pci\\ven_10ec&dev_8139\\3&1"); // any case
    std::uint64_t count = devices.changeCount();
    QString key;
    QCOMPARE(devices.bindDriver(staged, netClass.toLower(), "Net", "Realtek RTL8139 Family", "RTL8023", QString(), &key), CR_SUCCESS);
    QCOMPARE(key, QString(netClass + "\\0001"));
    QVERIFY(devices.changeCount() > count);
    DeviceNodeRecord record;
    QCOMPARE(devices.node(staged, &record), CR_SUCCESS);
    QCOMPARE(record.instanceId, QStringLiteral("PCI\\VEN_10EC&DEV_8139\\3&1"));
    QCOMPARE(record.problem, 0u);
    QVERIFY((record.status & DN_STARTED) && !(record.status & DN_HAS_PROBLEM));
    QCOMPARE(text(devices, record.instanceId.toStdString(), CM_DRP_SERVICE), std::string("RTL8023"));
    QCOMPARE(devices.setStatus(staged, DN_NT_ENUMERATOR, CM_PROB_DISABLED), CR_SUCCESS);
    std::uint32_t status = 0, problem = 0;
    QCOMPARE(devices.devNodeStatus(record.instanceId.toStdString(), &status, &problem), CR_SUCCESS);
    QCOMPARE(status, DN_NT_ENUMERATOR | DN_HAS_PROBLEM);
    QCOMPARE(problem, CM_PROB_DISABLED);
    QCOMPARE(devices.bindDriver("ROOT\\NONE\\0", netClass, "Net", "", ""), CR_NO_SUCH_DEVNODE);
    QCOMPARE(devices.bindDriver(staged, "not a class", "Net", "", ""), CR_INVALID_DATA);
    QCOMPARE(devices.setFriendlyName(stickId, "My stick"), CR_SUCCESS);
    QCOMPARE(text(devices, stickId, CM_DRP_FRIENDLYNAME), std::string("My stick"));

    // Removing the stick takes its disk and volume along; the letter goes with them.
    count = devices.changeCount();
    QStringList removed;
    QCOMPARE(devices.removeNode(QString::fromStdString(stickId), &removed), CR_SUCCESS);
    QCOMPARE(removed.size(), 3);
    QVERIFY(devices.changeCount() > count);
    QCOMPARE(devices.locateDevNode(stickVolume, CM_LOCATE_DEVNODE_PHANTOM, nullptr), CR_NO_SUCH_DEVNODE);
    QCOMPARE(roots(m->drives()), (std::vector<std::string>{"C:\\", "D:\\"}));
    QCOMPARE(devices.removeNode(QString::fromStdString(stickId)), CR_NO_SUCH_DEVNODE);
    QCOMPARE(devices.removeNode(QString()), CR_REMOVE_VETOED);
    QString error;
    QVERIFY(!devices.addNodes({DeviceNodeRecord{}}, &error));
    QCOMPARE(error, QStringLiteral("a device has no instance id"));
}

// A volume plugged with a delay has no letter until its time has come; its mount counts as a
// change of the tree without any further write. One without media has no volume name.
void TestDevices::volumeMountsAfterItsDelay()
{
    auto m = machine(QString());
    QVERIFY(m);
    QList<DeviceNodeRecord> nodes;
    QString error;
    QVERIFY2(readDeviceNodes(QJsonDocument::fromJson(stick(R"({"mountDelay": 2, "letter": "R"})").toUtf8()).object(),
                             "test", QString(), QDateTime::currentMSecsSinceEpoch(), &nodes, &error),
             qPrintable(error));
    Drives& drives = m->drives();
    const std::uint64_t before = m->devices().changeCount();
    QVERIFY(m->devices().addNodes(nodes, &error));
    const std::uint64_t plugged = m->devices().changeCount();
    QCOMPARE(plugged, before + 1);
    std::vector<DeviceInterface> volumes;
    QCOMPARE(m->devices().deviceInterfaces(GUID_DEVINTERFACE_VOLUME, DIGCF_PRESENT, &volumes), ERROR_SUCCESS);
    QCOMPARE(volumes.back().instanceId, stickVolume);
    QCOMPARE(volumes.back().devicePath, std::string("\\\\?\\storage#removablemedia#7&1&0&rm#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}"));
    std::string byPath, byRoot;
    QCOMPARE(drives.volumeNameForMountPoint(volumes.back().devicePath + "\\", &byPath), ERROR_SUCCESS);
    QCOMPARE(drives.driveType("R:\\"), DRIVE_NO_ROOT_DIR);
    QCOMPARE(drives.volumeNameForMountPoint("R:\\", &byRoot), ERROR_FILE_NOT_FOUND);
    QTRY_COMPARE_WITH_TIMEOUT(drives.driveType("R:\\"), DRIVE_REMOVABLE, 5000);
    QCOMPARE(m->devices().changeCount(), plugged + 1);
    QCOMPARE(m->devices().setFriendlyName(stickId, "Stick"), CR_SUCCESS); // a write after the mount still counts
    QCOMPARE(m->devices().changeCount(), plugged + 2);
    QCOMPARE(drives.volumeNameForMountPoint("R:\\", &byRoot), ERROR_SUCCESS);
    QCOMPARE(byRoot, byPath);
    QVERIFY(byRoot.rfind("\\\\?\\Volume{", 0) == 0);

    // The CD-ROM drive of the seed holds no disc.
    bool media = true;
    QCOMPARE(drives.mediaPresent("D:\\", &media), ERROR_SUCCESS);
    QVERIFY(!media);
    QCOMPARE(drives.volumeNameForMountPoint("D:\\", &byRoot), ERROR_NOT_READY);
    QCOMPARE(drives.mediaPresent("Q:\\", &media), ERROR_INVALID_DRIVE);
}

// winsteps machine plug and unplug in other processes while this one has the machine open:
// each call here sees the tree as it is in the store now.
void TestDevices::plugsOfAnotherProcessAreSeen()
{
    auto m = machine(QString());
    QVERIFY(m);
    const QString file = m_dir.filePath(QStringLiteral("stick.json"));
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(stick(R"({"letter": "S"})").toUtf8());
    out.close();
    const auto run = [&](const QStringList& arguments) {
        QProcess process;
        process.start(QStringLiteral(WINSTEPS_EXE), QStringList{QStringLiteral("machine")} + arguments);
        process.waitForFinished(30000);
        return QString::fromUtf8(process.readAllStandardOutput());
    };
    const std::uint64_t count = m->devices().changeCount();
    QVERIFY(run({QStringLiteral("plug"), m->folder(), file}).contains(QStringLiteral("mounts as S:")));
    QVERIFY(m->devices().changeCount() > count);
    QCOMPARE(m->devices().locateDevNode(stickId, CM_LOCATE_DEVNODE_NORMAL, nullptr), CR_SUCCESS);
    QCOMPARE(m->drives().driveType("S:\\"), DRIVE_REMOVABLE);
    const QJsonObject shown = QJsonDocument::fromJson(run({QStringLiteral("show"), m->folder(), QStringLiteral("--json")}).toUtf8()).object();
    QCOMPARE(shown.value(QStringLiteral("drives")).toArray().last().toObject().value(QStringLiteral("root")).toString(), QStringLiteral("S:\\"));
    const QJsonObject last = shown.value(QStringLiteral("devices")).toArray().last().toObject();
    QCOMPARE(QStringList(last.keys()), (QStringList{"classGuid", "description", "driver", "hardwareIds", "instanceId", "parent",
                                                    "present", "problem", "service", "status"}));
    QCOMPARE(last.value(QStringLiteral("parent")).toString(), QStringLiteral("USBSTOR\\DISK&VEN_X\\4C53&0"));

    QVERIFY(run({QStringLiteral("unplug"), m->folder(), QString::fromStdString(stickId)}).contains(QStringLiteral("Drive S:\\ is gone.")));
    QCOMPARE(m->devices().locateDevNode(stickId, CM_LOCATE_DEVNODE_PHANTOM, nullptr), CR_NO_SUCH_DEVNODE);
    QCOMPARE(m->drives().driveType("S:\\"), DRIVE_NO_ROOT_DIR);
}

QTEST_GUILESS_MAIN(TestDevices)
#include "tst_devices.moc"
