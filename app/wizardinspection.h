#pragma once

#include "cfsm.h"
#include "cwizardloader.h"
#include "diagnostic.h"
#include "debug/debugoutput.h"
#include "expression/cpropertymap.h"
#include "fsm/cstatefactory.h"
#include "fsm/ctransition.h"
#include "tracesinks.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <memory>

namespace winsteps::host {

// What the commands that load a wizard without running it (check, graph) share: the
// command line "WIZARD.xml [--profile NAME|FILE]", a temporary machine of that profile
// (its operating-system classes decide which <system> groups apply), the loaded factories,
// and a silenced trace while the wizard is built.
class WizardInspection
{
public:
    WizardInspection(const QString& command, const QString& description, const QString& wizardHelp,
                     const QString& profileHelp);
    ~WizardInspection();
    WizardInspection(const WizardInspection&) = delete;
    WizardInspection& operator=(const WizardInspection&) = delete;

    // Parses the arguments, opens the machine and loads the factories. -1 to go on;
    // otherwise the exit status to return at once (the reason is printed).
    int prepare(const QStringList& arguments);

    // Options of one command beside WIZARD.xml and --profile; added before prepare().
    void addOption(const QCommandLineOption& option) { m_parser.addOption(option); }
    bool isSet(const QCommandLineOption& option) const { return m_parser.isSet(option); }

