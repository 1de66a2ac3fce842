#include "platform/emulated/devicestate.h"

#include "platform/emulated/errortext.h"
#include "platform/emulated/machineprofile.h"
#include "platform/emulated/profilereader.h"

#include <QJsonArray>
#include <QSet>
#include <QUuid>

#include <cmath>
#include <limits>

namespace winsteps::platform::emulated {

namespace {

const QString rootId = QStringLiteral("HTREE\\ROOT\\0");
const QString pciBusId = QStringLiteral("ACPI\\PNP0A03\\0");

QString upperGuid(const GUID& guid)
{
    return QString::fromStdString(guidText(guid));
}

// The key path of a value inside the one at path.
QString at(const QString& path, const QString& key)
{
    return path.isEmpty() ? key : path + QLatin1Char('.') + key;
}

bool sameId(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

const char* const driveTypeWords[] = {"unknown", "noRoot", "removable", "fixed", "remote", "cdrom", "ramdisk"};

// --- reading nodes ---------------------------------------------------------------------------

class NodeReader {
public:
    NodeReader(const QString& where, qint64 now, QString* error) : m_where(where), m_now(now), m_error(error) {}

    bool fail(const QString& path, const QString& what)
    {
        setError(m_error, m_where + QStringLiteral(": ") + (path.isEmpty() ? what : quoted(path) + QLatin1Char(' ') + what));
        return false;
    }

    bool nodes(const QJsonValue& value, const QString& path, const QString& parent, QList<DeviceNodeRecord>* out)
    {
        if (value.isObject())
            return node(value.toObject(), path, parent, out);
        if (!value.isArray())
            return fail(path, QStringLiteral("must be a device (an object) or a list of devices"));
        const QJsonArray list = value.toArray();
        for (int i = 0; i < list.size(); ++i) {
            const QString item = path + QStringLiteral("[%1]").arg(i);
            if (!list.at(i).isObject())
                return fail(item, QStringLiteral("must be an object"));
            if (!node(list.at(i).toObject(), item, parent, out))
                return false;
        }
        return true;
    }

private:
    bool text(const QJsonObject& o, const char* key, const QString& path, QString* out)
    {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isUndefined())
            return true;
        if (!v.isString())
            return fail(at(path, QLatin1String(key)), QStringLiteral("must be a string"));
        *out = v.toString();
        return true;
    }

    bool texts(const QJsonObject& o, const char* key, const QString& path, QStringList* out)
    {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isUndefined())
            return true;
        const QString where = at(path, QLatin1String(key));
        if (v.isString()) {
            *out = QStringList{v.toString()};
            return true;
        }
        if (!v.isArray())
            return fail(where, QStringLiteral("must be a list of strings"));
        out->clear();
        for (const QJsonValue& item : v.toArray()) {
            if (!item.isString() || item.toString().isEmpty())
                return fail(where, QStringLiteral("must be a list of non-empty strings"));
            *out << item.toString();
        }
        return true;
    }

    bool number(const QJsonObject& o, const char* key, const QString& path, double maximum, bool whole, double* out)
    {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isUndefined())
            return true;
        const double d = v.toDouble(std::nan(""));
        if (!v.isDouble() || d < 0 || d > maximum || (whole && std::floor(d) != d))
            return fail(at(path, QLatin1String(key)),
                        QStringLiteral("must be a%1 number from 0 to %2").arg(whole ? QStringLiteral("n integer") : QString()).arg(maximum));
        *out = d;
        return true;
    }

