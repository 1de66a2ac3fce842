#pragma once

#include "platform/devices.h"
#include "platform/emulated/devicestate.h"
#include "winsteps_platform_export.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace winsteps::platform::emulated {

class EmulatedMachine;

// The device tree of an emulated machine (see devicestate.h for what it keeps). The tree is a
// record of the machine's store: a change made by one process (a plug, a driver bound) is seen
// by every process on the machine folder at its next call; nothing is cached between calls.
class WINSTEPS_PLATFORM_EXPORT EmulatedDevices final : public Devices {
public:
    explicit EmulatedDevices(EmulatedMachine& machine);
    EmulatedDevices(const EmulatedDevices&) = delete;
    EmulatedDevices& operator=(const EmulatedDevices&) = delete;

    std::uint32_t classDevices(const GUID* classGuid, const std::string& enumerator, std::uint32_t flags,
                               std::vector<std::string>* instanceIds) override;
    std::uint32_t deviceInterfaces(const GUID& interfaceClass, std::uint32_t flags,
                                   std::vector<DeviceInterface>* interfaces) override;
    CONFIGRET locateDevNode(const std::string& instanceId, std::uint32_t flags, std::string* found) override;
    CONFIGRET parent(const std::string& instanceId, std::string* parentId) override;
    CONFIGRET children(const std::string& instanceId, std::vector<std::string>* childIds) override;
    CONFIGRET devNodeStatus(const std::string& instanceId, std::uint32_t* status, std::uint32_t* problem) override;
    CONFIGRET textProperty(const std::string& instanceId, std::uint32_t property, std::string* value) override;
    CONFIGRET listProperty(const std::string& instanceId, std::uint32_t property,
                           std::vector<std::string>* values) override;
    CONFIGRET setFriendlyName(const std::string& instanceId, const std::string& name) override;
    std::uint64_t changeCount() override;

    // --- the machine's owner (driver binding, machine plug/unplug and show, tests) -----------

    // Every node as it is now, parents before their children.
    QList<DeviceNodeRecord> nodes();
    // The record of one node (any case of the id): CR_SUCCESS with *record set, else
    // CR_NO_SUCH_DEVNODE (CR_REGISTRY_ERROR when the store fails).
    CONFIGRET node(const QString& instanceId, DeviceNodeRecord* record);
    // Changes one node in one store transaction: work edits the record (anything but its
    // instance id and parent) and answers CR_SUCCESS to keep the change, anything else to drop
    // it (which is then the answer). A kept change bumps the change count.
    // CR_NO_SUCH_DEVNODE for an unknown node.
    CONFIGRET updateNode(const QString& instanceId, const std::function<CONFIGRET(DeviceNodeRecord&)>& work);
    // Binds a driver: the node gets the driver key (a new "{class}\NNNN" of classGuid when
    // driverKey is empty), service, class, class name and description, status
    // DN_DRIVER_LOADED | DN_STARTED and problem 0. *boundKey (may be null) gets the key.
    CONFIGRET bindDriver(const QString& instanceId, const QString& classGuid, const QString& className,
                         const QString& description, const QString& service, const QString& driverKey = QString(),
                         QString* boundKey = nullptr);
    // Sets status and problem (DN_HAS_PROBLEM follows the problem: set when it is not 0).
    CONFIGRET setStatus(const QString& instanceId, std::uint32_t status, std::uint32_t problem);
    // Adds nodes, parents before their children; each names its parent, which must exist or
    // come earlier in the list. False + error (naming the node) for a parent that is missing,
    // an instance id that is empty or already there, or a drive letter that is taken; nothing
    // is added then. Volumes without a letter get the lowest free one from E: on.
    bool addNodes(const QList<DeviceNodeRecord>& nodes, QString* error);
    // Removes a node with every node below it (their volumes dismount, their letters go).
    // CR_SUCCESS with *removed (may be null) the instance ids that went, the node first;
    // CR_NO_SUCH_DEVNODE for an unknown node; CR_REMOVE_VETOED for the root of the tree.
    CONFIGRET removeNode(const QString& instanceId, QStringList* removed = nullptr);

    // Runs work on the machine's device record in one store transaction, and writes the
    // record back (bumping the change count) when write is set and work answered CR_SUCCESS.
    // CR_REGISTRY_ERROR when the store fails; else work's answer.
    CONFIGRET access(bool write, const std::function<CONFIGRET(DeviceState&)>& work);

private:
    EmulatedMachine& m_machine;
};

} // namespace winsteps::platform::emulated
