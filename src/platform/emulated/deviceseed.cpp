#include "platform/emulated/devicestate.h"

// The device tree every emulated machine starts with: a uniprocessor ACPI PC with its PCI bus,
// a network adapter, USB 1.1 and 2.0 host controllers with their root hubs, the IDE controller
// with the system disk and a CD-ROM drive (D:, no disc), and the volume manager with the
// volume of drive C:. Drivers are bound by the caller, in tree order.

namespace winsteps::platform::emulated {

namespace {

QString guidOf(const GUID& guid)
{
    return QString::fromStdString(guidText(guid));
}

// --- the seed --------------------------------------------------------------------------------

DeviceNodeRecord seedNode(const char* id, const char* parent, const char* className, const char* description,
                          const char* service, QStringList hardwareIds, QStringList compatibleIds = {})
{
    DeviceNodeRecord node;
    node.instanceId = QLatin1String(id);
    node.parent = QLatin1String(parent);
    node.className = QLatin1String(className);
    node.classGuid = deviceClassGuid(node.className);
    node.description = QLatin1String(description);
    node.service = QLatin1String(service);
    node.hardwareIds = hardwareIds;
    node.compatibleIds = compatibleIds;
    node.status = defaultDeviceStatus(node);
    return node;
}

} // namespace

QList<DeviceNodeRecord> seedDeviceTree()
{
    QList<DeviceNodeRecord> nodes;
    DeviceNodeRecord root = seedNode("HTREE\\ROOT\\0", "", "", "", "", {});
    root.parent.clear();
    root.status = DN_DRIVER_LOADED | DN_STARTED | DN_NT_ENUMERATOR | DN_NT_DRIVER;
    nodes << root;
    nodes << seedNode("ROOT\\ACPI_HAL\\0000", "HTREE\\ROOT\\0", "Computer", "ACPI Uniprocessor PC", "",
                      {QStringLiteral("acpiapic_up")});
    nodes << seedNode("ACPI_HAL\\PNP0C08\\0", "ROOT\\ACPI_HAL\\0000", "System", "Microsoft ACPI-Compliant System",
                      "ACPI", {QStringLiteral("ACPI_HAL\\PNP0C08"), QStringLiteral("*PNP0C08")});
    nodes << seedNode("ACPI\\PNP0A03\\0", "ACPI_HAL\\PNP0C08\\0", "System", "PCI bus", "PCI",
                      {QStringLiteral("ACPI\\PNP0A03"), QStringLiteral("*PNP0A03")});
    DeviceNodeRecord nic = seedNode(
        "PCI\\VEN_8086&DEV_100E&SUBSYS_001E8086&REV_02\\3&267A616A&0&18", "ACPI\\PNP0A03\\0", "Net",
        "Intel(R) PRO/1000 MT Desktop Adapter", "E1000",
        {QStringLiteral("PCI\\VEN_8086&DEV_100E&SUBSYS_001E8086&REV_02"), QStringLiteral("PCI\\VEN_8086&DEV_100E&SUBSYS_001E8086"),
         QStringLiteral("PCI\\VEN_8086&DEV_100E&CC_020000"), QStringLiteral("PCI\\VEN_8086&DEV_100E&CC_0200")},
        {QStringLiteral("PCI\\VEN_8086&DEV_100E&REV_02"), QStringLiteral("PCI\\VEN_8086&DEV_100E"),
         QStringLiteral("PCI\\VEN_8086&CC_020000"), QStringLiteral("PCI\\VEN_8086&CC_0200"), QStringLiteral("PCI\\VEN_8086"),
         QStringLiteral("PCI\\CC_020000"), QStringLiteral("PCI\\CC_0200")});
    nic.manufacturer = QStringLiteral("Intel");
    nic.location = QStringLiteral("PCI bus 0, device 3, function 0");
    nodes << nic;
    nodes << seedNode("PCI\\VEN_8086&DEV_24C2&SUBSYS_00000000&REV_01\\3&267A616A&0&E8", "ACPI\\PNP0A03\\0", "USB",
                      "Intel(R) 82801DB/DBM USB Universal Host Controller - 24C2", "usbuhci",
                      {QStringLiteral("PCI\\VEN_8086&DEV_24C2&SUBSYS_00000000&REV_01"), QStringLiteral("PCI\\VEN_8086&DEV_24C2&CC_0C0300")},
                      {QStringLiteral("PCI\\VEN_8086&DEV_24C2"), QStringLiteral("PCI\\CC_0C0300")});
    nodes << seedNode("USB\\ROOT_HUB\\4&2B1F3D8A&0", "PCI\\VEN_8086&DEV_24C2&SUBSYS_00000000&REV_01\\3&267A616A&0&E8",
                      "USB", "USB Root Hub", "usbhub",
                      {QStringLiteral("USB\\ROOT_HUB&VID8086&PID24C2&REV0001"), QStringLiteral("USB\\ROOT_HUB&VID8086&PID24C2"),
                       QStringLiteral("USB\\ROOT_HUB")});
    nodes << seedNode("PCI\\VEN_8086&DEV_24CD&SUBSYS_00000000&REV_01\\3&267A616A&0&EF", "ACPI\\PNP0A03\\0", "USB",
                      "Intel(R) 82801DB/DBM USB 2.0 Enhanced Host Controller - 24CD", "usbehci",
                      {QStringLiteral("PCI\\VEN_8086&DEV_24CD&SUBSYS_00000000&REV_01"), QStringLiteral("PCI\\VEN_8086&DEV_24CD&CC_0C0320")},
                      {QStringLiteral("PCI\\VEN_8086&DEV_24CD"), QStringLiteral("PCI\\CC_0C0320")});
    nodes << seedNode("USB\\ROOT_HUB20\\4&1C5A7B1E&0", "PCI\\VEN_8086&DEV_24CD&SUBSYS_00000000&REV_01\\3&267A616A&0&EF",
                      "USB", "USB Root Hub", "usbhub",
                      {QStringLiteral("USB\\ROOT_HUB20&VID8086&PID24CD&REV0001"), QStringLiteral("USB\\ROOT_HUB20&VID8086&PID24CD"),
                       QStringLiteral("USB\\ROOT_HUB20")});
    const char* ide = "PCI\\VEN_8086&DEV_24CB&SUBSYS_00000000&REV_01\\3&267A616A&0&F9";
    nodes << seedNode(ide, "ACPI\\PNP0A03\\0", "hdc", "Intel(R) 82801DB Ultra ATA Storage Controllers - 24CB", "intelide",
                      {QStringLiteral("PCI\\VEN_8086&DEV_24CB&SUBSYS_00000000&REV_01"), QStringLiteral("PCI\\VEN_8086&DEV_24CB&CC_01018A")});
    nodes << seedNode("PCIIDE\\IDECHANNEL\\4&2F6B8B0F&0&0", ide, "hdc", "Primary IDE Channel", "atapi",
                      {QStringLiteral("Primary_IDE_Channel")}, {QStringLiteral("*PNP0600")});
    nodes << seedNode("PCIIDE\\IDECHANNEL\\4&2F6B8B0F&0&1", ide, "hdc", "Secondary IDE Channel", "atapi",
                      {QStringLiteral("Secondary_IDE_Channel")}, {QStringLiteral("*PNP0600")});
    DeviceNodeRecord disk = seedNode("IDE\\DISKST380011A_____________________3.06____\\5&2D7B5E2A&0&0.0.0",
                                     "PCIIDE\\IDECHANNEL\\4&2F6B8B0F&0&0", "DiskDrive", "Disk drive", "disk",
                                     {QStringLiteral("IDE\\DiskST380011A_____________________3.06____"),
                                      QStringLiteral("IDE\\ST380011A_____________________3.06____"), QStringLiteral("GenDisk")});
    disk.friendlyName = QStringLiteral("ST380011A");
    disk.interfaces << guidOf(GUID_DEVINTERFACE_DISK);
    nodes << disk;
    DeviceNodeRecord cdrom = seedNode("IDE\\CDROMHL-DT-ST_DVD-ROM_GDR8162B_______0015____\\5&1A2B3C4D&0&1.0.0",
                                      "PCIIDE\\IDECHANNEL\\4&2F6B8B0F&0&1", "CDROM", "CD-ROM Drive", "cdrom",
                                      {QStringLiteral("IDE\\CdRomHL-DT-ST_DVD-ROM_GDR8162B_______0015____"), QStringLiteral("GenCdRom")});
    cdrom.friendlyName = QStringLiteral("HL-DT-ST DVD-ROM GDR8162B");
    cdrom.interfaces << guidOf(GUID_DEVINTERFACE_VOLUME);
    cdrom.volumeGuid = QStringLiteral("{b2e8a6c4-3d1f-11dc-9a3e-806d6172696f}");
    cdrom.letter = QStringLiteral("D");
    cdrom.driveType = DRIVE_CDROM;
    cdrom.media = false;
    nodes << cdrom;
    nodes << seedNode("ROOT\\FTDISK\\0000", "HTREE\\ROOT\\0", "System", "Volume Manager", "ftdisk",
                      {QStringLiteral("ROOT\\FTDISK")});
    DeviceNodeRecord volumeC = seedNode("STORAGE\\VOLUME\\1&30A96598&0&SIGNATURE7C3A7C3AOFFSET7E00LENGTH12A0A00000",
                                        "ROOT\\FTDISK\\0000", "Volume", "Generic volume", "",
                                        {QStringLiteral("STORAGE\\Volume")});
    volumeC.status = DN_DRIVER_LOADED | DN_STARTED | DN_NT_ENUMERATOR | DN_NT_DRIVER;
    volumeC.interfaces << guidOf(GUID_DEVINTERFACE_VOLUME);
    volumeC.volumeGuid = QStringLiteral("{b2e8a6c3-3d1f-11dc-9a3e-806d6172696f}");
    volumeC.letter = QStringLiteral("C");
    volumeC.driveType = DRIVE_FIXED;
    nodes << volumeC;
    return nodes;
}

} // namespace winsteps::platform::emulated
