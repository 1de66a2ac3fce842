// MachineJournal::rollback: undoes the changes of one run, newest first, after checking that
// no later change stands in the way.

#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/errortext.h"
#include "platform/emulated/filejournal.h"
#include "platform/emulated/machinejournal.h"
#include "platform/emulated/registrystore.h"

#include <QDateTime>
#include <QHash>
#include <QMap>
#include <QSet>

#include <sqlite3.h>

#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace winsteps::platform::emulated {

namespace {

QString who(qint64 run)
{
    return run > 0 ? QStringLiteral("run %1").arg(run) : QStringLiteral("a change outside any run");
}

QString rowKey(const QString& table, qint64 row)
{
    return table + QLatin1Char('#') + QString::number(row);
}

// The row or file an entry concerns.
QString keyOf(const JournalEntry& entry)
{
    return entry.table == QLatin1String("file") ? QStringLiteral("file:") + entry.path : rowKey(entry.table, entry.row);
}

// Switches the store's journal off while it lives: the rollback's own writes are no changes.
class JournalOff {
public:
    explicit JournalOff(RegistryStore& store) : m_store(store), m_was(store.journaling()) { store.setJournaling(false); }
    ~JournalOff() { m_store.setJournaling(m_was); }
    JournalOff(const JournalOff&) = delete;
    JournalOff& operator=(const JournalOff&) = delete;

private:
    RegistryStore& m_store;
    bool m_was;
};

// The rollback of one run inside the store's write transaction.
class Rollback {
public:
    Rollback(EmulatedMachine& machine, RegistryStore& store, qint64 run)
        : m_store(store), m_db(store.handle()), m_files(machine), m_run(run)
    {
    }

    bool load(QString* error);
    // Empty when nothing stands in the way, else the first change that does.
    QString conflict();
    // *conflict: the store's undo found a later change in the way.
    bool apply(QStringList* undone, QString* error, bool* conflict);

private:
    QString image(const QString& table, const QString& from, const QString& where, qint64 id);
    QString rowImage(const QString& table, qint64 row) { return image(table, table, QStringLiteral("rowid"), row); }
    QString oldImage(const QString& table, qint64 seq)
    {
        return image(table, QStringLiteral("journal_old_") + table, QStringLiteral("seq"), seq);
    }
    const JournalEntry* laterEntry(const JournalEntry& last);
    QString storeConflict(const QList<JournalEntry>& entries);
    QString treeConflict(const JournalEntry& created);
    QString describe(const JournalEntry& entry);
    QString keyPath(qint64 key);
    bool undoRow(const JournalEntry& entry, QString* error);

