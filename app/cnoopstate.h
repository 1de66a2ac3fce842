#pragma once

#include "fsm/cstate.h"

// Does nothing and leaves at once: by "finished", or by the event named in its property
// "event". Lets a wizard compute with property maps without touching the system.
class CNoopState : public CState
{
    Q_OBJECT
public:
    CNoopState(QObject* parent, const char* name, const QDomNode& description);

    void execute() override;

private:
    QString chosenEvent() const;
};
