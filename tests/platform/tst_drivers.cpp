// Driver packages on the emulated machine: the INF reader (good files per platform, texts,
// encodings, and the malformed files it refuses with their line), staging as oemN.inf,
// installing on a node and removing nodes, and the device-manager module over them.

#include "platform/devices.h"
#include "platform/drives.h"
#include "platform/dmdev.h"
#include "platform/driverpackages.h"
#include "platform/emulated/emulateddriverpackages.h"
#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/infreader.h"
#include "platform/emulated/machinefolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include "support/registryvalues.h"

using namespace winsteps::platform;
using namespace winsteps::platform::emulated;

namespace {

const char baseInf[] = R"(; Driver package of the example network adapter
[Version]
Signature   = "$Windows NT$"
Class       = Net
ClassGuid   = {4d36e972-e325-11ce-bfc1-08002be10318}
Provider    = %Maker%
DriverVer   = 07/01/2006,8.10.3.0

[Manufacturer]
%Maker% = Maker, NTx86, NTamd64

[Maker]
%Desc% = E100E.Inst, PCI\VEN_8086&DEV_100E

[Maker.NTx86]
%Desc% = E100E.Inst, PCI\VEN_8086&DEV_100E&SUBSYS_001E8086, PCI\VEN_8086&DEV_100E

[Maker.NTamd64]
%Desc% = E100E.Inst, PCI\VEN_8086&DEV_100E

[E100E.Inst]
[E100E.Inst.NT]
[E100E.Inst.NT.Services]
AddService = E1000, 0x00000002, E1000.Service

[E1000.Service]
DisplayName   = %Desc%
ServiceType   = 1
StartType     = 3
ErrorControl  = 1
ServiceBinary = %12%\e1000325.sys

[Strings]
Maker = "Example Networks"
Desc  = "Example PRO/1000 MT Network Connection"
)";

const inf::Target xp{true, false, 5, 1};
const inf::Target x64{true, true, 6, 0};
const inf::Target win98{false, false, 4, 10};

QByteArray replaced(const char* from, const char* to)
{
    return QByteArray(baseInf).replace(from, to);
}

QByteArray utf16(const QByteArray& utf8)
{
    QByteArray bytes("\xFF\xFE");
    for (QChar c : QString::fromUtf8(utf8))
        bytes.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    return bytes;
}

// "description|install section|id;id|service:start" per model.
QStringList summary(const inf::Package& package)
{
    QStringList lines;
    for (const inf::Model& model : package.models) {
        QStringList services;
        for (const inf::Service& service : model.services)
            services << service.name + QLatin1Char(':') + QString::number(service.startType);
        lines << QStringList{model.description, model.installSection, model.ids.join(QLatin1Char(';')),
                             services.join(QLatin1Char(';'))}
                     .join(QLatin1Char('|'));
    }
    return lines;
}

// The package with ids as every model's id list.
QByteArray packageFor(const QByteArray& ids)
{
    return QByteArray(baseInf)
        .replace("E100E.Inst, PCI\\VEN_8086&DEV_100E&SUBSYS_001E8086, PCI\\VEN_8086&DEV_100E", QByteArray("E100E.Inst, ").append(ids))
        .replace("E100E.Inst, PCI\\VEN_8086&DEV_100E\n", QByteArray("E100E.Inst, ").append(ids).append("\n"));
}

const char testNode[] = "PCI\\VEN_8086&DEV_100F\\3&1&0&20";
const char netClass[] = "{4D36E972-E325-11CE-BFC1-08002BE10318}";