    RegistryStore& m_store;
    sqlite3* m_db;
    FileJournal m_files;
    qint64 m_run;
    QList<JournalEntry> m_entries; // newest first
    QHash<QString, QList<JournalEntry>> m_later; // later changes of others by keyOf()
    QHash<QString, QStringList> m_columns;
};

bool Rollback::load(QString* error)
{
    JournalQuery query(m_db, QStringLiteral("SELECT %1 FROM journal WHERE run = ?1 AND undone = 0 ORDER BY seq DESC")
                                 .arg(QLatin1String(JournalEntry::columns())),
                       {m_run});
    while (query.next())
        m_entries.append(JournalEntry::fromQuery(query));
    if (!query.ok()) {
        setError(error, query.error());
        return false;
    }
    if (m_entries.isEmpty())
        return true;
    // Every later change of others, by row or file, oldest first.
    JournalQuery later(m_db, QStringLiteral("SELECT %1 FROM journal WHERE seq > ?1 AND undone = 0 AND "
                                            "(run IS NULL OR run != ?2) ORDER BY seq")
                                 .arg(QLatin1String(JournalEntry::columns())),
                       {m_entries.last().seq, m_run});
    while (later.next()) {
        const JournalEntry entry = JournalEntry::fromQuery(later);
        m_later[keyOf(entry)].append(entry);
    }
    if (!later.ok())
        setError(error, later.error());
    return later.ok();
}

QString Rollback::image(const QString& table, const QString& from, const QString& where, qint64 id)
{
    if (!m_columns.contains(table)) {
        QStringList columns;
        JournalQuery query(m_db, QStringLiteral("SELECT name FROM pragma_table_info(?1) ORDER BY cid"), {table});
        while (query.next())
            columns << QLatin1Char('"') + query.text(0) + QLatin1Char('"');
        m_columns.insert(table, columns);
    }
    QStringList parts;
    for (const QString& column : m_columns.value(table))
        parts << QStringLiteral("quote(%1)").arg(column);
    JournalQuery query(m_db, QStringLiteral("SELECT %1 FROM \"%2\" WHERE %3 = ?1")
                                 .arg(parts.join(QLatin1String(" || ',' || ")), from, where),
                       {id});
    return query.next() ? query.text(0) : QString(); // null: no such row
}

// The first change after last to the same row or file that the run did not make and that
// was not undone.
const JournalEntry* Rollback::laterEntry(const JournalEntry& last)
{
    const auto it = m_later.constFind(keyOf(last));
    if (it == m_later.constEnd())
        return nullptr;
    for (const JournalEntry& entry : it.value()) {
        if (entry.seq > last.seq)
            return &entry;
    }
    return nullptr;
}

QString Rollback::conflict()
{
    // The run's entries of each row and file, oldest first.
    QHash<QString, QList<JournalEntry>> touched;
    QSet<QString> runFiles;
    for (auto it = m_entries.crbegin(); it != m_entries.crend(); ++it) {
        touched[keyOf(*it)].append(*it);
        if (it->table == QLatin1String("file"))
            runFiles.insert(it->path);
    }
    // Newest first, as the undo goes: the message names what would be hit first.
    QSet<QString> seen;
    for (const JournalEntry& entry : std::as_const(m_entries)) {
        const bool file = entry.table == QLatin1String("file");
        const QString key = keyOf(entry);
        if (seen.contains(key))
            continue;
        seen.insert(key);
        const QList<JournalEntry>& entries = touched.value(key);
        QString why = file ? m_files.conflict(entries, laterEntry(entries.last()), runFiles) : storeConflict(entries);
        if (why.isEmpty() && !file && entry.table == QLatin1String("keys") && entries.first().op == QLatin1String("insert"))
            why = treeConflict(entries.first());
        if (!why.isEmpty())
            return why;
    }
    return QString();
}

QString Rollback::storeConflict(const QList<JournalEntry>& entries)
{
    const JournalEntry* later = laterEntry(entries.last());
    if (!later)
        return QString();
    const JournalEntry& last = entries.last();
    const QString left = later->op == QLatin1String("insert") ? QString() : oldImage(last.table, later->seq);
    if (rowImage(last.table, last.row) == left)
        return QString();
    return describe(*later).section(QLatin1Char(' '), 1) + QStringLiteral(" was changed later by ") + who(later->run);
}

// A key the run made must hold nothing but what the run put in it.
QString Rollback::treeConflict(const JournalEntry& created)
{
    QSet<QString> made;
    for (const JournalEntry& entry : std::as_const(m_entries)) {
        if (entry.op == QLatin1String("insert"))
            made.insert(rowKey(entry.table, entry.row));
    }
    for (const char* table : {"keys", "regvalues"}) {
        JournalQuery query(m_db, QStringLiteral("SELECT rowid FROM %1 WHERE %2 = ?1")
                                     .arg(QLatin1String(table), QLatin1String(qstrcmp(table, "keys") ? "key" : "parent")),
                           {created.row});
        while (query.next()) {
            const qint64 row = query.number(0);
            if (made.contains(rowKey(QLatin1String(table), row)))
                continue;
            JournalQuery by(m_db, QStringLiteral("SELECT run FROM journal WHERE tbl = ?1 AND rid = ?2 AND op = 'insert' "
                                                 "ORDER BY seq DESC LIMIT 1"),
                            {QLatin1String(table), row});
            const qint64 run = by.next() ? by.number(0) : 0;
            JournalEntry added;
            added.table = QLatin1String(table);
            added.op = QStringLiteral("insert");
            added.row = row;
            return QStringLiteral("registry key %1 holds %2, added later by %3")
                .arg(keyPath(created.row), describe(added).section(QLatin1Char(' '), 3), who(run));
        }
    }
    return QString();
}

QString Rollback::keyPath(qint64 key)
{
    const QString path = m_store.path(key);
    return path.isEmpty() ? QStringLiteral("(key %1)").arg(key) : path;
}

// "removed registry value HKEY_...\Key\Name", "restored file C:\...", ...: what undoing the
// entry does, from the row as it is now (an insert) or as it was (an update or a delete).
QString Rollback::describe(const JournalEntry& entry)
{
    if (entry.table == QLatin1String("file")) {
        const QString what = entry.before == QLatin1String("absent") ? QStringLiteral("removed")
                                                                    : QStringLiteral("restored");
        const QString kind = entry.before == QLatin1String("dir") || entry.op == QLatin1String("mkdir")
                                 ? QStringLiteral("folder") : QStringLiteral("file");
        return QStringLiteral("%1 %2 %3").arg(what, kind, m_files.windowsPath(entry.path));
    }
    const bool inserted = entry.op == QLatin1String("insert");
    const QString verb = inserted ? QStringLiteral("removed") : QStringLiteral("restored");
    const QString from = inserted ? entry.table : QStringLiteral("journal_old_") + entry.table;
    const qint64 id = inserted ? entry.row : entry.seq;
    const QString where = inserted ? QStringLiteral("rowid") : QStringLiteral("seq");
    QString what;
    if (entry.table == QLatin1String("keys")) {
        JournalQuery q(m_db, QStringLiteral("SELECT parent, name FROM \"%1\" WHERE %2 = ?1").arg(from, where), {id});
        if (q.next())
            what = QStringLiteral("registry key ")
                + (q.number(0) ? keyPath(q.number(0)) + QLatin1Char('\\') + q.text(1) : q.text(1));
    } else if (entry.table == QLatin1String("regvalues")) {
        JournalQuery q(m_db, QStringLiteral("SELECT key, name FROM \"%1\" WHERE %2 = ?1").arg(from, where), {id});
        if (q.next())
            what = QStringLiteral("registry value %1\\%2")
                       .arg(keyPath(q.number(0)), q.text(1).isEmpty() ? QStringLiteral("(Default)") : q.text(1));
    } else if (entry.table == QLatin1String("meta")) {
        JournalQuery q(m_db, QStringLiteral("SELECT name FROM \"%1\" WHERE %2 = ?1").arg(from, where), {id});
        if (q.next())
            what = QStringLiteral("machine record ") + q.text(0);
    }
    if (what.isEmpty())
        what = QStringLiteral("%1 row %2").arg(entry.table).arg(entry.row);
    return verb + QLatin1Char(' ') + what;
}

bool Rollback::undoRow(const JournalEntry& entry, QString* error)
{
    const QString table = QLatin1Char('"') + entry.table + QLatin1Char('"');
    JournalQuery remove(m_db, QStringLiteral("DELETE FROM %1 WHERE rowid = ?1").arg(table), {entry.row});
    if (!remove.run()) {
        setError(error, remove.error());
        return false;
    }
    if (entry.op == QLatin1String("insert"))
        return true;
    // A plain insert: when a later change made a row of the same name (a key or value made
    // again), it fails rather than replace that row.
    image(entry.table, entry.table, QStringLiteral("rowid"), 0); // fills the column list
    const QString columns = m_columns.value(entry.table).join(QLatin1String(", "));
    JournalQuery restore(m_db, QStringLiteral("INSERT INTO %1(rowid, %2) SELECT ?1, %2 FROM \"journal_old_%3\" WHERE seq = ?2")
                                   .arg(table, columns, entry.table),
                         {entry.row, entry.seq});
    if (!restore.run())
        setError(error, describe(entry).section(QLatin1Char(' '), 1) + QStringLiteral(" was made again later"));
    return restore.ok();
}

// The store's undos first, newest first, inside the transaction: a refusal there leaves the
// files untouched. Then the files, newest first.
bool Rollback::apply(QStringList* undone, QString* error, bool* conflict)
{
    QMap<qint64, QString> lines;
    for (const bool files : {false, true}) {
        for (const JournalEntry& entry : std::as_const(m_entries)) {
            if ((entry.table == QLatin1String("file")) != files)
                continue;
            const QString line = QStringLiteral("#%1 %2").arg(entry.seq).arg(describe(entry));
            if (files ? !m_files.undo(entry, error) : !undoRow(entry, error)) {
                *conflict = !files;
                return false;
            }
            lines.insert(entry.seq, line);
        }
    }
    const QList<QString> texts = lines.values(); // oldest first
    for (auto it = texts.crbegin(); it != texts.crend(); ++it)
        undone->append(*it);
    JournalQuery mark(m_db, QStringLiteral("UPDATE journal SET undone = 1 WHERE run = ?1"), {m_run});
    JournalQuery ended(m_db, QStringLiteral("UPDATE runs SET rolledback = ?2 WHERE id = ?1"),
                       {m_run, QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)});
    if (!mark.run() || !ended.run()) {
        setError(error, mark.ok() ? ended.error() : mark.error());
        return false;
    }
    return true;
}

} // namespace

