#pragma once

// The machine of `winsteps run --dry-run`: a copy of the machine the run would use, made in a
// temporary folder, compared with the original once the run is over, and removed with it.

#include "machinediff.h"

#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <string>

namespace winsteps::host {

class DryRun
{
public:
    // A copy of the machine in folder; folder empty or holding no machine: a new machine of
    // profile is made in the temporary folder (the named folder stays as it is). Null +
    // error text on failure.
    static std::unique_ptr<DryRun> prepare(const std::string& profile, const std::string& folder, QString* error);

    // The folder to run on.
    std::string copyFolder() const { return m_copy.toStdString(); }
    // Compares the original with the copy after the run. False + error text when one of them
    // cannot be read.
    bool compare(QString* error);
    const QList<machine::Change>& changes() const { return m_changes; }

    ~DryRun();

private:
    DryRun() { m_temporary.setAutoRemove(false); }

    QTemporaryDir m_temporary; // both copies; removed at the end (with removeTree: odd names)
    QString m_original; // a copy of the original as it was: the run's machine is compared with it
    QString m_copy;
    QList<machine::Change> m_changes;
};

} // namespace winsteps::host
