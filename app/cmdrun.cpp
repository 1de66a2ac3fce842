// winsteps run: loads a wizard, runs it on an emulated machine, reports the result.

#include "capplication.h"
#include "cfsm.h"
#include "cwizardloader.h"
#include "cwizardrunner.h"
#include "expression/cxpathnode.h"
#include "framework/cstatefactory.h"
#include "jsonreport.h"
#include "platform/emulated/emulatedprocess.h"
#include "platform/platform.h"
#include "pluginloader.h"
#include "subcommand.h"
#include "tracesinks.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>
#include <unistd.h>

namespace winsteps::host {

namespace {

const QString Command = QStringLiteral("run");

// How long the programs left on a temporary machine get to close before they are ended.
constexpr std::uint32_t closeGraceMilliseconds = 2000;

struct Assignment
{
    bool toMachine; // fsm.NAME, else app.NAME
    QString name;
    QString value;
};

// "fsm.NAME=VALUE" or "app.NAME=VALUE"; false for anything else.
bool parseAssignment(const QString& text, Assignment* out)
{
    const qsizetype equals = text.indexOf(QLatin1Char('='));
    const qsizetype dot = text.indexOf(QLatin1Char('.'));
    if (equals < 0 || dot < 0 || dot > equals)
        return false;
    const QString prefix = text.left(dot);
    if (prefix != QLatin1String("fsm") && prefix != QLatin1String("app"))
        return false;
    out->toMachine = prefix == QLatin1String("fsm");
    out->name = text.mid(dot + 1, equals - dot - 1);
    out->value = text.mid(equals + 1);
    return !out->name.isEmpty();
}

// Restores the default trace sink when the run's own sinks go away.
struct SinkGuard
{
    ~SinkGuard() { winsteps::setTraceSink(nullptr); }
};

} // namespace

int runCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs the wizard WIZARD.xml on an emulated Windows machine. The run starts at the\n"
        "machine's start state and follows the transition of each state's exit event; it ends\n"
        "when a state finishes with an event that has no transition.\n"
        "Traces go to standard error (or to --trace FILE); on a terminal a progress line\n"
        "shows the current state.\n"
        "Exit status: 0 success, 1 the last event was \"failed\", 2 the wizard cannot be loaded\n"
        "or the command line is wrong, 3 the run timed out."));
    parser.addOption(cli::helpOption());
    parser.addPositionalArgument(QStringLiteral("WIZARD.xml"), QStringLiteral("The wizard file to run."));
    const QCommandLineOption profileOption(
        QStringLiteral("profile"),
        QStringLiteral("The emulated system: a built-in profile name (default %1) or a JSON profile "
                       "file. Built-in: %2.")
            .arg(QString::fromStdString(platform::defaultProfileName()),
                 [] {
                     QStringList names;
                     for (const std::string& name : platform::builtinProfileNames())
                         names << QString::fromStdString(name);
                     return names.join(QLatin1String(", "));
                 }()),
        QStringLiteral("NAME|FILE"));
    const QCommandLineOption machineOption(
        QStringLiteral("machine"),
        QStringLiteral("The machine folder to run on (created from the profile when new). Default: "
                       "the folder named by WINSTEPS_MACHINE, else a temporary machine removed at exit, after the "
                       "programs the run left running on it have been asked to close and then ended."),
        QStringLiteral("DIR"));
    const QCommandLineOption setOption(
        QStringLiteral("set"),
        QStringLiteral("Sets a machine property (fsm.NAME=VALUE) or an application property "
                       "(app.NAME=VALUE) as text before the run, over the wizard's own value. Repeatable."),
        QStringLiteral("ASSIGNMENT"));
    const QCommandLineOption reportOption(
        QStringLiteral("report"),
        QStringLiteral("Writes a JSON report of the run (steps, final state and event, machine and "
                       "application properties, the programs it started that still run), also when the run fails "
                       "or times out."),
        QStringLiteral("FILE.json"));
    const QCommandLineOption traceOption(
        QStringLiteral("trace"), QStringLiteral("Writes the trace to FILE instead of standard error."),
        QStringLiteral("FILE"));
    const QCommandLineOption timeoutOption(
        QStringLiteral("timeout"),
        QStringLiteral("Stops the run after SECONDS (fractions allowed); the exit status is then 3."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption xmlOption(
        QStringLiteral("xml"),
        QStringLiteral("Loads the XML file FILE and gives its root element to the machine as the object "
                       "property NAME (over a <document> of the wizard of that name). Repeatable."),
        QStringLiteral("NAME=FILE"));
    parser.addOptions({profileOption, machineOption, setOption, reportOption, traceOption, timeoutOption, xmlOption});

    if (const int status = cli::parse(parser, Command, QStringLiteral("WIZARD.xml [options]"), arguments); status >= 0)
        return status;

    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1)
        return cli::usageError(Command, positional.isEmpty() ? QStringLiteral("no wizard file given")
                                                             : QStringLiteral("one wizard file only"));
    const QString wizardPath = positional.first();

    QList<Assignment> assignments;
    for (const QString& text : parser.values(setOption)) {
        Assignment assignment;
        if (!parseAssignment(text, &assignment))
            return cli::usageError(Command, QLatin1String("--set wants fsm.NAME=VALUE or app.NAME=VALUE, not \"")
                                                + text + QLatin1Char('"'));
        assignments << assignment;
    }

    std::vector<std::pair<QString, std::unique_ptr<CXPathNode>>> documents;
    for (const QString& text : parser.values(xmlOption)) {
        const qsizetype equals = text.indexOf(QLatin1Char('='));
        if (equals <= 0 || equals == text.size() - 1)
            return cli::usageError(Command, QLatin1String("--xml wants NAME=FILE, not \"") + text + QLatin1Char('"'));
        QString error;
        std::unique_ptr<CXPathNode> node(CXPathNode::loadDocument(text.mid(equals + 1), &error));
        if (!node)
            return cli::usageError(Command, error);
        documents.emplace_back(text.left(equals), std::move(node));
    }

    int timeoutMs = 0;
    if (parser.isSet(timeoutOption)) {
        bool ok = false;
        const double seconds = parser.value(timeoutOption).toDouble(&ok);
        if (!ok || !(seconds > 0) || !std::isfinite(seconds))
            return cli::usageError(Command, QLatin1String("--timeout wants a number of seconds above 0, not \"")
                                                + parser.value(timeoutOption) + QLatin1Char('"'));
        timeoutMs = int(std::min(std::ceil(seconds * 1000.0), double(std::numeric_limits<int>::max())));
    }

    const QString reportPath = parser.value(reportOption);
    if (parser.isSet(reportOption)) {
        // Refuse before running rather than lose the report of a run that happened.
        const QFileInfo info(reportPath);
        const QFileInfo dir(info.absolutePath());
        if (reportPath.isEmpty() || info.isDir() || !dir.isDir() || !dir.isWritable())
            return cli::usageError(Command, QLatin1String("cannot write the report to \"") + reportPath + QLatin1Char('"'));
    }

    // Traces: to a file when asked; on a terminal, with a progress line that stays intact.
    std::unique_ptr<CFileTraceSink> fileSink;
    if (parser.isSet(traceOption)) {
        fileSink = std::make_unique<CFileTraceSink>();
        QString error;
        if (!fileSink->open(parser.value(traceOption), &error))
            return cli::usageError(Command, QLatin1String("cannot write the trace: ") + error);
    }
    std::unique_ptr<CTerminalProgressSink> terminal;
    if (::isatty(STDERR_FILENO))
        terminal = std::make_unique<CTerminalProgressSink>(STDERR_FILENO, fileSink.get());
    const SinkGuard sinkGuard; // declared after the sinks: uninstalls them before they go
    if (terminal)
        winsteps::setTraceSink(terminal.get());
    else if (fileSink)
        winsteps::setTraceSink(fileSink.get());

    // No --profile: an existing machine folder keeps the profile it was made from, a new
    // one gets the default.
    const std::string profile = parser.isSet(profileOption) ? parser.value(profileOption).toStdString()
                                                            : std::string();
    std::string folder = parser.value(machineOption).toStdString();
    if (!parser.isSet(machineOption))
        folder = qEnvironmentVariable("WINSTEPS_MACHINE").toStdString();
    // A temporary machine goes at exit, and the programs the run started on it with it.
    const bool temporaryMachine = folder.empty();
    std::string machineError;
    if (!platform::openMachine(profile, folder, &machineError)) {
        cli::err(QLatin1String("winsteps run: ") + QString::fromStdString(machineError) + QLatin1Char('\n'));
        return ExitUsage;
    }
    // Programs that the run starts act on the same machine.
    qputenv("WINSTEPS_MACHINE", QFile::encodeName(QString::fromStdString(platform::currentMachineFolder())));

    QString pluginError;
    std::unique_ptr<CStateFactory> factory(createFactories(&pluginError));
    if (!factory) {
        cli::err(QLatin1String("winsteps run: ") + pluginError + QLatin1Char('\n'));
        return ExitUsage;
    }

    CApplication application;
    CWizardLoader loader(factory.get());
    std::unique_ptr<CFsm> fsm(loader.load(wizardPath, &application));
    if (!fsm) {
        for (const QString& error : loader.errors())
            cli::err(error + QLatin1Char('\n'));
        return ExitUsage;
    }
    for (auto& [name, node] : documents) {
        if (!fsm->setObjectProperty(name, node.get()))
            return cli::usageError(Command, QLatin1String("--xml cannot set the machine's property ") + name);
        node.release();
    }
    for (const Assignment& assignment : std::as_const(assignments)) {
        CPropertyObject* target = assignment.toMachine ? static_cast<CPropertyObject*>(fsm.get()) : &application;
        if (!target->setProperty(assignment.name, QVariant(assignment.value)))
            return cli::usageError(Command, QLatin1String("cannot set ") + (assignment.toMachine ? QLatin1String("fsm.") : QLatin1String("app."))
                                                + assignment.name);
    }

    CWizardRunner runner(fsm.get());
    runner.setTimeout(timeoutMs);
    if (terminal) {
        QObject::connect(&runner, &CWizardRunner::progressChanged, &runner,
                         [&terminal](const QString& state, const QString& type, int percent) {
                             terminal->setProgress(QStringLiteral("> %1 (%2) %3%").arg(state, type).arg(percent));
                         });
    }
    const int status = runner.run();
    if (terminal)
        terminal->clear();
    if (temporaryMachine)
        platform::emulated::endMachineProcesses(closeGraceMilliseconds);

    int exitStatus = status;
    if (parser.isSet(reportOption)) {
        RunReport report;
        report.wizard = wizardPath;
        report.profile = QString::fromStdString(platform::currentProfileName());
        report.exitStatus = status;
        report.steps = runner.steps();
        report.finalState = runner.finalState();
        report.finalEvent = runner.finalEvent();
        report.timedOut = runner.timedOut();
        report.machine = fsm.get();
        report.application = &application;
        for (const platform::ProcessEntry& process : platform::emulated::startedProcesses())
            report.processes.append({process.processId, QString::fromStdString(process.exeFile)});
        QString error;
        if (!writeJsonFile(reportPath, buildReport(report), &error)) {
            cli::err(QLatin1String("winsteps run: cannot write the report: ") + error + QLatin1Char('\n'));
            if (exitStatus == ExitOk)
                exitStatus = ExitUsage;
        }
    }

    const QString how = runner.timedOut() ? QStringLiteral("timed out in state \"%1\"").arg(runner.finalState())
                                          : QStringLiteral("ended in state \"%1\" with event \"%2\"")
                                                .arg(runner.finalState(), runner.finalEvent());
    cli::out(QStringLiteral("%1: %2 (exit status %3)\n").arg(fsm->objectName(), how).arg(exitStatus));

    fsm.reset(); // the states before the factories that made them
    return exitStatus;
}

} // namespace winsteps::host
