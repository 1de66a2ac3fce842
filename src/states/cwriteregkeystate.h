#pragma once

#include "fsm/cstate.h"
#include "winsteps_export.h"

// "writeRegkey": writes the property "value" as the registry value "key" below the existing
// key "path": a string, a REG_DWORD ("type" "dword", cut to 32 bits) or a REG_MULTI_SZ
// ("type" "list"). Leaves by "success", or by "failed" when the key is missing or the value
// cannot be written.
class WINSTEPS_EXPORT CWriteRegKeyState : public CState
{
    Q_OBJECT
public:
    CWriteRegKeyState(QObject* parent, const char* name, const QDomNode& description);
    void execute() override;
};
