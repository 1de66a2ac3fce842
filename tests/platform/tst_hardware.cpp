// The emulated machine's hardware beyond what Windows itself promises: the firewall and
// connection sharing (what the profiles say about them, the authorised list's registry
// entries), the device tree and drives (the profile's "devices", the hooks that bind drivers
// and add or remove nodes, volumes mounting by the clock), and both shared with other
// processes on the machine folder (winsteps machine show, plug and unplug).

#include "platform/emulated/emulatedmachine.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include "support/commandrun.h"
#include "support/files.h"
#include "support/freshmachine.h"
#include "support/registryvalues.h"

using namespace winsteps::platform;
using namespace winsteps::platform::emulated;

namespace {

const QString listKey = QString::fromLatin1(firewallListKey).replace(QLatin1String("\\"), QLatin1String("\\\\"));

// A profile on winxp-sp2 with the JSON items given (without their braces).
QByteArray profileText(const QString& items)
{
    return QStringLiteral(R"({"inherits": "winxp-sp2"%1%2})").arg(items.isEmpty() ? QString() : QStringLiteral(", "), items).toUtf8();
}

MachineProfile parsed(const QString& items)
{
    MachineProfile profile;
    QString error;
    if (!profile.parse(profileText(items), QStringLiteral("test"), &error))
        qWarning("%s", qPrintable(error));
    return profile;
}

// What "winsteps machine show --json" prints for the machine in folder.
QJsonObject machineShown(const QString& folder)
{
    const CommandRun run = runWinsteps({QStringLiteral("machine"), QStringLiteral("show"), folder, QStringLiteral("--json")});
    return QJsonDocument::fromJson(run.out.toUtf8()).object();
}

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

class TestHardware : public QObject {
    Q_OBJECT

private slots:
    void builtinProfiles_data();
    void builtinProfiles();
    void declaredConnections();
    void listEntriesAreParsed_data();
    void listEntriesAreParsed();
    void authorisedListInTheRegistry();
    void connectionsAreSharedWithOtherProcesses();
    void stagedDevices();
    void driverBindingAndRemoval();
    void volumeMountsAfterItsDelay();
    void plugsOfAnotherProcessAreSeen();

private:
    std::unique_ptr<EmulatedMachine> machine(const QString& items)
    {
        return testsupport::freshMachine(m_dir, QString::fromUtf8(profileText(items)));
    }
    // The devices given (the items of a JSON list) added to the seed.
    std::unique_ptr<EmulatedMachine> withDevices(const QString& devices)
    {
        return machine(QStringLiteral(R"("devices": [%1])").arg(devices));
    }

