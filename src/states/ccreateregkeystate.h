#pragma once

#include "fsm/cstate.h"
#include "winsteps_export.h"

// "createRegkey": makes sure the registry key "path" exists (creating it and the keys on the
// way). Leaves by "success" when it exists afterwards, else by "failed". An existing key is
// left as it is.
class WINSTEPS_EXPORT CCreateRegKeyState : public CState
{
    Q_OBJECT
public:
    CCreateRegKeyState(QObject* parent, const char* name, const QDomNode& description);
    void execute() override;
};