    bool flag(const QJsonObject& o, const char* key, const QString& path, bool* out)
    {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isUndefined())
            return true;
        if (!v.isBool())
            return fail(at(path, QLatin1String(key)), QStringLiteral("must be true or false"));
        *out = v.toBool();
        return true;
    }

    bool guid(const QString& text, const QString& path, QString* out)
    {
        GUID value;
        if (!parseGuidText(text.toStdString(), &value))
            return fail(path, QStringLiteral("must be a GUID \"{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}\""));
        *out = upperGuid(value);
        return true;
    }

    bool known(const QJsonObject& o, const QString& path, std::initializer_list<const char*> keys)
    {
        for (auto it = o.begin(); it != o.end(); ++it) {
            bool found = false;
            QStringList names;
            for (const char* key : keys) {
                found = found || it.key() == QLatin1String(key);
                names << QLatin1String(key);
            }
            if (!found)
                return fail(at(path, it.key()),
                            QStringLiteral("is unknown (known: %1)").arg(names.join(QStringLiteral(", "))));
        }
        return true;
    }

    bool volume(const QJsonObject& o, const QString& path, DeviceNodeRecord* node)
    {
        if (!known(o, path, {"letter", "type", "media", "mountDelay", "guid"}))
            return false;
        if (!text(o, "letter", path, &node->letter))
            return false;
        node->letter = node->letter.toUpper();
        if (!node->letter.isEmpty()
            && (node->letter.size() != 1 || node->letter.at(0) < QLatin1Char('A') || node->letter.at(0) > QLatin1Char('Z')))
            return fail(at(path, QStringLiteral("letter")), QStringLiteral("must be one letter from A to Z"));
        QString type = QStringLiteral("removable");
        if (!text(o, "type", path, &type))
            return false;
        const QStringList types{QStringLiteral("removable"), QStringLiteral("fixed"), QStringLiteral("cdrom"),
                                QStringLiteral("remote"), QStringLiteral("ramdisk")};
        if (!types.contains(type))
            return fail(at(path, QStringLiteral("type")),
                        QStringLiteral("must be one of \"%1\"").arg(types.join(QStringLiteral("\", \""))));
        node->driveType = type == types[0] ? DRIVE_REMOVABLE : type == types[1] ? DRIVE_FIXED
                        : type == types[2] ? DRIVE_CDROM : type == types[3] ? DRIVE_REMOTE : DRIVE_RAMDISK;
        double delay = 0;
        if (!flag(o, "media", path, &node->media) || !number(o, "mountDelay", path, 3600, false, &delay))
            return false;
        node->mountAt = delay > 0 ? m_now + qint64(delay * 1000) : 0;
        QString volumeGuid;
        if (!text(o, "guid", path, &volumeGuid))
            return false;
        if (!volumeGuid.isEmpty() && !guid(volumeGuid, at(path, QStringLiteral("guid")), &volumeGuid))
            return false;
        node->volumeGuid = volumeGuid.isEmpty()
            ? QUuid::createUuidV5(QUuid(), node->instanceId.toUpper()).toString(QUuid::WithBraces).toLower()
            : volumeGuid.toLower();
        node->interfaces << upperGuid(GUID_DEVINTERFACE_VOLUME);
        return true;
    }

    bool node(const QJsonObject& o, const QString& path, const QString& parent, QList<DeviceNodeRecord>* out)
    {
        if (!known(o, path, {"instanceId", "parent", "hardwareIds", "compatibleIds", "classGuid", "className",
                             "description", "friendlyName", "manufacturer", "location", "service", "driver",
                             "problem", "status", "present", "interfaces", "volume", "children"}))
            return false;
        DeviceNodeRecord node;
        node.parent = parent;
        if (!text(o, "instanceId", path, &node.instanceId))
            return false;
        const QStringList parts = node.instanceId.split(QLatin1Char('\\'));
        if (parts.size() < 2 || parts.contains(QString()) || node.instanceId.size() > 199)
            return fail(at(path, QStringLiteral("instanceId")),
                        QStringLiteral("must be a device instance id \"ENUMERATOR\\\\DEVICE\\\\INSTANCE\""));
        if (!parent.isEmpty() && o.contains(QLatin1String("parent")))
            return fail(at(path, QStringLiteral("parent")), QStringLiteral("is given by the node the child is in"));
        QString classGuid;
        if (!text(o, "parent", path, &node.parent) || !texts(o, "hardwareIds", path, &node.hardwareIds)
            || !texts(o, "compatibleIds", path, &node.compatibleIds) || !text(o, "classGuid", path, &classGuid)
            || !text(o, "className", path, &node.className) || !text(o, "description", path, &node.description)
            || !text(o, "friendlyName", path, &node.friendlyName) || !text(o, "manufacturer", path, &node.manufacturer)
            || !text(o, "location", path, &node.location) || !text(o, "service", path, &node.service)
            || !text(o, "driver", path, &node.driver) || !flag(o, "present", path, &node.present))
            return false;
        if (!classGuid.isEmpty() && !guid(classGuid, at(path, QStringLiteral("classGuid")), &node.classGuid))
            return false;
        if (node.classGuid.isEmpty() && !node.className.isEmpty()) {
            node.classGuid = deviceClassGuid(node.className);
            if (node.classGuid.isEmpty())
                return fail(at(path, QStringLiteral("className")),
                            QStringLiteral("is no class known by name: give \"classGuid\" with it"));
        }
        if (node.className.isEmpty())
            node.className = deviceClassName(node.classGuid);
        if (!node.driver.isEmpty() && node.classGuid.isEmpty())
            return fail(at(path, QStringLiteral("driver")), QStringLiteral("needs the node's \"classGuid\" or \"className\""));
        if (node.hardwareIds.isEmpty())
            node.hardwareIds << parts.mid(0, parts.size() - 1).join(QLatin1Char('\\'));
        QStringList interfaces;
        if (!texts(o, "interfaces", path, &interfaces))
            return false;
        for (int i = 0; i < interfaces.size(); ++i) {
            QString value;
            if (!guid(interfaces[i], at(path, QStringLiteral("interfaces[%1]")).arg(i), &value))
                return false;
            node.interfaces << value;
        }
        if (node.classGuid == upperGuid(GUID_DEVCLASS_DISKDRIVE) && !node.interfaces.contains(upperGuid(GUID_DEVINTERFACE_DISK)))
            node.interfaces << upperGuid(GUID_DEVINTERFACE_DISK);
        const QJsonValue volumeValue = o.value(QLatin1String("volume"));
        if (!volumeValue.isUndefined()) {
            if (!volumeValue.isObject())
                return fail(at(path, QStringLiteral("volume")), QStringLiteral("must be an object"));
            if (!volume(volumeValue.toObject(), at(path, QStringLiteral("volume")), &node))
                return false;
        }
        // A volume needs no service of its own; any other node without one has no driver.
        if (node.isVolume() && node.classGuid.isEmpty()) {
            node.classGuid = upperGuid(GUID_DEVCLASS_VOLUME);
            node.className = deviceClassName(node.classGuid);
        }
        double problem = node.service.isEmpty() && node.driver.isEmpty() && !node.isVolume() ? CM_PROB_FAILED_INSTALL : 0;
        if (!number(o, "problem", path, 0xFF, true, &problem))
            return false;
        node.problem = std::uint32_t(problem);
        double status = -1;
        if (o.contains(QLatin1String("status")) && !number(o, "status", path, 0xFFFFFFFFu, true, &status))
            return false;
        node.status = status >= 0 ? std::uint32_t(status) : defaultDeviceStatus(node);
        out->append(node);
        const QJsonValue children = o.value(QLatin1String("children"));
        if (children.isUndefined())
            return true;
        if (!children.isArray())
            return fail(at(path, QStringLiteral("children")), QStringLiteral("must be a list of devices"));
        return nodes(children, at(path, QStringLiteral("children")), node.instanceId, out);
    }

    QString m_where;
    qint64 m_now;
    QString* m_error;
};

