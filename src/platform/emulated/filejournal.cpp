// The journaled file primitives of the emulated machine and the undo of a file change (see
// FileJournal), and the small statement wrapper the journal uses.

#include "platform/emulated/filejournal.h"

#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/errortext.h"
#include "platform/emulated/registrystore.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <optional>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace winsteps::platform::emulated {

// --- JournalQuery -------------------------------------------------------------------------

JournalQuery::JournalQuery(sqlite3* db, const QString& sql, std::initializer_list<QVariant> values)
    : m_db(db)
{
    m_ok = sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &m_stmt, nullptr) == SQLITE_OK;
    int index = 0;
    for (const QVariant& value : values) {
        ++index;
        if (!m_ok)
            break;
        if (!value.isValid() || value.isNull()) {
            sqlite3_bind_null(m_stmt, index);
        } else if (value.typeId() == QMetaType::QString) {
            const QByteArray utf8 = value.toString().toUtf8();
            sqlite3_bind_text(m_stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
        } else {
            sqlite3_bind_int64(m_stmt, index, value.toLongLong());
        }
    }
}

JournalQuery::~JournalQuery()
{
    sqlite3_finalize(m_stmt);
}

bool JournalQuery::next()
{
    if (!m_ok)
        return false;
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    m_ok = rc == SQLITE_DONE;
    return false;
}

bool JournalQuery::run()
{
    while (next()) {
    }
    return m_ok;
}

QString JournalQuery::error() const
{
    return QStringLiteral("journal: ") + QString::fromUtf8(sqlite3_errmsg(m_db));
}

QVariant JournalQuery::value(int column) const
{
    switch (sqlite3_column_type(m_stmt, column)) {
    case SQLITE_NULL:
        return QVariant();
    case SQLITE_INTEGER:
        return QVariant(qint64(sqlite3_column_int64(m_stmt, column)));
    default:
        return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column)),
                                 sqlite3_column_bytes(m_stmt, column));
    }
}

const char* JournalEntry::columns()
{
    return "seq, run, tbl, op, rid, path, before, copy, after";
}

JournalEntry JournalEntry::fromQuery(const JournalQuery& query)
{
    return {query.number(0), query.number(1), query.text(2), query.text(3), query.number(4),
            query.text(5),   query.text(6),   query.text(7), query.text(8)};
}

// --- FileJournal ----------------------------------------------------------------------------

namespace {

QByteArray local(const QString& host)
{
    return QFile::encodeName(host);
}

QString unique()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

// Keeps a second name of the file at from: a hard link, a copy where links cannot be made.
// *full (when given) tells whether it failed for want of space.
bool keep(const QString& from, const QString& to, bool* full = nullptr)
{
    if (::link(local(from).constData(), local(to).constData()) == 0)
        return true;
    const bool noRoom = errno == ENOSPC;
    if (QFile copy(from); copy.copy(to))
        return true;
    if (full)
        *full = noRoom || errno == ENOSPC;
    return false;
}

// A new file written beside its target and renamed over it when closed; the journal's entry
// gets the state after. Without a journal entry (seq 0) the same, with nothing recorded.
class StagedFile final : public FileHandle {
public:
    StagedFile(int fd, QString staging, QString target, std::function<void(const QString&)> done)
        : m_fd(fd), m_staging(std::move(staging)), m_target(std::move(target)), m_done(std::move(done))
    {
    }
    ~StagedFile() override
    {
        // After a failed write (a full disk) the staged file is incomplete: the target keeps
        // its old content rather than take a truncated one.
        const bool closed = ::close(m_fd) == 0;
        const bool renamed = closed && !m_failed && ::rename(local(m_staging).constData(), local(m_target).constData()) == 0;
        if (!renamed)
            ::unlink(local(m_staging).constData());
        m_done(renamed ? QStringLiteral("file:") + QString::fromLatin1(m_hash.result().toHex())
                       : FileJournal::stateOf(m_target));
    }
    std::uint32_t read(void*, std::uint32_t, std::uint32_t* done) override
    {
        *done = 0;
        return ERROR_ACCESS_DENIED;
    }
    std::uint32_t write(const void* buffer, std::uint32_t size, std::uint32_t* done) override
    {
        const auto* bytes = static_cast<const char*>(buffer);
        std::uint32_t written = 0;
        while (written < size) {
            const ssize_t n = ::write(m_fd, bytes + written, size - written);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                *done = written;
                m_failed = true;
                return errno == ENOSPC ? ERROR_HANDLE_DISK_FULL : ERROR_ACCESS_DENIED;
            }
            m_hash.addData(QByteArrayView(bytes + written, n));
            written += std::uint32_t(n);
        }
        *done = written;
        return ERROR_SUCCESS;
    }

private:
    int m_fd;
    QString m_staging;
    QString m_target;
    std::function<void(const QString&)> m_done;
    QCryptographicHash m_hash{QCryptographicHash::Sha1};
    bool m_failed = false;
};

} // namespace