// A network adapter without a driver below the PCI bus, with a disk and a volume mounted as
// a letter below it (removing it must take them along).
QList<DeviceNodeRecord> testNodes()
{
    DeviceNodeRecord nic;
    nic.instanceId = QLatin1String(testNode);
    nic.parent = QStringLiteral("ACPI\\PNP0A03\\0");
    nic.hardwareIds = QStringList{"PCI\\VEN_8086&DEV_100F&SUBSYS_001E8086", "PCI\\VEN_8086&DEV_100F"};
    nic.compatibleIds = QStringList{"PCI\\CC_0200"};
    nic.status = 0;
    DeviceNodeRecord disk;
    disk.instanceId = QStringLiteral("USBSTOR\\DISK&VEN_TEST\\1");
    disk.parent = nic.instanceId;
    DeviceNodeRecord volume;
    volume.instanceId = QStringLiteral("STORAGE\\VOLUME\\1");
    volume.parent = disk.instanceId;
    volume.interfaces = QStringList{QString::fromStdString(guidText(GUID_DEVINTERFACE_VOLUME))};
    volume.volumeGuid = QStringLiteral("{11111111-2222-3333-4444-555555555555}");
    volume.driveType = 2;
    volume.letter = QStringLiteral("F");
    return {nic, disk, volume};
}

// A string value of HKEY_LOCAL_MACHINE; empty when it cannot be read.
std::string stringValue(const std::string& path, const std::string& name)
{
    return testsupport::value(registry(), HKEY_LOCAL_MACHINE, path, name).constData();
}

} // namespace

Q_DECLARE_METATYPE(inf::Target)

class TestDrivers : public QObject {
    Q_OBJECT

private slots:
    void goodFilesAreRead_data();
    void goodFilesAreRead();
    void malformedFilesAreRefused_data();
    void malformedFilesAreRefused();
    void init();
    void stagingNumbersPackages();
    void installOnNode_data();
    void installOnNode();
    void removeTakesTheSubtree();
    void deviceManagerModule();
    void driverIndexFilesOf9x_data();
    void driverIndexFilesOf9x();

private:
    bool openWith(const QString& profile);
    void writeFile(const QString& windowsPath, const QByteArray& bytes);

    QTemporaryDir m_dir;
};

void TestDrivers::goodFilesAreRead_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<inf::Target>("target");
    QTest::addColumn<QStringList>("models");
    const QString desc = QStringLiteral("Example PRO/1000 MT Network Connection");
    const QString ntModel = desc + "|E100E.Inst.NT|PCI\\VEN_8086&DEV_100E&SUBSYS_001E8086;PCI\\VEN_8086&DEV_100E|E1000:3";

    QTest::newRow("32-bit NT takes .NTx86 and the .NT install section with its service")
        << QByteArray(baseInf) << xp << QStringList{ntModel};
    QTest::newRow("64-bit Windows takes .NTamd64") << QByteArray(baseInf) << x64
                                                   << QStringList{desc + "|E100E.Inst.NT|PCI\\VEN_8086&DEV_100E|E1000:3"};
    QTest::newRow("the 9x family reads undecorated sections only")
        << QByteArray(baseInf) << win98 << QStringList{desc + "|E100E.Inst|PCI\\VEN_8086&DEV_100E|"};
    QTest::newRow("64-bit Windows has no models in a package without .NTamd64")
        << replaced("NTx86, NTamd64", "NTx86") << x64 << QStringList{};
    QTest::newRow("a decoration for a later version is not taken")
        << replaced("NTx86, NTamd64", "NTx86.6.0") << xp << QStringList{desc + "|E100E.Inst.NT|PCI\\VEN_8086&DEV_100E|E1000:3"};
    QTest::newRow("UTF-16LE with its mark, CR LF line ends")
        << utf16(QByteArray(baseInf).replace("\n", "\r\n")) << xp << QStringList{ntModel};
    const QString cafe = QStringLiteral("Caf\u00e9 PRO/1000 MT Network Connection|E100E.Inst|PCI\\VEN_8086&DEV_100E|");
    QTest::newRow("UTF-8 with its mark") << "\xEF\xBB\xBF" + replaced("\"Example PRO", "\"Caf\xC3\xA9 PRO") << win98
                                         << QStringList{cafe};
    QTest::newRow("ANSI text, read as Latin-1") << replaced("\"Example PRO", "\"Caf\xE9 PRO") << win98 << QStringList{cafe};
    QTest::newRow("continued lines, quoted commas and semicolons, %% and unknown keys")
        << replaced("%Desc% = E100E.Inst, PCI\\VEN_8086&DEV_100E\n\n[Maker.NTx86]",
                    "%Desc% = E100E.Inst, \\\n  \"PCI\\VEN_1;2\" , ,*PNP0A03 ; comment\n\"50%% %Odd%, \"\"q\"\"\" = E100E.Inst,X\n"
                    "\n[Maker.NTx86]")
        << win98 << QStringList{desc + "|E100E.Inst|PCI\\VEN_1;2;*PNP0A03|", "50% %Odd%, \"q\"|E100E.Inst|X|"};
}

