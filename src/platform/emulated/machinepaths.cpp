// Where a machine's Windows paths lie on this system: drive C: is "<folder>/drive_c", and
// names are matched there without regard to case.

#include "platform/emulated/machinepaths.h"

#include "platform/emulated/emulatedmachine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <filesystem>

namespace winsteps::platform::emulated {

namespace {

bool isSeparator(QChar c)
{
    return c == QLatin1Char('\\') || c == QLatin1Char('/');
}

// A name as Windows reads it: the last name of a path loses its trailing dots and blanks
// ("name.txt. " is "name.txt"), any other name one trailing dot ("dir." is "dir").
QString trimmedName(const QString& name, bool last)
{
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return name;
    int size = int(name.size());
    if (last) {
        while (size > 0 && (name.at(size - 1) == QLatin1Char('.') || name.at(size - 1) == QLatin1Char(' ')))
            --size;
    } else if (name.endsWith(QLatin1Char('.')) && !name.endsWith(QLatin1String(".."))) {
        --size;
    }
    return name.left(size);
}

// The names of a path below a drive's root, "." dropped and ".." taking one name back (at
// the root it stays there, as Windows keeps "C:\..\x" on C:).
QStringList driveParts(const QString& rest)
{
    QStringList parts;
    QString part;
    auto take = [&parts](const QString& written, bool last) {
        const QString name = trimmedName(written, last);
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
            take(part, false);
            part.clear();
        } else {
            part += c;
        }
    }
    take(part, true);
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

} // namespace

bool isDrivePath(const QString& path, QChar* drive)
{
    if (path.size() < 2 || path.at(1) != QLatin1Char(':') || !path.at(0).isLetter() || path.at(0).unicode() > 0x7F)
        return false;
    *drive = path.at(0).toUpper();
    return true;
}

QString windowsFileName(const QString& path)
{
    int start = int(path.size());
    while (start > 0 && !isSeparator(path.at(start - 1)) && path.at(start - 1) != QLatin1Char(':'))
        --start;
    return trimmedName(path.mid(start), true);
}

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

bool EmulatedMachine::insideDriveC(const QString& host) const
{
    const QString root = QDir::cleanPath(driveC());
    const QString path = QDir::cleanPath(host);
    if (!path.startsWith(root + QLatin1Char('/')))
        return false;
    std::error_code error;
    const std::filesystem::path realRoot = std::filesystem::canonical(QFile::encodeName(root).toStdString(), error);
    if (error)
        return false;
    const std::filesystem::path parent
        = std::filesystem::weakly_canonical(QFile::encodeName(QFileInfo(path).absolutePath()).toStdString(), error);
    if (error)
        return false;
    const std::string inside = realRoot.string();
    const std::string real = parent.string();
    return real == inside || (real.size() > inside.size() && real.compare(0, inside.size(), inside) == 0
                              && real[inside.size()] == '/');
}

} // namespace winsteps::platform::emulated