FileJournal::FileJournal(EmulatedMachine& machine, Locking locking)
    : m_machine(machine)
    , m_locking(locking)
{
}

// The store's lock and a write transaction for one record, unless the caller holds them.
class FileJournal::Transaction {
public:
    explicit Transaction(const FileJournal& journal)
    {
        if (journal.m_locking == Locking::InCallersTransaction)
            return;
        m_lock = std::unique_lock<std::mutex>(journal.m_machine.storeMutex());
        m_transaction.emplace(journal.m_machine.store(), true);
    }
    bool ok() const { return !m_transaction || m_transaction->ok(); }
    bool finish() { return !m_transaction || m_transaction->finish(ERROR_SUCCESS) == ERROR_SUCCESS; }

private:
    std::unique_lock<std::mutex> m_lock;
    std::optional<StoreTransaction> m_transaction;
};

QString FileJournal::stateOf(const QString& host)
{
    struct stat info;
    if (::lstat(local(host).constData(), &info) != 0)
        return QStringLiteral("absent");
    if (S_ISDIR(info.st_mode))
        return QStringLiteral("dir");
    if (S_ISLNK(info.st_mode))
        return QStringLiteral("link:") + QFile::symLinkTarget(host);
    QFile file(host);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return QStringLiteral("file:unreadable");
    return QStringLiteral("file:") + QString::fromLatin1(hash.result().toHex());
}

QString FileJournal::journalFolder() const
{
    return m_machine.folder() + QStringLiteral("/journal");
}

QString FileJournal::relative(const QString& host) const
{
    if (!m_machine.insideDriveC(host))
        return QString();
    return QDir(m_machine.driveC()).relativeFilePath(host);
}

QString FileJournal::hostOf(const QString& path) const
{
    return m_machine.driveC() + QLatin1Char('/') + path;
}

QString FileJournal::windowsPath(const QString& path) const
{
    return QStringLiteral("C:\\") + QString(path).replace(QLatin1Char('/'), QLatin1Char('\\'));
}

qint64 FileJournal::record(const QString& op, const QString& host, QString* copy, bool keepByMove)
{
    RegistryStore& store = m_machine.store();
    const QString path = relative(host);
    copy->clear();
    if (!store.journaling() || path.isEmpty())
        return 0;
    const QString before = stateOf(host);
    if (before.startsWith(QLatin1String("file:"))) {
        *copy = unique();
        bool full = false;
        if (!QDir().mkpath(journalFolder()) || (!keepByMove && !keep(host, journalFolder() + QLatin1Char('/') + *copy, &full))) {
            m_recordError = full || errno == ENOSPC ? ENOSPC : EIO;
            QFile::remove(journalFolder() + QLatin1Char('/') + *copy); // a copy cut short
            return -1;
        }
    }
    qint64 seq = -1;
    {
        Transaction transaction(*this);
        JournalQuery insert(store.handle(),
                            QStringLiteral("INSERT INTO journal(run, tbl, op, path, before, copy) VALUES(?1, 'file', ?2, ?3, ?4, ?5)"),
                            {store.run() > 0 ? QVariant(store.run()) : QVariant(), op, path, before,
                             copy->isEmpty() ? QVariant() : QVariant(*copy)});
        bool full = store.diskFull();
        if (transaction.ok() && insert.run()) {
            seq = sqlite3_last_insert_rowid(store.handle());
            if (m_locking == Locking::InCallersTransaction && m_machine.m_restartChanges)
                m_machine.m_restartChanges->append({seq, store.run(), QStringLiteral("file"), op, 0, path, before, *copy, QString()});
            if (!transaction.finish()) {
                seq = -1;
                full = store.diskFull();
            }
        } else if (transaction.ok()) {
            full = sqlite3_errcode(store.handle()) == SQLITE_FULL;
        }
        m_recordError = full ? ENOSPC : EIO;
    }
    // Without its entry (a full disk) the kept old content would stay for good.
    if (seq < 0 && !keepByMove && !copy->isEmpty())
        QFile::remove(journalFolder() + QLatin1Char('/') + *copy);
    return seq;
}

