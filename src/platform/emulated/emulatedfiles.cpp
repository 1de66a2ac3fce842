// The file calls of the emulated machine (see EmulatedFiles).

#include "platform/emulated/emulatedfiles.h"

#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/filejournal.h"
#include "platform/emulated/machinepaths.h"
#include "platform/emulated/pendingrenames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace winsteps::platform::emulated {

namespace {

QByteArray local(const QString& host)
{
    return QFile::encodeName(host);
}

// ERROR_FILE_NOT_FOUND when the folder that would hold host exists, else ERROR_PATH_NOT_FOUND.
std::uint32_t missing(const QString& host)
{
    return QFileInfo(QFileInfo(host).absolutePath()).isDir() ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

std::uint32_t errorOf(int error, const QString& host)
{
    switch (error) {
    case ENOENT:
        return missing(host);
    case ENOTDIR:
    case ENAMETOOLONG:
        return ERROR_PATH_NOT_FOUND;
    case EEXIST:
        return ERROR_ALREADY_EXISTS;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case ENOSPC:
        return ERROR_DISK_FULL;
    default:
        return ERROR_ACCESS_DENIED;
    }
}

std::uint32_t attributesOf(const struct stat& target, bool link)
{
    std::uint32_t attributes = 0;
    if (S_ISDIR(target.st_mode))
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    else if (!(target.st_mode & S_IWUSR))
        attributes |= FILE_ATTRIBUTE_READONLY; // like the read-only attribute, it binds everyone
    if (link)
        attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    return attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
}

// When newName names the file at host by another spelling of its name: true, with *target
// the host path of that spelling.
bool respelling(const QString& host, const std::string& newName, QString* target)
{
    const QFileInfo file(host);
    const QString name = windowsFileName(QString::fromStdString(newName));
    if (name == file.fileName())
        return false;
    *target = file.path() + QLatin1Char('/') + name;
    return true;
}

class PosixFile final : public FileHandle {
public:
    explicit PosixFile(int fd) : m_fd(fd) {}
    ~PosixFile() override { ::close(m_fd); }

    std::uint32_t read(void* buffer, std::uint32_t size, std::uint32_t* done) override
    {
        ssize_t n;
        do {
            n = ::read(m_fd, buffer, size);
        } while (n < 0 && errno == EINTR);
        *done = n > 0 ? std::uint32_t(n) : 0;
        return n < 0 ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
    }

    // Opened for reading: files written are staged by the journal (FileJournal::openForWrite).
    std::uint32_t write(const void*, std::uint32_t, std::uint32_t* done) override
    {
        *done = 0;
        return ERROR_ACCESS_DENIED;
    }

private:
    int m_fd;
};

} // namespace

EmulatedFiles::EmulatedFiles(EmulatedMachine& machine)
    : m_machine(machine)
{
}

std::uint32_t EmulatedFiles::mapPath(const std::string& path, FileAccess access, QString* host) const
{
    QString text = QString::fromStdString(path);
    if (text.isEmpty() || text.contains(QChar(0)))
        return ERROR_PATH_NOT_FOUND;
    for (const QLatin1String prefix : {QLatin1String("\\\\?\\"), QLatin1String("\\??\\")}) {
        if (text.startsWith(prefix))
            text.remove(0, prefix.size());
    }
    QChar drive;
    if (isDrivePath(text, &drive)) {
        if (drive != QLatin1Char('C'))
            return ERROR_PATH_NOT_FOUND; // the machine has no other drive
        *host = m_machine.hostPath(text);
    } else if (text.startsWith(QLatin1String("\\\\"))) {
        return ERROR_PATH_NOT_FOUND; // no network
    } else if (text.startsWith(QLatin1Char('\\'))) {
        *host = m_machine.hostPath(QStringLiteral("C:") + text);
    } else {
        // A path of this process: read where it is, written only when it lies on drive C:.
        text.replace(QLatin1Char('\\'), QLatin1Char('/'));
        *host = QDir::cleanPath(QDir::current().absoluteFilePath(text));
    }
    // The root itself may be named (its directory exists); every call that would change it
    // refuses a directory anyway.
    if (access == FileAccess::Write && !m_machine.insideDriveC(*host) && *host != m_machine.driveC())
        return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

std::string EmulatedFiles::localFilePath(const std::string& path)
{
    // A path of this process stays as it is (a bare program name is still looked up in PATH).
    QString text = QString::fromStdString(path);
    QChar drive;
    QString host;
    if ((isDrivePath(text, &drive) || text.startsWith(QLatin1Char('\\')))
        && mapPath(path, FileAccess::Read, &host) == ERROR_SUCCESS)
        return host.toStdString();
    text.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return text.toStdString();
}

std::uint32_t EmulatedFiles::getFileAttributes(const std::string& path, std::uint32_t* attributes)
{
    QString host;
    if (const std::uint32_t code = mapPath(path, FileAccess::Read, &host))
        return code;
    struct stat self, target;
    const QByteArray name = local(host);
    if (::lstat(name.constData(), &self) != 0)
        return errorOf(errno, host);
    const bool link = S_ISLNK(self.st_mode);
    // A link whose target is gone is still an entry, as a link.
    *attributes = attributesOf(link && ::stat(name.constData(), &target) == 0 ? target : self, link);
    return ERROR_SUCCESS;
}

std::uint32_t EmulatedFiles::findFiles(const std::string& directory, std::vector<FindData>* entries)
{
    QString host;
    if (const std::uint32_t code = mapPath(directory, FileAccess::Read, &host))
        return code;
    struct stat info;
    if (::stat(local(host).constData(), &info) != 0)
        return errno == ENOENT ? ERROR_PATH_NOT_FOUND : errorOf(errno, host);
    if (!S_ISDIR(info.st_mode))
        return ERROR_DIRECTORY;
    DIR* dir = ::opendir(local(host).constData());
    if (!dir)
        return errorOf(errno, host);
    std::vector<FindData> found;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat self, target;
        if (::fstatat(::dirfd(dir), entry->d_name, &self, AT_SYMLINK_NOFOLLOW) != 0)
            continue; // gone meanwhile
        const bool link = S_ISLNK(self.st_mode);
        const bool followed = link && ::fstatat(::dirfd(dir), entry->d_name, &target, 0) == 0;
        if (link && !followed)
            continue; // a link whose target is gone names nothing to list
        const struct stat& shown = followed ? target : self;
        FindData data;
        data.name = name;
        data.attributes = attributesOf(shown, link);
        data.size = S_ISREG(shown.st_mode) ? std::uint64_t(shown.st_size) : 0;
        found.push_back(std::move(data));
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end(), [](const FindData& a, const FindData& b) {
        const int order = QString::fromStdString(a.name).compare(QString::fromStdString(b.name), Qt::CaseInsensitive);
        return order != 0 ? order < 0 : a.name < b.name;
    });
    *entries = std::move(found);
    return ERROR_SUCCESS;
}

std::uint32_t EmulatedFiles::createDirectory(const std::string& path)
{
    QString host;
    if (const std::uint32_t code = mapPath(path, FileAccess::Write, &host))
        return code;
    if (const int error = FileJournal(m_machine).makeDirectory(host))
        return error == ENOENT ? ERROR_PATH_NOT_FOUND : errorOf(error, host);
    return ERROR_SUCCESS;
}

std::uint32_t EmulatedFiles::deleteFile(const std::string& path)
{
    QString host;
    if (const std::uint32_t code = mapPath(path, FileAccess::Write, &host))
        return code;
    struct stat info;
    const QByteArray name = local(host);
    if (::lstat(name.constData(), &info) != 0)
        return errorOf(errno, host);
    if (S_ISDIR(info.st_mode) || (S_ISREG(info.st_mode) && !(info.st_mode & S_IWUSR)))
        return ERROR_ACCESS_DENIED;
    const int error = FileJournal(m_machine).removeFile(host);
    return error == 0 ? ERROR_SUCCESS : errorOf(error, host);
}

std::uint32_t EmulatedFiles::createFile(const std::string& path, std::uint32_t access, std::uint32_t disposition,
                                          FileHandlePtr* file)
{
    const bool write = access == GENERIC_WRITE && disposition == CREATE_ALWAYS;
    if (!write && !(access == GENERIC_READ && disposition == OPEN_EXISTING))
        return ERROR_INVALID_PARAMETER;
    QString host;
    if (const std::uint32_t code = mapPath(path, write ? FileAccess::Write : FileAccess::Read, &host))
        return code;
    const QByteArray name = local(host);
    struct stat info;
    const bool exists = (write ? ::lstat(name.constData(), &info) : ::stat(name.constData(), &info)) == 0;
    if (!exists && !write)
        return errorOf(errno, host);
    if (exists && (S_ISDIR(info.st_mode) || (write && S_ISREG(info.st_mode) && !(info.st_mode & S_IWUSR))))
        return ERROR_ACCESS_DENIED;
    // A written file is staged and takes the place of the old one (a link itself, never what
    // it leads to) when closed.
    if (write) {
        const int error = FileJournal(m_machine).openForWrite(host, file);
        return error == 0 ? ERROR_SUCCESS : errorOf(error, host);
    }
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errorOf(errno, host);
    *file = std::make_unique<PosixFile>(fd);
    return ERROR_SUCCESS;
}

std::uint32_t EmulatedFiles::moveFileEx(const std::string& existing, const std::string* newName, std::uint32_t flags)
{
    const bool delayed = flags & MOVEFILE_DELAY_UNTIL_REBOOT;
    const FileAccess access = delayed ? FileAccess::Read : FileAccess::Write;
    QString source, target;
    if (const std::uint32_t code = mapPath(existing, access, &source))
        return code;
    if (newName) {
        if (const std::uint32_t code = mapPath(*newName, access, &target))
            return code;
    }
    if (source == m_machine.driveC() || (newName && target == m_machine.driveC()))
        return ERROR_ACCESS_DENIED; // drive C: itself is neither moved nor removed
    // Another spelling of the source's own name: the file takes that spelling.
    const bool respelt = newName && target == source && respelling(source, *newName, &target);
    const QString windowsSource = m_machine.windowsPath(source);
    const QString windowsTarget = newName ? m_machine.windowsPath(target) : QString();
    if (windowsSource.isEmpty() || (newName && windowsTarget.isEmpty()))
        return ERROR_PATH_NOT_FOUND; // not on this machine's drive C:

    if (!delayed) {
        if (!newName)
            return ERROR_INVALID_PARAMETER;
        const QFileInfo from(source);
        if (!from.exists() && !from.isSymLink())
            return ERROR_FILE_NOT_FOUND;
        const QFileInfo to(target);
        if (!respelt && (to.exists() || to.isSymLink())) {
            if (!(flags & MOVEFILE_REPLACE_EXISTING) || to.isDir())
                return ERROR_ALREADY_EXISTS;
            if (!to.isSymLink() && !(to.permissions() & QFileDevice::WriteOwner))
                return ERROR_ACCESS_DENIED; // a read-only file is never replaced
        }
        const int error = FileJournal(m_machine).rename(source, target);
        return error == 0 ? ERROR_SUCCESS : error == ENOSPC ? errorOf(error, target) : ERROR_ACCESS_DENIED;
    }

    return delayUntilReboot(windowsSource, newName ? &windowsTarget : nullptr, flags & MOVEFILE_REPLACE_EXISTING);
}

std::uint32_t EmulatedFiles::delayUntilReboot(const QString& windowsSource, const QString* windowsTarget, bool replace)
{
    // The MOVEFILE_DELAY_UNTIL_REBOOT of the wide-character call does not exist on the 9x
    // family; elsewhere it writes below HKEY_LOCAL_MACHINE, which takes an administrator.
    if (!m_machine.profile().isNt())
        return ERROR_CALL_NOT_IMPLEMENTED;
    if (!m_machine.profile().administrator() && !m_machine.systemAccess())
        return ERROR_ACCESS_DENIED;
    std::lock_guard<std::mutex> lock(m_machine.storeMutex());
    RegistryStore& store = m_machine.store();
    StoreTransaction transaction(store, true);
    const qint64 hklm = m_machine.rootRow(HKEY_LOCAL_MACHINE);
    if (!transaction.ok() || !hklm)
        return ERROR_REGISTRY_IO_FAILED;
    const qint64 key = sessionManager(store, hklm, true);
    if (!key)
        return transaction.finish(ERROR_REGISTRY_IO_FAILED);
    QStringList list = pendingList(store, key);
    list << QStringLiteral("\\??\\") + windowsSource;
    if (windowsTarget)
        list << (replace ? QStringLiteral("!\\??\\") : QStringLiteral("\\??\\")) + *windowsTarget;
    else
        list << QString();
    store.setValue(key, QLatin1String(PENDING_FILE_RENAME_OPERATIONS), REG_MULTI_SZ, multiStringData(list));
    return transaction.finish(ERROR_SUCCESS);
}

} // namespace winsteps::platform::emulated
