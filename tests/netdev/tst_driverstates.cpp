// CGUID, CDMDevice, the driver actions and states and "findDriveLetter", each case on a fresh
// emulated machine whose device tree the test stages.

#include "fsm/cstatefactory.h"
#include "netdev/cactioninstalldriverinf.h"
#include "netdev/cdmdevice.h"
#include "netdev/cdmmessage.h"
#include "netdev/cdriverstates.h"
#include "netdev/cfinddriveletterstate.h"
#include "platform/emulated/emulatedprocess.h"
#include "platform/files.h"

#include <QDateTime>
#include <QDomDocument>
#include <QMetaProperty>
#include <QPoint>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "support/files.h"
#include "support/freshmachine.h"
#include "support/pluginstates.h"
#include "support/tracecapture.h"

#include <memory>

using namespace winsteps::platform;
using winsteps::platform::emulated::DeviceNodeRecord;

namespace {

const char* const netClass = "{4D36E972-E325-11CE-BFC1-08002BE10318}";
const char* const stick = "USB\\VID_0781&PID_5567\\4C53";

// The package the install cases stage: a network driver with models for two adapters.
const char* const netInf = "[Version]\nSignature=\"$Windows NT$\"\nClass=Net\nClassGuid={4D36E972-E325-11CE-BFC1-08002BE10318}\n"
                           "[Manufacturer]\nDemo=Demo\n[Demo]\n"
                           "\"Demo Adapter\"=Demo.Install,PCI\\VEN_1234&DEV_0001\n"
                           "\"Demo Adapter\"=Demo.Install,USB\\VID_1234&PID_0002\n"
                           "[Demo.Install]\n[Demo.Install.Services]\nAddService=demonet,0x2,Demo.Service\n"
                           "[Demo.Service]\nServiceType=1\nStartType=3\nErrorControl=1\nServiceBinary=%12%\\demonet.sys\n";

// A node below parent (empty: where the machine puts it); a problem until it has a driver.
DeviceNodeRecord node(const char* id, const char* hardwareId, const char* classGuid = netClass, const char* parent = "")
{
    DeviceNodeRecord record;
    record.instanceId = QString::fromLatin1(id);
    record.parent = QString::fromLatin1(parent);
    record.hardwareIds = QStringList{QString::fromLatin1(hardwareId)};
    record.classGuid = QString::fromLatin1(classGuid);
    record.description = QStringLiteral("Device ") + record.instanceId;
    record.problem = *classGuid ? CM_PROB_FAILED_INSTALL : 0;
    return record;
}

// Three network adapters on two enumerators (one without a model in the package), a device
// of another class, and an adapter that is known but not plugged in.
QList<DeviceNodeRecord> adapters()
{
    DeviceNodeRecord away = node("USB\\VID_1234&PID_0002\\5", "USB\\VID_1234&PID_0002");
    away.present = false;
    return {node("PCI\\VEN_1234&DEV_0001\\1", "PCI\\VEN_1234&DEV_0001"), node("PCI\\VEN_1234&DEV_00FF\\2", "PCI\\VEN_1234&DEV_00FF"),
            node("USB\\VID_1234&PID_0002\\3", "USB\\VID_1234&PID_0002"), node("USB\\VID_1234&PID_0003\\4", "USB\\VID_1234&PID_0003", ""), away};
}

// A USB stick: the device, its disk and its volume of driveType, with or without media,
// mounted mountDelay ms from now.
QList<DeviceNodeRecord> usbStick(std::uint32_t driveType, bool media, qint64 mountDelay = 0)
{
    DeviceNodeRecord volume = node("STORAGE\\VOLUME\\1&30A96598&0&4C53", "STORAGE\\Volume", "", "USBSTOR\\DISK&VEN_DEMO\\4C53&0");
    volume.interfaces = QStringList{QStringLiteral("{53F5630D-B6BF-11D0-94F2-00A0C91EFB8B}")};
    volume.volumeGuid = QStringLiteral("{6b2c8d2e-2a61-11de-8c30-0800200c9a66}");
    volume.driveType = driveType;
    volume.media = media;
    volume.mountAt = mountDelay ? QDateTime::currentMSecsSinceEpoch() + mountDelay : 0;
    return {node(stick, "USB\\VID_0781&PID_5567", ""), node("USBSTOR\\DISK&VEN_DEMO\\4C53&0", "USBSTOR\\DiskDemo", "", stick), volume};
}

// The staged nodes that are there with a driver.
QStringList boundDrivers(const QList<DeviceNodeRecord>& staged)
{
    QStringList out;
    for (const DeviceNodeRecord& record : staged) {
        DeviceNodeRecord now;
        if (emulated::currentMachine().devices().node(record.instanceId, &now) == CR_SUCCESS && !now.driver.isEmpty())
            out << record.instanceId;
    }
    return out;
}

// The 9x copy of driver files, its outcome set by the test.
class CopyResultInstall : public CActionInstallDriverInf
{
public:
    CopyResultInstall(QObject* parent, int copyResult) : CActionInstallDriverInf(parent, "install"), m_copyResult(copyResult) {}
    ~CopyResultInstall() override { stopAndWait(); }

protected:
    int copyDriverFiles() override { return CActionInstallDriverInf::copyDriverFiles() < 0 ? -1 : m_copyResult; }
    const int m_copyResult;
};

} // namespace

