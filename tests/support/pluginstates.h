#pragma once

// The plug-in's states as a wizard gets them: made by its factory from a description whose
// "property" elements come from "key=value" texts, and run until they leave.

#include "fsm/cstate.h"
#include "fsm/cstatefactory.h"

#include <QDomDocument>
#include <QSignalSpy>
#include <QStringList>

#include <memory>

namespace testsupport {

// A state of the type, made by factory from a description with a "property" element per
// "key=value" text (the value may hold "=" itself); null for a type the factory does not know.
inline std::unique_ptr<CState> createState(CStateFactory& factory, const QString& type, const QStringList& properties)
{
    QDomDocument document;
    QDomElement element = document.createElement(QStringLiteral("state"));
    for (const QString& text : properties) {
        QDomElement property = document.createElement(QStringLiteral("property"));
        property.setAttribute(QStringLiteral("key"), text.section(QLatin1Char('='), 0, 0));
        property.setAttribute(QStringLiteral("value"), text.section(QLatin1Char('='), 1));
        element.appendChild(property);
    }
    return std::unique_ptr<CState>(factory.create(type, element, nullptr, QStringLiteral("step")));
}

// Executes the state and waits (at most 20 seconds) until it has left, once: its exit event,
// or "<not finished>".
inline QString runState(CState& state)
{
    QSignalSpy finished(&state, &CState::finished);
    state.execute();
    const bool done = finished.count() == 1 || (finished.wait(20000) && finished.count() == 1);
    return done ? state.exitEvent() : QStringLiteral("<not finished>");
}

} // namespace testsupport
