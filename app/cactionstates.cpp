#include "cactionstates.h"

#include "actions/cactioncopyfiles.h"
#include "actions/cactionstartapp.h"

namespace {

void addResultEvents(CState* state)
{
    state->addEvent(QStringLiteral("success"));
    state->addEvent(QStringLiteral("failed"));
}

} // namespace

CStartAppState::CStartAppState(QObject* parent, const char* name, const QDomNode& description)
    : CActionState(parent, name, description)
{
    addResultEvents(this);
    addResultProperty(QStringLiteral("returnCode"));
    setAction(new CActionStartApp(this, name));
}

void CStartAppState::execute()
{
    // Numbered arguments, read when the state runs so that property maps can set them.
    QStringList arguments;
    for (int n = 1;; ++n) {
        const QString key = QLatin1String("argument") + QString::number(n);
        if (!CPropertyObject::hasProperty(key))
            break;
        arguments << CPropertyObject::property(key).toString();
    }
    if (!arguments.isEmpty())
        setProperty(QStringLiteral("argumentList"), arguments);
    CActionState::execute();
}

CCopyFilesState::CCopyFilesState(QObject* parent, const char* name, const QDomNode& description)
    : CActionState(parent, name, description)
{
    addResultEvents(this);
    setAction(new CActionCopyFiles(this, name));
}
