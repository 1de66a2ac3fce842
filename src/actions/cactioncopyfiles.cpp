#include "actions/cactioncopyfiles.h"

#include "debug/debugoutput.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

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

// Like the read-only attribute of Windows, a file without the owner's write permission
// cannot be overwritten, whoever asks.
bool isWritableFile(const QFileInfo& info)
{
    return info.isFile() && info.isWritable() && (info.permissions() & QFileDevice::WriteOwner);
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
        if (!QFileInfo(directory).isDir()) {
            traceLine(QStringLiteral(" ! Warning ! addFile: Source directory doesn't exist."));
            continue;
        }
        // One mask at a time, never split further: a name with blanks is one name. Masks
        // match without regard to case, as on Windows.
        QDir dir(directory);
        dir.setNameFilters(QStringList(mask));
        dir.setFilter(QDir::Files | QDir::Hidden);
        dir.setSorting(QDir::Name | QDir::IgnoreCase);
        const QStringList names = dir.entryList();
        for (const QString& name : names) {
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
    setResultEvent(completed ? QStringLiteral("success") : QStringLiteral("failed"));
    return result;
}

bool CActionCopyFiles::makePath(const QString& directory)
{
    if (directory.isEmpty() || QFileInfo(directory).isDir())
        return true;
    const qsizetype slash = directory.lastIndexOf(QLatin1Char('/'));
    makePath(slash <= 0 ? directory.left(slash + 1) : directory.left(slash));
    return QDir().mkdir(directory);
}

int CActionCopyFiles::copyFile(const QString& sourcePath, const QString& destinationPath)
{
    if (!QFileInfo::exists(sourcePath))
        return SourceMissing;
    QFile source(sourcePath);
    if (!source.open(QIODevice::ReadOnly))
        return SourceUnreadable;
    const QFileInfo existing(destinationPath);
    if (existing.exists() && !isWritableFile(existing))
        return AccessDenied;
    // Written beside the destination and renamed into place only when complete.
    QSaveFile destination(destinationPath);
    destination.setDirectWriteFallback(false);
    if (!destination.open(QIODevice::WriteOnly))
        return AccessDenied;
    QByteArray buffer(chunkSize, Qt::Uninitialized);
    for (;;) {
        if (isStopRequested()) {
            destination.cancelWriting();
            return Stopped;
        }
        const qint64 n = source.read(buffer.data(), chunkSize);
        if (n < 0) {
            destination.cancelWriting();
            return SourceUnreadable;
        }
        if (n == 0)
            break;
        if (destination.write(buffer.constData(), n) != n) {
            destination.cancelWriting();
            return AccessDenied;
        }
    }
    return destination.commit() ? Copied : AccessDenied;
}
