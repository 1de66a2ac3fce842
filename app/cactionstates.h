#pragma once

#include "actions/cactionstate.h"

// The host's action states: they make the library's general actions available to wizards.
// Each builds its action with the state's description, so the action reads its "property"
// elements itself (with their "system" filters, tracing each one). The state then keeps none
// of those values of its own: reading a property of the state reads the action's (its
// results included, such as "argumentList" after a run), and setting one (a property map
// whose target is the state) sets it on the action. Both leave by the action's result event,
// "success" or "failed".

// The part both share: the routing of property writes to the action.
class CHostActionState : public CActionState
{
    Q_OBJECT
public:
    using CActionState::CActionState;

    bool setProperty(const QString& name, const QVariant& value) override;
    using CActionState::setProperty;

protected:
    // Hands the action over and drops the state's own copies of the values it has read.
    void adoptAction(CAction* action);
};

// startApp: runs a program (a CActionStartApp). Properties "command", "argumentList",
// "timeout", "admin", "undo"; in XML also "argument1", "argument2", ...: each one argument of
// the list, put on the command line unchanged (an argument that needs quotes brings its own).
// Result: "returnCode".
class CStartAppState : public CHostActionState
{
    Q_OBJECT
public:
    CStartAppState(QObject* parent, const char* name, const QDomNode& description);

    void execute() override;
};

// copyFiles: copies files (a CActionCopyFiles). Properties "srcDir", "destDir",
// "copyFile1", "copyFile2", ...
class CCopyFilesState : public CHostActionState
{
    Q_OBJECT
public:
    CCopyFilesState(QObject* parent, const char* name, const QDomNode& description);
};
