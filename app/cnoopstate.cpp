#include "cnoopstate.h"

#include "fsm/eventnames.h"

namespace {
const QString EventKey = QStringLiteral("event");
} // namespace

CNoopState::CNoopState(QObject* parent, const char* name, const QDomNode& description)
    : CState(parent, name, description)
{
    addEvent(winsteps::event::finished);
    const QString declared = chosenEvent();
    if (declared != winsteps::event::finished)
        addEvent(declared);
}

QString CNoopState::chosenEvent() const
{
    const QString event = property(EventKey).toString();
    return event.isEmpty() ? winsteps::event::finished : event;
}

void CNoopState::execute()
{
    // Read at execution time: a property map may have set "event" on the way in.
    setExitEvent(chosenEvent());
    leaveState();
}