    QString wizardPath() const { return m_wizardPath; }
    CStateFactory* factory() const { return m_factory.get(); }

private:
    QString m_command;
    QCommandLineParser m_parser;
    QCommandLineOption m_profileOption;
    QString m_wizardPath;
    std::unique_ptr<CStateFactory> m_factory;
    std::unique_ptr<CSilentTraces> m_silent;
};

// The check itself, kept here so that every program that checks wizards (the check command,
// the fuzz target of the loader) runs the same one.
namespace wizardcheck {

inline QString quoted(const QString& text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// The target of a map as written: with its "fsm." or "app." prefix.
inline QString targetText(const CProperty& target)
{
    switch (target.location()) {
    case CProperty::Machine: return QLatin1String("fsm.") + target.name();
    case CProperty::Application: return QLatin1String("app.") + target.name();
    default: return target.name();
    }
}

// The registry states take their hive from "scope" and "path" below it. A path that begins
// with a hive name ("HKEY_LOCAL_MACHINE\Software\...", "HKLM\...") names a key below the
// hive that no machine has: a read silently gives its default, a write fails.
inline bool startsWithHiveName(const QString& path)
{
    static const QStringList hives{
        QStringLiteral("HKEY_LOCAL_MACHINE"), QStringLiteral("HKEY_CURRENT_USER"), QStringLiteral("HKEY_CLASSES_ROOT"),
        QStringLiteral("HKEY_USERS"), QStringLiteral("HKEY_CURRENT_CONFIG"), QStringLiteral("HKEY_DYN_DATA"),
        QStringLiteral("HKEY_PERFORMANCE_DATA"), QStringLiteral("HKLM"), QStringLiteral("HKCU"),
        QStringLiteral("HKCR"), QStringLiteral("HKU"), QStringLiteral("HKCC")};
    QStringView rest(path);
    while (rest.startsWith(QLatin1Char('\\')))
        rest = rest.mid(1);
    const qsizetype end = rest.indexOf(QLatin1Char('\\'));
    const QStringView first = end < 0 ? rest : rest.left(end);
    return std::any_of(hives.cbegin(), hives.cend(),
                       [first](const QString& hive) { return first.compare(hive, Qt::CaseInsensitive) == 0; });
}

// What a state declares that is almost surely a mistake although it loads and runs: a
// required property declared with an empty value, and a registry path that begins with a
// hive name. Properties that a map into the state sets are left out: their value comes at
// run time.
inline void checkDeclaredValues(CFsm* fsm, CState* state, const CWizardLoader& loader, QList<Diagnostic>& problems,
                                const QString& wizardPath)
{
    const QString stateName = fsm->registeredName(state);
    const int line = loader.stateLine(stateName);
    const auto declared = [state](const QString& name) {
        return state->exists(name) && !state->hasObjectProperty(name) && !state->mappedProperties().contains(name);
    };
    for (const QString& name : state->requiredProperties()) {
        if (declared(name) && state->property(name).toString().isEmpty())
            problems << Diagnostic{wizardPath, line,
                                   QLatin1String("required property ") + quoted(name) + QLatin1String(" of state ")
                                       + quoted(stateName) + QLatin1String(" is declared with an empty value")};
    }
    static const QStringList registryTypes{QStringLiteral("readRegkey"), QStringLiteral("writeRegkey"),
                                           QStringLiteral("createRegkey")};
    const QString path = state->property("path").toString();
    if (registryTypes.contains(state->type()) && declared(QStringLiteral("path")) && startsWithHiveName(path))
        problems << Diagnostic{wizardPath, line,
                               QLatin1String("state ") + quoted(stateName) + QLatin1String(" (type ") + state->type()
                                   + QLatin1String(") has the path ") + quoted(path)
                                   + QLatin1String(", which begins with a hive name; the path is a key below "
                                                   "the hive that \"scope\" chooses")};
}

// What the loader cannot see: events, property maps, required properties, declared values
// that are almost surely mistakes, reachability. The diagnostics name wizardPath.
inline QList<Diagnostic> checkMachine(CFsm* fsm, const CWizardLoader& loader, const QString& wizardPath)
{
    QList<Diagnostic> problems;
    const auto add = [&](int line, const QString& message) { problems << Diagnostic{wizardPath, line, message}; };

    for (const CWizardLoader::TransitionSource& source : loader.transitionSources()) {
        CState* from = fsm->findState(source.from);
        if (from) {
            for (const QString& event : source.event.split(QLatin1Char('|'), Qt::SkipEmptyParts)) {
                if (!from->hasEvent(event))
                    add(source.line, QLatin1String("state ") + quoted(source.from) + QLatin1String(" (type ")
                                         + from->type() + QLatin1String(") does not declare the event ")
                                         + quoted(event) + QLatin1String("; its events: ")
                                         + from->events().join(QLatin1String(", ")));
            }
        }
        if (!source.transition)
            continue;
        const QList<CPropertyMap*>& maps = source.transition->propertyMaps();
        for (qsizetype i = 0; i < maps.size(); ++i) {
            const int line = source.mapLines.value(i, source.line);
            const CProperty target = maps.at(i)->target();
            if (target.name() == QLatin1String("objectName") && target.location() != CProperty::Application)
                add(line, QLatin1String("property map into ") + quoted(targetText(target)) + QLatin1String(" renames ")
                              + (target.location() == CProperty::Machine
                                     ? QStringLiteral("the machine")
                                     : QString(QLatin1String("state ") + quoted(source.to)))
                              + QLatin1String(" at run time; states keep the names the wizard gives them"));
            if (maps.at(i)->isValid())
                continue;
            for (const QString& error : maps.at(i)->errors().split(QLatin1Char('\n'), Qt::SkipEmptyParts))
                add(line, QLatin1String("invalid property map for ") + quoted(targetText(maps.at(i)->target()))
                              + QLatin1String(": ") + error);
        }
    }

    for (CState* state : fsm->states()) {
        const QString stateName = fsm->registeredName(state);
        if (state->objectName() != stateName)
            add(loader.stateLine(stateName),
                QLatin1String("state ") + quoted(stateName) + QLatin1String(" declares the property \"objectName\" ")
                    + quoted(state->objectName()) + QLatin1String("; the machine keeps the name the wizard gives it"));
        for (const QString& name : state->requiredProperties()) {
            if (state->exists(name) || state->mappedProperties().contains(name))
                continue;
            add(loader.stateLine(stateName),
                QLatin1String("required property ") + quoted(name) + QLatin1String(" of state ") + quoted(stateName)
                    + QLatin1String(" is neither declared nor set by a property map into it"));
        }
        checkDeclaredValues(fsm, state, loader, problems, wizardPath);
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
            const QString stateName = fsm->registeredName(state);
            if (!reached.contains(stateName))
                add(loader.stateLine(stateName), QLatin1String("state ") + quoted(stateName)
                                                     + QLatin1String(" cannot be reached from the start state ")
                                                     + quoted(start));
        }
    }
    return problems;
}

} // namespace wizardcheck

// Everything a check finds in a wizard loaded with keep-going on (fsm may be null): the
// loader's refusals, then what only the built machine shows (events that a source state
// does not declare, invalid property maps, required properties nobody sets or declares
// empty, registry paths that begin with a hive name, unreachable states). Ordered by line,
// stable within a line.
inline QList<Diagnostic> checkWizard(CFsm* fsm, const CWizardLoader& loader, const QString& wizardPath)
{
    QList<Diagnostic> problems = loader.errors();
    if (fsm)
        problems << wizardcheck::checkMachine(fsm, loader, wizardPath);
    std::stable_sort(problems.begin(), problems.end(),
                     [](const Diagnostic& a, const Diagnostic& b) { return a.line < b.line; });
    return problems;
}

} // namespace winsteps::host
