#pragma once

#include "system/istandardpaths.h"
#include "fsm/cstate.h"
#include "winsteps_export.h"

// "registerUninstall": enters the application in the list of installed programs (the key
// "applicationName" below the Uninstall key of HKEY_LOCAL_MACHINE, with "DisplayName" (the
// application name when "displayName" is empty) and "UninstallString" ("command", path
// macros expanded)), or removes that key with "unregister". Always leaves by "finished".
class WINSTEPS_EXPORT CRegisterUninstallState : public CState, private IStandardPaths
{
    Q_OBJECT
public:
    CRegisterUninstallState(QObject* parent, const char* name, const QDomNode& description);
    void execute() override;
};