bool addProfileDevices(const QJsonObject& profile, const QString& source, DeviceState* state, QString* error)
{
    const QJsonValue staged = profile.value(QLatin1String("devices"));
    if (staged.isUndefined())
        return true;
    if (!staged.isArray()) {
        setError(error, profileError(source, QStringLiteral("\"devices\" must be a list of devices")));
        return false;
    }
    QList<DeviceNodeRecord> nodes;
    NodeReader reader(QStringLiteral("profile %1").arg(quoted(source)), 0, error);
    if (!reader.nodes(staged, QStringLiteral("devices"), QString(), &nodes))
        return false;
    QString why;
    if (!state->add(nodes, &why)) {
        setError(error, profileError(source, QStringLiteral("\"devices\": ") + why));
        return false;
    }
    return true;
}

struct DeviceClass {
    const char* name;
    GUID guid;
};
const DeviceClass knownClasses[] = {
    {"Net", GUID_DEVCLASS_NET},           {"USB", GUID_DEVCLASS_USB},       {"DiskDrive", GUID_DEVCLASS_DISKDRIVE},
    {"CDROM", GUID_DEVCLASS_CDROM},       {"Volume", GUID_DEVCLASS_VOLUME}, {"System", GUID_DEVCLASS_SYSTEM},
    {"hdc", GUID_DEVCLASS_HDC},           {"Computer", GUID_DEVCLASS_COMPUTER},
};

} // namespace

