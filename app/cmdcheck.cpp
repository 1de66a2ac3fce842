// winsteps check: loads a wizard without running it and reports its mistakes.

#include "capplication.h"
#include "cfsm.h"
#include "cwizardloader.h"
#include "cwizardrunner.h"
#include "debug/debugoutput.h"
#include "framework/cpropertymap.h"
#include "framework/cstatefactory.h"
#include "framework/ctransition.h"
#include "platform/platform.h"
#include "pluginloader.h"
#include "subcommand.h"
#include "wizardinspection.h"

#include <QSet>

#include <algorithm>
#include <memory>

namespace winsteps::host {

namespace {

const QString Command = QStringLiteral("check");

QString quoted(const QString& text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// Building the states traces what they read; a check shows only its findings.
struct Problem
{
    int line;
    QString message;
};

// The target of a map as written: with its "fsm." or "app." prefix.
QString targetText(const CProperty& target)
{
    switch (target.location()) {
    case CProperty::Machine: return QLatin1String("fsm.") + target.name();
    case CProperty::Application: return QLatin1String("app.") + target.name();
    default: return target.name();
    }
}

// The line of a loader message "FILE:LINE: message"; 0 when it has none.
int lineOf(const QString& error, const QString& fileName)
{
    const QString prefix = fileName + QLatin1Char(':');
    if (!error.startsWith(prefix))
        return 0;
    const qsizetype end = error.indexOf(QLatin1Char(':'), prefix.size());
    bool ok = false;
    const int line = error.mid(prefix.size(), end - prefix.size()).toInt(&ok);
    return ok ? line : 0;
}

// What the loader cannot see: events, property maps, required properties, reachability.
QList<Problem> checkMachine(CFsm* fsm, const CWizardLoader& loader)
{
    QList<Problem> problems;

    for (const CWizardLoader::TransitionSource& source : loader.transitionSources()) {
        CState* from = fsm->findState(source.from);
        if (from) {
            for (const QString& event : source.event.split(QLatin1Char('|'), Qt::SkipEmptyParts)) {
                if (!from->hasEvent(event))
                    problems << Problem{source.line, QLatin1String("state ") + quoted(source.from) + QLatin1String(" (type ")
                                                         + from->type() + QLatin1String(") does not declare the event ")
                                                         + quoted(event) + QLatin1String("; its events: ")
                                                         + from->events().join(QLatin1String(", "))};
            }
        }
        if (!source.transition)
            continue;
        const QList<CPropertyMap*>& maps = source.transition->propertyMaps();
        for (qsizetype i = 0; i < maps.size(); ++i) {
            if (maps.at(i)->isValid())
                continue;
            const int line = source.mapLines.value(i, source.line);
            for (const QString& error : maps.at(i)->errors().split(QLatin1Char('\n'), Qt::SkipEmptyParts))
                problems << Problem{line, QLatin1String("invalid property map for ") + quoted(targetText(maps.at(i)->target()))
                                              + QLatin1String(": ") + error};
        }
    }

    for (CState* state : fsm->states()) {
        for (const QString& name : state->requiredProperties()) {
            if (state->exists(name) || state->mappedProperties().contains(name))
                continue;
            problems << Problem{loader.stateLine(state->objectName()),
                                QLatin1String("required property ") + quoted(name) + QLatin1String(" of state ")
                                    + quoted(state->objectName())
                                    + QLatin1String(" is neither declared nor set by a property map into it")};
        }
    }

    // Reachable: the start state and every target of a transition from a reachable state.
    const QString start = fsm->startState();
    if (fsm->findState(start)) {
        QSet<QString> reached{start};
        QStringList pending{start};
        while (!pending.isEmpty()) {
            const QString name = pending.takeLast();
            for (const CWizardLoader::TransitionSource& source : loader.transitionSources()) {
                if (source.from == name && fsm->findState(source.to) && !reached.contains(source.to)) {
                    reached.insert(source.to);
                    pending << source.to;
                }
            }
        }
        for (CState* state : fsm->states()) {
            if (!reached.contains(state->objectName()))
                problems << Problem{loader.stateLine(state->objectName()),
                                    QLatin1String("state ") + quoted(state->objectName())
                                        + QLatin1String(" cannot be reached from the start state ") + quoted(start)};
        }
    }
    return problems;
}

} // namespace

int checkCommand(const QStringList& arguments)
{
    WizardInspection inspection(
        Command,
        QStringLiteral(
        "Loads the wizard WIZARD.xml without running it and reports, one \"FILE:LINE: message\"\n"
        "per line, in the order of the file: what the loader refuses (unknown elements, state\n"
        "types and states, missing attributes, documents that cannot be read, ...), events that\n"
        "a transition's source state does not declare, invalid property maps with the parser's\n"
        "messages, required properties that a state neither declares nor gets from a property\n"
        "map, and states that cannot be reached from the start state.\n"
        "Exit status: 0 no problems, 1 problems were found, 2 a bad command line."),
        QStringLiteral("The wizard file to check."),
        QStringLiteral("The emulated system whose operating-system classes decide which <system> groups "
        "apply: a built-in profile name or a JSON profile file (default %1)."));
    if (const int status = inspection.prepare(arguments); status >= 0)
        return status;
    const QString wizardPath = inspection.wizardPath();

    CApplication application;
    CWizardLoader loader(inspection.factory());
    loader.setKeepGoing(true);
    std::unique_ptr<CFsm> fsm(loader.load(wizardPath, &application));

    QList<Problem> problems;
    for (const QString& error : loader.errors())
        problems << Problem{lineOf(error, wizardPath), error};
    if (fsm) {
        for (const Problem& problem : checkMachine(fsm.get(), loader))
            problems << Problem{problem.line, wizardPath + QLatin1Char(':') + QString::number(problem.line)
                                                  + QLatin1String(": ") + problem.message};
    }
    std::stable_sort(problems.begin(), problems.end(),
                     [](const Problem& a, const Problem& b) { return a.line < b.line; });

    fsm.reset(); // the states before the factories that made them
    if (problems.isEmpty()) {
        cli::out(wizardPath + QLatin1String(": no problems found\n"));
        return ExitOk;
    }
    QString text;
    for (const Problem& problem : std::as_const(problems))
        text += problem.message + QLatin1Char('\n');
    cli::out(text);
    return ExitFailed;
}

} // namespace winsteps::host
