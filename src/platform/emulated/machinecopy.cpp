#include "platform/emulated/machinecopy.h"

#include "platform/emulated/emulatedmachine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace winsteps::platform::emulated {

namespace {

// Paths are handled as the bytes the file system holds: a name that is no valid UTF-8 is
// copied as it is.
std::string bytes(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

QString shown(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

bool fail(QString* error, const QString& what, const std::string& path, int code = errno)
{
    if (error)
        *error = QStringLiteral("%1 \"%2\": %3").arg(what, shown(path), QString::fromLocal8Bit(std::strerror(code)));
    return false;
}

bool setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return false;
}

// Sets mode and times of the copy to the original's (a link's own times).
void keepMetadata(const std::string& to, const struct stat& st, bool link)
{
    if (!link)
        ::chmod(to.c_str(), st.st_mode & 07777);
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(AT_FDCWD, to.c_str(), times, link ? AT_SYMLINK_NOFOLLOW : 0);
}

// The file's data: cloned (the blocks are shared until one side writes) where the file
// system can, else copied.
bool copyFile(const std::string& from, const std::string& to, const struct stat& st, QString* error)
{
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (in < 0)
        return fail(error, QStringLiteral("cannot read"), from);
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        const int code = errno;
        ::close(in);
        return fail(error, QStringLiteral("cannot create"), to, code);
    }
    bool ok = ::ioctl(out, FICLONE, in) == 0;
    if (!ok) {
        ok = true;
        char buffer[1 << 16];
        for (;;) {
            const ssize_t got = ::read(in, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                ok = got == 0 || fail(error, QStringLiteral("cannot read"), from);
                break;
            }
            for (ssize_t done = 0; done < got;) {
                const ssize_t put = ::write(out, buffer + done, size_t(got - done));
                if (put < 0 && errno == EINTR)
                    continue;
                if (put < 0) {
                    ok = fail(error, QStringLiteral("cannot write"), to);
                    break;
                }
                done += put;
            }
            if (!ok)
                break;
        }
    }
    ::close(in);
    if (::close(out) != 0 && ok)
        ok = fail(error, QStringLiteral("cannot write"), to);
    if (ok)
        keepMetadata(to, st, false);
    return ok;
}

bool copyEntry(const std::string& from, const std::string& to, QString* error);

bool copyDirectory(const std::string& from, const std::string& to, const struct stat& st, QString* error)
{
    if (::mkdir(to.c_str(), 0700) != 0)
        return fail(error, QStringLiteral("cannot create"), to);
    DIR* dir = ::opendir(from.c_str());
    if (!dir)
        return fail(error, QStringLiteral("cannot read"), from);
    bool ok = true;
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        if (!(ok = copyEntry(from + '/' + entry->d_name, to + '/' + entry->d_name, error)))
            break;
    }
    ::closedir(dir);
    if (ok)
        keepMetadata(to, st, false); // after the entries, which changed its times
    return ok;
}

bool copyEntry(const std::string& from, const std::string& to, QString* error)
{
    struct stat st;
    if (::lstat(from.c_str(), &st) != 0)
        return fail(error, QStringLiteral("cannot read"), from);
    if (S_ISDIR(st.st_mode))
        return copyDirectory(from, to, st, error);
    if (S_ISREG(st.st_mode))
        return copyFile(from, to, st, error);
    if (S_ISLNK(st.st_mode)) {
        std::string target(size_t(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
        const ssize_t length = ::readlink(from.c_str(), target.data(), target.size());
        if (length < 0)
            return fail(error, QStringLiteral("cannot read"), from);
        target.resize(size_t(length));
        if (::symlink(target.c_str(), to.c_str()) != 0)
            return fail(error, QStringLiteral("cannot create"), to);
        keepMetadata(to, st, true);
        return true;
    }
    return true; // sockets and pipes are no part of a machine's disk
}

bool removeEntry(const std::string& path)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(st.st_mode))
        return ::unlink(path.c_str()) == 0;
    bool ok = true;
    if (DIR* dir = ::opendir(path.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                ok = removeEntry(path + '/' + entry->d_name) && ok;
        }
        ::closedir(dir);
    }
    return ::rmdir(path.c_str()) == 0 && ok;
}

