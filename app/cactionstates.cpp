#include "cactionstates.h"

#include "actions/cactioncopyfiles.h"
#include "actions/cactionstartapp.h"
#include "fsm/eventnames.h"

namespace {

void addResultEvents(CState* state)
{
    state->addEvent(winsteps::event::success);
    state->addEvent(winsteps::event::failed);
}

} // namespace

bool CHostActionState::setProperty(const QString& name, const QVariant& value)
{
    if (action() && !isDeclaredProperty(name))
        return action()->setProperty(name, value);
    return CActionState::setProperty(name, value);
}

void CHostActionState::adoptAction(CAction* action)
{
    setAction(action);
    const QStringList names = dataFields().keys();
    for (const QString& name : names) {
        if (action->CPropertyObject::hasProperty(name))
            CPropertyObject::removeProperty(name);
    }
}

CStartAppState::CStartAppState(QObject* parent, const char* name, const QDomNode& description)
    : CHostActionState(parent, name, description)
{
    addResultEvents(this);
    addResultProperty(QStringLiteral("returnCode"));
    adoptAction(new CActionStartApp(this, name, description));
}

void CStartAppState::execute()
{
    // Numbered arguments, read when the state runs so that property maps can set them.
    QStringList arguments;
    for (int n = 1;; ++n) {
        const QString key = QLatin1String("argument") + QString::number(n);
        if (!hasProperty(key))
            break;
        arguments << property(key).toString();
    }
    if (!arguments.isEmpty())
        setProperty(QStringLiteral("argumentList"), arguments);
    CActionState::execute();
}

CCopyFilesState::CCopyFilesState(QObject* parent, const char* name, const QDomNode& description)
    : CHostActionState(parent, name, description)
{
    addResultEvents(this);
    adoptAction(new CActionCopyFiles(this, name, description));
}
