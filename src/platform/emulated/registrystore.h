#pragma once

#include "platform/registry.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <cstdint>

struct sqlite3;
struct sqlite3_stmt;

namespace winsteps::platform::emulated {

// REG_MULTI_SZ data of a list: each text in UTF-8 with its NUL, and one more NUL at the end.
QByteArray multiStringData(const QStringList& list);

// The persistent part of an emulated machine: "machine.db", an SQLite database in WAL mode
// holding the registry (keys with their case as created and a case-folded twin for look-up,
// typed values in the order they were first set), the machine's record (profile, boots) and
// the log of what each emulated restart did.
//
// The store knows no Windows rules (rights, views, error codes): the machine's subsystems
// apply them. Every call of the store runs inside a transaction opened with begin(); a failed
// statement marks the transaction as failed, and commit() then rolls it back. Not thread
// safe: the owner serialises the calls. Several processes may share one file: a writer
// waits for another (busy time-out) instead of failing.
class RegistryStore {
public:
    // The schema this build writes. A database of a newer schema is refused; an older one is
    // brought up to date when opened.
    static constexpr int schemaVersion = 1;
    // How long a call waits for another process's transaction.
    static constexpr int busyTimeoutMs = 30000;

    // Access marks of a key. Default: what the machine grants (see EmulatedRegistry).
    enum Access { AccessDefault = -1, AccessFull = 0, AccessRead = 1, AccessDenied = 2 };

    struct Key {
        qint64 id = 0;
        qint64 parent = 0; // 0 for a hive's root
        QString name;
        int access = AccessDefault;
        bool isVolatile = false;
    };
    struct Value {
        QString name;
        std::uint32_t type = 0;
        QByteArray data;
    };
    struct BootEntry {
        qint64 boot = 0;
        QString action;
        QString detail;
    };

    RegistryStore() = default;
    ~RegistryStore();
    RegistryStore(const RegistryStore&) = delete;
    RegistryStore& operator=(const RegistryStore&) = delete;

    // Opens the database file, creating an empty one when missing (":memory:" for a store
    // without a file). Schema and content come with prepare().
    bool open(const QString& file, QString* error);
    bool isOpen() const { return m_db != nullptr; }

    // Inside a write transaction: the schema version of the file (0: new and empty); -1 +
    // error on failure.
    int fileVersion(QString* error = nullptr);
    // Inside a write transaction: creates the schema and the hive roots of a new file, or
    // brings an older schema up to date. False + error for a newer schema.
    bool prepare(const QStringList& hives, QString* error);

    // Transactions. begin(true) takes the write lock at once (waiting for other writers).
    // Every call below may fail; the first failure stays with the transaction, and failed()
    // and commit() report it. Errors: see errortext.h.
    bool begin(bool write, QString* error = nullptr);
    bool commit(QString* error = nullptr);
    void rollback();
    bool failed(QString* error = nullptr) const;
    // Whether the transaction's failure was a full disk.
    bool diskFull() const { return m_failed && m_diskFull; }

    // The machine's record.
    QString meta(const QString& name);
    void setMeta(const QString& name, const QString& value);

    // Keys. 0 answers "none".
    qint64 root(const QString& hive);
    qint64 child(qint64 parent, const QString& name);
    qint64 addChild(qint64 parent, const QString& name, bool isVolatile);
    bool key(qint64 id, Key* out);
    bool keyExists(qint64 id);
    // The index-th sub-key in the order of their folded names; false past the last.
    bool childAt(qint64 parent, qint64 index, Key* out);
    bool hasChildren(qint64 id);
    void removeTree(qint64 id);
    void setAccess(qint64 id, int access);
    void removeVolatileKeys();
    // The key's path from its hive's root ("HKEY_...\\A\\B").
    QString path(qint64 id);

    // Values.
    bool value(qint64 key, const QString& name, Value* out);
    bool valueAt(qint64 key, qint64 index, Value* out);
    void setValue(qint64 key, const QString& name, std::uint32_t type, const QByteArray& data);
    bool removeValue(qint64 key, const QString& name);

    // Statistics and checks.
    qint64 keyCount();
    qint64 valueCount();
    // "ok" when the file is sound, else SQLite's findings.
    QString integrityCheck();

    // The restart log.
    void addBootEntry(qint64 boot, const QString& action, const QString& detail);
    QList<BootEntry> bootEntries(qint64 boot);

    // The folded form of a key or value name, used for look-ups.
    static QString fold(const QString& name);

    // The journal (machinejournal.h): while on, every change to a table of the store is
    // recorded with what was there before, tagged with the run (0: outside a run). The run
    // starts as the one named by the environment variable WINSTEPS_RUN.
    void setJournaling(bool on) { m_journaling = on; }
    bool journaling() const { return m_journaling; }
    void setRun(qint64 run) { m_run = run; }
    qint64 run() const { return m_run; }
    sqlite3* handle() const { return m_db; }

private:
    sqlite3_stmt* statement(const char* sql);
    bool exec(const char* sql);
    // Steps a kept statement without parameters to its end.
    bool run(const char* sql);
    // The busy handler: waits while another process writes, up to busyTimeoutMs.
    static int waitForOtherWriter(void* unused, int count);
    bool step(sqlite3_stmt* stmt, bool* row);
    void fail(const char* what);
    bool readKey(sqlite3_stmt* stmt, Key* out);

    sqlite3* m_db = nullptr;
    QMap<const char*, sqlite3_stmt*> m_statements;
    bool m_inTransaction = false;
    bool m_failed = false;
    bool m_diskFull = false;
    QString m_lastError;
    bool m_journaling = true;
    qint64 m_run = 0;
};

// Commits or rolls back the store transaction of one call of the machine; the caller holds
// the lock that guards the store.
class StoreTransaction {
public:
    StoreTransaction(RegistryStore& store, bool write, QString* error = nullptr)
        : m_store(store)
        , m_open(store.begin(write, error))
    {
    }
    ~StoreTransaction()
    {
        if (m_open)
            m_store.rollback();
    }
    StoreTransaction(const StoreTransaction&) = delete;
    StoreTransaction& operator=(const StoreTransaction&) = delete;
    bool ok() const { return m_open; }
    // result when it is a failure (the changes are dropped) or when the commit succeeds;
    // error tells why the commit failed.
    std::uint32_t finish(std::uint32_t result, QString* error = nullptr)
    {
        if (!m_open)
            return ERROR_REGISTRY_IO_FAILED;
        m_open = false;
        if (result != ERROR_SUCCESS) {
            m_store.rollback();
            return m_store.failed() ? ERROR_REGISTRY_IO_FAILED : result;
        }
        return m_store.commit(error) ? ERROR_SUCCESS : ERROR_REGISTRY_IO_FAILED;
    }

private:
    RegistryStore& m_store;
    bool m_open;
};

} // namespace winsteps::platform::emulated