void FileJournal::recordAfter(qint64 seq, const QString& after)
{
    if (seq <= 0)
        return;
    RegistryStore& store = m_machine.store();
    Transaction transaction(*this);
    if (!transaction.ok())
        return;
    // A change that failed (or wrote what was there) changed nothing: its entry goes, and
    // the old content it kept with it.
    JournalQuery copy(store.handle(), QStringLiteral("SELECT copy FROM journal WHERE seq = ?1 AND before = ?2"),
                      {seq, after});
    const bool unchanged = copy.next();
    const QString kept = unchanged ? copy.text(0) : QString();
    JournalQuery update(store.handle(),
                        unchanged ? QStringLiteral("DELETE FROM journal WHERE seq = ?1")
                                                    : QStringLiteral("UPDATE journal SET after = ?2 WHERE seq = ?1"),
                        {seq, after});
    update.run();
    if (transaction.finish() && !kept.isEmpty())
        QFile::remove(journalFolder() + QLatin1Char('/') + kept);
}

int FileJournal::makeDirectory(const QString& host)
{
    QString copy;
    const qint64 seq = record(QStringLiteral("mkdir"), host, &copy, false);
    if (seq < 0)
        return m_recordError;
    const int result = ::mkdir(local(host).constData(), 0777) == 0 ? 0 : errno;
    recordAfter(seq, stateOf(host));
    return result;
}

int FileJournal::removeFile(const QString& host)
{
    QString copy;
    const qint64 seq = record(QStringLiteral("delete"), host, &copy, true);
    if (seq < 0)
        return m_recordError;
    // The removal itself keeps the old content: the file moves into the journal's folder.
    const int result = !copy.isEmpty()
        ? (::rename(local(host).constData(), local(journalFolder() + QLatin1Char('/') + copy).constData()) == 0 ? 0 : errno)
        : (::unlink(local(host).constData()) == 0 ? 0 : errno);
    recordAfter(seq, stateOf(host));
    return result;
}

int FileJournal::makePath(const QString& host)
{
    if (QFileInfo(host).isDir())
        return 0;
    const QString parent = QFileInfo(host).absolutePath();
    if (parent != host) {
        if (const int error = makePath(parent))
            return error;
    }
    const int error = makeDirectory(host);
    return error == EEXIST && QFileInfo(host).isDir() ? 0 : error;
}

int FileJournal::removeEntry(const QString& host)
{
    const QFileInfo info(host);
    if (!info.isDir() || info.isSymLink())
        return removeFile(host);
    QString copy;
    const qint64 seq = record(QStringLiteral("rmdir"), host, &copy, false);
    if (seq < 0)
        return m_recordError;
    const int result = ::rmdir(local(host).constData()) == 0 ? 0 : errno;
    recordAfter(seq, stateOf(host));
    return result;
}

int FileJournal::writeNewFile(const QString& host, const QByteArray& bytes)
{
    if (QFileInfo::exists(host) || QFileInfo(host).isSymLink())
        return EEXIST;
    QString copy;
    const qint64 seq = record(QStringLiteral("write"), host, &copy, false);
    if (seq < 0)
        return m_recordError;
    // Created only when not there: another process may take the same name at the same moment.
    const int fd = ::open(local(host).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
        const int error = errno;
        if (seq > 0)
            recordAfter(seq, QStringLiteral("absent")); // nothing of ours is there
        return error;
    }
    const bool written = ::write(fd, bytes.constData(), size_t(bytes.size())) == ssize_t(bytes.size());
    ::close(fd);
    if (!written)
        ::unlink(local(host).constData());
    recordAfter(seq, stateOf(host));
    return written ? 0 : EIO;
}

