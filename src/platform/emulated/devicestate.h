#pragma once

#include "platform/devices.h"
#include "platform/drives.h"
#include "winsteps_platform_export.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

namespace winsteps::platform::emulated {

class MachineProfile;

// What the device tree of an emulated machine keeps: its nodes, each with what the
// configuration manager tells about it, and the volumes among them with their drive letters.
// The tree is a record of the machine's store, shared by every process on the machine folder;
// until something changes it, it is the one the profile seeds (see initialDevices).
//
// A node that exposes the volume interface is a volume: it has a volume GUID, a drive type,
// media or none, and a drive letter that it gets when it is mounted. A volume plugged with a
// mount delay mounts by the clock: its letter counts from mountAt on, at whatever call comes
// first, like the pending states of the services.
//
// Every change of the tree (a node arrives, goes, gets a driver, a status or a name) bumps the
// record's change count, which the store also keeps on its own so that it is cheap to poll.

struct WINSTEPS_PLATFORM_EXPORT DeviceNodeRecord {
    QString instanceId;        // "PCI\VEN_8086&DEV_100E&...\3&...", as the system spells it
    QString parent;            // the parent's instance id; empty for the root of the tree
    QStringList hardwareIds;   // most specific first
    QStringList compatibleIds;
    QString classGuid;         // "{...}" in upper case; empty: no setup class yet
    QString className;         // "Net", "USB", "DiskDrive", "Volume", ...
    QString description;
    QString friendlyName;
    QString manufacturer;
    QString location;
    QString driver;            // the driver key "{class}\NNNN"; empty: no driver bound
    QString service;
    std::uint32_t status = DN_DRIVER_LOADED | DN_STARTED; // DN_* bits
    std::uint32_t problem = 0;                            // CM_PROB_*; 0 none
    bool present = true;
    QStringList interfaces;    // the interface classes it exposes, "{...}" in upper case

    // A volume (exposes GUID_DEVINTERFACE_VOLUME).
    QString volumeGuid;        // "{...}" in lower case, as in "\\?\Volume{...}\"
    QString letter;            // "E"; empty: never mounted as a letter
    std::uint32_t driveType = DRIVE_FIXED;
    bool media = true;
    qint64 mountAt = 0;        // ms since the epoch at which the letter appears; 0: at once

    bool isVolume() const;
    // The letter under which the volume is mounted at the time now (ms since the epoch); empty
    // while not yet mounted, or for a node that is no present volume.
    QString mountedLetter(qint64 now) const;
    // The interface's device path: "\\?\" + the instance id with "\" as "#" + "#" + the class
    // in lower case.
    QString devicePath(const QString& interfaceClass) const;
};

struct WINSTEPS_PLATFORM_EXPORT DeviceState {
    QList<DeviceNodeRecord> nodes; // parents before their children
    qint64 changes = 0;            // the change count

    // The node of that instance id (any case; empty: the root); null when there is none.
    DeviceNodeRecord* node(const QString& instanceId);
    const DeviceNodeRecord* node(const QString& instanceId) const;
    // The node and every node below it, the node first (empty for an unknown one).
    QStringList subtree(const QString& instanceId) const;
    // The next free driver key of a setup class: "{class}\0000", "{class}\0001", ...
    QString nextDriverKey(const QString& classGuid) const;
    // The lowest drive letter from "E" on that no volume holds; empty when none is left.
    QString freeLetter() const;
    // Adds nodes, parents before their children. A node with an empty parent hangs below the
    // first USB root hub (a "USB\" node), the PCI bus (a "PCI\" node) or the root of the tree
    // (any other). False + error naming the node for a parent that is missing, an instance id
    // that is empty or already there, or a letter that is taken; the state is unchanged then.
    // Volumes without a letter get freeLetter(); drivers named by a service alone get
    // nextDriverKey().
    bool add(QList<DeviceNodeRecord> nodes, QString* error);
    // Removes the node and every node below it; the ids that went, the node first.
    QStringList remove(const QString& instanceId);

    QJsonObject toJson() const;
    static DeviceState fromJson(const QJsonObject& json);
};

// The setup class of a class name known here ("Net", "USB", "DiskDrive", "CDROM", "Volume",
// "System", "hdc", "Computer"; any case), and the name of such a class; empty for others.
QString deviceClassGuid(const QString& className);
QString deviceClassName(const QString& classGuid);
// The status of a node that nothing else sets: started with its driver, or stopped with its
// problem; root-enumerated and removable as its enumerator says.
std::uint32_t defaultDeviceStatus(const DeviceNodeRecord& node);
// The nodes every machine starts with, without drivers (deviceseed.cpp).
QList<DeviceNodeRecord> seedDeviceTree();

// The tree a machine of the profile starts with: the root, the ACPI and PCI buses, a PCI
// network adapter in the network class, USB host controllers with their root hubs, the disk
// with the volume of C: and a CD-ROM drive as D:; then the profile's "devices" (see
// checkDeviceProfile).
WINSTEPS_PLATFORM_EXPORT DeviceState initialDevices(const MachineProfile& profile);

// Checks a profile's "devices": false + error text naming the profile and the key for
// anything it cannot mean. The same format as a device file of "machine plug" (readDeviceNodes).
WINSTEPS_PLATFORM_EXPORT bool checkDeviceProfile(const QJsonObject& profile, const QString& source, QString* error);

// Reads device nodes as a profile's "devices" or a device file gives them: one node (an
// object) or several (an array), children inside their parent's "children". where begins the
// error texts ("profile \"x\"", "device file \"y\""), path names the value's key in them.
// A top node that names no parent gets an empty one (EmulatedDevices::addNodes picks it). now
// is the time that the mount delays of volumes count from. False + error naming the key on a
// mistake.
WINSTEPS_PLATFORM_EXPORT bool readDeviceNodes(const QJsonValue& value, const QString& where, const QString& path,
                                              qint64 now, QList<DeviceNodeRecord>* nodes, QString* error);

// The word of a drive type as machine show writes it: "unknown", "noRoot", "removable",
// "fixed", "remote", "cdrom", "ramdisk".
WINSTEPS_PLATFORM_EXPORT QString driveTypeWord(std::uint32_t type);

} // namespace winsteps::platform::emulated