class TstDriverStates : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        m_factory.reset(createFactory(nullptr));
        qputenv(emulated::toolHostVariable, WINSTEPS_EXE); // devprep.exe is one of its tools
    }

    void guid_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("value"); // as the system writes it; all zero for the null GUID

        const QString net = QString::fromLatin1(netClass);
        const QString zero = QStringLiteral("{00000000-0000-0000-0000-000000000000}");
        QTest::newRow("upper case") << net << net;
        QTest::newRow("lower case is the same value") << net.toLower() << net;
        QTest::newRow("text around the braces is ignored") << QStringLiteral("class ") + net + QStringLiteral(" end") << net;
        QTest::newRow("a character that is no digit counts nothing")
            << QStringLiteral("{4D36E97X-E325-11CE-BFC1-08002BE10318}") << QStringLiteral("{04D36E97-E325-11CE-BFC1-08002BE10318}");
        QTest::newRow("no opening brace") << net.mid(1) << zero;
        QTest::newRow("no closing brace") << net.chopped(1) << zero;
        QTest::newRow("a separator missing") << QStringLiteral("{4D36E972-E325-11CEBFC1-08002BE10318}") << zero;
        QTest::newRow("last group of 11") << QStringLiteral("{4D36E972-E325-11CE-BFC1-08002BE1031}") << zero;
        QTest::newRow("last group of 13") << QStringLiteral("{4D36E972-E325-11CE-BFC1-08002BE103180}") << zero;
    }

    void guid()
    {
        QFETCH(QString, text);
        QFETCH(QString, value);
        const CGUID guid(text);
        QCOMPARE(QString::fromStdString(guidText(guid.value())), value);
        QCOMPARE(guid.text(), text);
        QCOMPARE(guid.isNull(), value.startsWith(QLatin1String("{0000")));
    }

    void nullDevice()
    {
        machine(QStringLiteral("winxp-sp2"), {});
        // Declared in this order, for the property functions that list them.
        const QMetaObject& meta = CDMDevice::staticMetaObject;
        QStringList names;
        for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i)
            names << QString::fromLatin1(meta.property(i).name());
        QCOMPARE(names, QStringList({"INSTANCE_ID", "HOST", "DESCRIPTION", "FRIENDLY_NAME", "CLASS_GUID", "STATUS", "PROBLEM",
                                     "PROBLEM_DESCRIPTION", "HARDWARE_ID", "DRIVER_KEY", "SERVICE_NAME", "TYPE"}));
        QVERIFY(meta.property(meta.indexOfProperty("TYPE")).isEnumType());

        CDMDevice unknown(QStringLiteral("PCI\\VEN_DEAD&DEV_BEEF\\0"), QString());
        const CDMDevice empty;
        for (const CDMDevice* d : std::initializer_list<const CDMDevice*>{&unknown, &empty}) {
            QVERIFY(d->isNull());
            QCOMPARE(QPoint(d->status(), d->problem()), QPoint(-1, -1));
            for (const char* name : {"DESCRIPTION", "FRIENDLY_NAME", "CLASS_GUID", "PROBLEM_DESCRIPTION", "HARDWARE_ID", "DRIVER_KEY", "SERVICE_NAME"})
                QCOMPARE(d->property(name).toString(), QStringLiteral("null"));
            QCOMPARE(d->objectName(), QStringLiteral("null"));
        }
        unknown.setProperty("TYPE", QVariant::fromValue(CDMDevice::eNetworkAdaptorUsb));
        QCOMPARE(unknown.type(), CDMDevice::eUnknown);
    }

    void enumerate_data()
    {
        QTest::addColumn<QString>("deviceClass");
        QTest::addColumn<QString>("enumerator");
        QTest::addColumn<int>("result");
        QTest::addColumn<QStringList>("found"); // of the staged devices

        QTest::newRow("null class, empty enumerator: -1, nothing called") << QString() << QString() << -1 << QStringList();
        QTest::newRow("an enumerator lists its devices, plugged in or not")
            << QString() << QStringLiteral("usb") << 0
            << QStringList{"USB\\VID_1234&PID_0002\\3", "USB\\VID_1234&PID_0003\\4", "USB\\VID_1234&PID_0002\\5"};
        QTest::newRow("a class wins over the enumerator") << QString::fromLatin1(netClass) << QStringLiteral("USB") << 0
                                                          << QStringList{"PCI\\VEN_1234&DEV_0001\\1", "PCI\\VEN_1234&DEV_00FF\\2",
                                                                         "USB\\VID_1234&PID_0002\\3", "USB\\VID_1234&PID_0002\\5"};
        QTest::newRow("an enumerator without devices: -1") << QString() << QStringLiteral("NOSUCH") << -1 << QStringList();
    }

    void enumerate()
    {
        QFETCH(QString, deviceClass);
        QFETCH(QString, enumerator);
        QFETCH(int, result);
        QFETCH(QStringList, found);
        const QList<DeviceNodeRecord> staged = adapters();
        machine(QStringLiteral("winxp-sp2"), staged);
        std::vector<std::unique_ptr<CDMDevice>> devices;
        devices.push_back(std::make_unique<CDMDevice>());
        QCOMPARE(CDMDevice::enumerate(CGUID(deviceClass), devices, false, QString(), enumerator), result);
        QStringList ids; // of the staged ones, appended behind what was there
        for (const auto& d : devices) {
            if (std::any_of(staged.cbegin(), staged.cend(), [&](const DeviceNodeRecord& r) { return r.instanceId == d->instanceId(); }))
                ids << d->instanceId();
        }
        QCOMPARE(ids, found);
        QCOMPARE(devices.front()->objectName(), QStringLiteral("null"));
        QCOMPARE(devices.back()->objectName(), devices.back()->description()); // no friendly name staged
    }

    void driverStates_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QStringList>("properties");
        QTest::addColumn<QStringList>("bindFirst"); // staged devices given a driver before the step
        QTest::addColumn<QString>("event");
        QTest::addColumn<int>("result");
        QTest::addColumn<QStringList>("bound"); // staged devices with a driver afterwards
        QTest::addColumn<QStringList>("traced"); // "!TEXT": TEXT is not traced

        const QString pci1 = QStringLiteral("PCI\\VEN_1234&DEV_0001\\1");
        const QString usb3 = QStringLiteral("USB\\VID_1234&PID_0002\\3");
        const QStringList install{"infFile=demonet.inf", "rootPath=C:\\drv", "driverPath=\\net", "useInfInstaller=0"};
        const QStringList tool{"rootPath=C:\\drv", "infInstallerPath=\\tools\\missing.exe", "useInfInstaller=1"};

        QTest::newRow("install: pre-install fails, result 1, no device touched")
            << "installDriver" << QStringList{"infFile=missing.inf", "rootPath=C:\\drv", "driverPath=\\net", "enumName=net", "hwidList=PCI\\VEN_1234"}
            << QStringList() << "failed" << 1 << QStringList()
            << QStringList{"   preInstallDriver result = false", "install finished - result = 1"};
        QTest::newRow("install: no matching device, result 0")
            << "installDriver" << install + QStringList{"enumName=PCI", "hwidList=PCI\\VEN_9999"} << QStringList() << "success" << 0
            << QStringList() << QStringList{"full driver path: C:\\drv\\net", "install using CDMDevice"};
        QTest::newRow("install: net, two identifiers by a comma, every adapter whatever its enumerator")
            << "installDriver" << install + QStringList{"enumName=net", "hwidList=PCI\\VEN_1234&DEV_0001,,usb\\vid_1234&pid_0002"}
            << QStringList() << "success" << 0 << QStringList{pci1, usb3}
            << QStringList{"   hwidList: PCI\\VEN_1234&DEV_0001,,usb\\vid_1234&pid_0002"};
        QTest::newRow("install: a matching device without a model, result 2")
            << "installDriver" << install + QStringList{"enumName=PCI", "hwidList=PCI\\VEN_1234"} << QStringList() << "failed" << 2
            << QStringList{pci1} << QStringList{"install finished - result = 2"};
        QTest::newRow("install: empty driverPath, the root path alone")
            << "installDriver" << QStringList{"infFile=demonet.inf", "rootPath=C:\\drv\\net", "enumName=USB", "hwidList=USB\\VID_1234&PID_0002"}
            << QStringList() << "success" << 0 << QStringList{usb3} << QStringList{"DMDEV_PreInstallDriver installDir  = C:\\drv\\net", "!full driver path: "};
        QTest::newRow("install: the tool cannot be started, -1")
            << "installDriver" << tool + QStringList{"infFile=demonet.inf", "enumName=net", "hwidList=PCI\\VEN_1234"} << QStringList()
            << "failed" << -1 << QStringList()
            << QStringList{"  location = C:\\drv\\tools\\missing.exe", "   devprep.exe not started", "install finished - result = -1", "!   pre-install result"};
        QTest::newRow("install: by the tool")
            << "installDriver" << QStringList{"rootPath=C:\\drv", "infInstallerPath=\\tools\\devprep.exe", "useInfInstaller=yes",
                                              "infFile=demonet.inf", "driverPath=\\net", "enumName=net", "hwidList=USB\\VID_1234&PID_0002"}
            << QStringList() << "success" << 0 << QStringList{usb3}
            << QStringList{"   pre-install result = 0", "   install result = 0", "install finished - result = 0"};
        QTest::newRow("remove: by the tool")
            << "removeDriver" << QStringList{"rootPath=C:\\drv", "infInstallerPath=\\tools\\devprep.exe", "useInfInstaller=true",
                                             "enumName=PCI", "hwidList=PCI\\VEN_1234&DEV_0001"}
            << QStringList{pci1, usb3} << "success" << 0 << QStringList{usb3} << QStringList{"   remove result = 0"};
        QTest::newRow("remove: a comma is part of one identifier")
            << "removeDriver" << QStringList{"enumName=net", "hwidList=PCI\\VEN_1234&DEV_0001,USB\\VID_1234&PID_0002"}
            << QStringList{pci1, usb3} << "success" << 0 << QStringList{pci1, usb3}
            << QStringList{"Remove hardware ID(s): PCI\\VEN_1234&DEV_0001,USB\\VID_1234&PID_0002 from enum: net"};
        QTest::newRow("remove: identifiers separated by semicolons, a device matching two removed once")
            << "removeDriver" << QStringList{"enumName=net", "hwidList=PCI\\VEN_1234&DEV_0001;;USB\\VID_1234&PID_0002;usb\\vid"}
            << QStringList{pci1, usb3} << "success" << 0 << QStringList()
            << QStringList{"Remove hardware ID(s): PCI\\VEN_1234&DEV_0001, USB\\VID_1234&PID_0002, usb\\vid from enum: net",
                           "remove finished - result = 0"};
        QTest::newRow("remove: the tool cannot be started, -1")
            << "removeDriver" << tool + QStringList{"enumName=PCI", "hwidList=PCI\\VEN_1234"} << QStringList{pci1} << "failed" << -1
            << QStringList{pci1} << QStringList{"   devprep.exe not started", "remove finished - result = -1"};
        QTest::newRow("check: nothing installed, nothing changed")
            << "checkDriverInstallState" << QStringList{"enumName=net", "hwidList=PCI\\VEN_1234&DEV_0001,USB\\VID_1234&PID_0002"}
            << QStringList() << "nothingInstalled" << 0 << QStringList() << QStringList{"!preInstallDriver"};
        QTest::newRow("check: all installed")
            << "checkDriverInstallState" << QStringList{"enumName=PCI", "hwidList=PCI\\VEN_1234&DEV_0001"} << QStringList{pci1, usb3}
            << "allInstalled" << 0 << QStringList{pci1, usb3} << QStringList();
        QTest::newRow("check: with infFile, a driver from another package does not count")
            << "checkDriverInstallState" << QStringList{"enumName=USB", "hwidList=USB\\VID_1234&PID_0002", "infFile=demonet.inf", "rootPath=C:\\drv\\net"}
            << QStringList{usb3} << "nothingInstalled" << 0 << QStringList{usb3} << QStringList();
        QTest::newRow("check: no enumerator to list, failed")
            << "checkDriverInstallState" << QStringList{"hwidList=PCI\\VEN_1234&DEV_0001"} << QStringList() << "failed" << -1
            << QStringList() << QStringList();
    }

    void driverStates()
    {
        QFETCH(QString, type);
        QFETCH(QStringList, properties);
        QFETCH(QStringList, bindFirst);
        QFETCH(QString, event);
        QFETCH(int, result);
        QFETCH(QStringList, bound);
        QFETCH(QStringList, traced);
        const QList<DeviceNodeRecord> staged = adapters();
        machine(QStringLiteral("winxp-sp2"), staged);
        for (const QString& id : bindFirst)
            QCOMPARE(emulated::currentMachine().devices().bindDriver(id, QString::fromLatin1(netClass), QStringLiteral("Net"),
                                                                     QStringLiteral("Bound"), QStringLiteral("bound")),
                     CR_SUCCESS);
        TraceCapture traces;
        const std::unique_ptr<CState> state = create(type, properties);
        QVERIFY(state);
        QCOMPARE(run(*state), event);
        auto* actionState = qobject_cast<CActionState*>(state.get());
        QCOMPARE(actionState->action()->result(), result);
        QCOMPARE(boundDrivers(staged), bound);
        const QStringList lines = traces.lines(winsteps::module::devprep) + traces.lines(winsteps::module::DMDevice);
        for (const QString& line : traced) {
            const bool absent = line.startsWith(QLatin1Char('!'));
            QVERIFY2(absent ? !traces.contains(line.mid(1)) : lines.contains(line), qPrintable(line + QLatin1Char('\n') + lines.join(QLatin1Char('\n'))));
        }
    }

    void checkAfterInstall()
    {
        machine(QStringLiteral("winxp-sp2"), adapters());
        const QStringList package{"infFile=demonet.inf", "rootPath=C:\\drv\\net", "enumName=net"};
        const std::unique_ptr<CState> install = create(QStringLiteral("installDriver"), package + QStringList{"hwidList=USB\\VID_1234&PID_0002"});
        QCOMPARE(run(*install), QStringLiteral("success"));
        const std::unique_ptr<CState> check = create(QStringLiteral("checkDriverInstallState"), package + QStringList{"hwidList=VEN_1234&DEV_0001,VID_1234&PID_0002"});
        QCOMPARE(run(*check), QStringLiteral("partlyInstalled"));
        QCOMPARE(run(*install), QStringLiteral("success")); // installing again is fine
        QCOMPARE(run(*create(QStringLiteral("checkDriverInstallState"), package + QStringList{"hwidList=VID_1234&PID_0002"})),
                 QStringLiteral("allInstalled"));
    }

    void win9x_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QString>("infFile");
        QTest::addColumn<int>("copyResult");
        QTest::addColumn<int>("result");
        QTest::addColumn<bool>("indexKept");
        QTest::addColumn<bool>("copied");

        QTest::newRow("ME: index deleted even when the install fails") << "winme" << "missing.inf" << 0 << 1 << false << false;
        QTest::newRow("98: copy result 2 is a success") << "win98" << "demonet.inf" << 2 << 0 << false << true;
        QTest::newRow("98: copy result 3 gives 4") << "win98" << "demonet.inf" << 3 << 4 << false << true;
        QTest::newRow("95: no index to delete, still a copy") << "win95" << "demonet.inf" << 0 << 0 << true << true;
        QTest::newRow("XP: no copy") << "winxp-sp2" << "demonet.inf" << 3 << 0 << true << false;
    }

    void win9x()
    {
        QFETCH(QString, profile);
        QFETCH(QString, infFile);
        QFETCH(int, copyResult);
        QFETCH(int, result);
        QFETCH(bool, indexKept);
        QFETCH(bool, copied);
        machine(profile, adapters());
        files().createDirectory("C:\\WINDOWS\\INF"); // index files where every profile can have them
        for (const char* name : {"C:\\WINDOWS\\INF\\DRVDATA.BIN", "C:\\WINDOWS\\INF\\DRVIDX.BIN"}) {
            FileHandlePtr file;
            QCOMPARE(files().createFile(name, GENERIC_WRITE, CREATE_ALWAYS, &file), ERROR_SUCCESS);
        }
        TraceCapture traces;
        const std::unique_ptr<CState> state = create(QStringLiteral("installDriver"),
                                                     {"infFile=" + infFile, "rootPath=C:\\drv\\net", "enumName=PCI",
                                                      "hwidList=PCI\\VEN_1234&DEV_0001", "copyFile1=C:/drv/net/*.inf::C:/copied"});
        auto* actionState = qobject_cast<CActionState*>(state.get());
        actionState->setAction(new CopyResultInstall(actionState, copyResult));
        // Twice: the real copy of the second entry runs as well as the first.
        for (int entry = 0; entry < 2; ++entry) {
            QCOMPARE(run(*state), QLatin1String(result == 0 ? "success" : "failed"));
            QCOMPARE(actionState->action()->result(), result);
        }
        QCOMPARE(traces.lines(winsteps::module::devprep).count(QStringLiteral("   result = 0")), copied ? 2 : 0);
        std::uint32_t attributes = 0;
        QCOMPARE(files().getFileAttributes("C:\\WINDOWS\\INF\\DRVIDX.BIN", &attributes) == ERROR_SUCCESS, indexKept);
        QCOMPARE(traces.lines(winsteps::module::devprep).contains(QStringLiteral("   Clear registry database for Windows 98 and Windows ME")),
                 !indexKept);
        QCOMPARE(traces.lines(winsteps::module::devprep).contains(QStringLiteral("Copy driver files for Windows9x.")), copied);
    }

    void driveLetter_data()
    {
        QTest::addColumn<int>("driveType");
        QTest::addColumn<bool>("media");
        QTest::addColumn<int>("mountDelay");
        QTest::addColumn<QString>("deviceId");
        QTest::addColumn<QString>("letter"); // empty: "failed"
        QTest::addColumn<QString>("traced");

        const QString id = QString::fromLatin1(stick);
        const QString removable = QStringLiteral("--- State step: The drive is a type that has removable media.");
        QTest::newRow("found") << int(DRIVE_REMOVABLE) << true << 0 << id << "E:\\"
                               << "--- State step: The drive letter of the plugged devId : E:\\";
        QTest::newRow("another device: not found") << int(DRIVE_REMOVABLE) << true << 0 << QStringLiteral("USB\\VID_0781&PID_5567\\0")
                                                   << QString() << "Error - No drives found in GetSpecificDrives";
        QTest::newRow("the id in another letter case: not found") << int(DRIVE_REMOVABLE) << true << 0 << id.toLower() << QString()
                                                                  << "Error - No drives found in GetSpecificDrives";
        QTest::newRow("a removable drive without media: traced, not recorded") << int(DRIVE_REMOVABLE) << false << 0 << id << QString()
                                                                               << removable;
        QTest::newRow("a USB disk reported as fixed: not found") << int(DRIVE_FIXED) << true << 0 << id << QString()
                                                                 << "--- State step: The drive is a type that cannot be removed.";
        QTest::newRow("a volume that mounts after 2 seconds") << int(DRIVE_REMOVABLE) << true << 2000 << id << "E:\\" << removable;
    }

    void driveLetter()
    {
        QFETCH(int, driveType);
        QFETCH(bool, media);
        QFETCH(int, mountDelay);
        QFETCH(QString, deviceId);
        QFETCH(QString, letter);
        QFETCH(QString, traced);
        machine(QStringLiteral("winxp-sp2"), usbStick(std::uint32_t(driveType), media, mountDelay));
        TraceCapture traces;
        const std::unique_ptr<CState> state = create(QStringLiteral("findDriveLetter"), {"deviceId=" + deviceId});
        auto* find = qobject_cast<CFindDriveLetterState*>(state.get());
        // Not found: the outcome is the same at 5 s. Found: the state must go on as soon as the
        // volume is there, long before a limit of a minute.
        find->setWaitLimit(letter.isEmpty() ? 600 : 60000);
        QCOMPARE(run(*state), letter.isEmpty() ? QStringLiteral("failed") : QStringLiteral("finished"));
        QCOMPARE(state->property("driveLetter").toString(), letter);
        const QStringList lines = traces.lines(winsteps::module::sysTasks);
        QVERIFY2(lines.contains(traced), qPrintable(lines.join(QLatin1Char('\n'))));
        // Only the walk that decides is traced: every drive once.
        QCOMPARE(lines.count(QStringLiteral("--- State step: drive letter = C:\\")), 1);
        if (!letter.isEmpty()) { // the drive of the first entry is gone when the stick is
            QCOMPARE(emulated::currentMachine().devices().removeNode(deviceId), CR_SUCCESS);
            find->setWaitLimit(600);
            QCOMPARE(run(*state), QStringLiteral("failed"));
        }
    }

    void deviceNodeChanged()
    {
        machine(QStringLiteral("winxp-sp2"), {});
        CDMMessage message;
        QSignalSpy changed(&message, &CDMMessage::deviceNodeChanged);
        QString error;
        QVERIFY(emulated::currentMachine().devices().addNodes(usbStick(DRIVE_REMOVABLE, true), &error));
        QVERIFY(changed.wait(2000));
        QCOMPARE(changed.count(), 1);
    }

private:
    void machine(const QString& profile, const QList<DeviceNodeRecord>& nodes)
    {
        std::string error;
        const QString folder = testsupport::openFreshMachine(m_dir, profile, &error);
        QVERIFY2(!folder.isEmpty(), error.c_str());
        QString message;
        QVERIFY2(emulated::currentMachine().devices().addNodes(nodes, &message), qPrintable(message));
        QVERIFY(testsupport::writeFile(folder + QStringLiteral("/drive_c/drv/net/demonet.inf"), netInf));
    }

    std::unique_ptr<CState> create(const QString& type, const QStringList& properties)
    {
        return testsupport::createState(*m_factory, type, properties);
    }
    static QString run(CState& state) { return testsupport::runState(state); }

    QTemporaryDir m_dir;
    std::unique_ptr<CStateFactory> m_factory;
};

QTEST_GUILESS_MAIN(TstDriverStates)
#include "tst_driverstates.moc"
