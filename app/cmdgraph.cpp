// winsteps graph: a wizard as a Graphviz graph.

#include "capplication.h"
#include "cfsm.h"
#include "cwizardloader.h"
#include "cwizardrunner.h"
#include "debug/debugoutput.h"
#include "expression/cpropertymap.h"
#include "fsm/cstatefactory.h"
#include "fsm/ctransition.h"
#include "pluginloader.h"
#include "subcommand.h"
#include "wizardinspection.h"

#include <memory>

namespace winsteps::host {

namespace {

const QString Command = QStringLiteral("graph");

// A text inside a double-quoted dot string.
QString dotEscaped(const QString& text)
{
    QString out;
    for (const QChar c : text) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else
            out += c;
    }
    return out;
}

QString dotString(const QString& text)
{
    return QLatin1Char('"') + dotEscaped(text) + QLatin1Char('"');
}

// Lines of a dot label, each escaped, joined by dot's line break.
QString dotLabel(const QStringList& lines)
{
    QStringList escaped;
    for (const QString& line : lines)
        escaped << dotEscaped(line);
    return QLatin1Char('"') + escaped.join(QLatin1String("\\n")) + QLatin1Char('"');
}

QString targetText(const CProperty& target)
{
    switch (target.location()) {
    case CProperty::Machine: return QLatin1String("fsm.") + target.name();
    case CProperty::Application: return QLatin1String("app.") + target.name();
    default: return target.name();
    }
}

} // namespace

int graphCommand(const QStringList& arguments)
{
    WizardInspection inspection(
        Command,
        QStringLiteral(
        "Prints the wizard WIZARD.xml as a Graphviz graph (dot) on standard output: one box per\n"
        "state with its name and type (the start state framed twice), one arrow per transition\n"
        "labelled with its events and the targets of its property maps.\n"
        "  winsteps graph setup.xml | dot -Tsvg > setup.svg\n"
        "Exit status: 0 success, 2 the wizard cannot be loaded or a bad command line."),
        QStringLiteral("The wizard file to draw."),
        QStringLiteral("The emulated system the wizard is loaded for: a built-in profile name or a JSON "
        "profile file (default %1)."));
    if (const int status = inspection.prepare(arguments); status >= 0)
        return status;
    const QString wizardPath = inspection.wizardPath();

    CApplication application;
    CWizardLoader loader(inspection.factory());
    std::unique_ptr<CFsm> fsm(loader.load(wizardPath, &application));
    if (!fsm) {
        for (const Diagnostic& error : loader.errors())
            cli::err(error.toText() + QLatin1Char('\n'));
        return ExitUsage;
    }

    QString dot = QLatin1String("digraph ") + dotString(fsm->objectName()) + QLatin1String(" {\n")
                  + QLatin1String("  node [shape=box];\n");
    for (const CState* state : fsm->states()) {
        const QString name = fsm->registeredName(state); // the name transitions use
        dot += QLatin1String("  ") + dotString(name) + QLatin1String(" [label=")
               + dotLabel({name, QLatin1Char('(') + state->type() + QLatin1Char(')')});
        if (name == fsm->startState())
            dot += QLatin1String(", peripheries=2");
        dot += QLatin1String("];\n");
    }
    for (const CWizardLoader::TransitionSource& source : loader.transitionSources()) {
        QStringList label{source.event};
        if (source.transition) {
            for (const CPropertyMap* map : source.transition->propertyMaps())
                label << QLatin1String("-> ") + targetText(map->target());
        }
        dot += QLatin1String("  ") + dotString(source.from) + QLatin1String(" -> ") + dotString(source.to)
               + QLatin1String(" [label=") + dotLabel(label) + QLatin1String("];\n");
    }
    dot += QLatin1String("}\n");

    fsm.reset(); // the states before the factories that made them
    cli::out(dot);
    return ExitOk;
}

} // namespace winsteps::host