void TestDrivers::goodFilesAreRead()
{
    QFETCH(QByteArray, bytes);
    QFETCH(inf::Target, target);
    QFETCH(QStringList, models);
    inf::Package package;
    inf::Error error;
    QVERIFY2(inf::read(bytes, target, &package, &error), qPrintable(inf::errorText(error)));
    QCOMPARE(summary(package), models);
    QCOMPARE(package.classGuid, QStringLiteral("{4D36E972-E325-11CE-BFC1-08002BE10318}"));
    QCOMPARE(package.className, QStringLiteral("Net"));
    QCOMPARE(package.driverVersion, QStringLiteral("8.10.3.0"));
}

void TestDrivers::malformedFilesAreRefused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<uint>("code");
    QTest::addColumn<int>("line");
    const QByteArray longLine = "[Version]\nSignature=\"$Chicago$\"\nClass=" + QByteArray(5000, 'x') + "\n";
    QTest::newRow("no [Version]") << QByteArray("[Strings]\n") << uint(ERROR_WRONG_INF_STYLE) << 0;
    QTest::newRow("an unknown signature") << replaced("$Windows NT$", "$Windows 95$") << uint(ERROR_WRONG_INF_STYLE) << 3;
    QTest::newRow("no ClassGuid") << replaced("ClassGuid", "ClassGuide") << uint(ERROR_NO_ASSOCIATED_CLASS) << 2;
    QTest::newRow("a ClassGuid that is no GUID") << replaced("-08002be10318}", "-08002be1031}") << uint(ERROR_GENERAL_SYNTAX) << 5;
    QTest::newRow("a DriverVer that is no date") << replaced("07/01/2006", "2006-07-01") << uint(ERROR_GENERAL_SYNTAX) << 7;
    QTest::newRow("an entry before any section") << "Signature=x\n" + QByteArray(baseInf) << uint(ERROR_EXPECTED_SECTION_NAME) << 1;
    QTest::newRow("a section line without its bracket") << replaced("[Strings]", "[Strings") << uint(ERROR_BAD_SECTION_NAME_LINE) << 33;
    QTest::newRow("text after a section name") << replaced("[Strings]", "[Strings] x") << uint(ERROR_BAD_SECTION_NAME_LINE) << 33;
    QTest::newRow("a section name of 300 characters") << "[" + QByteArray(300, 's') + "]\n" << uint(ERROR_SECTION_NAME_TOO_LONG) << 1;
    QTest::newRow("a quote that is not closed") << replaced("\"Example Networks\"", "\"Example") << uint(ERROR_GENERAL_SYNTAX) << 34;
    QTest::newRow("a line of 5000 characters") << longLine << uint(ERROR_GENERAL_SYNTAX) << 3;
    QTest::newRow("a models section that is missing") << replaced("[Maker.NTx86]", "[Other]") << uint(ERROR_SECTION_NOT_FOUND) << 10;
    QTest::newRow("a model without a hardware id") << replaced("&SUBSYS_001E8086, PCI\\VEN_8086&DEV_100E\n", "\n").replace(
        "E100E.Inst, PCI\\VEN_8086&DEV_100E\n\n[Maker.NTamd64]", "E100E.Inst, ,\n\n[Maker.NTamd64]")
                                                   << uint(ERROR_GENERAL_SYNTAX) << 16;
    QTest::newRow("a model without description =") << replaced("%Desc% = E100E.Inst, PCI\\VEN_8086&DEV_100E&SUBSYS", "E100E.Inst, PCI\\VEN_8086&DEV_100E&SUBSYS")
                                                   << uint(ERROR_GENERAL_SYNTAX) << 16;
    QTest::newRow("an install section that is missing") << replaced("[E100E.Inst.NT]\n", "").replace("[E100E.Inst]\n", "")
                                                        << uint(ERROR_SECTION_NOT_FOUND) << 16;
    QTest::newRow("AddService naming a missing section") << replaced("[E1000.Service]", "[Other]") << uint(ERROR_SECTION_NOT_FOUND) << 24;
    QTest::newRow("a service number that is no number") << replaced("StartType     = 3", "StartType = demand") << uint(ERROR_GENERAL_SYNTAX) << 29;
    QTest::newRow("UTF-16 of an odd length") << QByteArray("\xFF\xFE[\0V", 5) << uint(ERROR_GENERAL_SYNTAX) << 0;
    QTest::newRow("a NUL character") << QByteArray(baseInf).insert(10, '\0') << uint(ERROR_GENERAL_SYNTAX) << 0;
    QTest::newRow("a file over 1 MiB") << QByteArray(baseInf) + QByteArray(1024 * 1024, ';') << uint(ERROR_GENERAL_SYNTAX) << 0;
}

