#pragma once

#include "system/istandardpaths.h"
#include "fsm/cstate.h"
#include "winsteps_export.h"

// "registerStart": enters the program "command" (path macros expanded) under the value name
// "description" in the Run key ("runOnce": the RunOnce key), for the current user or, with
// "allUsers" or on the 9x family, for every user; "unregister" removes the entry again. An
// existing entry is never overwritten, and a missing Run key is not created. Always leaves
// by "finished".
class WINSTEPS_EXPORT CRegisterStartState : public CState, private IStandardPaths
{
    Q_OBJECT
public:
    CRegisterStartState(QObject* parent, const char* name, const QDomNode& description);
    void execute() override;
};
