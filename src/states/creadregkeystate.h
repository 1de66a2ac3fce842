#pragma once

#include "fsm/cstate.h"
#include "winsteps_export.h"

// "readRegkey": reads the registry value "key" below "path" into the result property
// "value": a string, a number ("type" "dword") or a string list ("type" "list"). A value that
// cannot be read gives "default" (for a list: the empty list). Always leaves by "finished".
class WINSTEPS_EXPORT CReadRegKeyState : public CState
{
    Q_OBJECT
public:
    CReadRegKeyState(QObject* parent, const char* name, const QDomNode& description);
    void execute() override;
};