void TestDrivers::malformedFilesAreRefused()
{
    QFETCH(QByteArray, bytes);
    QFETCH(uint, code);
    QFETCH(int, line);
    inf::Package package;
    inf::Error error;
    QVERIFY(!inf::read(bytes, xp, &package, &error));
    QVERIFY(!error.reason.isEmpty());
    QCOMPARE(QStringLiteral("%1 line %2").arg(error.code, 0, 16).arg(error.line),
             QStringLiteral("%1 line %2").arg(code, 0, 16).arg(line));
}

void TestDrivers::init()
{
    QVERIFY(openWith(QStringLiteral("winxp-sp2")));
}

bool TestDrivers::openWith(const QString& profile)
{
    static int made = 0;
    std::string error;
    const QString folder = m_dir.filePath(QString::number(++made));
    if (!openMachine(profile.toStdString(), folder.toStdString(), &error)) {
        qWarning("%s", error.c_str());
        return false;
    }
    QString why;
    const bool added = currentMachine().devices().addNodes(testNodes(), &why);
    if (!added)
        qWarning("%s", qPrintable(why));
    return added;
}

void TestDrivers::writeFile(const QString& windowsPath, const QByteArray& bytes)
{
    const QString host = currentMachine().hostPath(windowsPath);
    QDir().mkpath(QFileInfo(host).path());
    QFile file(host);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

void TestDrivers::stagingNumbersPackages()
{
    writeFile("C:\\drv\\a.inf", baseInf);
    writeFile("C:\\drv\\b.inf", packageFor("X\\Y"));
    writeFile("C:\\drv\\bad.inf", replaced("$Windows NT$", "$Windows 95$"));
    DriverPackages& packages = driverPackages();
    const auto stage = [&](const char* path, std::uint32_t style = 0) {
        std::string name = "-";
        const std::uint32_t code = packages.copyOemInf(path, "C:\\drv", style, &name);
        return QStringLiteral("%1 %2").arg(code, 0, 16).arg(QString::fromStdString(name));
    };
    QCOMPARE(stage("C:\\drv\\a.inf"), QStringLiteral("0 oem0.inf"));
    QCOMPARE(stage("C:/drv/a.inf"), QStringLiteral("0 oem0.inf"));
    QCOMPARE(stage("C:\\drv\\b.inf"), QStringLiteral("0 oem1.inf"));
    QCOMPARE(stage("C:\\drv\\b.inf", SP_COPY_OEMINF_CATALOG_ONLY), QStringLiteral("0 oem1.inf"));
    QCOMPARE(stage("C:\\drv\\bad.inf"), QStringLiteral("e0000100 -"));
    QCOMPARE(stage("/etc/hostname"), QStringLiteral("2 -"));
    QCOMPARE(stage("C:\\..\\..\\machine.db"), QStringLiteral("2 -"));
    std::vector<std::string> names;
    QCOMPARE(packages.oemInfs(&names), ERROR_SUCCESS);
    QCOMPARE(names, (std::vector<std::string>{"oem0.inf", "oem1.inf"}));
}

// A package installed on the test node, staged first or named by its path.
void TestDrivers::installOnNode_data()
{
    QTest::addColumn<QString>("profile");
    QTest::addColumn<QByteArray>("package");
    QTest::addColumn<QString>("infPath"); // "" staged packages; a path: that file
    QTest::addColumn<uint>("code");
    QTest::addColumn<QString>("service"); // the node's service when it worked; else its problem
    const QByteArray hwid = "PCI\\VEN_8086&DEV_100F";
    const uint ok = ERROR_SUCCESS;
    QTest::newRow("a model for a hardware id: the driver, its service created") << "winxp-sp2" << packageFor(hwid) << "" << ok
                                                                               << "E1000";
    QTest::newRow("a model for a compatible id only") << "winxp-sp2" << packageFor("PCI\\CC_0200") << "" << ok << "E1000";
    QTest::newRow("an INF file named is staged and used") << "winxp-sp2" << packageFor(hwid) << "C:\\drv\\net.inf" << ok << "E1000";
    QTest::newRow("the 9x family: no service control manager, no service section") << "win98" << packageFor(hwid) << "" << ok << "";
    QTest::newRow("no model: the node gets problem 28") << "winxp-sp2" << packageFor("PCI\\OTHER") << ""
                                                        << uint(ERROR_NO_COMPAT_DRIVERS) << "28";
    QTest::newRow("a missing INF file") << "winxp-sp2" << packageFor(hwid) << "C:\\drv\\none.inf" << uint(ERROR_FILE_NOT_FOUND)
                                        << "0";
}

void TestDrivers::installOnNode()
{
    QFETCH(QString, profile);
    QFETCH(QByteArray, package);
    QFETCH(QString, infPath);
    QFETCH(uint, code);
    QFETCH(QString, service);
    QVERIFY(openWith(profile));
    writeFile("C:\\drv\\net.inf", package);
    if (infPath.isEmpty())
        QCOMPARE(driverPackages().copyOemInf("C:\\drv\\net.inf", "", 0, nullptr), ERROR_SUCCESS);
    const std::string node = testNode;
    QCOMPARE(driverPackages().installOnNode(node, infPath.toStdString(), nullptr), code);
    std::uint32_t status = 0, problem = 0;
    QCOMPARE(devices().devNodeStatus(node, &status, &problem), CR_SUCCESS);
    if (code != ERROR_SUCCESS) {
        QCOMPARE(QString::number(problem), service);
        QVERIFY(status & DN_HAS_PROBLEM || problem == 0);
        return;
    }
    QCOMPARE(problem, 0u);
    QCOMPARE(status & (DN_STARTED | DN_DRIVER_LOADED), DN_STARTED | DN_DRIVER_LOADED);
    std::string key, text;
    QCOMPARE(devices().textProperty(node, CM_DRP_DRIVER, &key), CR_SUCCESS);
    QVERIFY2(QString::fromStdString(key).startsWith(QLatin1String(netClass) + "\\"), key.c_str());
    const std::string classKey = "SYSTEM\\CurrentControlSet\\Control\\Class\\" + key;
    QCOMPARE(stringValue(classKey, "InfPath"), std::string("oem0.inf"));
    QCOMPARE(stringValue(classKey, "DriverDesc"), std::string("Example PRO/1000 MT Network Connection"));
    QCOMPARE(devices().textProperty(node, CM_DRP_DEVICEDESC, &text), CR_SUCCESS);
    QCOMPARE(text, std::string("Example PRO/1000 MT Network Connection"));
    const CONFIGRET hasService = devices().textProperty(node, CM_DRP_SERVICE, &text);
    QCOMPARE(hasService == CR_SUCCESS ? QString::fromStdString(text) : QString(), service);
    if (!service.isEmpty())
        QCOMPARE(stringValue("SYSTEM\\CurrentControlSet\\Services\\" + service.toStdString(), "ImagePath"),
                 std::string("system32\\DRIVERS\\e1000325.sys"));
}

void TestDrivers::removeTakesTheSubtree()
{
    writeFile("C:\\drv\\net.inf", packageFor("PCI\\VEN_8086&DEV_100F"));
    QCOMPARE(driverPackages().installOnNode(testNode, "C:\\drv\\net.inf", nullptr), ERROR_SUCCESS);
    std::string key;
    QCOMPARE(devices().textProperty(testNode, CM_DRP_DRIVER, &key), CR_SUCCESS);
    std::vector<std::string> roots;
    QCOMPARE(drives().logicalDriveStrings(&roots), ERROR_SUCCESS);
    QVERIFY(std::find(roots.begin(), roots.end(), "F:\\") != roots.end());

    QCOMPARE(driverPackages().removeNode(testNode, nullptr), ERROR_SUCCESS);
    for (const char* gone : {testNode, "USBSTOR\\DISK&VEN_TEST\\1", "STORAGE\\VOLUME\\1"})
        QCOMPARE(devices().locateDevNode(gone, CM_LOCATE_DEVNODE_PHANTOM, nullptr), CR_NO_SUCH_DEVNODE);
    QCOMPARE(drives().logicalDriveStrings(&roots), ERROR_SUCCESS);
    QVERIFY(std::find(roots.begin(), roots.end(), "F:\\") == roots.end());
    QVERIFY(!testsupport::keyExists(registry(), HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Class\\" + key));
    QCOMPARE(driverPackages().removeNode("HTREE\\ROOT\\0", nullptr), ERROR_CANT_REMOVE_DEVINST);
}

void TestDrivers::deviceManagerModule()
{
    // Count, then fill: the network adapters, the seeded one and the test node.
    const GUID net = GUID_DEVCLASS_NET;
    std::uint16_t count = 0;
    QCOMPARE(DMDEV_Enumerate(nullptr, nullptr, &count, 0, "PCI"), DMDEV_OK);
    QVERIFY(count >= 2);
    std::vector<char> ids(std::size_t(count) * DMDEV_SLOT_SIZE, 'x');
    QCOMPARE(DMDEV_EnumerateRemote(".", nullptr, ids.data(), &count, 0, "pci"), DMDEV_OK);
    QStringList found;
    for (std::uint16_t i = 0; i < count; ++i)
        found << QString::fromUtf8(ids.data() + i * DMDEV_SLOT_SIZE);
    QVERIFY2(found.contains(QLatin1String(testNode)), qPrintable(found.join(", ")));
    QCOMPARE(DMDEV_EnumerateRemote("OTHERHOST", &net, nullptr, &count, 0, nullptr), DMDEV_ERROR_REMOTE);
    const std::string computer = currentMachine().profile().computerName().toLower().toStdString();
    QCOMPARE(DMDEV_EnumerateRemote(("\\\\" + computer).c_str(), &net, nullptr, &count, 1, nullptr), DMDEV_OK);

    // Texts: the first hardware id; too small a buffer is not cut; no driver, no value.
    char text[DMDEV_SLOT_SIZE];
    std::uint32_t size = sizeof text;
    QCOMPARE(DMDEV_GetHardwareID(testNode, text, &size), DMDEV_OK);
    QCOMPARE(QByteArray(text), QByteArray("PCI\\VEN_8086&DEV_100F&SUBSYS_001E8086"));
    size = 4;
    QCOMPARE(DMDEV_GetHardwareIDRemote(testNode, "localhost", text, &size), DMDEV_ERROR_BUFFER_TOO_SMALL);
    QCOMPARE(size, 38u);
    size = sizeof text;
    QCOMPARE(DMDEV_GetDriverKey(testNode, text, &size), DMDEV_ERROR_NO_VALUE);
    QCOMPARE(DMDEV_GetServiceNameRemote(testNode, "elsewhere", text, &size), DMDEV_ERROR_REMOTE);
    std::int32_t status = -1, problem = -1;
    QCOMPARE(DMDEV_GetStatus("PCI\\NONE\\0", &status, &problem), DMDEV_ERROR_NO_SUCH_DEVICE);
    QCOMPARE(status, -1);
    QCOMPARE(DMDEV_ProblemCodeToString(28, text), DMDEV_OK);
    QCOMPARE(QByteArray(text), QByteArray("The drivers for this device are not installed. (Code 28)"));

    // Pre-install, install by folder, find the package; install and remove stay local.
    writeFile("C:\\drv\\net.inf", packageFor("PCI\\VEN_8086&DEV_100F"));
    size = sizeof text;
    QCOMPARE(DMDEV_FindPreInstalledInf("C:\\drv\\net.inf", text, &size), DMDEV_ERROR_NO_VALUE);
    QCOMPARE(DMDEV_PreInstallDriver("C:\\drv/net.inf", "C:\\drv"), DMDEV_OK);
    QCOMPARE(DMDEV_PreInstallDriver("C:\\drv/none.inf", "C:\\drv"), DMDEV_ERROR_PREINSTALL_FAILED);
    QCOMPARE(DMDEV_InstallDriver(testNode, "C:\\drv"), DMDEV_OK);
    QCOMPARE(DMDEV_GetStatus(testNode, &status, &problem), DMDEV_OK);
    QCOMPARE(problem, 0);
    size = sizeof text;
    QCOMPARE(DMDEV_GetDriverInfPath(testNode, text, &size), DMDEV_OK);
    QCOMPARE(QByteArray(text), QByteArray("oem0.inf"));
    size = sizeof text;
    QCOMPARE(DMDEV_FindPreInstalledInf("C:\\drv\\net.inf", text, &size), DMDEV_OK);
    QCOMPARE(QByteArray(text), QByteArray("oem0.inf"));
    std::uint64_t before = 0, after = 0;
    QCOMPARE(DMDEV_GetChangeCount(&before), DMDEV_OK);
    QCOMPARE(DMDEV_RemoveDevice(testNode), DMDEV_OK);
    QCOMPARE(DMDEV_GetChangeCount(&after), DMDEV_OK);
    QVERIFY(after != before);
    QCOMPARE(DMDEV_RemoveDevice(testNode), DMDEV_ERROR_NO_SUCH_DEVICE);
}

void TestDrivers::driverIndexFilesOf9x_data()
{
    QTest::addColumn<QString>("profile");
    QTest::addColumn<bool>("present");
    QTest::newRow("Windows 98") << "win98" << true;
    QTest::newRow("Windows ME") << "winme" << true;
    QTest::newRow("Windows 95") << "win95" << false;
    QTest::newRow("Windows XP") << "winxp-sp2" << false;
}

void TestDrivers::driverIndexFilesOf9x()
{
    QFETCH(QString, profile);
    QFETCH(bool, present);
    QVERIFY(openWith(profile));
    const QString folder = EmulatedDriverPackages::infFolder(currentMachine().profile());
    for (const char* name : {"DRVDATA.BIN", "DRVIDX.BIN"})
        QCOMPARE(QFileInfo::exists(currentMachine().hostPath(folder + "\\" + name)), present);
}

QTEST_GUILESS_MAIN(TestDrivers)
#include "tst_drivers.moc"
