#include "platform/emulated/emulateddevices.h"

#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/errortext.h"
#include "platform/emulated/servicestate.h" // nowMs

#include <QJsonDocument>

namespace winsteps::platform {

namespace emulated {

namespace {

// The store's records: the tree, its change count, and the times at which volumes that were
// plugged with a delay mount (a mount counts as a change once its time has come).
const QString devicesRecord = QStringLiteral("devices");
const QString changesRecord = QStringLiteral("deviceChanges");
const QString mountsRecord = QStringLiteral("deviceMounts");

QString text(const std::string& s)
{
    return QString::fromStdString(s);
}

// A device instance id: "ENUMERATOR\..." of printable characters, at most 199 of them; or
// empty, for the root.
bool wellFormedId(const std::string& id)
{
    if (id.empty())
        return true;
    if (id.size() > 199 || id.front() == '\\' || id.find('\\') == std::string::npos)
        return false;
    for (unsigned char c : id) {
        if (c < 0x20)
            return false;
    }
    return true;
}

bool enumeratorIs(const DeviceNodeRecord& node, const std::string& enumerator)
{
    return enumerator.empty()
        || node.instanceId.section(QLatin1Char('\\'), 0, 0).compare(text(enumerator), Qt::CaseInsensitive) == 0;
}

} // namespace

EmulatedDevices::EmulatedDevices(EmulatedMachine& machine) : m_machine(machine) {}

CONFIGRET EmulatedDevices::access(bool write, const std::function<CONFIGRET(DeviceState&)>& work)
{
    std::lock_guard<std::mutex> lock(m_machine.storeMutex());
    RegistryStore& store = m_machine.store();
    StoreTransaction transaction(store, write);
    if (!transaction.ok())
        return CR_REGISTRY_ERROR;
    const QString record = store.meta(devicesRecord);
    DeviceState state = record.isEmpty() ? initialDevices(m_machine.profile())
                                         : DeviceState::fromJson(QJsonDocument::fromJson(record.toUtf8()).object());
    const CONFIGRET result = work(state);
    if (result != CR_SUCCESS) {
        transaction.finish(ERROR_INVALID_PARAMETER); // dropped
        return result;
    }
    if (write) {
        // The mounts that have come due since the last write counted as changes when read; they
        // go into the count itself now, as they leave the list.
        const qint64 now = nowMs();
        ++state.changes;
        for (const QString& at : store.meta(mountsRecord).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            if (at.toLongLong() <= now)
                ++state.changes;
        }
        QStringList mounts;
        for (const DeviceNodeRecord& n : std::as_const(state.nodes)) {
            if (n.present && n.isVolume() && n.mountAt > now)
                mounts << QString::number(n.mountAt);
        }
        store.setMeta(devicesRecord, QString::fromUtf8(QJsonDocument(state.toJson()).toJson(QJsonDocument::Compact)));
        store.setMeta(changesRecord, QString::number(state.changes));
        store.setMeta(mountsRecord, mounts.join(QLatin1Char(',')));
    }
    return transaction.finish(ERROR_SUCCESS) == ERROR_SUCCESS ? CR_SUCCESS : CR_REGISTRY_ERROR;
}

std::uint64_t EmulatedDevices::changeCount()
{
    std::lock_guard<std::mutex> lock(m_machine.storeMutex());
    RegistryStore& store = m_machine.store();
    StoreTransaction transaction(store, false);
    if (!transaction.ok())
        return 0;
    std::uint64_t count = store.meta(changesRecord).toULongLong();
    const qint64 now = nowMs();
    const QStringList mounts = store.meta(mountsRecord).split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString& at : mounts) {
        if (at.toLongLong() <= now)
            ++count;
    }
    transaction.finish(ERROR_SUCCESS);
    return count;
}

std::uint32_t EmulatedDevices::classDevices(const GUID* classGuid, const std::string& enumerator, std::uint32_t flags,
                                            std::vector<std::string>* instanceIds)
{
    if (flags & ~(DIGCF_DEFAULT | DIGCF_PRESENT | DIGCF_ALLCLASSES | DIGCF_PROFILE))
        return ERROR_INVALID_FLAGS;
    const bool allClasses = !classGuid || (flags & DIGCF_ALLCLASSES);
    const QString wanted = classGuid ? text(guidText(*classGuid)) : QString();
    std::vector<std::string> ids;
    const CONFIGRET result = access(false, [&](DeviceState& state) {
        for (const DeviceNodeRecord& n : std::as_const(state.nodes)) {
            if ((flags & DIGCF_PRESENT) && !n.present)
                continue;
            if ((allClasses || n.classGuid.compare(wanted, Qt::CaseInsensitive) == 0) && enumeratorIs(n, enumerator)
                && !n.parent.isEmpty())
                ids.push_back(n.instanceId.toStdString());
        }
        return CR_SUCCESS;
    });
    if (result != CR_SUCCESS)
        return ERROR_NOT_ENOUGH_MEMORY;
    if (instanceIds)
        *instanceIds = ids;
    return ERROR_SUCCESS;
}

std::uint32_t EmulatedDevices::deviceInterfaces(const GUID& interfaceClass, std::uint32_t flags,
                                                std::vector<DeviceInterface>* interfaces)
{
    if (flags & ~(DIGCF_DEFAULT | DIGCF_PRESENT | DIGCF_PROFILE | DIGCF_DEVICEINTERFACE))
        return ERROR_INVALID_FLAGS;
    const QString wanted = text(guidText(interfaceClass));
    std::vector<DeviceInterface> found;
    const CONFIGRET result = access(false, [&](DeviceState& state) {
        for (const DeviceNodeRecord& n : std::as_const(state.nodes)) {
            if ((flags & DIGCF_PRESENT) && !n.present)
                continue;
            if (n.interfaces.contains(wanted, Qt::CaseInsensitive))
                found.push_back({n.devicePath(wanted).toStdString(), n.instanceId.toStdString()});
        }
        return CR_SUCCESS;
    });
    if (result != CR_SUCCESS)
        return ERROR_NOT_ENOUGH_MEMORY;
    if (interfaces)
        *interfaces = found;
    return ERROR_SUCCESS;
}

CONFIGRET EmulatedDevices::locateDevNode(const std::string& instanceId, std::uint32_t flags, std::string* found)
{
    if (flags & ~CM_LOCATE_DEVNODE_PHANTOM)
        return CR_INVALID_FLAG;
    if (!wellFormedId(instanceId))
        return CR_INVALID_DEVICE_ID;
    return access(false, [&](DeviceState& state) {
        const DeviceNodeRecord* n = state.node(text(instanceId));
        if (!n || (!n->present && !(flags & CM_LOCATE_DEVNODE_PHANTOM)))
            return CR_NO_SUCH_DEVNODE;
        if (found)
            *found = n->instanceId.toStdString();
        return CR_SUCCESS;
    });
}

CONFIGRET EmulatedDevices::parent(const std::string& instanceId, std::string* parentId)
{
    return access(false, [&](DeviceState& state) {
        const DeviceNodeRecord* n = state.node(text(instanceId));
        if (!n || n->parent.isEmpty())
            return CR_NO_SUCH_DEVNODE;
        if (parentId)
            *parentId = n->parent.toStdString();
        return CR_SUCCESS;
    });
}

CONFIGRET EmulatedDevices::children(const std::string& instanceId, std::vector<std::string>* childIds)
{
    return access(false, [&](DeviceState& state) {
        const DeviceNodeRecord* n = state.node(text(instanceId));
        if (!n)
            return CR_NO_SUCH_DEVNODE;
        std::vector<std::string> ids;
        for (const DeviceNodeRecord& child : std::as_const(state.nodes)) {
            if (child.present && child.parent.compare(n->instanceId, Qt::CaseInsensitive) == 0)
                ids.push_back(child.instanceId.toStdString());
        }
        if (childIds)
            *childIds = ids;
        return CR_SUCCESS;
    });
}

CONFIGRET EmulatedDevices::devNodeStatus(const std::string& instanceId, std::uint32_t* status, std::uint32_t* problem)
{
    return access(false, [&](DeviceState& state) {
        const DeviceNodeRecord* n = state.node(text(instanceId));
        if (!n || !n->present)
            return CR_NO_SUCH_DEVNODE;
        if (status)
            *status = n->status;
        if (problem)
            *problem = n->problem;
        return CR_SUCCESS;
    });
}

CONFIGRET EmulatedDevices::textProperty(const std::string& instanceId, std::uint32_t property, std::string* value)
{
    return access(false, [&](DeviceState& state) {
        const DeviceNodeRecord* n = state.node(text(instanceId));
        if (!n)
            return CR_NO_SUCH_DEVNODE;
        QString answer;
        switch (property) {
        case CM_DRP_DEVICEDESC: answer = n->description; break;
        case CM_DRP_SERVICE: answer = n->service; break;
        case CM_DRP_CLASS: answer = n->className; break;
        case CM_DRP_CLASSGUID: answer = n->classGuid.toLower(); break;
        case CM_DRP_DRIVER: answer = n->driver; break;
        case CM_DRP_MFG: answer = n->manufacturer; break;
        case CM_DRP_FRIENDLYNAME: answer = n->friendlyName; break;
        case CM_DRP_LOCATION_INFORMATION: answer = n->location; break;
        case CM_DRP_ENUMERATOR_NAME: answer = n->instanceId.section(QLatin1Char('\\'), 0, 0); break;
        default: return CR_INVALID_PROPERTY;
        }
        if (answer.isEmpty())
            return CR_NO_SUCH_VALUE;
        if (value)
            *value = answer.toStdString();
        return CR_SUCCESS;
    });
}

CONFIGRET EmulatedDevices::listProperty(const std::string& instanceId, std::uint32_t property,
                                        std::vector<std::string>* values)
{
    if (property != CM_DRP_HARDWAREID && property != CM_DRP_COMPATIBLEIDS)
        return CR_INVALID_PROPERTY;
    return access(false, [&](DeviceState& state) {
        const DeviceNodeRecord* n = state.node(text(instanceId));
        if (!n)
            return CR_NO_SUCH_DEVNODE;
        const QStringList& list = property == CM_DRP_HARDWAREID ? n->hardwareIds : n->compatibleIds;
        if (list.isEmpty())
            return CR_NO_SUCH_VALUE;
        if (values) {
            values->clear();
            for (const QString& id : list)
                values->push_back(id.toStdString());
        }
        return CR_SUCCESS;
    });
}

CONFIGRET EmulatedDevices::setFriendlyName(const std::string& instanceId, const std::string& name)
{
    return updateNode(text(instanceId), [&](DeviceNodeRecord& n) {
        n.friendlyName = text(name);
        return CR_SUCCESS;
    });
}

QList<DeviceNodeRecord> EmulatedDevices::nodes()
{
    QList<DeviceNodeRecord> all;
    access(false, [&](DeviceState& state) {
        all = state.nodes;
        return CR_SUCCESS;
    });
    return all;
}

CONFIGRET EmulatedDevices::node(const QString& instanceId, DeviceNodeRecord* record)
{
    return access(false, [&](DeviceState& state) {
        const DeviceNodeRecord* n = state.node(instanceId);
        if (!n)
            return CR_NO_SUCH_DEVNODE;
        if (record)
            *record = *n;
        return CR_SUCCESS;
    });
}

CONFIGRET EmulatedDevices::updateNode(const QString& instanceId, const std::function<CONFIGRET(DeviceNodeRecord&)>& work)
{
    return access(true, [&](DeviceState& state) {
        DeviceNodeRecord* n = state.node(instanceId);
        if (!n)
            return CR_NO_SUCH_DEVNODE;
        DeviceNodeRecord edited = *n;
        const CONFIGRET result = work(edited);
        if (result != CR_SUCCESS)
            return result;
        edited.instanceId = n->instanceId;
        edited.parent = n->parent;
        *n = edited;
        return CR_SUCCESS;
    });
}

CONFIGRET EmulatedDevices::bindDriver(const QString& instanceId, const QString& classGuid, const QString& className,
                                      const QString& description, const QString& service, const QString& driverKey,
                                      QString* boundKey)
{
    QString key;
    const CONFIGRET result = access(true, [&](DeviceState& state) {
        DeviceNodeRecord* n = state.node(instanceId);
        if (!n)
            return CR_NO_SUCH_DEVNODE;
        GUID value;
        if (!parseGuidText(classGuid.toStdString(), &value))
            return CR_INVALID_DATA;
        const QString upper = text(guidText(value));
        key = !driverKey.isEmpty() ? driverKey
            : n->driver.startsWith(upper + QLatin1Char('\\'), Qt::CaseInsensitive) ? n->driver
                                                                                 : state.nextDriverKey(upper);
        n->classGuid = upper;
        n->className = className;
        n->description = description;
        n->service = service;
        n->driver = key;
        n->problem = 0;
        n->status = (n->status & ~DN_HAS_PROBLEM) | DN_DRIVER_LOADED | DN_STARTED;
        return CR_SUCCESS;
    });
    if (result == CR_SUCCESS && boundKey)
        *boundKey = key;
    return result;
}

CONFIGRET EmulatedDevices::setStatus(const QString& instanceId, std::uint32_t status, std::uint32_t problem)
{
    return updateNode(instanceId, [&](DeviceNodeRecord& n) {
        n.problem = problem;
        n.status = problem != 0 ? (status | DN_HAS_PROBLEM) : (status & ~DN_HAS_PROBLEM);
        return CR_SUCCESS;
    });
}

bool EmulatedDevices::addNodes(const QList<DeviceNodeRecord>& added, QString* error)
{
    QString why;
    const CONFIGRET result = access(true, [&](DeviceState& state) {
        return state.add(added, &why) ? CR_SUCCESS : CR_ALREADY_SUCH_DEVNODE;
    });
    if (result == CR_SUCCESS)
        return true;
    setError(error, result == CR_REGISTRY_ERROR ? QStringLiteral("the machine's store cannot be written") : why);
    return false;
}

CONFIGRET EmulatedDevices::removeNode(const QString& instanceId, QStringList* removed)
{
    QStringList gone;
    const CONFIGRET result = access(true, [&](DeviceState& state) {
        const DeviceNodeRecord* n = state.node(instanceId);
        if (!n)
            return CR_NO_SUCH_DEVNODE;
        if (n->parent.isEmpty())
            return CR_REMOVE_VETOED;
        gone = state.remove(instanceId);
        return CR_SUCCESS;
    });
    if (result == CR_SUCCESS && removed)
        *removed = gone;
    return result;
}

} // namespace emulated

Devices& devices()
{
    return emulated::currentMachine().devices();
}

} // namespace winsteps::platform