QString deviceClassGuid(const QString& name)
{
    for (const DeviceClass& c : knownClasses) {
        if (name.compare(QLatin1String(c.name), Qt::CaseInsensitive) == 0)
            return upperGuid(c.guid);
    }
    return QString();
}

QString deviceClassName(const QString& guid)
{
    for (const DeviceClass& c : knownClasses) {
        if (guid.compare(upperGuid(c.guid), Qt::CaseInsensitive) == 0)
            return QLatin1String(c.name);
    }
    return QString();
}

// The status a node has when nothing says otherwise: started with its driver, or stopped with
// the problem that keeps it from starting.
std::uint32_t defaultDeviceStatus(const DeviceNodeRecord& node)
{
    std::uint32_t status = node.problem != 0 ? DN_HAS_PROBLEM : (DN_DRIVER_LOADED | DN_STARTED);
    if (node.instanceId.startsWith(QLatin1String("ROOT\\"), Qt::CaseInsensitive))
        status |= DN_ROOT_ENUMERATED;
    if (node.instanceId.startsWith(QLatin1String("USB"), Qt::CaseInsensitive)
        && !node.instanceId.startsWith(QLatin1String("USB\\ROOT_HUB"), Qt::CaseInsensitive))
        status |= DN_REMOVABLE;
    return status | DN_NT_ENUMERATOR | DN_NT_DRIVER;
}

bool DeviceNodeRecord::isVolume() const
{
    return interfaces.contains(upperGuid(GUID_DEVINTERFACE_VOLUME));
}

QString DeviceNodeRecord::mountedLetter(qint64 now) const
{
    return present && isVolume() && now >= mountAt ? letter : QString();
}

QString DeviceNodeRecord::devicePath(const QString& interfaceClass) const
{
    QString id = instanceId;
    id.replace(QLatin1Char('\\'), QLatin1Char('#'));
    return (QStringLiteral("\\\\?\\") + id + QLatin1Char('#') + interfaceClass).toLower();
}

DeviceNodeRecord* DeviceState::node(const QString& instanceId)
{
    for (DeviceNodeRecord& n : nodes) {
        if (instanceId.isEmpty() ? n.parent.isEmpty() : sameId(n.instanceId, instanceId))
            return &n;
    }
    return nullptr;
}

const DeviceNodeRecord* DeviceState::node(const QString& instanceId) const
{
    return const_cast<DeviceState*>(this)->node(instanceId);
}

QStringList DeviceState::subtree(const QString& instanceId) const
{
    const DeviceNodeRecord* top = node(instanceId);
    if (!top)
        return {};
    QStringList ids{top->instanceId};
    for (int i = 0; i < ids.size(); ++i) {
        for (const DeviceNodeRecord& n : nodes) {
            if (sameId(n.parent, ids[i]))
                ids << n.instanceId;
        }
    }
    return ids;
}

QString DeviceState::nextDriverKey(const QString& classGuid) const
{
    const QString prefix = classGuid.toUpper() + QLatin1Char('\\');
    // A key that a device file or a profile gives may end in any number ("\\2147483647"): they
    // count in 64 bits, and the one number that has no next is passed over.
    qint64 next = 0;
    for (const DeviceNodeRecord& n : nodes) {
        if (!n.driver.startsWith(prefix, Qt::CaseInsensitive))
            continue;
        const qint64 number = n.driver.mid(prefix.size()).toLongLong();
        if (number < std::numeric_limits<qint64>::max())
            next = std::max(next, number + 1);
    }
    return prefix + QStringLiteral("%1").arg(next, 4, 10, QLatin1Char('0'));
}

