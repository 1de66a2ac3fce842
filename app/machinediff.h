#pragma once

// The differences between two emulated machines: their registries (as export-reg prints
// them), the files and folders of drive C: (by size and content hash) and the views a user
// thinks in, taken from the records of `machine show --json` and compared by key (services,
// firewall entries, connections and port mappings, devices, drives, driver packages, pending
// file operations, start-up entries, installed programs). What changes without any change of
// the machine (its folder's name, process ids, the record of the last restart) is left out.

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

namespace winsteps::host::machine {

// One difference: sign '+' (only in the second machine), '-' (only in the first) or '~' (in
// both, different; field names what differs in a record).
struct Change {
    QChar sign;
    QString kind; // "key", "value", "folder", "file", "link", "service", "firewall", ...
    QString id;   // what it concerns: a key, a Windows path, a service's name, ...
    QString field;
    QString oldText;
    QString newText;
    QJsonValue oldValue;
    QJsonValue newValue;
};

// Everything of a machine that a difference looks at.
struct MachineState {
    QMap<QString, QMap<QString, QString>> registry; // key -> value ("@" or "\"name\"") -> data text
    struct Entry {
        char type = 'f'; // 'f' file, 'd' folder, 'l' link
        qint64 size = 0;
        QByteArray hash; // SHA-256 in hex of a file, the target of a link
        bool operator==(const Entry& other) const
        {
            return type == other.type && size == other.size && hash == other.hash;
        }
    };
    QMap<QByteArray, Entry> files; // drive C:, by path below it ("a/b")
    QJsonObject view;              // machine show's JSON
};

// The state of the machine in folder; false + error when it holds none or cannot be read.
bool captureState(const QString& folder, MachineState* state, QString* error);
// What differs from `from` to `to`, sorted by kind and what it concerns.
QList<Change> diffStates(const MachineState& from, const MachineState& to);
// One line per change: "+ service Demo (stopped, demand start)", "~ value KEY "v"=a -> b".
QString changesText(const QList<Change>& changes);
// {"equal": bool, "changes": [{"change": "added"|"removed"|"changed", "kind", "id", "field",
// "old", "new"}]}
QJsonObject changesJson(const QList<Change>& changes);

} // namespace winsteps::host::machine