bool MachineJournal::rollback(qint64 run, QStringList* undone, QString* error)
{
    std::lock_guard<std::mutex> lock(m_machine.storeMutex());
    RegistryStore& store = m_machine.store();
    StoreTransaction transaction(store, true, error);
    if (!transaction.ok())
        return false;
    {
        JournalQuery known(store.handle(), QStringLiteral("SELECT rolledback, ended, pid FROM runs WHERE id = ?1"), {run});
        if (!known.next()) {
            setError(error, QStringLiteral("there is no run %1").arg(run));
            return false;
        }
        if (!known.text(0).isEmpty()) {
            setError(error, QStringLiteral("run %1 was rolled back already (%2)").arg(run).arg(known.text(0)));
            return false;
        }
        // A run without an end was killed, or still goes on: then its process is there.
        const qint64 pid = known.number(2);
        if (known.text(1).isEmpty() && pid > 0 && pid != ::getpid() && (::kill(pid_t(pid), 0) == 0 || errno == EPERM)) {
            setError(error, QStringLiteral("run %1 is still going on (process %2)").arg(run).arg(pid));
            return false;
        }
    }
    const JournalOff off(store);
    Rollback rollback(m_machine, store, run);
    if (!rollback.load(error))
        return false;
    if (const QString why = rollback.conflict(); !why.isEmpty()) {
        setError(error, QStringLiteral("cannot undo run %1: %2").arg(run).arg(why));
        return false;
    }
    QStringList lines;
    bool conflict = false;
    if (!rollback.apply(&lines, error, &conflict)) {
        if (conflict && error)
            *error = QStringLiteral("cannot undo run %1: %2").arg(run).arg(*error);
        return false;
    }
    if (transaction.finish(ERROR_SUCCESS, error) != ERROR_SUCCESS)
        return false;
    if (undone)
        *undone = lines;
    return true;
}

} // namespace winsteps::platform::emulated
