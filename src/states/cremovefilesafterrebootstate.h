#pragma once

#include "system/istandardpaths.h"
#include "fsm/cstate.h"
#include "winsteps_export.h"

// "removeFilesAfterReboot": asks the system to remove the file or directory tree "path"
// (path macros expanded) at the next restart: the contents of a directory first, depth
// first, then the directory itself. Entries whose names begin with "." are left alone, and a
// symbolic link is scheduled as the link itself, never followed. Scheduling needs an
// administrator; without one nothing happens. Always leaves by "finished".
class WINSTEPS_EXPORT CRemoveFilesAfterRebootState : public CState, private IStandardPaths
{
    Q_OBJECT
public:
    CRemoveFilesAfterRebootState(QObject* parent, const char* name, const QDomNode& description);
    void execute() override;

    virtual void scheduleRemoval(const QString& path);

private:
    void scheduleTree(const QString& path, int depth);
};
