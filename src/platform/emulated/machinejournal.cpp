// The machine's journal: its tables and triggers in the store, the runs, and the rollback of a
// run (see MachineJournal).

#include "platform/emulated/machinejournal.h"

#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/errortext.h"
#include "platform/emulated/filejournal.h"
#include "platform/emulated/registrystore.h"

#include <QCoreApplication>
#include <QDateTime>

#include <sqlite3.h>

namespace winsteps::platform::emulated {

namespace {

const char* const journalSchema[] = {
    "CREATE TABLE IF NOT EXISTS runs(id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT NOT NULL, started TEXT NOT NULL, "
    "ended TEXT, outcome TEXT, pid INTEGER, rolledback TEXT)",
    // tbl "file": a file below drive_c (path, states before and after, kept old content).
    // Kept lean, as every change to the store writes it: seq is the row id (no sequence table
    // to update) and there is no index to keep up; a rollback reads the journal from the
    // run's first entry on, in one pass.
    "CREATE TABLE IF NOT EXISTS journal(seq INTEGER PRIMARY KEY, run INTEGER, tbl TEXT NOT NULL, "
    "op TEXT NOT NULL, rid INTEGER, path TEXT, before TEXT, copy TEXT, after TEXT, undone INTEGER NOT NULL DEFAULT 0)",
};

QString now()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
}

QString quoted(const QString& name)
{
    return QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
}

bool exec(sqlite3* db, const QString& sql, QString* error)
{
    char* message = nullptr;
    if (sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    setError(error, QStringLiteral("journal: ") + QString::fromUtf8(message ? message : "error"));
    sqlite3_free(message);
    return false;
}

// The data tables: every table but the journal's own and SQLite's.
QStringList dataTables(sqlite3* db)
{
    QStringList tables;
    JournalQuery query(db, QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT IN "
                                          "('runs', 'journal') AND name NOT LIKE 'journal_old_%' AND name NOT LIKE "
                                          "'sqlite_%' ORDER BY name"));
    while (query.next())
        tables << query.text(0);
    return tables;
}

QStringList columnsOf(sqlite3* db, const QString& table)
{
    QStringList columns;
    JournalQuery query(db, QStringLiteral("SELECT name FROM pragma_table_info(?1) ORDER BY cid"), {table});
    while (query.next())
        columns << query.text(0);
    return columns;
}

// The shadow table of table's old rows (with the columns it has gained since), and the
// connection's triggers that fill the journal.
bool journalTable(sqlite3* db, const QString& table, QString* error)
{
    const QStringList columns = columnsOf(db, table);
    const QString shadow = quoted(QStringLiteral("journal_old_") + table);
    if (!exec(db, QStringLiteral("CREATE TABLE IF NOT EXISTS %1(seq INTEGER PRIMARY KEY)").arg(shadow), error))
        return false;
    const QStringList have = columnsOf(db, QStringLiteral("journal_old_") + table);
    QStringList quotedColumns, olds, changed;
    for (const QString& column : columns) {
        if (!have.contains(column)
            && !exec(db, QStringLiteral("ALTER TABLE %1 ADD COLUMN %2").arg(shadow, quoted(column)), error))
            return false;
        quotedColumns << quoted(column);
        olds << QStringLiteral("OLD.") + quoted(column);
        changed << QStringLiteral("OLD.%1 IS NOT NEW.%1").arg(quoted(column));
    }
    const QString name = quoted(table);
    const QString literal = QLatin1Char('\'') + QString(table).replace(QLatin1Char('\''), QLatin1String("''")) + QLatin1Char('\'');
    const QString entry = QStringLiteral("INSERT INTO journal(run, tbl, op, rid) VALUES(journal_run(), %1, '%2', %3);");
    const QString image = QStringLiteral("INSERT INTO %1(seq, %2) VALUES(last_insert_rowid(), %3);")
                              .arg(shadow, quotedColumns.join(QLatin1String(", ")), olds.join(QLatin1String(", ")));
    const QString trigger = QStringLiteral("CREATE TEMP TRIGGER %1 AFTER %2 ON main.%3 WHEN journal_on()%4 BEGIN %5 END");
    const auto triggerName = [&](const char* op) { return quoted(QStringLiteral("journal_%1_%2").arg(table, QLatin1String(op))); };
    for (const char* op : {"insert", "update", "delete"}) {
        if (!exec(db, QStringLiteral("DROP TRIGGER IF EXISTS temp.") + triggerName(op), error))
            return false;
    }
    // An update that changes nothing is no change.
    return exec(db, trigger.arg(triggerName("insert"), QStringLiteral("INSERT"), name, QString(),
                                entry.arg(literal, QStringLiteral("insert"), QStringLiteral("NEW.rowid"))), error)
        && exec(db, trigger.arg(triggerName("update"), QStringLiteral("UPDATE"), name,
                                QStringLiteral(" AND (") + changed.join(QLatin1String(" OR ")) + QLatin1Char(')'),
                                entry.arg(literal, QStringLiteral("update"), QStringLiteral("OLD.rowid")) + image), error)
        && exec(db, trigger.arg(triggerName("delete"), QStringLiteral("DELETE"), name, QString(),
                                entry.arg(literal, QStringLiteral("delete"), QStringLiteral("OLD.rowid")) + image), error);
}

void journalOn(sqlite3_context* context, int, sqlite3_value**)
{
    sqlite3_result_int(context, static_cast<RegistryStore*>(sqlite3_user_data(context))->journaling() ? 1 : 0);
}

void journalRun(sqlite3_context* context, int, sqlite3_value**)
{
    const qint64 run = static_cast<RegistryStore*>(sqlite3_user_data(context))->run();
    if (run > 0)
        sqlite3_result_int64(context, run);
    else
        sqlite3_result_null(context);
}

} // namespace

