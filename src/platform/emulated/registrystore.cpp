#include "platform/emulated/registrystore.h"
#include "platform/emulated/errortext.h"
#include "platform/emulated/machinejournal.h"

#include <QFile>
#include <QStringDecoder>

#include <sqlite3.h>

#include <chrono>
#include <thread>

namespace winsteps::platform::emulated {

QByteArray multiStringData(const QStringList& list)
{
    QByteArray data;
    for (const QString& item : list) {
        data.append(item.toUtf8());
        data.append('\0');
    }
    data.append('\0');
    return data;
}


namespace {

// Schema 1. Keys: a tree by parent id (0 for the hive roots); ids are never reused, so that a
// handle to a removed key cannot reach a later one. Values keep their first-set order by id.
const char* const schema1[] = {
    "CREATE TABLE meta(name TEXT PRIMARY KEY, value TEXT NOT NULL)",
    "CREATE TABLE keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL, name TEXT NOT NULL, "
    "fold TEXT NOT NULL, access INTEGER NOT NULL DEFAULT -1, volatile INTEGER NOT NULL DEFAULT 0, "
    "UNIQUE(parent, fold))",
    "CREATE TABLE regvalues(id INTEGER PRIMARY KEY AUTOINCREMENT, key INTEGER NOT NULL, name TEXT NOT NULL, "
    "fold TEXT NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL, UNIQUE(key, fold))",
    "CREATE TABLE bootlog(id INTEGER PRIMARY KEY AUTOINCREMENT, boot INTEGER NOT NULL, action TEXT NOT NULL, "
    "detail TEXT NOT NULL)",
};

// The text as it was stored: QString::fromUtf8 would drop a leading U+FEFF as a byte-order
// mark, and with it the first character of a key or value name that begins with one.
QString text(sqlite3_stmt* stmt, int column)
{
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(QByteArrayView(bytes, sqlite3_column_bytes(stmt, column)));
}

void bindText(sqlite3_stmt* stmt, int index, const QString& value)
{
    const QByteArray utf8 = value.toUtf8();
    sqlite3_bind_text(stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

// Resets a cached statement when the caller is done with it.
struct Reset {
    sqlite3_stmt* stmt;
    ~Reset()
    {
        if (stmt) {
            sqlite3_reset(stmt);
            sqlite3_clear_bindings(stmt);
        }
    }
};

} // namespace

RegistryStore::~RegistryStore()
{
    for (sqlite3_stmt* stmt : std::as_const(m_statements))
        sqlite3_finalize(stmt);
    if (m_db)
        sqlite3_close(m_db);
}

bool RegistryStore::open(const QString& file, QString* error)
{
    const QByteArray name = file == QLatin1String(":memory:") ? QByteArray(":memory:") : QFile::encodeName(file);
    if (sqlite3_open_v2(name.constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        setError(error, QStringLiteral("cannot open \"%1\": %2")
                     .arg(file, m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("out of memory")));
        if (m_db)
            sqlite3_close(m_db);
        m_db = nullptr;
        return false;
    }
    sqlite3_busy_handler(m_db, &RegistryStore::waitForOtherWriter, nullptr);
    // WAL: readers never block the writer. NORMAL: a commit is in the log file (the
    // system's cache of it) before the call that made it returns, so a process killed at
    // any moment loses nothing it reported as done; only a power cut or a crash of the
    // whole system may lose the last commits. The log is synced at each checkpoint, which
    // comes every 4,000 pages written (16 MiB) rather than every 1,000: a sync costs
    // milliseconds on a busy disk, and the log is cut back to 16 MiB after a checkpoint.
    // The switch to WAL needs the file to itself, and SQLite answers "busy" at once (without
    // its busy handler) while another connection reads or sets the file up: such answers are
    // waited out like any other writer.
    char* message = nullptr;
    int rc = SQLITE_OK;
    for (int attempt = 0;; ++attempt) {
        sqlite3_free(message);
        message = nullptr;
        rc = sqlite3_exec(m_db,
                          "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA wal_autocheckpoint=4000; "
                          "PRAGMA journal_size_limit=16777216;",
                          nullptr, nullptr, &message);
        if ((rc & 0xFF) != SQLITE_BUSY && (rc & 0xFF) != SQLITE_LOCKED)
            break;
        if (!waitForOtherWriter(nullptr, attempt))
            break;
    }
    if (rc != SQLITE_OK) {
        setError(error, QStringLiteral("cannot use \"%1\": %2").arg(file, QString::fromUtf8(message ? message : "error")));
        sqlite3_free(message);
        sqlite3_close(m_db);
        m_db = nullptr;
        return false;
    }
    m_run = qEnvironmentVariableIntValue("WINSTEPS_RUN");
    registerJournalFunctions(*this);
    return true;
}

void RegistryStore::fail(const char* what)
{
    m_failed = true;
    m_diskFull = sqlite3_errcode(m_db) == SQLITE_FULL;
    m_lastError = QString::fromUtf8(what) + QStringLiteral(": ") + QString::fromUtf8(sqlite3_errmsg(m_db));
}

sqlite3_stmt* RegistryStore::statement(const char* sql)
{
    // Keyed by the address of the literal: each call site names one statement.
    auto it = m_statements.find(sql);
    if (it != m_statements.end())
        return it.value();
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) {
        fail(sql);
        return nullptr;
    }
    m_statements.insert(sql, stmt);
    return stmt;
}

int RegistryStore::waitForOtherWriter(void*, int count)
{
    // Another process holds the write lock: it is held for well under a millisecond per
    // call, so short waits first, then one millisecond at a time until busyTimeoutMs.
    constexpr int shortWaits = 6; // 20, 40, ... 640 us: 1,260 us together
    if (count < shortWaits) {
        std::this_thread::sleep_for(std::chrono::microseconds(20 << count));
        return 1;
    }
    const long long waitedUs = 1260 + (long long)(count - shortWaits) * 1000;
    if (waitedUs >= (long long)busyTimeoutMs * 1000)
        return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return 1;
}

bool RegistryStore::run(const char* sql)
{
    sqlite3_stmt* stmt = statement(sql);
    if (!stmt)
        return false;
    Reset reset{stmt};
    bool row = false;
    return step(stmt, &row);
}

bool RegistryStore::exec(const char* sql)
{
    char* message = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    m_failed = true;
    m_diskFull = sqlite3_errcode(m_db) == SQLITE_FULL;
    m_lastError = QString::fromUtf8(message ? message : "error");
    sqlite3_free(message);
    return false;
}

bool RegistryStore::step(sqlite3_stmt* stmt, bool* row)
{
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW) {
        *row = true;
        return true;
    }
    *row = false;
    if (rc == SQLITE_DONE)
        return true;
    fail(sqlite3_sql(stmt));
    return false;
}

bool RegistryStore::begin(bool write, QString* error)
{
    m_failed = false;
    m_lastError.clear();
    if (!m_db) {
        m_failed = true;
        m_lastError = QStringLiteral("no database");
    } else if (write ? run("BEGIN IMMEDIATE") : run("BEGIN")) {
        m_inTransaction = true;
        return true;
    }
    setError(error, m_lastError);
    return false;
}

bool RegistryStore::commit(QString* error)
{
    if (!m_inTransaction) {
        setError(error, m_lastError);
        return false;
    }
    if (m_failed) {
        rollback();
        setError(error, m_lastError);
        return false;
    }
    m_inTransaction = false;
    if (run("COMMIT"))
        return true;
    // A commit that failed on a full disk or an I/O error has been rolled back by SQLite
    // already; the commit's failure stays the one reported.
    const QString why = m_lastError;
    const bool full = m_diskFull;
    if (!sqlite3_get_autocommit(m_db))
        run("ROLLBACK");
    m_failed = true;
    m_diskFull = full;
    m_lastError = why;
    setError(error, why);
    return false;
}

bool RegistryStore::failed(QString* error) const
{
    if (m_failed)
        setError(error, m_lastError);
    return m_failed;
}

void RegistryStore::rollback()
{
    if (!m_inTransaction)
        return;
    m_inTransaction = false;
    // The transaction's own failure stays the one reported.
    const bool failed = m_failed;
    const QString error = m_lastError;
    run("ROLLBACK");
    m_failed = failed;
    m_lastError = error;
}

int RegistryStore::fileVersion(QString* error)
{
    sqlite3_stmt* stmt = statement("PRAGMA user_version");
    bool row = false;
    if (stmt) {
        Reset reset{stmt};
        if (step(stmt, &row) && row)
            return sqlite3_column_int(stmt, 0);
    }
    setError(error, m_lastError);
    return -1;
}

bool RegistryStore::prepare(const QStringList& hives, QString* error)
{
    const int version = fileVersion();
    if (version < 0) {
        setError(error, m_lastError);
        return false;
    }
    if (version > schemaVersion) {
        setError(error, QStringLiteral("its database has schema %1; this build reads schemas up to %2").arg(version).arg(schemaVersion));
        return false;
    }
    if (version == schemaVersion)
        return prepareJournal(*this, error);
    if (version == 0) {
        // What a new machine starts with is its first state, not a change to undo: the
        // opener switches the journal on once the machine is set up.
        m_journaling = false;
        for (const char* sql : schema1) {
            if (!exec(sql)) {
                setError(error, m_lastError);
                return false;
            }
        }
        for (const QString& hive : hives) {
            if (!addChild(0, hive, false)) {
                setError(error, m_lastError);
                return false;
            }
        }
    }
    // Later schemas add their steps here, each from the version before it.
    if (!exec(QByteArray("PRAGMA user_version=" + QByteArray::number(schemaVersion)).constData())) {
        setError(error, m_lastError);
        return false;
    }
    return prepareJournal(*this, error);
}

QString RegistryStore::meta(const QString& name)
{
    sqlite3_stmt* stmt = statement("SELECT value FROM meta WHERE name = ?1");
    if (!stmt)
        return QString();
    Reset reset{stmt};
    bindText(stmt, 1, name);
    bool row = false;
    if (!step(stmt, &row) || !row)
        return QString();
    return text(stmt, 0);
}

void RegistryStore::setMeta(const QString& name, const QString& value)
{
    sqlite3_stmt* stmt = statement("INSERT INTO meta(name, value) VALUES(?1, ?2) "
                                   "ON CONFLICT(name) DO UPDATE SET value = excluded.value");
    if (!stmt)
        return;
    Reset reset{stmt};
    bindText(stmt, 1, name);
    bindText(stmt, 2, value);
    bool row = false;
    step(stmt, &row);
}

QString RegistryStore::fold(const QString& name)
{
    // Windows compares key and value names by their upper-case forms.
    return name.toUpper();
}

qint64 RegistryStore::root(const QString& hive)
{
    return child(0, hive);
}

qint64 RegistryStore::child(qint64 parent, const QString& name)
{
    sqlite3_stmt* stmt = statement("SELECT id FROM keys WHERE parent = ?1 AND fold = ?2");
    if (!stmt)
        return 0;
    Reset reset{stmt};
    sqlite3_bind_int64(stmt, 1, parent);
    bindText(stmt, 2, fold(name));
    bool row = false;
    if (!step(stmt, &row) || !row)
        return 0;
    return sqlite3_column_int64(stmt, 0);
}

qint64 RegistryStore::addChild(qint64 parent, const QString& name, bool isVolatile)
{
    sqlite3_stmt* stmt = statement("INSERT INTO keys(parent, name, fold, volatile) VALUES(?1, ?2, ?3, ?4)");
    if (!stmt)
        return 0;
    Reset reset{stmt};
    sqlite3_bind_int64(stmt, 1, parent);
    bindText(stmt, 2, name);
    bindText(stmt, 3, fold(name));
    sqlite3_bind_int(stmt, 4, isVolatile ? 1 : 0);
    bool row = false;
    if (!step(stmt, &row))
        return 0;
    return sqlite3_last_insert_rowid(m_db);
}

bool RegistryStore::readKey(sqlite3_stmt* stmt, Key* out)
{
    out->id = sqlite3_column_int64(stmt, 0);
    out->parent = sqlite3_column_int64(stmt, 1);
    out->name = text(stmt, 2);
    out->access = sqlite3_column_int(stmt, 3);
    out->isVolatile = sqlite3_column_int(stmt, 4) != 0;
    return true;
}

bool RegistryStore::key(qint64 id, Key* out)
{
    sqlite3_stmt* stmt = statement("SELECT id, parent, name, access, volatile FROM keys WHERE id = ?1");
    if (!stmt)
        return false;
    Reset reset{stmt};
    sqlite3_bind_int64(stmt, 1, id);
    bool row = false;
    if (!step(stmt, &row) || !row)
        return false;
    return readKey(stmt, out);
}

bool RegistryStore::keyExists(qint64 id)
{
    Key k;
    return key(id, &k);
}

bool RegistryStore::childAt(qint64 parent, qint64 index, Key* out)
{
    sqlite3_stmt* stmt = statement("SELECT id, parent, name, access, volatile FROM keys WHERE parent = ?1 "
                                   "ORDER BY fold, name LIMIT 1 OFFSET ?2");
    if (!stmt)
        return false;
    Reset reset{stmt};
    sqlite3_bind_int64(stmt, 1, parent);
    sqlite3_bind_int64(stmt, 2, index);
    bool row = false;
    if (!step(stmt, &row) || !row)
        return false;
    return readKey(stmt, out);
}

bool RegistryStore::hasChildren(qint64 id)
{
    sqlite3_stmt* stmt = statement("SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1");
    if (!stmt)
        return false;
    Reset reset{stmt};
    sqlite3_bind_int64(stmt, 1, id);
    bool row = false;
    return step(stmt, &row) && row;
}

void RegistryStore::removeTree(qint64 id)
{
    const char* const statements[] = {
        "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM keys k JOIN tree t ON k.parent = t.id) "
        "DELETE FROM regvalues WHERE key IN tree",
        "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM keys k JOIN tree t ON k.parent = t.id) "
        "DELETE FROM keys WHERE id IN tree",
    };
    for (const char* sql : statements) {
        sqlite3_stmt* stmt = statement(sql);
        if (!stmt)
            return;
        Reset reset{stmt};
        sqlite3_bind_int64(stmt, 1, id);
        bool row = false;
        if (!step(stmt, &row))
            return;
    }
}

void RegistryStore::setAccess(qint64 id, int access)
{
    sqlite3_stmt* stmt = statement("UPDATE keys SET access = ?2 WHERE id = ?1");
    if (!stmt)
        return;
    Reset reset{stmt};
    sqlite3_bind_int64(stmt, 1, id);
    sqlite3_bind_int(stmt, 2, access);
    bool row = false;
    step(stmt, &row);
}

void RegistryStore::removeVolatileKeys()
{
    // Only the topmost volatile keys: everything below them goes with them.
    QList<qint64> tops;
    {
        sqlite3_stmt* stmt = statement("SELECT k.id FROM keys k WHERE k.volatile = 1 AND NOT EXISTS "
                                       "(SELECT 1 FROM keys p WHERE p.id = k.parent AND p.volatile = 1)");
        if (!stmt)
            return;
        Reset reset{stmt};
        bool row = false;
        while (step(stmt, &row) && row)
            tops << sqlite3_column_int64(stmt, 0);
    }
    for (qint64 id : std::as_const(tops))
        removeTree(id);
}

QString RegistryStore::path(qint64 id)
{
    QStringList parts;
    Key k;
    // A tree is never deeper than the registry's own limit of 512 levels.
    for (int depth = 0; id != 0 && depth < 600 && key(id, &k); ++depth) {
        parts.prepend(k.name);
        id = k.parent;
    }
    return parts.join(QLatin1Char('\\'));
}

bool RegistryStore::value(qint64 key, const QString& name, Value* out)
{
    sqlite3_stmt* stmt = statement("SELECT name, type, data FROM regvalues WHERE key = ?1 AND fold = ?2");
    if (!stmt)
        return false;
    Reset reset{stmt};
    sqlite3_bind_int64(stmt, 1, key);
    bindText(stmt, 2, fold(name));
    bool row = false;
    if (!step(stmt, &row) || !row)
        return false;
    out->name = text(stmt, 0);
    out->type = std::uint32_t(sqlite3_column_int64(stmt, 1));
    out->data = QByteArray(static_cast<const char*>(sqlite3_column_blob(stmt, 2)), sqlite3_column_bytes(stmt, 2));
    return true;
}

bool RegistryStore::valueAt(qint64 key, qint64 index, Value* out)
{
    sqlite3_stmt* stmt = statement("SELECT name, type, data FROM regvalues WHERE key = ?1 ORDER BY id LIMIT 1 OFFSET ?2");
    if (!stmt)
        return false;
    Reset reset{stmt};
    sqlite3_bind_int64(stmt, 1, key);
    sqlite3_bind_int64(stmt, 2, index);
    bool row = false;
    if (!step(stmt, &row) || !row)
        return false;
    out->name = text(stmt, 0);
    out->type = std::uint32_t(sqlite3_column_int64(stmt, 1));
    out->data = QByteArray(static_cast<const char*>(sqlite3_column_blob(stmt, 2)), sqlite3_column_bytes(stmt, 2));
    return true;
}

void RegistryStore::setValue(qint64 key, const QString& name, std::uint32_t type, const QByteArray& data)
{
    // A value set again keeps its place and the case of its first name, as on Windows.
    sqlite3_stmt* stmt = statement("INSERT INTO regvalues(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
                                   "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data");
    if (!stmt)
        return;
    Reset reset{stmt};
    sqlite3_bind_int64(stmt, 1, key);
    bindText(stmt, 2, name);
    bindText(stmt, 3, fold(name));
    sqlite3_bind_int64(stmt, 4, qint64(type));
    // A zero-length blob must still be a blob, not NULL.
    sqlite3_bind_blob(stmt, 5, data.isEmpty() ? "" : data.constData(), int(data.size()), SQLITE_TRANSIENT);
    bool row = false;
    step(stmt, &row);
}

bool RegistryStore::removeValue(qint64 key, const QString& name)
{
    sqlite3_stmt* stmt = statement("DELETE FROM regvalues WHERE key = ?1 AND fold = ?2");
    if (!stmt)
        return false;
    Reset reset{stmt};
    sqlite3_bind_int64(stmt, 1, key);
    bindText(stmt, 2, fold(name));
    bool row = false;
    if (!step(stmt, &row))
        return false;
    return sqlite3_changes(m_db) > 0;
}

qint64 RegistryStore::keyCount()
{
    sqlite3_stmt* stmt = statement("SELECT count(*) FROM keys");
    if (!stmt)
        return 0;
    Reset reset{stmt};
    bool row = false;
    return step(stmt, &row) && row ? sqlite3_column_int64(stmt, 0) : 0;
}

qint64 RegistryStore::valueCount()
{
    sqlite3_stmt* stmt = statement("SELECT count(*) FROM regvalues");
    if (!stmt)
        return 0;
    Reset reset{stmt};
    bool row = false;
    return step(stmt, &row) && row ? sqlite3_column_int64(stmt, 0) : 0;
}

QString RegistryStore::integrityCheck()
{
    sqlite3_stmt* stmt = statement("PRAGMA integrity_check");
    if (!stmt)
        return m_lastError;
    Reset reset{stmt};
    QStringList lines;
    bool row = false;
    while (step(stmt, &row) && row)
        lines << text(stmt, 0);
    return m_failed ? m_lastError : lines.join(QLatin1Char('\n'));
}

void RegistryStore::addBootEntry(qint64 boot, const QString& action, const QString& detail)
{
    sqlite3_stmt* stmt = statement("INSERT INTO bootlog(boot, action, detail) VALUES(?1, ?2, ?3)");
    if (!stmt)
        return;
    Reset reset{stmt};
    sqlite3_bind_int64(stmt, 1, boot);
    bindText(stmt, 2, action);
    bindText(stmt, 3, detail);
    bool row = false;
    step(stmt, &row);
}

QList<RegistryStore::BootEntry> RegistryStore::bootEntries(qint64 boot)
{
    QList<BootEntry> entries;
    sqlite3_stmt* stmt = statement("SELECT boot, action, detail FROM bootlog WHERE boot = ?1 ORDER BY id");
    if (!stmt)
        return entries;
    Reset reset{stmt};
    sqlite3_bind_int64(stmt, 1, boot);
    bool row = false;
    while (step(stmt, &row) && row)
        entries.append({sqlite3_column_int64(stmt, 0), text(stmt, 1), text(stmt, 2)});
    return entries;
}

} // namespace winsteps::platform::emulated
