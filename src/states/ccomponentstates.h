#pragma once

#include "actions/cactionstate.h"
#include "fsm/cstate.h"
#include "system/istandardpaths.h"
#include "winsteps_export.h"

// The installer engine and ActiveX component states. Their traces go to the module
// "systemCheck". "identifier" names a COM class by its class text ("{...}") or its ProgID; a
// component can be created when its class is registered and its server file exists (COM is
// started on the calling thread for the test, on every Windows).

// "systemCheck_installMSI": on the 95/98/ME family makes sure that the Windows Installer
// engine (msiexec.exe in the system folder) has version 2.0 or later; otherwise runs the
// redistributable "msiPath"\InstMsiA.exe /Q (waiting up to 10 seconds, CActionStartApp
// "actionInstallMSI"). Leaves by "finished" (nothing to do, or the engine was missing and
// installed), "needReboot" (an old engine was replaced, or "forceReboot" is set and the
// redistributable ran) or "failed" (the redistributable could not run, timed out or
// returned an exit code other than 0).
class WINSTEPS_EXPORT CInstallMsiState : public CActionState, private IStandardPaths
{
    Q_OBJECT
public:
    CInstallMsiState(QObject* parent, const char* name, const QDomNode& description);
    void execute() override;

public Q_SLOTS:
    // Keeps the exit event chosen in execute(); a result above 0 (not run, timed out) or an
    // exit code other than 0 makes it "failed".
    void slot_actionFinished(int result) override;
};

// "installAxComponent": when the component "identifier" cannot be created, copies
// "pluginPath" (macros expanded; the file name after its last "/") into the system folder
// and registers it there with regsvr32.exe /s (CActionStartApp "actionRegisterComponent",
// waiting up to 10 seconds). Leaves by "success" (it existed, or the registration
// succeeded) or "failed" (the copy failed, or regsvr32.exe could not run, timed out or
// exited with a code other than 0). The declared event "timeout" is never produced: a
// time-out is "failed".
class WINSTEPS_EXPORT CInstallAxComponentState : public CActionState, private IStandardPaths
{
    Q_OBJECT
public:
    CInstallAxComponentState(QObject* parent, const char* name, const QDomNode& description);
    void execute() override;

public Q_SLOTS:
    // Leaves by the action's event, "failed" too when regsvr32.exe exited with a code.
    void slot_actionFinished(int result) override;
};

// "checkAxComponent": leaves by "installed" when the component "identifier" can be created,
// else by "notInstalled".
class WINSTEPS_EXPORT CCheckAxComponentState : public CState
{
    Q_OBJECT
public:
    CCheckAxComponentState(QObject* parent, const char* name, const QDomNode& description);
    void execute() override;
};
