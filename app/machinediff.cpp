// The differences between two machines (machinediff.h) and `winsteps machine diff`.

#include "machineactions.h"
#include "machinediff.h"
#include "platform/emulated/regfile.h"
#include "subcommand.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace winsteps::host::machine {

namespace {

using platform::emulated::EmulatedMachine;

// --- capturing ---------------------------------------------------------------------------------

// export-reg's text as key -> value -> data; hex data wrapped over lines is joined.
void parseRegistry(const QString& text, QMap<QString, QMap<QString, QString>>* registry)
{
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    QString key;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString line = lines.at(i);
        if (line.startsWith(QLatin1Char('['))) {
            key = line.mid(1, line.size() - 2);
            (*registry)[key];
            continue;
        }
        while (line.endsWith(QLatin1String(",\\")) && i + 1 < lines.size()) {
            line.chop(1);
            line += lines.at(++i).trimmed();
        }
        qsizetype equals = -1;
        if (line.startsWith(QLatin1Char('@'))) {
            equals = 1;
        } else if (line.startsWith(QLatin1Char('"'))) {
            qsizetype at = 1;
            while (at < line.size() && line.at(at) != QLatin1Char('"'))
                at += line.at(at) == QLatin1Char('\\') ? 2 : 1;
            equals = at + 1;
        }
        if (key.isEmpty() || equals < 0 || equals >= line.size() || line.at(equals) != QLatin1Char('='))
            continue;
        (*registry)[key].insert(line.left(equals), line.mid(equals + 1));
    }
}

// Opened by its bytes: a name that is no valid UTF-8 does not survive a trip through QString.
QByteArray fileHash(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return QByteArrayLiteral("unreadable");
    QCryptographicHash hash(QCryptographicHash::Sha256);
    char buffer[1 << 16];
    ssize_t got = 0;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR))
        hash.addData(QByteArrayView(buffer, std::max<ssize_t>(got, 0)));
    ::close(fd);
    return got < 0 ? QByteArrayLiteral("unreadable") : hash.result().toHex();
}

// Every entry below root/relative, by its path below root; symbolic links are not followed.
void captureFiles(const std::string& root, const std::string& relative, QMap<QByteArray, MachineState::Entry>* files)
{
    DIR* dir = ::opendir((relative.empty() ? root : root + '/' + relative).c_str());
    if (!dir)
        return;
    while (const dirent* item = ::readdir(dir)) {
        if (std::strcmp(item->d_name, ".") == 0 || std::strcmp(item->d_name, "..") == 0)
            continue;
        const std::string path = relative.empty() ? std::string(item->d_name) : relative + '/' + item->d_name;
        const std::string full = root + '/' + path;
        struct stat st;
        if (::lstat(full.c_str(), &st) != 0)
            continue;
        MachineState::Entry entry;
        if (S_ISDIR(st.st_mode)) {
            entry.type = 'd';
        } else if (S_ISLNK(st.st_mode)) {
            entry.type = 'l';
            char target[4096];
            const ssize_t length = ::readlink(full.c_str(), target, sizeof target);
            entry.hash = QByteArray(target, int(std::max<ssize_t>(length, 0)));
        } else if (S_ISREG(st.st_mode)) {
            entry.size = st.st_size;
            entry.hash = fileHash(full);
        } else {
            continue;
        }
        files->insert(QByteArray::fromStdString(path), entry);
        if (entry.type == 'd')
            captureFiles(root, path, files);
    }
    ::closedir(dir);
}

// --- the views ---------------------------------------------------------------------------------

struct Record {
    QString kind;
    QString id;
    QString summary;
    QJsonObject fields;
};

QString str(const QJsonObject& o, const char* name)
{
    return o.value(QLatin1String(name)).toString();
}

QString startWord(const QString& startType)
{
    if (startType == QLatin1String("manual"))
        return QStringLiteral("demand start");
    return startType == QLatin1String("disabled") ? startType : startType + QStringLiteral(" start");
}

