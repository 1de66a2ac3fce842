#include "actions/cactioncopyfiles.h"

#include "debug/debugoutput.h"
#include "fsm/eventnames.h"
#include "platform/files.h"

#include <QCoreApplication>
#include <QRegExp>

#include <atomic>

namespace platform = winsteps::platform;

namespace {

void traceLine(const QString& text)
{
    winsteps::trace(winsteps::module::actioncopyfiles, text + QLatin1Char('\n'));
}

QString joined(const QString& directory, const QString& name)
{
    if (directory.endsWith(QLatin1Char('/')))
        return directory + name;
    return directory + QLatin1Char('/') + name;
}

std::string local(const QString& path)
{
    return path.toStdString();
}

// FILE_ATTRIBUTE_* of path, or 0 when it cannot be found.
std::uint32_t attributesOf(const QString& path)
{
    std::uint32_t attributes = 0;
    return platform::files().getFileAttributes(local(path), &attributes) == platform::ERROR_SUCCESS ? attributes : 0;
}

bool isDirectory(const QString& path)
{
    return attributesOf(path) & platform::FILE_ATTRIBUTE_DIRECTORY;
}

// Everything before the last separator ("/" or, in a Windows path, "\").
QString parentOf(const QString& path)
{
    const qsizetype slash = qMax(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    if (slash < 0)
        return QString();
    // The root keeps its separator: "/" and "C:\" are directories, "" and "C:" are not.
    return slash == 0 || (slash == 2 && path.at(1) == QLatin1Char(':')) ? path.left(slash + 1) : path.left(slash);
}

// The name of the temporary file a copy is written to, beside its destination: its own in
// every process and every copy, so that two copies to one destination never share it.
QString partialName(const QString& destination)
{
    static std::atomic<unsigned> counter{0};
    return destination + QStringLiteral(".~copy%1-%2").arg(QCoreApplication::applicationPid()).arg(++counter);
}

} // namespace

CActionCopyFiles::CActionCopyFiles(QObject* parent, const char* name, const QDomNode& element)
    : CThreadedAction(parent, name, element)
{
}

CActionCopyFiles::~CActionCopyFiles()
{
    stopAndWait(); // the worker walks m_files
}

void CActionCopyFiles::resetProgress()
{
    if (isWorkerRunning()) {
        if (!isStopRequested())
            return; // a copy is going on: its list stays as it is
        stopAndWait();
    }
    // The list is made afresh for every run, so a state executed twice copies once.
    m_files.clear();
    m_nextNumber = 1;
    init();
    QString source = property(QStringLiteral("srcDir")).toString();
    if (source.endsWith(QLatin1Char('/')))
        source = source.left(source.lastIndexOf(QLatin1Char('/')));
    for (const char* macro : {"%SRC%", "%SOURCE%", "%SRCDIR%", "%SOURCEDIR%"})
        setMacro(QLatin1String(macro), source);
    const QString destination = property(QStringLiteral("destDir")).toString();
    setMacro(QStringLiteral("%DEST%"), destination);
    setMacro(QStringLiteral("%DESTDIR%"), destination);

    for (int n = 1;; ++n) {
        const QString key = QLatin1String("copyFile") + QString::number(n);
        if (!hasProperty(key))
            break;
        const QString order = property(key).toString();
        const qsizetype separator = order.indexOf(QLatin1String("::"));
        if (separator < 0)
            continue;
        const QString from = order.left(separator);
        const QString to = order.mid(separator + 2);
        if (!from.isEmpty() && !to.isEmpty())
            addFile(from, to);
    }
    setProgress(0);
}

void CActionCopyFiles::stop()
{
    CThreadedAction::stop();
    if (!isWorkerRunning())
        m_files.clear();
}

int CActionCopyFiles::maxProgress() const
{
    return int(m_files.size());
}

void CActionCopyFiles::addFile(const QString& source, const QString& destination)
{
    const QString sourcePath = expand(source);
    const QString destinationDir = expand(destination);
    const qsizetype slash = sourcePath.lastIndexOf(QLatin1Char('/'));
    const QString directory = slash < 0 ? QString() : sourcePath.left(slash);
    const QString masks = sourcePath.mid(slash + 1);
    if (directory.isEmpty() || masks.isEmpty()) {
        traceLine(QStringLiteral(" ! Error ! addFile: Source directory or file name(mask) are empty."));
        return;
    }
    const QStringList maskList = masks.split(QLatin1Char('|'), Qt::SkipEmptyParts);
    for (const QString& mask : maskList) {
        std::vector<platform::FindData> entries;
        if (!isDirectory(directory) || platform::files().findFiles(local(directory), &entries) != platform::ERROR_SUCCESS) {
            traceLine(QStringLiteral(" ! Warning ! addFile: Source directory doesn't exist."));
            continue;
        }
        // One mask at a time, never split further: a name with blanks is one name. Masks
        // match without regard to case, as on Windows; hidden files are files too.
        const QRegExp matcher(mask, Qt::CaseInsensitive, QRegExp::Wildcard);
        for (const platform::FindData& entry : entries) {
            const QString name = QString::fromStdString(entry.name);
            if ((entry.attributes & platform::FILE_ATTRIBUTE_DIRECTORY) || !matcher.exactMatch(name))
                continue;
            const QString from = joined(directory, name);
            const QString to = joined(destinationDir, name);
            traceLine(QLatin1String("Add file #") + QString::number(m_nextNumber) + QLatin1String(" to list. From: ")
                      + from + QLatin1String(" - to: ") + to);
            m_files.insert(m_nextNumber++, {from, to});
        }
    }
}

int CActionCopyFiles::execute()
{
    int result = Copied;
    bool completed = true;
    for (auto it = m_files.cbegin(); it != m_files.cend(); ++it) {
        if (isStopRequested()) {
            result = Stopped;
            completed = false;
            break;
        }
        const QString& from = it.value().first;
        const QString& to = it.value().second;
        const qsizetype slash = to.lastIndexOf(QLatin1Char('/'));
        if (!makePath(slash < 0 ? QString() : to.left(slash))) {
            traceLine(QLatin1String("  Fatal error: ") + QString::number(MakePathFailed));
            result = MakePathFailed;
            completed = false;
            break;
        }
        traceLine(QLatin1String("Copying from ") + from + QLatin1String(" to ") + to);
        const int code = copyFile(from, to);
        if (code == Copied) {
            stepProgress();
        } else if (code == AccessDenied) {
            traceLine(QStringLiteral("  Non-fatal error: access denied."));
            result = AccessDenied;
        } else if (code == Stopped) {
            result = Stopped;
            completed = false;
            break;
        } else {
            traceLine(QLatin1String("  Fatal error: ") + QString::number(code));
            result = code;
            completed = false;
            break;
        }
    }
    setResultEvent(completed ? winsteps::event::success : winsteps::event::failed);
    return result;
}

bool CActionCopyFiles::makePath(const QString& directory)
{
    if (directory.isEmpty())
        return true;
    // Asking for the directory, rather than looking for it first, also finds out whether it
    // may be written: a place outside the machine is refused even when it exists.
    platform::Files& machine = platform::files();
    switch (machine.createDirectory(local(directory))) {
    case platform::ERROR_SUCCESS:
        return true;
    case platform::ERROR_ALREADY_EXISTS:
        return isDirectory(directory);
    case platform::ERROR_PATH_NOT_FOUND: {
        const QString parent = parentOf(directory);
        return parent != directory && makePath(parent)
            && machine.createDirectory(local(directory)) == platform::ERROR_SUCCESS;
    }
    default:
        return false;
    }
}

int CActionCopyFiles::copyFile(const QString& sourcePath, const QString& destinationPath)
{
    platform::Files& machine = platform::files();
    if (!attributesOf(sourcePath))
        return SourceMissing;
    platform::FileHandlePtr source;
    if (machine.createFile(local(sourcePath), platform::GENERIC_READ, platform::OPEN_EXISTING, &source)
        != platform::ERROR_SUCCESS)
        return SourceUnreadable;
    const std::uint32_t existing = attributesOf(destinationPath);
    if (existing & (platform::FILE_ATTRIBUTE_READONLY | platform::FILE_ATTRIBUTE_DIRECTORY))
        return AccessDenied;
    // Written beside the destination and renamed into place only when complete, so that a
    // failed or stopped copy never leaves a truncated destination behind.
    const QString partial = partialName(destinationPath);
    platform::FileHandlePtr destination;
    if (machine.createFile(local(partial), platform::GENERIC_WRITE, platform::CREATE_ALWAYS, &destination)
        != platform::ERROR_SUCCESS)
        return AccessDenied;
    const int code = copyContent(*source, *destination);
    destination.reset();
    if (code == Copied) {
        const std::string target = local(destinationPath);
        if (machine.moveFileEx(local(partial), &target, platform::MOVEFILE_REPLACE_EXISTING) == platform::ERROR_SUCCESS)
            return Copied;
    }
    machine.deleteFile(local(partial));
    return code == Copied ? AccessDenied : code;
}

int CActionCopyFiles::copyContent(platform::FileHandle& source, platform::FileHandle& destination)
{
    QByteArray buffer(chunkSize, Qt::Uninitialized);
    for (;;) {
        if (isStopRequested())
            return Stopped;
        std::uint32_t read = 0;
        if (source.read(buffer.data(), std::uint32_t(chunkSize), &read) != platform::ERROR_SUCCESS)
            return SourceUnreadable;
        if (read == 0)
            return Copied;
        std::uint32_t written = 0;
        if (destination.write(buffer.constData(), read, &written) != platform::ERROR_SUCCESS || written != read)
            return AccessDenied;
    }
}