    QTemporaryDir m_dir;
};

void TestHardware::builtinProfiles_data()
{
    // Which profiles have the firewall manager is a contract case; their connections are not.
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("sharing");
    QTest::addColumn<bool>("firewalled"); // its one LAN connection
    QTest::newRow("win2000") << "win2000" << false << false;
    QTest::newRow("winxp-sp1") << "winxp-sp1" << true << false;
    QTest::newRow("winxp-sp2") << "winxp-sp2" << true << true;
    QTest::newRow("win2003 (SP1)") << "win2003" << true << true;
    QTest::newRow("vista-x64") << "vista-x64" << true << true;
}

void TestHardware::builtinProfiles()
{
    QFETCH(QString, name);
    QFETCH(bool, sharing);
    QFETCH(bool, firewalled);
    MachineProfile profile;
    QVERIFY(profile.load(name, nullptr));
    QCOMPARE(hasConnectionSharing(profile), sharing);
    const NetworkState state = initialNetwork(profile);
    QCOMPARE(state.connections.size(), sharing ? 1 : 0);
    if (sharing) {
        const ConnectionRecord& lan = state.connections.first();
        QCOMPARE(lan.name, QStringLiteral("Local Area Connection"));
        QCOMPARE(lan.mediaType, NCM_LAN);
        QCOMPARE(lan.status, NCS_CONNECTED);
        QCOMPARE(lan.firewall, firewalled);
    }
}

void TestHardware::declaredConnections()
{
    // The default connection changed item by item, or taken away; the system's flags given.
    const NetworkState changed = initialNetwork(parsed(QStringLiteral(R"("connections": {"local area connection":
        {"firewall": false, "mappings": [{"name": "A", "externalPort": 1, "internalPort": 2, "target": "h", "targetType": "name",
          "protocol": "udp", "enabled": false}, {"name": "B", "externalPort": 1, "internalPort": 2, "target": "10.0.0.1"}]},
        "Phone": {"type": "dialup", "guid": "{00000000-0000-0000-0000-00000000000a}", "status": "connected"}})")));
    QCOMPARE(changed.connections.size(), 2);
    const ConnectionRecord& lan = changed.connections.at(0);
    QCOMPARE(lan.name, QStringLiteral("local area connection"));
    QVERIFY(!lan.firewall);
    QCOMPARE(lan.mappings.size(), 2);
    const PortMappingRecord& a = lan.mappings.at(0);
    QCOMPARE(a.protocol, NAT_PROTOCOL_UDP);
    QCOMPARE(a.targetType, ICSTT_NAME);
    QVERIFY(!a.enabled && lan.mappings.at(1).enabled);
    QVERIFY(a.id != lan.mappings.at(1).id);
    const ConnectionRecord& phone = changed.connections.at(1);
    QCOMPARE(phone.guid, QStringLiteral("{00000000-0000-0000-0000-00000000000A}"));
    QCOMPARE(phone.mediaType, NCM_PHONE);
    QCOMPARE(phone.status, NCS_CONNECTED);
    QVERIFY(phone.firewall);

    QVERIFY(initialNetwork(parsed(QStringLiteral(R"("connections": {"Local Area Connection": null})"))).connections.isEmpty());
    const MachineProfile without = parsed(QStringLiteral(R"("firewall": {"manager": false, "sharing": false})"));
    QVERIFY(!hasFirewallManager(without));
    QVERIFY(initialNetwork(without).connections.isEmpty());
}

void TestHardware::listEntriesAreParsed_data()
{
    QTest::addColumn<QString>("data");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("scope");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("name");
    QTest::newRow("enabled") << "C:\\a b\\app.exe:*:Enabled:App" << true << "*" << true << "App";
    QTest::newRow("other case of the path") << "c:\\A B\\APP.EXE:LocalSubNet:disabled:x" << true << "LocalSubNet" << false << "x";
    QTest::newRow("colon in the name") << "C:\\a b\\app.exe:*:Enabled:App: the tool" << true << "*" << true
                                       << "App: the tool";
    QTest::newRow("path not repeated") << "C:\\other.exe:*:Enabled:App" << true << "*" << true << "App";
    QTest::newRow("no state") << "C:\\a b\\app.exe:*:On:App" << false << "" << false << "";
    QTest::newRow("empty") << "" << false << "" << false << "";
}

void TestHardware::listEntriesAreParsed()
{
    QFETCH(QString, data);
    QFETCH(bool, ok);
    EmulatedFirewall::Application entry;
    QCOMPARE(EmulatedFirewall::parseEntry(QStringLiteral("C:\\a b\\app.exe"), data, &entry), ok);
    if (ok) {
        QCOMPARE(entry.path, QStringLiteral("C:\\a b\\app.exe"));
        QTEST(entry.scope, "scope");
        QTEST(entry.enabled, "enabled");
        QTEST(entry.name, "name");
    }
}

void TestHardware::authorisedListInTheRegistry()
{
    const QString staged = QStringLiteral(R"("registry": {"HKLM\\%1": {"C:\\Old.exe": "C:\\Old.exe:*:Disabled:Old",
        "C:\\Junk.exe": "no entry"}, "HKLM\\%2": {"EnableFirewall": 0}})")
                               .arg(listKey, QString::fromLatin1(firewallProfileKey).replace(QLatin1String("\\"), QLatin1String("\\\\")));
    for (const bool administrator : {true, false}) {
        auto m = machine(staged + (administrator ? QString() : QStringLiteral(R"(, "administrator": false)")));
        QVERIFY(m);
        QVERIFY(SUCCEEDED(m->system().coInitialize()));
        std::shared_ptr<FwMgr> manager;
        std::shared_ptr<FwPolicy> policy;
        std::shared_ptr<FwProfile> profile;
        std::shared_ptr<FwAuthorizedApplications> list;
        std::shared_ptr<FwAuthorizedApplication> item;
        QCOMPARE(m->firewall().createManager(&manager), S_OK);
        QCOMPARE(manager->localPolicy(&policy), S_OK);
        QCOMPARE(policy->currentProfile(&profile), S_OK);
        QCOMPARE(profile->authorizedApplications(&list), S_OK);
        VARIANT_BOOL on = VARIANT_TRUE;
        QCOMPARE(profile->firewallEnabled(&on), S_OK);
        QCOMPARE(on, VARIANT_FALSE);
        QCOMPARE(list->item("c:\\old.exe", &item), S_OK);
        QCOMPARE(item->enabled(&on), S_OK);
        QCOMPARE(on, VARIANT_FALSE);
        QCOMPARE(list->item("C:\\Junk.exe", &item), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
        // Adding again enables it, written as Windows writes an entry; only an administrator may.
        const HRESULT changed = administrator ? S_OK : E_ACCESSDENIED;
        QCOMPARE(list->add("C:\\Old.exe", "Old again"), changed);
        QCOMPARE(list->add("C:\\New.exe", ""), E_INVALIDARG);
        const QByteArray data = testsupport::value(m->registry(), HKEY_LOCAL_MACHINE, firewallListKey, "C:\\Old.exe");
        QCOMPARE(QByteArray(data.constData()),
                 QByteArray(administrator ? "C:\\Old.exe:*:Enabled:Old again" : "C:\\Old.exe:*:Disabled:Old"));
        QCOMPARE(list->remove("C:\\OLD.EXE"), changed);
        QCOMPARE(m->firewall().applications().size(), administrator ? 0 : 1);
        m->system().coUninitialize();
    }
}

void TestHardware::connectionsAreSharedWithOtherProcesses()
{
    auto m = machine(QStringLiteral(R"("connections": {"Phone": {"type": "dialup"}})"));
    QVERIFY(m);
    std::shared_ptr<NetSharingManager> sharing;
    QCOMPARE(m->netSharing().createManager(&sharing), CO_E_NOTINITIALIZED);
    QVERIFY(SUCCEEDED(m->system().coInitialize()));
    QCOMPARE(m->netSharing().createManager(&sharing), S_OK);
    std::vector<std::shared_ptr<NetConnection>> connections;
    QCOMPARE(sharing->everyConnection(&connections), S_OK);
    QCOMPARE(connections.size(), std::size_t(2));
    const std::shared_ptr<NetConnection>& lan = connections.at(0);
    const std::shared_ptr<NetConnection>& phone = connections.at(1);
    QCOMPARE(lan->deleteConnection(), E_ACCESSDENIED);
    QCOMPARE(phone->rename("local area CONNECTION"), HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));
    QCOMPARE(phone->rename(" "), E_INVALIDARG);
    std::shared_ptr<NetSharingConfiguration> configuration;
    std::shared_ptr<NetSharingPortMapping> mapping;
    QCOMPARE(sharing->sharingConfiguration(lan, &configuration), S_OK);
    QCOMPARE(configuration->disableInternetFirewall(), S_OK);
    QCOMPARE(configuration->addPortMapping("Web", NAT_PROTOCOL_TCP, 80, 8080, 0, "10.0.0.2", ICSTT_IPADDRESS, &mapping), S_OK);
    QCOMPARE(mapping->enable(), S_OK);
    QCOMPARE(phone->deleteConnection(), S_OK);