QString DeviceState::freeLetter() const
{
    QSet<QChar> taken;
    for (const DeviceNodeRecord& n : nodes) {
        if (n.isVolume() && !n.letter.isEmpty())
            taken << n.letter.at(0);
    }
    for (char c = 'E'; c <= 'Z'; ++c) {
        if (!taken.contains(QLatin1Char(c)))
            return QString(QLatin1Char(c));
    }
    return QString();
}

bool DeviceState::add(QList<DeviceNodeRecord> added, QString* error)
{
    DeviceState result = *this;
    for (DeviceNodeRecord& n : added) {
        const QString named = quoted(n.instanceId);
        if (n.instanceId.isEmpty())
            return setError(error, QStringLiteral("a device has no instance id")), false;
        if (result.node(n.instanceId))
            return setError(error, QStringLiteral("device %1 is there already").arg(named)), false;
        if (n.parent.isEmpty()) {
            const QString enumerator = n.instanceId.section(QLatin1Char('\\'), 0, 0).toUpper();
            n.parent = rootId;
            for (const DeviceNodeRecord& p : std::as_const(result.nodes)) {
                if ((enumerator == QLatin1String("USB") && p.instanceId.startsWith(QLatin1String("USB\\ROOT_HUB"), Qt::CaseInsensitive))
                    || (enumerator == QLatin1String("PCI") && sameId(p.instanceId, pciBusId))) {
                    n.parent = p.instanceId;
                    break;
                }
            }
        }
        const DeviceNodeRecord* parent = result.node(n.parent);
        if (!parent)
            return setError(error, QStringLiteral("the parent %1 of device %2 is not there").arg(quoted(n.parent), named)), false;
        n.parent = parent->instanceId;
        if (n.isVolume() && !n.letter.isEmpty()) {
            for (const DeviceNodeRecord& other : std::as_const(result.nodes)) {
                if (other.isVolume() && other.letter == n.letter)
                    return setError(error, QStringLiteral("the letter %1: of device %2 is taken").arg(n.letter, named)), false;
            }
        }
        if (n.isVolume() && n.letter.isEmpty()) {
            n.letter = result.freeLetter();
            if (n.letter.isEmpty())
                return setError(error, QStringLiteral("no drive letter is left for device %1").arg(named)), false;
        }
        if (n.driver.isEmpty() && (!n.service.isEmpty() || n.isVolume()) && n.problem == 0 && !n.classGuid.isEmpty())
            n.driver = result.nextDriverKey(n.classGuid);
        result.nodes << n;
    }
    *this = result;
    return true;
}

QStringList DeviceState::remove(const QString& instanceId)
{
    const QStringList ids = subtree(instanceId);
    nodes.erase(std::remove_if(nodes.begin(), nodes.end(),
                               [&](const DeviceNodeRecord& n) { return ids.contains(n.instanceId, Qt::CaseInsensitive); }),
                nodes.end());
    return ids;
}

QJsonObject DeviceState::toJson() const
{
    QJsonArray list;
    for (const DeviceNodeRecord& n : nodes) {
        QJsonObject o{{QStringLiteral("id"), n.instanceId},
                      {QStringLiteral("parent"), n.parent},
                      {QStringLiteral("hw"), QJsonArray::fromStringList(n.hardwareIds)},
                      {QStringLiteral("compat"), QJsonArray::fromStringList(n.compatibleIds)},
                      {QStringLiteral("classGuid"), n.classGuid},
                      {QStringLiteral("className"), n.className},
                      {QStringLiteral("description"), n.description},
                      {QStringLiteral("friendlyName"), n.friendlyName},
                      {QStringLiteral("manufacturer"), n.manufacturer},
                      {QStringLiteral("location"), n.location},
                      {QStringLiteral("driver"), n.driver},
                      {QStringLiteral("service"), n.service},
                      {QStringLiteral("status"), double(n.status)},
                      {QStringLiteral("problem"), double(n.problem)},
                      {QStringLiteral("present"), n.present},
                      {QStringLiteral("interfaces"), QJsonArray::fromStringList(n.interfaces)}};
        if (n.isVolume()) {
            o.insert(QStringLiteral("volumeGuid"), n.volumeGuid);
            o.insert(QStringLiteral("letter"), n.letter);
            o.insert(QStringLiteral("driveType"), double(n.driveType));
            o.insert(QStringLiteral("media"), n.media);
            o.insert(QStringLiteral("mountAt"), double(n.mountAt));
        }
        list << o;
    }
    return QJsonObject{{QStringLiteral("nodes"), list}, {QStringLiteral("changes"), double(changes)}};
}

