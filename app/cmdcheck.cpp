// winsteps check: loads a wizard without running it and reports its mistakes.

#include "capplication.h"
#include "cfsm.h"
#include "cwizardloader.h"
#include "cwizardrunner.h"
#include "subcommand.h"
#include "wizardinspection.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <memory>

namespace winsteps::host {

namespace {

const QString Command = QStringLiteral("check");

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
        "map, required properties declared with an empty value, registry steps whose path begins\n"
        "with a hive name (\"HKEY_LOCAL_MACHINE\\...\"), states renamed by a declared\n"
        "\"objectName\" and maps into \"objectName\", and states that cannot be reached from the\n"
        "start state. `winsteps run` warns of the same, and refuses them with --strict.\n"
        "Exit status: 0 no problems, 1 problems were found, 2 a bad command line."),
        QStringLiteral("The wizard file to check."),
        QStringLiteral("The emulated system whose operating-system classes decide which <system> groups "
        "apply: a built-in profile name or a JSON profile file (default %1)."));
    const QCommandLineOption jsonOption(
        QStringLiteral("json"),
        QStringLiteral("Writes the problems as one JSON list of {\"file\", \"line\", \"message\"} (line 0: the "
                       "file as a whole); [] when there are none."));
    inspection.addOption(jsonOption);
    if (const int status = inspection.prepare(arguments); status >= 0)
        return status;
    const QString wizardPath = inspection.wizardPath();

    CApplication application;
    CWizardLoader loader(inspection.factory());
    loader.setKeepGoing(true);
    std::unique_ptr<CFsm> fsm(loader.load(wizardPath, &application));

    const QList<Diagnostic> problems = checkWizard(fsm.get(), loader, wizardPath);

    fsm.reset(); // the states before the factories that made them
    if (inspection.isSet(jsonOption)) {
        QJsonArray list;
        for (const Diagnostic& problem : problems)
            list.append(QJsonObject{{QStringLiteral("file"), problem.file},
                                    {QStringLiteral("line"), problem.line},
                                    {QStringLiteral("message"), problem.message}});
        cli::out(QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Indented)));
        return problems.isEmpty() ? ExitOk : ExitFailed;
    }
    if (problems.isEmpty()) {
        cli::out(wizardPath + QLatin1String(": no problems found\n"));
        return ExitOk;
    }
    QString text;
    for (const Diagnostic& problem : problems)
        text += problem.toText() + QLatin1Char('\n');
    cli::out(text);
    return ExitFailed;
}

} // namespace winsteps::host