QString enabledWord(const QJsonObject& o)
{
    return o.value(QStringLiteral("enabled")).toBool() ? QStringLiteral("enabled") : QStringLiteral("disabled");
}

QString valueText(const QJsonValue& value)
{
    if (value.isString())
        return value.toString().isEmpty() ? QStringLiteral("\"\"") : value.toString();
    if (value.isArray())
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    if (value.isObject())
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    if (value.isBool())
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    if (!value.isDouble())
        return QStringLiteral("none");
    const double number = value.toDouble();
    return number == double(qint64(number)) ? QString::number(qint64(number)) : QString::number(number, 'g', 17);
}

// The records of machine show's JSON that a user thinks in, each with its key.
QList<Record> records(const QJsonObject& view)
{
    QList<Record> list;
    const auto each = [&view](const char* member, const std::function<void(const QJsonObject&)>& take) {
        for (const QJsonValue& value : view.value(QLatin1String(member)).toArray())
            take(value.toObject());
    };
    each("programs", [&](const QJsonObject& o) { list.append({QStringLiteral("program"), str(o, "key"), str(o, "displayName"), o}); });
    each("services", [&](const QJsonObject& o) {
        list.append({QStringLiteral("service"), str(o, "name"),
                     str(o, "status") + QStringLiteral(", ") + startWord(str(o, "startType"))
                         + (o.value(QStringLiteral("markedForDeletion")).toBool() ? QStringLiteral(", marked for deletion") : QString()),
                     o});
    });
    each("startup", [&](const QJsonObject& o) {
        list.append({str(o, "kind"), str(o, "key") + QStringLiteral(" \"") + str(o, "name") + QLatin1Char('"'), str(o, "command"), o});
    });
    each("pendingRemovals", [&](const QJsonObject& o) {
        const QString id = str(o, "operation") == QLatin1String("remove")
            ? QStringLiteral("remove ") + str(o, "source")
            : QStringLiteral("rename %1 -> %2%3").arg(str(o, "source"), str(o, "target"),
                                                     o.value(QStringLiteral("replace")).toBool() ? QStringLiteral(" (replacing it)") : QString());
        list.append({QStringLiteral("pending"), id, QString(), o});
    });
    const QJsonObject firewall = view.value(QStringLiteral("firewall")).toObject();
    for (const QJsonValue& value : firewall.value(QStringLiteral("authorizedApplications")).toArray()) {
        const QJsonObject o = value.toObject();
        list.append({QStringLiteral("firewall"), str(o, "path"), str(o, "name") + QStringLiteral(", ") + enabledWord(o), o});
    }
    each("connections", [&](const QJsonObject& c) {
        QJsonObject fields = c;
        fields.remove(QStringLiteral("mappings"));
        list.append({QStringLiteral("connection"), str(c, "guid"),
                     QStringLiteral("%1, %2, %3").arg(str(c, "name"), str(c, "type"), str(c, "status")), fields});
        for (const QJsonValue& value : c.value(QStringLiteral("mappings")).toArray()) {
            const QJsonObject m = value.toObject();
            list.append({QStringLiteral("port mapping"),
                         QStringLiteral("%1 %2/%3").arg(str(c, "guid"), str(m, "protocol")).arg(m.value(QStringLiteral("externalPort")).toInt()),
                         QStringLiteral("%1 -> %2:%3, %4").arg(str(m, "name"), str(m, "target")).arg(m.value(QStringLiteral("internalPort")).toInt()).arg(enabledWord(m)),
                         m});
        }
    });
    each("devices", [&](const QJsonObject& o) {
        list.append({QStringLiteral("device"), str(o, "instanceId"),
                     str(o, "driver").isEmpty() ? QStringLiteral("no driver") : QStringLiteral("driver ") + str(o, "driver"), o});
    });
    each("drives", [&](const QJsonObject& o) { list.append({QStringLiteral("drive"), str(o, "root"), str(o, "type"), o}); });
    each("driverPackages", [&](const QJsonObject& o) {
        list.append({QStringLiteral("driver package"), str(o, "name"), str(o, "provider"), o});
    });
    // What the machine is as a whole; its folder's name and the restart log are left out.
    QJsonObject machine = view.value(QStringLiteral("system")).toObject();
    for (const char* name : {"profile", "installerVersion"})
        machine.insert(QLatin1String(name), view.value(QLatin1String(name)));
    machine.insert(QStringLiteral("restarts"), view.value(QStringLiteral("restarts")).toObject().value(QStringLiteral("count")));
    machine.insert(QStringLiteral("firewallEnabled"), firewall.value(QStringLiteral("enabled")));
    list.append({QStringLiteral("machine"), QString(), QString(), machine});
    return list;
}

