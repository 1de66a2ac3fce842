#pragma once

#include "winsteps_export.h"

#include <QString>

class CState;

// What a transition needs of the machine that owns it (the host's CFsm implements it):
// find a state, move to a state, go back one page.
class WINSTEPS_EXPORT IStateMachine
{
public:
    virtual ~IStateMachine();
    virtual CState* findState(const QString& name) const = 0;
    virtual void moveToState(const QString& name) = 0;
    virtual void pageBack() = 0;
};
