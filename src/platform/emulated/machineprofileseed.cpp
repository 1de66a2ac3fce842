// The initial registry of a profile: its "registry" object read into keys and values.

#include "platform/emulated/machineprofile.h"

#include "platform/emulated/profilereader.h"
#include "platform/emulated/registrystore.h"

#include <QJsonArray>
#include <QJsonValue>

#include <cmath>

namespace winsteps::platform::emulated {

namespace {

struct HiveNames {
    const char* full;
    const char* shortName;
};

const HiveNames hiveNames[] = {
    {"HKEY_CLASSES_ROOT", "HKCR"},  {"HKEY_CURRENT_USER", "HKCU"},   {"HKEY_LOCAL_MACHINE", "HKLM"},
    {"HKEY_USERS", "HKU"},          {"HKEY_CURRENT_CONFIG", "HKCC"}, {"HKEY_DYN_DATA", "HKDD"},
};

QByteArray stringData(const QString& text)
{
    QByteArray data = text.toUtf8();
    data.append('\0');
    return data;
}

QByteArray littleEndian(quint64 value, int size)
{
    QByteArray data;
    for (int i = 0; i < size; ++i)
        data.append(char((value >> (8 * i)) & 0xFF));
    return data;
}

// "01,ff,20" (commas, blanks or nothing between the pairs).
bool hexBytes(QString text, QByteArray* out)
{
    text.remove(QLatin1Char(',')).remove(QLatin1Char(' '));
    if (text.size() % 2 != 0)
        return false;
    QByteArray data;
    for (int i = 0; i < text.size(); i += 2) {
        bool ok = false;
        const uint byte = text.mid(i, 2).toUInt(&ok, 16);
        if (!ok)
            return false;
        data.append(char(byte));
    }
    *out = data;
    return true;
}

bool stringList(const QJsonValue& value, QStringList* out)
{
    if (!value.isArray())
        return false;
    QStringList list;
    for (const QJsonValue& item : value.toArray()) {
        if (!item.isString())
            return false;
        list << item.toString();
    }
    *out = list;
    return true;
}

bool integerIn(const QJsonValue& value, double maximum, quint64* out)
{
    const double d = value.toDouble(-1);
    if (!value.isDouble() || d < 0 || d > maximum || std::floor(d) != d)
        return false;
    *out = quint64(d);
    return true;
}

// One value of a "registry" key object.
bool seedValue(const QJsonValue& json, MachineProfile::SeedValue* out, QString* what)
{
    QStringList list;
    quint64 number = 0;
    if (json.isNull()) {
        out->remove = true;
        return true;
    }
    if (json.isString()) {
        out->type = REG_SZ;
        out->data = stringData(json.toString());
        return true;
    }
    if (json.isDouble()) {
        if (!integerIn(json, 4294967295.0, &number)) {
            *what = QStringLiteral("must be an integer from 0 to 4294967295 (a REG_DWORD)");
            return false;
        }
        out->type = REG_DWORD;
        out->data = littleEndian(number, 4);
        return true;
    }
    if (json.isArray()) {
        if (!stringList(json, &list)) {
            *what = QStringLiteral("must be a list of strings (a REG_MULTI_SZ)");
            return false;
        }
        out->type = REG_MULTI_SZ;
        out->data = multiStringData(list);
        return true;
    }
    if (!json.isObject()) {
        *what = QStringLiteral("must be a string, an integer, a list of strings, an object or null");
        return false;
    }
    const QJsonObject object = json.toObject();
    const QString type = object.value(QStringLiteral("type")).toString().toUpper();
    const QJsonValue value = object.value(QStringLiteral("value"));
    if (type == QLatin1String("REG_SZ") || type == QLatin1String("REG_EXPAND_SZ")) {
        if (!value.isString()) {
            *what = QStringLiteral("\"value\" must be a string");
            return false;
        }
        out->type = type == QLatin1String("REG_SZ") ? REG_SZ : REG_EXPAND_SZ;
        out->data = stringData(value.toString());
    } else if (type == QLatin1String("REG_MULTI_SZ")) {
        if (!stringList(value, &list)) {
            *what = QStringLiteral("\"value\" must be a list of strings");
            return false;
        }
        out->type = REG_MULTI_SZ;
        out->data = multiStringData(list);
    } else if (type == QLatin1String("REG_DWORD") || type == QLatin1String("REG_QWORD")) {
        const bool dword = type == QLatin1String("REG_DWORD");
        if (!integerIn(value, dword ? 4294967295.0 : 9007199254740992.0, &number)) {
            *what = QStringLiteral("\"value\" must be a non-negative integer that fits the type");
            return false;
        }
        out->type = dword ? REG_DWORD : REG_QWORD;
        out->data = littleEndian(number, dword ? 4 : 8);
    } else if (type == QLatin1String("REG_BINARY") || type == QLatin1String("REG_NONE")) {
        if (!value.isString() || !hexBytes(value.toString(), &out->data)) {
            *what = QStringLiteral("\"value\" must be hex bytes such as \"01,ff\"");
            return false;
        }
        out->type = type == QLatin1String("REG_BINARY") ? REG_BINARY : REG_NONE;
    } else {
        *what = QStringLiteral("\"type\" must be one of REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, "
                               "REG_QWORD, REG_BINARY, REG_NONE");
        return false;
    }
    return true;
}

} // namespace

QString MachineProfile::hiveName(const QString& name)
{
    for (const HiveNames& hive : hiveNames) {
        if (name.compare(QLatin1String(hive.full), Qt::CaseInsensitive) == 0
            || name.compare(QLatin1String(hive.shortName), Qt::CaseInsensitive) == 0)
            return QLatin1String(hive.full);
    }
    return QString();
}

QStringList MachineProfile::hives() const
{
    QStringList names;
    for (const HiveNames& hive : hiveNames) {
        if (!isNt() || qstrcmp(hive.full, "HKEY_DYN_DATA") != 0)
            names << QLatin1String(hive.full);
    }
    return names;
}

bool MachineProfile::readRegistry(const QJsonObject& registry, const QString& source, QString* error)
{
    ProfileReader r(source, error);
    QList<SeedKey> removals;
    QList<SeedKey> keys;
    // QJsonObject iterates its keys sorted, so a parent comes before its children.
    for (auto it = registry.begin(); it != registry.end(); ++it) {
        const QString where = QStringLiteral("registry.") + it.key();
        QStringList parts = it.key().split(QLatin1Char('\\'));
        SeedKey key;
        key.hive = hiveName(parts.takeFirst());
        if (key.hive.isEmpty())
            return r.fail(where, QStringLiteral("must begin with a hive such as HKEY_LOCAL_MACHINE or HKLM"));
        for (const QString& part : std::as_const(parts)) {
            if (part.isEmpty())
                return r.fail(where, QStringLiteral("has an empty key name"));
        }
        key.path = parts;
        if (it.value().isNull()) {
            if (parts.isEmpty())
                return r.fail(where, QStringLiteral("is a hive, which cannot be removed"));
            key.remove = true;
            removals << key;
            continue;
        }
        if (!it.value().isObject())
            return r.fail(where, QStringLiteral("must be an object of values or null"));
        const QJsonObject values = it.value().toObject();
        for (auto v = values.begin(); v != values.end(); ++v) {
            if (v.key() == QLatin1String("@access")) {
                const QString access = v.value().toString();
                if (access == QLatin1String("full"))
                    key.access = 0;
                else if (access == QLatin1String("read"))
                    key.access = 1;
                else if (access == QLatin1String("denied"))
                    key.access = 2;
                else
                    return r.fail(where + QStringLiteral(".@access"), QStringLiteral("must be \"full\", \"read\" or \"denied\""));
                continue;
            }
            SeedValue value;
            value.name = v.key() == QLatin1String("@") ? QString() : v.key();
            QString what;
            if (!seedValue(v.value(), &value, &what))
                return r.fail(where + QLatin1Char('.') + v.key(), what);
            key.values << value;
        }
        keys << key;
    }
    m_registrySeed << removals << keys;
    return true;
}

} // namespace winsteps::platform::emulated