// --- comparing ---------------------------------------------------------------------------------

const QStringList KindOrder = {QStringLiteral("key"),        QStringLiteral("value"),      QStringLiteral("folder"),
                               QStringLiteral("file"),       QStringLiteral("link"),       QStringLiteral("program"),
                               QStringLiteral("service"),    QStringLiteral("Run"),        QStringLiteral("RunOnce"),
                               QStringLiteral("pending"),    QStringLiteral("firewall"),   QStringLiteral("connection"),
                               QStringLiteral("port mapping"), QStringLiteral("device"),   QStringLiteral("drive"),
                               QStringLiteral("driver package"), QStringLiteral("machine")};

// Compares two maps by key: added, removed, and (through changed) what both hold.
template <typename Map, typename Added, typename Removed, typename Changed>
void compare(const Map& from, const Map& to, Added added, Removed removed, Changed changed)
{
    for (auto it = from.cbegin(); it != from.cend(); ++it) {
        const auto other = to.constFind(it.key());
        if (other == to.cend())
            removed(it.key(), it.value());
        else if (!(other.value() == it.value()))
            changed(it.key(), it.value(), other.value());
    }
    for (auto it = to.cbegin(); it != to.cend(); ++it) {
        if (!from.contains(it.key()))
            added(it.key(), it.value());
    }
}

QJsonValue registryJson(const QString& data)
{
    const QString type = data.startsWith(QLatin1Char('"')) ? QStringLiteral("string") : data.left(data.indexOf(QLatin1Char(':')));
    return QJsonObject{{QStringLiteral("type"), type}, {QStringLiteral("data"), data}};
}

void diffRegistry(const MachineState& from, const MachineState& to, QList<Change>* changes)
{
    using Values = QMap<QString, QString>;
    const auto valueChange = [changes](QChar sign, const QString& key, const QString& name, const QString& before, const QString& after) {
        changes->append({sign, QStringLiteral("value"), key + QLatin1Char(' ') + name, QString(), before, after,
                         before.isNull() ? QJsonValue() : registryJson(before), after.isNull() ? QJsonValue() : registryJson(after)});
    };
    const auto keyChange = [&](QChar sign, const QString& key, const Values& values) {
        const QJsonValue present = QJsonObject{{QStringLiteral("values"), values.size()}};
        changes->append({sign, QStringLiteral("key"), key, {}, {}, {}, sign == QLatin1Char('-') ? present : QJsonValue(),
                         sign == QLatin1Char('+') ? present : QJsonValue()});
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            valueChange(sign, key, it.key(), sign == QLatin1Char('-') ? it.value() : QString(), sign == QLatin1Char('+') ? it.value() : QString());
    };
    compare(from.registry, to.registry, [&](const QString& key, const Values& values) { keyChange(QLatin1Char('+'), key, values); },
            [&](const QString& key, const Values& values) { keyChange(QLatin1Char('-'), key, values); },
            [&](const QString& key, const Values& before, const Values& after) {
                compare(before, after, [&](const QString& name, const QString& data) { valueChange(QLatin1Char('+'), key, name, QString(), data); },
                        [&](const QString& name, const QString& data) { valueChange(QLatin1Char('-'), key, name, data, QString()); },
                        [&](const QString& name, const QString& a, const QString& b) { valueChange(QLatin1Char('~'), key, name, a, b); });
            });
}

