#include "platform/emulated/networkstate.h"

#include "platform/emulated/machineprofile.h"
#include "platform/emulated/profilereader.h"

#include <QJsonArray>
#include <QSet>
#include <QUuid>

#include <algorithm>

namespace winsteps::platform::emulated {

namespace {

const QString defaultConnection = QStringLiteral("Local Area Connection");

struct Word {
    const char* text;
    std::uint32_t value;
};
const Word statusWords[] = {{"connected", NCS_CONNECTED}, {"disconnected", NCS_DISCONNECTED},
                            {"mediaDisconnected", NCS_MEDIA_DISCONNECTED}, {"hardwareDisabled", NCS_HARDWARE_DISABLED}};

// A word of a fixed set: false + an error naming the words when the value is none of them.
bool readWord(ProfileReader& r, const QJsonValue& v, const QString& path, std::initializer_list<const char*> words,
              QString* out)
{
    QStringList quotedWords;
    for (const char* word : words) {
        if (v.toString() == QLatin1String(word)) {
            *out = v.toString();
            return true;
        }
        quotedWords << quoted(QLatin1String(word));
    }
    return r.fail(path, QStringLiteral("must be one of %1").arg(quotedWords.join(QStringLiteral(", "))));
}

bool readPort(ProfileReader& r, const QJsonObject& entry, const QString& key, const QString& path, int* out)
{
    double port = 0;
    if (!r.integer(entry, key, path, 1, 65535, &port, true))
        return false;
    *out = int(port);
    return true;
}

bool readMapping(ProfileReader& r, const QJsonValue& value, const QString& where, PortMappingRecord* out)
{
    if (!value.isObject())
        return r.fail(where, QStringLiteral("must be an object"));
    const QJsonObject entry = value.toObject();
    QString word;
    for (auto it = entry.begin(); it != entry.end(); ++it) {
        const QString path = where + QLatin1Char('.') + it.key();
        if (it.key() == QLatin1String("protocol")) {
            if (!readWord(r, it.value(), path, {"tcp", "udp"}, &word))
                return false;
            out->protocol = word == QLatin1String("tcp") ? NAT_PROTOCOL_TCP : NAT_PROTOCOL_UDP;
        } else if (it.key() == QLatin1String("targetType")) {
            if (!readWord(r, it.value(), path, {"ip", "name"}, &word))
                return false;
            out->targetType = word == QLatin1String("ip") ? ICSTT_IPADDRESS : ICSTT_NAME;
        } else if (it.key() == QLatin1String("enabled")) {
            if (!r.boolean(entry, it.key(), &out->enabled))
                return r.fail(path, QStringLiteral("must be true or false"));
        } else if (it.key() != QLatin1String("name") && it.key() != QLatin1String("target")
                   && it.key() != QLatin1String("externalPort") && it.key() != QLatin1String("internalPort")) {
            return r.fail(path, QStringLiteral("is unknown (known: name, protocol, externalPort, internalPort, target, "
                                               "targetType, enabled)"));
        }
    }
    if (!r.string(entry, QStringLiteral("name"), where + QStringLiteral(".name"), &out->name)
        || !r.string(entry, QStringLiteral("target"), where + QStringLiteral(".target"), &out->target)
        || !readPort(r, entry, QStringLiteral("externalPort"), where + QStringLiteral(".externalPort"), &out->externalPort)
        || !readPort(r, entry, QStringLiteral("internalPort"), where + QStringLiteral(".internalPort"), &out->internalPort))
        return false;
    if (out->name.isEmpty())
        return r.fail(where + QStringLiteral(".name"), QStringLiteral("is missing (a text)"));
    if (out->target.isEmpty())
        return r.fail(where + QStringLiteral(".target"), QStringLiteral("is missing (a text)"));
    return true;
}

QString guidFromName(const QString& name)
{
    return QUuid::createUuidV5(QUuid(), name.toLower()).toString(QUuid::WithBraces).toUpper();
}

// One entry of "connections"; nextId numbers its mappings.
bool readConnection(ProfileReader& r, const QString& name, const QJsonObject& entry, bool firewalled,
                    ConnectionRecord* out, qint64* nextId)
{
    const QString where = QStringLiteral("connections.") + name;
    ConnectionRecord c;
    c.name = name;
    c.firewall = firewalled;
    QString type = QStringLiteral("lan");
    if (entry.contains(QStringLiteral("type"))
        && !readWord(r, entry.value(QStringLiteral("type")), where + QStringLiteral(".type"), {"lan", "wireless", "dialup"},
                     &type))
        return false;
    c.wireless = type == QLatin1String("wireless");
    c.mediaType = type == QLatin1String("dialup") ? NCM_PHONE : NCM_LAN;
    c.status = c.mediaType == NCM_PHONE ? NCS_DISCONNECTED : NCS_CONNECTED;
    c.device = c.mediaType == NCM_PHONE ? QStringLiteral("Emulated Modem")
        : c.wireless                    ? QStringLiteral("Emulated Wireless Network Adapter")
                                        : QStringLiteral("Emulated Ethernet Adapter");
    c.guid = guidFromName(name);
    for (auto it = entry.begin(); it != entry.end(); ++it) {
        const QString key = it.key();
        const QString path = where + QLatin1Char('.') + key;
        QString word;
        if (key == QLatin1String("status")) {
            if (!readWord(r, it.value(), path, {"connected", "disconnected", "mediaDisconnected", "hardwareDisabled"},
                          &word))
                return false;
            for (const Word& w : statusWords) {
                if (word == QLatin1String(w.text))
                    c.status = w.value;
            }
        } else if (key == QLatin1String("guid")) {
            GUID guid;
            if (!it.value().isString() || !parseGuidText(it.value().toString().toStdString(), &guid))
                return r.fail(path, QStringLiteral("must be a GUID text \"{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}\""));
            c.guid = QString::fromStdString(guidText(guid));
        } else if (key == QLatin1String("firewall") || key == QLatin1String("sharing")) {
            if (!r.boolean(entry, key, key == QLatin1String("firewall") ? &c.firewall : &c.sharing))
                return r.fail(path, QStringLiteral("must be true or false"));
        } else if (key == QLatin1String("mappings")) {
            if (!it.value().isArray())
                return r.fail(path, QStringLiteral("must be a list of mappings"));
            const QJsonArray list = it.value().toArray();
            for (int i = 0; i < list.size(); ++i) {
                PortMappingRecord m;
                const QString at = QStringLiteral("%1[%2]").arg(path).arg(i);
                if (!readMapping(r, list.at(i), at, &m))
                    return false;
                for (const PortMappingRecord& earlier : std::as_const(c.mappings)) {
                    if (earlier.protocol == m.protocol && earlier.externalPort == m.externalPort)
                        return r.fail(at, QStringLiteral("repeats the protocol and external port of an earlier mapping"));
                }
                m.id = (*nextId)++;
                c.mappings.append(m);
            }
        } else if (key == QLatin1String("device")) {
            if (!r.string(entry, key, path, &c.device))
                return false;
        } else if (key != QLatin1String("type")) {
            return r.fail(path, QStringLiteral("is unknown (known: type, device, guid, status, firewall, sharing, mappings)"));
        }
    }
    *out = c;
    return true;
}

// The "connections" table of a profile: the connections it declares, in the order of their
// names (without regard to case); the defaults given stand under its entries.
bool readConnections(const QJsonObject& profile, const QJsonObject& defaults, bool firewalled, ProfileReader& r,
                     NetworkState* out)
{
    QJsonObject table;
    if (!r.object(profile, QStringLiteral("connections"), QStringLiteral("connections"), &table))
        return false;
    QJsonObject all = defaults;
    for (auto it = table.begin(); it != table.end(); ++it) {
        QJsonObject base;
        for (const QString& name : all.keys()) {
            if (name.compare(it.key(), Qt::CaseInsensitive) == 0) {
                base = all.value(name).toObject();
                all.remove(name);
            }
        }
        if (it.value().isNull())
            continue;
        if (!it.value().isObject())
            return r.fail(QStringLiteral("connections.") + it.key(), QStringLiteral("must be an object or null"));
        const QJsonObject entry = it.value().toObject();
        for (auto item = entry.begin(); item != entry.end(); ++item)
            base.insert(item.key(), item.value());
        all.insert(it.key(), base);
    }
    QSet<QString> guids;
    for (auto it = all.begin(); it != all.end(); ++it) {
        ConnectionRecord c;
        if (!readConnection(r, it.key(), it.value().toObject(), firewalled, &c, &out->nextMapping))
            return false;
        if (guids.contains(c.guid))
            return r.fail(QStringLiteral("connections.") + it.key() + QStringLiteral(".guid"),
                          QStringLiteral("is that of another connection"));
        guids.insert(c.guid);
        out->connections.append(c);
    }
    std::stable_sort(out->connections.begin(), out->connections.end(),
                     [](const ConnectionRecord& a, const ConnectionRecord& b) {
                         return a.name.compare(b.name, Qt::CaseInsensitive) < 0;
                     });
    return true;
}

bool firewallFlag(const MachineProfile& profile, const char* key, bool fallback)
{
    const QJsonValue v = profile.json().value(QStringLiteral("firewall")).toObject().value(QLatin1String(key));
    return v.isBool() ? v.toBool() : fallback;
}

} // namespace

ConnectionRecord* NetworkState::connection(const QString& guid)
{
    for (ConnectionRecord& c : connections) {
        if (c.guid.compare(guid, Qt::CaseInsensitive) == 0)
            return &c;
    }
    return nullptr;
}

QJsonObject NetworkState::toJson() const
{
    QJsonArray list;
    for (const ConnectionRecord& c : connections) {
        QJsonArray mappings;
        for (const PortMappingRecord& m : c.mappings) {
            mappings.append(QJsonObject{{QStringLiteral("id"), double(m.id)}, {QStringLiteral("name"), m.name},
                                        {QStringLiteral("protocol"), m.protocol},
                                        {QStringLiteral("externalPort"), m.externalPort},
                                        {QStringLiteral("internalPort"), m.internalPort},
                                        {QStringLiteral("options"), m.options}, {QStringLiteral("target"), m.target},
                                        {QStringLiteral("targetType"), double(m.targetType)},
                                        {QStringLiteral("enabled"), m.enabled}});
        }
        list.append(QJsonObject{{QStringLiteral("guid"), c.guid}, {QStringLiteral("name"), c.name},
                                {QStringLiteral("device"), c.device}, {QStringLiteral("mediaType"), double(c.mediaType)},
                                {QStringLiteral("status"), double(c.status)}, {QStringLiteral("wireless"), c.wireless},
                                {QStringLiteral("firewall"), c.firewall}, {QStringLiteral("sharing"), c.sharing},
                                {QStringLiteral("sharingType"), double(c.sharingType)},
                                {QStringLiteral("mappings"), mappings}});
    }
    return QJsonObject{{QStringLiteral("connections"), list}, {QStringLiteral("nextMapping"), double(nextMapping)}};
}

NetworkState NetworkState::fromJson(const QJsonObject& json)
{
    NetworkState state;
    state.nextMapping = qint64(json.value(QStringLiteral("nextMapping")).toDouble(1));
    const QJsonArray list = json.value(QStringLiteral("connections")).toArray();
    for (const QJsonValue& item : list) {
        const QJsonObject o = item.toObject();
        ConnectionRecord c;
        c.guid = o.value(QStringLiteral("guid")).toString();
        c.name = o.value(QStringLiteral("name")).toString();
        c.device = o.value(QStringLiteral("device")).toString();
        c.mediaType = NETCON_MEDIATYPE(o.value(QStringLiteral("mediaType")).toDouble());
        c.status = NETCON_STATUS(o.value(QStringLiteral("status")).toDouble());
        c.wireless = o.value(QStringLiteral("wireless")).toBool();
        c.firewall = o.value(QStringLiteral("firewall")).toBool();
        c.sharing = o.value(QStringLiteral("sharing")).toBool();
        c.sharingType = SHARINGCONNECTIONTYPE(o.value(QStringLiteral("sharingType")).toDouble());
        const QJsonArray mappings = o.value(QStringLiteral("mappings")).toArray();
        for (const QJsonValue& value : mappings) {
            const QJsonObject mo = value.toObject();
            PortMappingRecord m;
            m.id = qint64(mo.value(QStringLiteral("id")).toDouble());
            m.name = mo.value(QStringLiteral("name")).toString();
            m.protocol = std::uint8_t(mo.value(QStringLiteral("protocol")).toInt());
            m.externalPort = mo.value(QStringLiteral("externalPort")).toInt();
            m.internalPort = mo.value(QStringLiteral("internalPort")).toInt();
            m.options = mo.value(QStringLiteral("options")).toInt();
            m.target = mo.value(QStringLiteral("target")).toString();
            m.targetType = ICS_TARGETTYPE(mo.value(QStringLiteral("targetType")).toDouble());
            m.enabled = mo.value(QStringLiteral("enabled")).toBool();
            c.mappings.append(m);
        }
        state.connections.append(c);
    }
    return state;
}

bool hasFirewallManager(const MachineProfile& profile)
{
    const OsVersionInfoEx& v = profile.version();
    const bool sp2 = v.majorVersion >= 6
        || (v.majorVersion == 5
            && (v.minorVersion > 2 || (v.minorVersion == 1 && v.servicePackMajor >= 2)
                || (v.minorVersion == 2 && v.servicePackMajor >= 1)));
    return firewallFlag(profile, "manager", profile.isNt() && sp2);
}

bool hasConnectionSharing(const MachineProfile& profile)
{
    const OsVersionInfoEx& v = profile.version();
    const bool xp = v.majorVersion > 5 || (v.majorVersion == 5 && v.minorVersion >= 1);
    return firewallFlag(profile, "sharing", profile.isNt() && xp);
}

bool checkNetworkProfile(const QJsonObject& profile, const QString& source, QString* error)
{
    ProfileReader r(source, error);
    QJsonObject firewall;
    if (!r.object(profile, QStringLiteral("firewall"), QStringLiteral("firewall"), &firewall))
        return false;
    for (auto it = firewall.begin(); it != firewall.end(); ++it) {
        const QString path = QStringLiteral("firewall.") + it.key();
        if (it.key() != QLatin1String("manager") && it.key() != QLatin1String("sharing"))
            return r.fail(path, QStringLiteral("is unknown (known: manager, sharing)"));
        if (!it.value().isBool())
            return r.fail(path, QStringLiteral("must be true or false"));
    }
    NetworkState scratch;
    return readConnections(profile, QJsonObject(), false, r, &scratch);
}

NetworkState initialNetwork(const MachineProfile& profile)
{
    NetworkState state;
    if (!hasConnectionSharing(profile))
        return state;
    QString error;
    ProfileReader r(profile.name(), &error);
    const QJsonObject defaults{{defaultConnection, QJsonObject()}};
    if (!readConnections(profile.json(), defaults, hasFirewallManager(profile), r, &state))
        state = NetworkState(); // checked when the profile was read
    return state;
}

QString statusWord(NETCON_STATUS status)
{
    for (const Word& w : statusWords) {
        if (w.value == status)
            return QLatin1String(w.text);
    }
    return QString::number(status);
}

QString mediaWord(const ConnectionRecord& connection)
{
    if (connection.mediaType == NCM_PHONE)
        return QStringLiteral("dialup");
    if (connection.mediaType == NCM_LAN)
        return connection.wireless ? QStringLiteral("wireless") : QStringLiteral("lan");
    return QString::number(connection.mediaType);
}

} // namespace winsteps::platform::emulated
