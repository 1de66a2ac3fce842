#pragma once

#include "actions/cactionstate.h"

// The host's action states: they make the library's general actions available to wizards.
// Their "property" elements are the state's own; the action reads them (and the values
// that property maps store into the state) through its fall-back to the state. Both leave
// by the action's result event, "success" or "failed".

// startApp: runs a program (a CActionStartApp). Properties "command", "argumentList",
// "timeout", "admin", "undo"; in XML, "argument1", "argument2", ... (each exactly one
// argument, never split at blanks) give the argument list. Result: "returnCode".
class CStartAppState : public CActionState
{
    Q_OBJECT
public:
    CStartAppState(QObject* parent, const char* name, const QDomNode& description);

    void execute() override;
};

// copyFiles: copies files (a CActionCopyFiles). Properties "srcDir", "destDir",
// "copyFile1", "copyFile2", ...
class CCopyFilesState : public CActionState
{
    Q_OBJECT
public:
    CCopyFilesState(QObject* parent, const char* name, const QDomNode& description);
};