void diffFiles(const MachineState& from, const MachineState& to, QList<Change>* changes)
{
    using Entry = MachineState::Entry;
    const auto kind = [](const Entry& e) {
        return e.type == 'd' ? QStringLiteral("folder") : e.type == 'l' ? QStringLiteral("link") : QStringLiteral("file");
    };
    const auto text = [](const Entry& e) -> QString {
        if (e.type == 'd')
            return QString();
        if (e.type == 'l')
            return QStringLiteral("-> ") + QFile::decodeName(e.hash);
        return QStringLiteral("(%1 bytes, sha256 %2)").arg(e.size).arg(QString::fromLatin1(e.hash.left(12)));
    };
    const auto json = [](const Entry& e) {
        QJsonObject o{{QStringLiteral("type"), e.type == 'd' ? QStringLiteral("folder") : e.type == 'l' ? QStringLiteral("link") : QStringLiteral("file")}};
        if (e.type == 'f') {
            o.insert(QStringLiteral("size"), double(e.size));
            o.insert(QStringLiteral("sha256"), QString::fromLatin1(e.hash));
        } else if (e.type == 'l') {
            o.insert(QStringLiteral("target"), QFile::decodeName(e.hash));
        }
        return o;
    };
    const auto path = [](const QByteArray& p) -> QString { return QStringLiteral("C:\\") + QFile::decodeName(p).replace(QLatin1Char('/'), QLatin1Char('\\')); };
    const auto one = [&](QChar sign, const QByteArray& p, const Entry& e) {
        const bool added = sign == QLatin1Char('+');
        changes->append({sign, kind(e), path(p), QString(), added ? QString() : text(e), added ? text(e) : QString(),
                         added ? QJsonValue() : QJsonValue(json(e)), added ? QJsonValue(json(e)) : QJsonValue()});
    };
    compare(from.files, to.files, [&](const QByteArray& p, const Entry& e) { one(QLatin1Char('+'), p, e); },
            [&](const QByteArray& p, const Entry& e) { one(QLatin1Char('-'), p, e); },
            [&](const QByteArray& p, const Entry& a, const Entry& b) {
                if (a.type != b.type) {
                    one(QLatin1Char('-'), p, a);
                    one(QLatin1Char('+'), p, b);
                } else {
                    changes->append({QLatin1Char('~'), kind(a), path(p), QString(), text(a), text(b), json(a), json(b)});
                }
            });
}

void diffViews(const MachineState& from, const MachineState& to, QList<Change>* changes)
{
    // Keyed by kind and id; a repeated id (the same pending operation twice) is numbered.
    const auto keyed = [](const QJsonObject& view) {
        QMap<QPair<QString, QString>, Record> map;
        for (Record record : records(view)) {
            const QString base = record.id;
            for (int n = 2; map.contains({record.kind, record.id}); ++n)
                record.id = QStringLiteral("%1 (%2)").arg(base).arg(n);
            map.insert({record.kind, record.id}, record);
        }
        return map;
    };
    using Key = QPair<QString, QString>;
    const auto whole = [changes](QChar sign, const Record& r) {
        const QString text = r.summary.isEmpty() ? QString() : QLatin1Char('(') + r.summary + QLatin1Char(')');
        const bool added = sign == QLatin1Char('+');
        changes->append({sign, r.kind, r.id, QString(), added ? QString() : text, added ? text : QString(),
                         added ? QJsonValue() : QJsonValue(r.fields), added ? QJsonValue(r.fields) : QJsonValue()});
    };
    const QMap<Key, Record> before = keyed(from.view);
    const QMap<Key, Record> after = keyed(to.view);
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        const auto other = after.constFind(it.key());
        if (other == after.cend()) {
            whole(QLatin1Char('-'), it.value());
            continue;
        }
        const QJsonObject& a = it.value().fields;
        const QJsonObject& b = other.value().fields;
        QStringList names = a.keys() + b.keys();
        names.removeDuplicates();
        names.sort();
        for (const QString& name : std::as_const(names)) {
            if (a.value(name) != b.value(name))
                changes->append({QLatin1Char('~'), it.value().kind, it.value().id, name, valueText(a.value(name)),
                                 valueText(b.value(name)), a.value(name), b.value(name)});
        }
    }
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        if (!before.contains(it.key()))
            whole(QLatin1Char('+'), it.value());
    }
}

} // namespace