// fsync of a file or directory, so that the renames that follow find the data on disk.
void syncPath(const QString& path)
{
    const int fd = ::open(bytes(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool renamePath(const QString& from, const QString& to, QString* error)
{
    if (::rename(bytes(from).c_str(), bytes(to).c_str()) == 0)
        return true;
    return fail(error, QStringLiteral("cannot rename to \"%1\":").arg(to), bytes(from));
}

const char* const DatabaseSuffixes[] = {"-wal", "-shm", "-journal"};

} // namespace

bool removeTree(const QString& path)
{
    return removeEntry(bytes(path));
}

bool copyTree(const QString& from, const QString& to, QString* error)
{
    if (copyEntry(bytes(from), bytes(to), error))
        return true;
    removeTree(to);
    return false;
}

bool backupDatabase(const QString& from, const QString& to, QString* error)
{
    sqlite3* source = nullptr;
    sqlite3* target = nullptr;
    auto close = [&](bool ok) {
        sqlite3_close(source);
        sqlite3_close(target);
        if (!ok)
            QFile::remove(to);
        return ok;
    };
    if (sqlite3_open_v2(bytes(from).c_str(), &source, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
        return close(setError(error, QStringLiteral("cannot open \"%1\": %2").arg(from, QString::fromUtf8(sqlite3_errmsg(source)))));
    if (QFileInfo::exists(to))
        return close(setError(error, QStringLiteral("\"%1\" exists already").arg(to)));
    if (sqlite3_open_v2(bytes(to).c_str(), &target, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr)
        != SQLITE_OK)
        return close(setError(error, QStringLiteral("cannot create \"%1\": %2").arg(to, QString::fromUtf8(sqlite3_errmsg(target)))));
    // A writer may hold the source for a moment: wait for it as the machine's own calls do.
    sqlite3_busy_timeout(source, 10000);
    sqlite3_backup* backup = sqlite3_backup_init(target, "main", source, "main");
    if (!backup)
        return close(setError(error, QStringLiteral("cannot copy \"%1\": %2").arg(from, QString::fromUtf8(sqlite3_errmsg(target)))));
    // All pages in one step: one read transaction, so the copy is one consistent state.
    int code = SQLITE_OK;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while ((code = sqlite3_backup_step(backup, -1)) == SQLITE_BUSY || code == SQLITE_LOCKED) {
        if (std::chrono::steady_clock::now() > deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    sqlite3_backup_finish(backup);
    if (code != SQLITE_DONE)
        return close(setError(error, QStringLiteral("cannot copy \"%1\": %2").arg(from, QString::fromUtf8(sqlite3_errstr(code)))));
    return close(true);
}

bool copyMachine(const QString& from, const QString& to, QString* error)
{
    if (!EmulatedMachine::holdsMachine(from))
        return setError(error, QStringLiteral("\"%1\" holds no machine").arg(from));
    if (QFileInfo::exists(to) || QFileInfo(to).isSymLink())
        return setError(error, QStringLiteral("\"%1\" exists already").arg(to));
    if (::mkdir(bytes(to).c_str(), 0755) != 0)
        return fail(error, QStringLiteral("cannot create"), bytes(to));
    const QDir source(from);
    const QDir target(to);
    // The database first: files written after it are at worst newer than the registry says,
    // which is what a machine that was switched off at that moment would show too.
    bool ok = backupDatabase(source.filePath(EmulatedMachine::databaseName()),
                             target.filePath(EmulatedMachine::databaseName()), error);
    for (const QString& tree : {QStringLiteral("drive_c"), QStringLiteral("journal")}) {
        if (ok && QFileInfo(source.filePath(tree)).isDir())
            ok = copyTree(source.filePath(tree), target.filePath(tree), error);
    }
    if (!ok)
        removeTree(to);
    return ok;
}

bool restoreMachine(const QString& copy, const QString& into, QString* error)
{
    if (!EmulatedMachine::holdsMachine(copy))
        return setError(error, QStringLiteral("\"%1\" holds no machine").arg(copy));
    if (!QFileInfo(into).isDir())
        return setError(error, QStringLiteral("\"%1\" is no machine folder").arg(into));
    const QDir folder(into);
    const QString work = folder.filePath(QStringLiteral(".restore"));
    // What an earlier, interrupted restore left: built anew below.
    if (!removeTree(work) || !QDir().mkpath(work))
        return setError(error, QStringLiteral("cannot prepare \"%1\"").arg(work));
    const QDir stage(work);
    // 1. Everything new beside the old machine; a kill here leaves the old machine whole.
    const QString database = folder.filePath(EmulatedMachine::databaseName());
    if (!backupDatabase(QDir(copy).filePath(EmulatedMachine::databaseName()), stage.filePath(QStringLiteral("machine.db")),
                        error))
        return false;
    const QStringList trees = {QStringLiteral("drive_c"), QStringLiteral("journal")};
    for (const QString& tree : trees) {
        const QString source = QDir(copy).filePath(tree);
        if (QFileInfo(source).isDir() && !copyTree(source, stage.filePath(tree + QStringLiteral(".new")), error))
            return false;
    }
    syncPath(stage.filePath(QStringLiteral("machine.db")));
    syncPath(work);
    // 2. machine.db becomes a placeholder that no opener takes for a machine: from here until
    // step 4 the folder refuses to open instead of pairing one machine's database with the
    // other's files. The old database's log files go with it: they belong to the old one.
    const QString placeholder = stage.filePath(QStringLiteral("placeholder"));
    QFile marker(placeholder);
    if (!marker.open(QIODevice::WriteOnly)
        || marker.write(QByteArrayLiteral("This machine is being restored from a snapshot; restore it again to finish.\n")) < 0
        || !marker.flush())
        return setError(error, QStringLiteral("cannot write \"%1\"").arg(placeholder));
    ::fsync(marker.handle());
    marker.close();
    // The old database's last commits live in its write-ahead log until a checkpoint; both
    // go now, so no log outlives its database.
    if (!renamePath(placeholder, database, error))
        return false;
    for (const char* suffix : DatabaseSuffixes)
        QFile::remove(database + QLatin1String(suffix));
    syncPath(into);
    // 3. The trees: the old one aside, the new one in (a machine without journal/ loses the
    // one it had).
    for (const QString& tree : trees) {
        const QString live = folder.filePath(tree);
        const QString old = stage.filePath(tree + QStringLiteral(".old"));
        if ((QFileInfo::exists(live) || QFileInfo(live).isSymLink()) && !renamePath(live, old, error))
            return false;
        const QString fresh = stage.filePath(tree + QStringLiteral(".new"));
        if (QFileInfo::exists(fresh) && !renamePath(fresh, live, error))
            return false;
    }
    syncPath(into);
    // 4. The restored database replaces the placeholder in one rename: the machine is whole.
    if (!renamePath(stage.filePath(QStringLiteral("machine.db")), database, error))
        return false;
    syncPath(into);
    removeTree(work);
    return true;
}

} // namespace winsteps::platform::emulated
