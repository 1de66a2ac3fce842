#include "states/cremovefilesafterrebootstate.h"

#include "platform/platform.h"

#include <QDir>
#include <QFileInfo>

using namespace winsteps;

namespace {
// Deeper trees than this are not followed (a file system cannot nest much deeper anyway).
constexpr int maxDepth = 256;
} // namespace

CRemoveFilesAfterRebootState::CRemoveFilesAfterRebootState(QObject* parent, const char* name,
                                                           const QDomNode& description)
    : CState(parent, name, description)
{
    addEvent(QStringLiteral("finished"));
    addRequiredProperty(QStringLiteral("path"));
    init();
}

void CRemoveFilesAfterRebootState::execute()
{
    const QString path = expand(property("path").toString());
    // An empty path would list the current directory and schedule all of it.
    if (!path.trimmed().isEmpty())
        scheduleRemoval(path);
    setExitEvent(QStringLiteral("finished"));
    leaveState();
}

void CRemoveFilesAfterRebootState::scheduleRemoval(const QString& path)
{
    scheduleTree(path, 0);
}

void CRemoveFilesAfterRebootState::scheduleTree(const QString& path, int depth)
{
    platform::Platform& machine = platform::current();
    // Macros give paths with "\" separators; the file system here wants the local form.
    const QString local = QString::fromStdString(machine.localFilePath(path.toStdString()));
    const QFileInfo self(local);
    // A link is scheduled as itself: listing it would reach whatever it points to.
    if (self.isDir() && !self.isSymLink() && depth < maxDepth) {
        const QFileInfoList entries = QDir(local).entryInfoList(
            QDir::Dirs | QDir::Files | QDir::Drives | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
        for (const QFileInfo& entry : entries) {
            const QString name = entry.fileName();
            const bool separated = path.endsWith(QLatin1Char('/')) || path.endsWith(QLatin1Char('\\'));
            const QString full = path + (separated ? QString() : QStringLiteral("/")) + name;
            if (entry.isSymLink()) {
                machine.moveFileEx(full.toStdString(), nullptr, platform::MOVEFILE_DELAY_UNTIL_REBOOT);
            } else if (entry.isDir()) {
                if (!name.startsWith(QLatin1Char('.')))
                    scheduleTree(full, depth + 1);
            } else if (entry.isFile()) {
                machine.moveFileEx(full.toStdString(), nullptr, platform::MOVEFILE_DELAY_UNTIL_REBOOT);
            }
        }
    }
    machine.moveFileEx(path.toStdString(), nullptr, platform::MOVEFILE_DELAY_UNTIL_REBOOT);
}