DeviceState DeviceState::fromJson(const QJsonObject& json)
{
    auto strings = [](const QJsonValue& v) {
        QStringList out;
        for (const QJsonValue& item : v.toArray())
            out << item.toString();
        return out;
    };
    DeviceState state;
    state.changes = qint64(json.value(QStringLiteral("changes")).toDouble());
    for (const QJsonValue& value : json.value(QStringLiteral("nodes")).toArray()) {
        const QJsonObject o = value.toObject();
        DeviceNodeRecord n;
        n.instanceId = o.value(QStringLiteral("id")).toString();
        n.parent = o.value(QStringLiteral("parent")).toString();
        n.hardwareIds = strings(o.value(QStringLiteral("hw")));
        n.compatibleIds = strings(o.value(QStringLiteral("compat")));
        n.classGuid = o.value(QStringLiteral("classGuid")).toString();
        n.className = o.value(QStringLiteral("className")).toString();
        n.description = o.value(QStringLiteral("description")).toString();
        n.friendlyName = o.value(QStringLiteral("friendlyName")).toString();
        n.manufacturer = o.value(QStringLiteral("manufacturer")).toString();
        n.location = o.value(QStringLiteral("location")).toString();
        n.driver = o.value(QStringLiteral("driver")).toString();
        n.service = o.value(QStringLiteral("service")).toString();
        n.status = std::uint32_t(o.value(QStringLiteral("status")).toDouble());
        n.problem = std::uint32_t(o.value(QStringLiteral("problem")).toDouble());
        n.present = o.value(QStringLiteral("present")).toBool(true);
        n.interfaces = strings(o.value(QStringLiteral("interfaces")));
        n.volumeGuid = o.value(QStringLiteral("volumeGuid")).toString();
        n.letter = o.value(QStringLiteral("letter")).toString();
        n.driveType = std::uint32_t(o.value(QStringLiteral("driveType")).toDouble(DRIVE_FIXED));
        n.media = o.value(QStringLiteral("media")).toBool(true);
        n.mountAt = qint64(o.value(QStringLiteral("mountAt")).toDouble());
        state.nodes << n;
    }
    return state;
}

DeviceState initialDevices(const MachineProfile& profile)
{
    DeviceState state;
    state.nodes = seedDeviceTree();
    QString error;
    for (DeviceNodeRecord& n : state.nodes) {
        if (!n.service.isEmpty() && !n.classGuid.isEmpty())
            n.driver = state.nextDriverKey(n.classGuid);
        else if (n.classGuid == upperGuid(GUID_DEVCLASS_VOLUME) || n.classGuid == upperGuid(GUID_DEVCLASS_COMPUTER))
            n.driver = state.nextDriverKey(n.classGuid);
    }
    DeviceState seeded = state;
    if (!addProfileDevices(profile.json(), profile.name(), &state, &error))
        return seeded; // checked when the profile was read
    return state;
}

bool checkDeviceProfile(const QJsonObject& profile, const QString& source, QString* error)
{
    DeviceState state;
    state.nodes = seedDeviceTree();
    return addProfileDevices(profile, source, &state, error);
}

bool readDeviceNodes(const QJsonValue& value, const QString& where, const QString& path, qint64 now,
                     QList<DeviceNodeRecord>* nodes, QString* error)
{
    QList<DeviceNodeRecord> read;
    NodeReader reader(where, now, error);
    if (!reader.nodes(value, path, QString(), &read))
        return false;
    *nodes = read;
    return true;
}

QString driveTypeWord(std::uint32_t type)
{
    return type < std::size(driveTypeWords) ? QLatin1String(driveTypeWords[type]) : QStringLiteral("unknown");
}

} // namespace winsteps::platform::emulated
