// The file calls of the emulated machine: drive C: is the directory "<folder>/drive_c", and
// every path a caller names is mapped onto it here, once, before the file is touched.

#include "platform/emulated/emulatedmachine.h"

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

bool isSeparator(QChar c)
{
    return c == QLatin1Char('\\') || c == QLatin1Char('/');
}

// "C:..." with the drive letter in any case (a drive-relative "C:x" means "C:\x": the
// machine's current directory on C: is its root).
bool isDrivePath(const QString& path, QChar* drive)
{
    if (path.size() < 2 || path.at(1) != QLatin1Char(':') || !path.at(0).isLetter() || path.at(0).unicode() > 0x7F)
        return false;
    *drive = path.at(0).toUpper();
    return true;
}

// The names of a path below a drive's root, "." dropped and ".." taking one name back (at
// the root it stays there, as Windows keeps "C:\..\x" on C:).
QStringList driveParts(const QString& rest)
{
    QStringList parts;
    QString part;
    auto take = [&parts](const QString& name) {
        if (name.isEmpty() || name == QLatin1String("."))
            return;
        if (name == QLatin1String("..")) {
            if (!parts.isEmpty())
                parts.removeLast();
            return;
        }
        parts << name;
    };
    for (const QChar c : rest) {
        if (isSeparator(c)) {
            take(part);
            part.clear();
        } else {
            part += c;
        }
    }
    take(part);
    return parts;
}

// The entry of directory that name means without regard to case: the exact name when it
// exists, else the first entry (in name order) equal to it ignoring case, else name itself.
QString entryNamed(const QString& directory, const QString& name)
{
    const QFileInfo exact(directory + QLatin1Char('/') + name);
    if (exact.exists() || exact.isSymLink())
        return name;
    const QStringList entries = QDir(directory).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return entry;
    }
    return name;
}

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
    default:
        return ERROR_ACCESS_DENIED;
    }
}

std::uint32_t attributesOf(const QString& name, const struct stat& target, bool link)
{
    std::uint32_t attributes = 0;
    if (S_ISDIR(target.st_mode))
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    else if (!(target.st_mode & S_IWUSR))
        attributes |= FILE_ATTRIBUTE_READONLY; // like the read-only attribute, it binds everyone
    if (name.startsWith(QLatin1Char('.')))
        attributes |= FILE_ATTRIBUTE_HIDDEN;
    if (link)
        attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    return attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
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
                return errno == ENOSPC ? ERROR_HANDLE_DISK_FULL : ERROR_ACCESS_DENIED;
            }
            written += std::uint32_t(n);
        }
        *done = written;
        return ERROR_SUCCESS;
    }

private:
    static constexpr std::uint32_t ERROR_HANDLE_DISK_FULL = 39;
    int m_fd;
};

} // namespace

QString EmulatedMachine::hostPath(const QString& windowsPath) const
{
    QChar drive;
    if (!isDrivePath(windowsPath, &drive) || drive != QLatin1Char('C'))
        return windowsPath;
    QString host = driveC();
    for (const QString& part : driveParts(windowsPath.mid(2)))
        host += QLatin1Char('/') + entryNamed(host, part);
    return host;
}

QString EmulatedMachine::windowsPath(const QString& host) const
{
    const QString path = QDir::cleanPath(host);
    const QString root = driveC();
    if (path == root)
        return QStringLiteral("C:\\");
    if (!path.startsWith(root + QLatin1Char('/')))
        return QString();
    QString rest = path.mid(root.size());
    rest.replace(QLatin1Char('/'), QLatin1Char('\\'));
    return QStringLiteral("C:") + rest;
}

std::uint32_t EmulatedMachine::mapPath(const std::string& path, FileAccess access, QString* host) const
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
        *host = hostPath(text);
    } else if (text.startsWith(QLatin1String("\\\\"))) {
        return ERROR_PATH_NOT_FOUND; // no network
    } else if (text.startsWith(QLatin1Char('\\'))) {
        *host = hostPath(QStringLiteral("C:") + text);
    } else {
        // A path of this process: read where it is, written only when it lies on drive C:.
        text.replace(QLatin1Char('\\'), QLatin1Char('/'));
        *host = QDir::cleanPath(QDir::current().absoluteFilePath(text));
    }
    // The root itself may be named (its directory exists); every call that would change it
    // refuses a directory anyway.
    if (access == FileAccess::Write && !safeToTouch(*host) && *host != driveC())
        return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

bool EmulatedMachine::safeToTouch(const QString& host) const
{
    // Inside drive C: by its name, and by the real directory that holds it: a symbolic link
    // on the way must not lead out of the machine.
    const QString root = QDir::cleanPath(driveC());
    const QString path = QDir::cleanPath(host);
    if (!path.startsWith(root + QLatin1Char('/')))
        return false;
    std::error_code error;
    const std::filesystem::path realRoot = std::filesystem::canonical(local(root).toStdString(), error);
    if (error)
        return false;
    const std::filesystem::path parent
        = std::filesystem::weakly_canonical(local(QFileInfo(path).absolutePath()).toStdString(), error);
    if (error)
        return false;
    const std::string inside = realRoot.string();
    const std::string real = parent.string();
    return real == inside || (real.size() > inside.size() && real.compare(0, inside.size(), inside) == 0
                              && real[inside.size()] == '/');
}

std::string EmulatedMachine::localFilePath(const std::string& path)
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

std::uint32_t EmulatedMachine::getFileAttributes(const std::string& path, std::uint32_t* attributes)
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
    *attributes = attributesOf(QFileInfo(host).fileName(), link && ::stat(name.constData(), &target) == 0 ? target : self, link);
    return ERROR_SUCCESS;
}

std::uint32_t EmulatedMachine::findFiles(const std::string& directory, std::vector<FindData>* entries)
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
        data.attributes = attributesOf(QString::fromStdString(name), shown, link);
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

std::uint32_t EmulatedMachine::createDirectory(const std::string& path)
{
    QString host;
    if (const std::uint32_t code = mapPath(path, FileAccess::Write, &host))
        return code;
    if (::mkdir(local(host).constData(), 0777) != 0)
        return errno == ENOENT ? ERROR_PATH_NOT_FOUND : errorOf(errno, host);
    return ERROR_SUCCESS;
}

std::uint32_t EmulatedMachine::deleteFile(const std::string& path)
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
    return ::unlink(name.constData()) == 0 ? ERROR_SUCCESS : errorOf(errno, host);
}

std::uint32_t EmulatedMachine::createFile(const std::string& path, std::uint32_t access, std::uint32_t disposition,
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
    // A write never follows a link: it could lead out of the machine.
    const int fd = write ? ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666)
                         : ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errorOf(errno, host);
    *file = std::make_unique<PosixFile>(fd);
    return ERROR_SUCCESS;
}

} // namespace winsteps::platform::emulated