bool captureState(const QString& folder, MachineState* state, QString* error)
{
    std::unique_ptr<EmulatedMachine> machine = EmulatedMachine::openExisting(folder, error);
    if (!machine)
        return false;
    machine->setSystemAccess(true);
    std::string text;
    std::string exportError;
    if (!platform::exportRegistry(machine->registry(), std::string(), &text, nullptr, &exportError)) {
        *error = QString::fromStdString(exportError);
        return false;
    }
    parseRegistry(QString::fromUtf8(text), &state->registry);
    captureFiles(QFile::encodeName(machine->driveC()).toStdString(), std::string(), &state->files);
    state->view = json(*machine);
    return true;
}

QList<Change> diffStates(const MachineState& from, const MachineState& to)
{
    QList<Change> changes;
    diffRegistry(from, to, &changes);
    diffFiles(from, to, &changes);
    diffViews(from, to, &changes);
    std::stable_sort(changes.begin(), changes.end(), [](const Change& a, const Change& b) {
        const qsizetype ka = KindOrder.indexOf(a.kind);
        const qsizetype kb = KindOrder.indexOf(b.kind);
        if (ka != kb)
            return ka < kb;
        if (a.id != b.id)
            return a.id < b.id;
        return a.field < b.field;
    });
    return changes;
}

QString changesText(const QList<Change>& changes)
{
    QString text;
    for (const Change& c : changes) {
        text += c.sign + QLatin1Char(' ') + c.kind;
        if (!c.id.isEmpty())
            text += QLatin1Char(' ') + c.id;
        const QString body = c.sign == QLatin1Char('+') ? c.newText
            : c.sign == QLatin1Char('-')               ? c.oldText
                                                        : QString(c.oldText + QStringLiteral(" -> ") + c.newText);
        if (!c.field.isEmpty())
            text += QStringLiteral(": ") + c.field + QLatin1Char(' ') + body;
        else if (!body.isEmpty())
            text += (c.kind == QLatin1String("value") ? QStringLiteral("=") : QStringLiteral(" ")) + body;
        text += QLatin1Char('\n');
    }
    return text;
}

QJsonObject changesJson(const QList<Change>& changes)
{
    QJsonArray list;
    for (const Change& c : changes) {
        QJsonObject o{{QStringLiteral("change"), c.sign == QLatin1Char('+') ? QStringLiteral("added")
                                                 : c.sign == QLatin1Char('-') ? QStringLiteral("removed")
                                                                              : QStringLiteral("changed")},
                      {QStringLiteral("kind"), c.kind},
                      {QStringLiteral("id"), c.id},
                      {QStringLiteral("old"), c.oldValue},
                      {QStringLiteral("new"), c.newValue}};
        if (!c.field.isEmpty())
            o.insert(QStringLiteral("field"), c.field);
        list.append(o);
    }
    return QJsonObject{{QStringLiteral("equal"), changes.isEmpty()}, {QStringLiteral("changes"), list}};
}

} // namespace winsteps::host::machine
