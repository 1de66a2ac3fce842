#include "cnoopstate.h"

namespace {
const QString Finished = QStringLiteral("finished");
const QString EventKey = QStringLiteral("event");
} // namespace

CNoopState::CNoopState(QObject* parent, const char* name, const QDomNode& description)
    : CState(parent, name, description)
{
    addEvent(Finished);
    const QString declared = chosenEvent();
    if (declared != Finished)
        addEvent(declared);
}

QString CNoopState::chosenEvent() const
{
    const QString event = property(EventKey).toString();
    return event.isEmpty() ? Finished : event;
}

void CNoopState::execute()
{
    // Read at execution time: a property map may have set "event" on the way in.
    setExitEvent(chosenEvent());
    leaveState();
}
