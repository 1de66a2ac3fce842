#include "dryrun.h"

#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/machinecopy.h"

#include <QDir>

namespace winsteps::host {

using platform::emulated::EmulatedMachine;

std::unique_ptr<DryRun> DryRun::prepare(const std::string& profile, const std::string& folder, QString* error)
{
    std::unique_ptr<DryRun> run(new DryRun);
    if (!run->m_temporary.isValid()) {
        *error = QStringLiteral("cannot create a temporary folder: ") + run->m_temporary.errorString();
        return nullptr;
    }
    const QDir temporary(run->m_temporary.path());
    run->m_original = QString::fromStdString(folder);
    // The comparison reads a copy too: opening a machine writes to its database, and the
    // original is not to be touched at all.
    const QString base = temporary.filePath(QStringLiteral("original"));
    if (folder.empty() || !EmulatedMachine::holdsMachine(run->m_original)) {
        // What the run would have made: a new machine, compared with what the run left of it.
        if (!EmulatedMachine::create(QString::fromStdString(profile), base, error))
            return nullptr;
    } else if (!platform::emulated::copyMachine(run->m_original, base, error)) {
        return nullptr;
    }
    run->m_original = base;
    run->m_copy = temporary.filePath(QStringLiteral("machine"));
    if (!platform::emulated::copyMachine(base, run->m_copy, error))
        return nullptr;
    return run;
}

DryRun::~DryRun()
{
    if (m_temporary.isValid())
        platform::emulated::removeTree(m_temporary.path());
}

bool DryRun::compare(QString* error)
{
    machine::MachineState before;
    machine::MachineState after;
    if (!machine::captureState(m_original, &before, error) || !machine::captureState(m_copy, &after, error))
        return false;
    m_changes = machine::diffStates(before, after);
    return true;
}

} // namespace winsteps::host