    // Another process sees what this one did.
    const QJsonArray shown = machineShown(m->folder()).value(QStringLiteral("connections")).toArray();
    QCOMPARE(shown.size(), 1);
    const QJsonObject connection = shown.at(0).toObject();
    QCOMPARE(connection.value(QStringLiteral("firewall")).toBool(true), false);
    QCOMPARE(QJsonDocument(connection.value(QStringLiteral("mappings")).toArray()).toJson(QJsonDocument::Compact),
             QByteArray(R"([{"enabled":true,"externalPort":80,"internalPort":8080,"name":"Web","protocol":"tcp","target":"10.0.0.2","targetType":"ip"}])"));

    // And this one sees what another did: the mapping deleted there is gone here.
    QString error;
    auto other = EmulatedMachine::openExisting(m->folder(), &error);
    QVERIFY2(other, qPrintable(error));
    QCOMPARE(other->netSharing().connections().first().mappings.size(), 1);
    other->netSharing().access(true, [](NetworkState& state) {
        state.connections.first().mappings.clear();
        return S_OK;
    });
    PortMappingProps props;
    QCOMPARE(mapping->properties(&props), RPC_E_DISCONNECTED);
    QCOMPARE(phone->connect(), RPC_E_DISCONNECTED);
    m->system().coUninitialize();
}

