#include "runoutput.h"

#include "cwizardrunner.h"
#include "subcommand.h"
#include "wizardinspection.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace winsteps::host {

RunOutputOptions::RunOutputOptions()
    : m_quiet({QStringLiteral("q"), QStringLiteral("quiet")},
              QStringLiteral("No trace on standard error (and no progress line); --trace FILE still gets it. "
                             "Warnings, errors and the final line are still shown."))
    , m_verbose(QStringLiteral("verbose"),
                QStringLiteral("The trace on standard error (or in --trace FILE), as without --quiet."))
    , m_json(QStringLiteral("json"),
             QStringLiteral("Prints the final line as one JSON object: {\"fsm\", \"state\", \"event\" (null after a "
                            "time-out), \"timedOut\", \"exitStatus\"}."))
    , m_strict(QStringLiteral("strict"),
               QStringLiteral("Refuses, before anything runs, a wizard in which \"winsteps check\" finds anything "
                              "(exit status 2). Without it each such point is a warning on standard error."))
{
}

void RunOutputOptions::addTo(QCommandLineParser& parser) const
{
    parser.addOptions({m_quiet, m_verbose, m_json, m_strict});
}

int RunOutputOptions::read(const QCommandLineParser& parser, RunOutput* output) const
{
    if (parser.isSet(m_quiet) && parser.isSet(m_verbose))
        return cli::usageError(QStringLiteral("run"), QStringLiteral("--quiet and --verbose exclude each other"));
    output->quiet = parser.isSet(m_quiet);
    output->json = parser.isSet(m_json);
    output->strict = parser.isSet(m_strict);
    return -1;
}

int checkBeforeRun(CFsm* fsm, const CWizardLoader& loader, const QString& wizardPath, bool strict)
{
    const QList<Diagnostic> problems = checkWizard(fsm, loader, wizardPath);
    if (problems.isEmpty())
        return -1;
    QString text;
    for (const Diagnostic& problem : problems)
        text += (strict ? problem : Diagnostic{problem.file, problem.line, QLatin1String("warning: ") + problem.message})
                    .toText()
                + QLatin1Char('\n');
    if (strict)
        text += QStringLiteral("winsteps run: --strict: %1 problem(s) found; nothing was run\n").arg(problems.size());
    cli::err(text);
    return strict ? int(ExitUsage) : -1;
}

QString finalLine(const QString& fsmName, const CWizardRunner& runner, int exitStatus, bool json)
{
    if (json) {
        const QJsonObject line{
            {QStringLiteral("fsm"), fsmName},
            {QStringLiteral("state"), runner.finalState()},
            {QStringLiteral("event"), runner.timedOut() ? QJsonValue(QJsonValue::Null) : QJsonValue(runner.finalEvent())},
            {QStringLiteral("timedOut"), runner.timedOut()},
            {QStringLiteral("exitStatus"), exitStatus},
        };
        return QString::fromUtf8(QJsonDocument(line).toJson(QJsonDocument::Compact)) + QLatin1Char('\n');
    }
    const QString how = runner.timedOut() ? QStringLiteral("timed out in state \"%1\"").arg(runner.finalState())
                                          : QStringLiteral("ended in state \"%1\" with event \"%2\"")
                                                .arg(runner.finalState(), runner.finalEvent());
    return QStringLiteral("%1: %2 (exit status %3)\n").arg(fsmName, how).arg(exitStatus);
}

} // namespace winsteps::host
