#pragma once

#include "platform/files.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <QVariant>

#include <cerrno>
#include <initializer_list>

struct sqlite3;
struct sqlite3_stmt;

namespace winsteps::platform::emulated {

class EmulatedMachine;

// One statement on the store's connection, finalised when it goes. A failed step leaves
// ok() false.
class JournalQuery {
public:
    JournalQuery(sqlite3* db, const QString& sql, std::initializer_list<QVariant> values = {});
    ~JournalQuery();
    JournalQuery(const JournalQuery&) = delete;
    JournalQuery& operator=(const JournalQuery&) = delete;
    bool next(); // false at the end or on failure
    bool run();  // steps to the end; false on failure
    bool ok() const { return m_ok; }
    QString error() const;
    QVariant value(int column) const; // NULL: an invalid QVariant
    QString text(int column) const { return value(column).toString(); }
    qint64 number(int column) const { return value(column).toLongLong(); }

private:
    sqlite3* m_db;
    sqlite3_stmt* m_stmt = nullptr;
    bool m_ok = false;
};

// One row of the journal.
struct JournalEntry {
    qint64 seq = 0;
    qint64 run = 0; // 0: outside a run
    QString table;  // "file" for a file
    QString op;     // insert, update, delete; for a file: write, delete, mkdir, move
    qint64 row = 0;
    QString path;   // a file's path below drive_c ("/" between names)
    QString before; // a file's state before: "absent", "dir" or "file:" + content hash
    QString copy;   // the kept old content, below "<folder>/journal/"
    QString after;  // a file's state after; empty while the change is under way

    static const char* columns(); // for SELECT, in the order fromQuery() reads them
    static JournalEntry fromQuery(const JournalQuery& query);
};

// The journaled file primitives of a machine: each records the path's state before the
// change in the journal (committed before the file is touched) and keeps the old content in
// "<folder>/journal/" (a hard link, or the file itself for a removal), then makes the change,
// then records the state after. A written file is staged in "<folder>/journal/staging/" and
// renamed over its target when closed, so that a process killed at any moment leaves the old
// or the new file. While the store's journal is off (a machine being set up, a rollback),
// they change the file and record nothing.
//
// Results are errno values (0: done).
class FileJournal {
public:
    // Own: each record is a transaction of its own. InCallersTransaction: the caller holds the
    // store's lock and a write transaction (the emulated restart), and the records join it.
    enum class Locking { Own, InCallersTransaction };
    explicit FileJournal(EmulatedMachine& machine, Locking locking = Locking::Own);

    int makeDirectory(const QString& host);
    // Every missing folder of the path, from the top.
    int makePath(const QString& host);
    int removeFile(const QString& host);
    // A file, a link or an empty folder.
    int removeEntry(const QString& host);
    // A file that must not exist yet (EEXIST when it does).
    int writeNewFile(const QString& host, const QByteArray& bytes);
    int rename(const QString& from, const QString& to);
    int writeFile(const QString& host, const QByteArray& bytes);
    // A new file at host that takes the place of the old one when *file is closed.
    int openForWrite(const QString& host, FileHandlePtr* file);

    // The state of a path as the journal writes it.
    static QString stateOf(const QString& host);

    // Rollback: whether the state of a path stands in the way of undoing the run's changes
    // to it (entries: the run's entries on the path, oldest first; later: the first later
    // entry of another run or outside a run, or null; runPaths: every path the run changed).
    // Empty when not, else why.
    QString conflict(const QList<JournalEntry>& entries, const JournalEntry* later, const QSet<QString>& runPaths) const;
    // Brings the path back to the entry's state before; nothing when it is there already.
    bool undo(const JournalEntry& entry, QString* error) const;
    // "C:\..." of a journal path.
    QString windowsPath(const QString& path) const;

private:
    class Transaction;
    QString hostOf(const QString& path) const;
    QString relative(const QString& host) const;
    QString journalFolder() const;
    // Records a change about to happen; 0 when the journal is off or host lies outside drive
    // C:, -1 when the journal cannot be written (m_recordError tells why).
    qint64 record(const QString& op, const QString& host, QString* copy, bool keepByMove);
    void recordAfter(qint64 seq, const QString& after);

    EmulatedMachine& m_machine;
    Locking m_locking;
    int m_recordError = EIO; // ENOSPC when the last record failed on a full disk
};

} // namespace winsteps::platform::emulated