// The seed with a staged network adapter that has no driver yet, and a stick whose volume
// takes the first free letter.
void TestHardware::stagedDevices()
{
    auto m = withDevices(QLatin1String(adapter) + ',' + stick(QStringLiteral("{}")) + R"(, {"instanceId": "ROOT\\GONE\\0", "present": false})");
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

void TestHardware::driverBindingAndRemoval()
{
    auto m = withDevices(QLatin1String(adapter) + ',' + stick(QStringLiteral("{}")));
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
void TestHardware::volumeMountsAfterItsDelay()
{
    auto m = withDevices(QString());
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
void TestHardware::plugsOfAnotherProcessAreSeen()
{
    auto m = withDevices(QString());
    QVERIFY(m);
    const QString file = m_dir.filePath(QStringLiteral("stick.json"));
    QVERIFY(testsupport::writeFile(file, stick(R"({"letter": "S"})").toUtf8()));
    const std::uint64_t count = m->devices().changeCount();
    QVERIFY(runWinsteps({QStringLiteral("machine"), QStringLiteral("plug"), m->folder(), file}).out.contains(QStringLiteral("mounts as S:")));
    QVERIFY(m->devices().changeCount() > count);
    QCOMPARE(m->devices().locateDevNode(stickId, CM_LOCATE_DEVNODE_NORMAL, nullptr), CR_SUCCESS);
    QCOMPARE(m->drives().driveType("S:\\"), DRIVE_REMOVABLE);
    const QJsonObject shown = machineShown(m->folder());
    QCOMPARE(shown.value(QStringLiteral("drives")).toArray().last().toObject().value(QStringLiteral("root")).toString(), QStringLiteral("S:\\"));
    const QJsonObject last = shown.value(QStringLiteral("devices")).toArray().last().toObject();
    QCOMPARE(QStringList(last.keys()), (QStringList{"classGuid", "description", "driver", "hardwareIds", "instanceId", "parent",
                                                    "present", "problem", "service", "status"}));
    QCOMPARE(last.value(QStringLiteral("parent")).toString(), QStringLiteral("USBSTOR\\DISK&VEN_X\\4C53&0"));

    QVERIFY(runWinsteps({QStringLiteral("machine"), QStringLiteral("unplug"), m->folder(), QString::fromStdString(stickId)}).out.contains(QStringLiteral("Drive S:\\ is gone.")));
    QCOMPARE(m->devices().locateDevNode(stickId, CM_LOCATE_DEVNODE_PHANTOM, nullptr), CR_NO_SUCH_DEVNODE);
    QCOMPARE(m->drives().driveType("S:\\"), DRIVE_NO_ROOT_DIR);
}

QTEST_GUILESS_MAIN(TestHardware)
#include "tst_hardware.moc"
