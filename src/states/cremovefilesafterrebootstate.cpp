#include "states/cremovefilesafterrebootstate.h"

#include "fsm/eventnames.h"
#include "platform/files.h"

using namespace winsteps;

namespace {
// Deeper trees than this are not followed (a file system cannot nest much deeper anyway).
constexpr int maxDepth = 256;

// A directory to descend into: a link to one is scheduled as itself, since listing it would
// reach whatever it points to.
bool isTree(std::uint32_t attributes)
{
    return (attributes & platform::FILE_ATTRIBUTE_DIRECTORY) && !(attributes & platform::FILE_ATTRIBUTE_REPARSE_POINT);
}
} // namespace

CRemoveFilesAfterRebootState::CRemoveFilesAfterRebootState(QObject* parent, const char* name,
                                                           const QDomNode& description)
    : CState(parent, name, description)
{
    addEvent(event::finished);
    addRequiredProperty(QStringLiteral("path"));
    init();
}

void CRemoveFilesAfterRebootState::execute()
{
    const QString path = expand(property("path").toString());
    // An empty path would list the current directory and schedule all of it.
    if (!path.trimmed().isEmpty())
        scheduleRemoval(path);
    setExitEvent(event::finished);
    leaveState();
}

void CRemoveFilesAfterRebootState::scheduleRemoval(const QString& path)
{
    scheduleTree(path, 0);
}

void CRemoveFilesAfterRebootState::scheduleTree(const QString& path, int depth)
{
    platform::Files& machine = platform::files();
    std::uint32_t attributes = 0;
    std::vector<platform::FindData> entries;
    if (machine.getFileAttributes(path.toStdString(), &attributes) == platform::ERROR_SUCCESS && isTree(attributes)
        && depth < maxDepth && machine.findFiles(path.toStdString(), &entries) == platform::ERROR_SUCCESS) {
        const bool separated = path.endsWith(QLatin1Char('/')) || path.endsWith(QLatin1Char('\\'));
        for (const platform::FindData& entry : entries) {
            // Hidden entries are not listed.
            if (entry.attributes & platform::FILE_ATTRIBUTE_HIDDEN)
                continue;
            const QString name = QString::fromStdString(entry.name);
            const QString full = path + (separated ? QString() : QStringLiteral("/")) + name;
            if (isTree(entry.attributes)) {
                if (!name.startsWith(QLatin1Char('.')))
                    scheduleTree(full, depth + 1);
            } else {
                machine.moveFileEx(full.toStdString(), nullptr, platform::MOVEFILE_DELAY_UNTIL_REBOOT);
            }
        }
    }
    machine.moveFileEx(path.toStdString(), nullptr, platform::MOVEFILE_DELAY_UNTIL_REBOOT);
}