void registerJournalFunctions(RegistryStore& store)
{
    sqlite3_create_function_v2(store.handle(), "journal_on", 0, SQLITE_UTF8, &store, journalOn, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(store.handle(), "journal_run", 0, SQLITE_UTF8, &store, journalRun, nullptr, nullptr, nullptr);
}

bool prepareJournal(RegistryStore& store, QString* error)
{
    sqlite3* db = store.handle();
    for (const char* sql : journalSchema) {
        if (!exec(db, QString::fromUtf8(sql), error))
            return false;
    }
    for (const QString& table : dataTables(db)) {
        if (!journalTable(db, table, error))
            return false;
    }
    return true;
}

MachineJournal::MachineJournal(EmulatedMachine& machine)
    : m_machine(machine)
{
}

qint64 MachineJournal::beginRun(const QString& name, QString* error)
{
    std::lock_guard<std::mutex> lock(m_machine.storeMutex());
    RegistryStore& store = m_machine.store();
    StoreTransaction transaction(store, true, error);
    if (!transaction.ok())
        return 0;
    JournalQuery insert(store.handle(), QStringLiteral("INSERT INTO runs(name, started, pid) VALUES(?1, ?2, ?3)"),
                        {name, now(), qint64(QCoreApplication::applicationPid())});
    if (!insert.run()) {
        setError(error, insert.error());
        return 0;
    }
    const qint64 run = sqlite3_last_insert_rowid(store.handle());
    if (transaction.finish(ERROR_SUCCESS, error) != ERROR_SUCCESS)
        return 0;
    store.setRun(run);
    qputenv(runVariable, QByteArray::number(run));
    return run;
}

bool MachineJournal::endRun(qint64 run, const QString& outcome, QString* error)
{
    std::lock_guard<std::mutex> lock(m_machine.storeMutex());
    RegistryStore& store = m_machine.store();
    store.setRun(0);
    qunsetenv(runVariable);
    StoreTransaction transaction(store, true, error);
    if (!transaction.ok())
        return false;
    JournalQuery update(store.handle(), QStringLiteral("UPDATE runs SET ended = ?2, outcome = ?3 WHERE id = ?1"),
                        {run, now(), outcome});
    if (!update.run()) {
        setError(error, update.error());
        return false;
    }
    return transaction.finish(ERROR_SUCCESS, error) == ERROR_SUCCESS;
}

void MachineJournal::setJournaling(bool on)
{
    std::lock_guard<std::mutex> lock(m_machine.storeMutex());
    m_machine.store().setJournaling(on);
}

QList<MachineJournal::Run> MachineJournal::runs(QString* error)
{
    std::lock_guard<std::mutex> lock(m_machine.storeMutex());
    RegistryStore& store = m_machine.store();
    QList<Run> result;
    StoreTransaction transaction(store, false, error);
    if (!transaction.ok())
        return result;
    JournalQuery query(store.handle(),
                       QStringLiteral("WITH counts(run, changes) AS (SELECT run, count(*) FROM journal GROUP BY run) "
                                      "SELECT id, name, started, ended, outcome, pid, rolledback, coalesce(changes, 0) "
                                      "FROM runs r LEFT JOIN counts c ON c.run = r.id ORDER BY id"));
    while (query.next())
        result.append({query.number(0), query.text(1), query.text(2), query.text(3), query.text(4), query.number(5),
                       query.number(7), query.text(6)});
    if (!query.ok())
        setError(error, query.error());
    transaction.finish(ERROR_SUCCESS);
    return result;
}

qint64 MachineJournal::newestRun(QString* error)
{
    qint64 newest = 0;
    for (const Run& run : runs(error)) {
        if (run.rolledBack.isEmpty())
            newest = run.id;
    }
    return newest;
}

} // namespace winsteps::platform::emulated