int FileJournal::rename(const QString& from, const QString& to)
{
    // A folder moves with everything in it: each thing inside is recorded at both places too,
    // a folder before what it holds (a rollback goes newest first, so it empties a folder
    // before it removes it), and a rollback brings the content back, not only the name.
    QStringList paths{QString()};
    if (const QFileInfo source(from); source.isDir() && !source.isSymLink()) {
        const QDir folder(from);
        QDirIterator it(from, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            paths << QLatin1Char('/') + folder.relativeFilePath(it.next());
        std::sort(paths.begin(), paths.end()); // a folder's name is a prefix of its content's
    }
    std::vector<std::pair<qint64, QString>> recorded;
    const auto recordAll = [&]() {
        for (const QString& path : std::as_const(paths)) {
            for (const QString& host : {QString(from + path), QString(to + path)}) {
                QString copy;
                const qint64 seq = record(QStringLiteral("move"), host, &copy, false);
                if (seq < 0)
                    return false;
                recorded.emplace_back(seq, host);
            }
        }
        return true;
    };
    const bool ready = recordAll();
    const int result = !ready ? m_recordError : ::rename(local(from).constData(), local(to).constData()) == 0 ? 0 : errno;
    // Without the rename (a record that failed) every state after is the state before, and
    // the entries go.
    for (const auto& [seq, host] : recorded)
        recordAfter(seq, stateOf(host));
    return result;
}

int FileJournal::openForWrite(const QString& host, FileHandlePtr* file)
{
    if (!QFileInfo(QFileInfo(host).absolutePath()).isDir())
        return ENOENT;
    if (QFileInfo(host).isSymLink())
        return ELOOP; // a write never goes through a link: it could lead out of the machine
    QString copy;
    const qint64 seq = record(QStringLiteral("write"), host, &copy, false);
    if (seq < 0)
        return m_recordError;
    const QString staging = journalFolder() + QStringLiteral("/staging");
    QDir().mkpath(staging);
    const QString name = staging + QLatin1Char('/') + unique();
    const int fd = ::open(local(name).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int error = errno;
        recordAfter(seq, stateOf(host));
        return error;
    }
    // The journal object may be gone when the file is closed; the machine is not.
    EmulatedMachine* machine = &m_machine;
    *file = std::make_unique<StagedFile>(fd, name, host, [machine, seq](const QString& after) {
        FileJournal(*machine).recordAfter(seq, after);
    });
    return 0;
}

int FileJournal::writeFile(const QString& host, const QByteArray& bytes)
{
    FileHandlePtr file;
    if (const int error = openForWrite(host, &file))
        return error;
    std::uint32_t done = 0;
    const bool written = file->write(bytes.constData(), std::uint32_t(bytes.size()), &done) == ERROR_SUCCESS;
    file.reset();
    return written && stateOf(host) != QLatin1String("absent") ? 0 : EIO;
}

QString FileJournal::conflict(const QList<JournalEntry>& entries, const JournalEntry* later,
                              const QSet<QString>& runPaths) const
{
    const JournalEntry& first = entries.first();
    const JournalEntry& last = entries.last();
    const QString host = hostOf(first.path);
    const QString now = stateOf(host);
    if (now == first.before)
        return QString(); // as before the run (undone already, or the change never happened)
    // What the run left: what the next change found, else its own last state (unknown while a
    // change was under way when the run ended). Without a later change, any state the run
    // passed through is what it left: a kill between an entry and its act (the temporary file
    // of a copy not yet moved into place) leaves the state before that act.
    const QString left = later ? later->before : last.after;
    const auto passedThrough = [&entries, &now] {
        return std::any_of(entries.begin(), entries.end(),
                           [&now](const JournalEntry& entry) { return entry.before == now || entry.after == now; });
    };
    if (!left.isEmpty() && now != left && (later || !passedThrough())) {
        const QString by = later ? (later->run > 0 ? QStringLiteral("run %1").arg(later->run)
                                                   : QStringLiteral("a change outside any run"))
                                 : QStringLiteral("something outside the machine's journal");
        return QStringLiteral("file %1 was changed later by %2").arg(windowsPath(first.path), by);
    }
    // A folder the run made must hold nothing but what the run put in it.
    if (first.before == QLatin1String("absent") && now == QLatin1String("dir")) {
        QDirIterator it(host, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString inside = QDir(m_machine.driveC()).relativeFilePath(it.next());
            if (!runPaths.contains(inside))
                return QStringLiteral("folder %1 holds %2, which was added later")
                    .arg(windowsPath(first.path), windowsPath(inside));
        }
    }
    return QString();
}

bool FileJournal::undo(const JournalEntry& entry, QString* error) const
{
    const QString host = hostOf(entry.path);
    const QString now = stateOf(host);
    if (now == entry.before)
        return true;
    const QByteArray name = local(host);
    if (now == QLatin1String("dir") && entry.before != QLatin1String("dir") && !QDir().rmdir(host)) {
        setError(error, QStringLiteral("cannot remove the folder %1").arg(windowsPath(entry.path)));
        return false;
    }
    if (now != QLatin1String("dir") && now != QLatin1String("absent"))
        ::unlink(name.constData());
    bool done = true;
    if (entry.before == QLatin1String("dir")) {
        done = QDir().mkpath(host);
    } else if (entry.before.startsWith(QLatin1String("link:"))) {
        done = ::symlink(local(entry.before.mid(5)).constData(), name.constData()) == 0;
    } else if (entry.before.startsWith(QLatin1String("file:"))) {
        // Through a staged second name of the kept content, which stays for a rollback run
        // again.
        const QString staging = journalFolder() + QStringLiteral("/staging/") + unique();
        done = QDir().mkpath(journalFolder() + QStringLiteral("/staging")) && QDir().mkpath(QFileInfo(host).absolutePath())
            && keep(journalFolder() + QLatin1Char('/') + entry.copy, staging)
            && ::rename(local(staging).constData(), name.constData()) == 0;
    }
    if (!done)
        setError(error, QStringLiteral("cannot restore %1").arg(windowsPath(entry.path)));
    return done;
}

} // namespace winsteps::platform::emulated
