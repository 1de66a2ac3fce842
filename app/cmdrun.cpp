// winsteps run: loads a wizard, runs it on an emulated machine, reports the result.

#include "actions/cactionstate.h"
#include "actions/cthreadedaction.h"
#include "capplication.h"
#include "cfsm.h"
#include "cwizardloader.h"
#include "cwizardrunner.h"
#include "dryrun.h"
#include "expression/cxpathnode.h"
#include "fsm/cstatefactory.h"
#include "jsonreport.h"
#include "platform/emulated/emulatedprocess.h"
#include "platform/emulated/machinefolder.h"
#include "pluginloader.h"
#include "runoutput.h"
#include "runjournal.h"
#include "subcommand.h"
#include "tracesinks.h"

#include <QFileInfo>
#include <QJsonArray>

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

// What the command line asks of a run, read and checked before anything runs.
struct RunOptions
{
    QString wizardPath;
    QList<Assignment> assignments;
    std::vector<std::pair<QString, std::unique_ptr<CXPathNode>>> documents; // --xml, loaded
    int timeoutMs = 0;                                                       // 0: none
    bool report = false;
    QString reportPath;
    bool trace = false;
    QString tracePath;
    std::string profile; // empty: the machine folder's own, or the default for a new one
    std::string folder;  // empty: a temporary machine
    RunOutput output;
    bool dryRun = false; // on a copy of the machine, printing what changed
    bool rollbackOnFailure = false;
};

// The trace sinks of a run: to a file when asked; on a terminal, with a progress line that
// stays intact.
struct RunTraces
{
    std::unique_ptr<CFileTraceSink> fileSink;
    std::unique_ptr<CTerminalProgressSink> terminal;
    std::unique_ptr<CSilentTraces> silent; // --quiet without --trace
    bool installed = false;

    // Restores the default trace sink before the run's own sinks go.
    ~RunTraces()
    {
        if (installed)
            winsteps::setTraceSink(nullptr);
    }

    // False, with error, when the trace file cannot be written.
    bool install(const RunOptions& options, QString* error)
    {
        if (options.trace) {
            fileSink = std::make_unique<CFileTraceSink>();
            if (!fileSink->open(options.tracePath, error))
                return false;
        }
        if (::isatty(STDERR_FILENO) && !options.output.quiet)
            terminal = std::make_unique<CTerminalProgressSink>(STDERR_FILENO, fileSink.get());
        installed = true;
        if (terminal)
            winsteps::setTraceSink(terminal.get());
        else if (fileSink)
            winsteps::setTraceSink(fileSink.get());
        else if (options.output.quiet)
            silent = std::make_unique<CSilentTraces>();
        return true;
    }
};

QCommandLineOption runProfileOption()
{
    return cli::profileOption(QStringLiteral("The emulated system: a built-in profile name (default %1) or a JSON profile "
                                             "file. Built-in: %2.")
                                  .arg(cli::defaultProfile(), cli::builtinProfiles()));
}

int readAssignments(const QStringList& texts, RunOptions& options)
{
    for (const QString& text : texts) {
        Assignment assignment;
        if (!parseAssignment(text, &assignment))
            return cli::usageError(Command, QLatin1String("--set wants fsm.NAME=VALUE or app.NAME=VALUE, not \"")
                                                + text + QLatin1Char('"'));
        options.assignments << assignment;
    }
    return -1;
}

int loadDocuments(const QStringList& texts, RunOptions& options)
{
    for (const QString& text : texts) {
        QString name;
        std::unique_ptr<CXPathNode> node;
        if (const int status = cli::loadXmlOption(Command, text, &name, &node); status >= 0)
            return status;
        options.documents.emplace_back(name, std::move(node));
    }
    return -1;
}

int readTimeout(const QString& text, RunOptions& options)
{
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    if (!ok || !(seconds > 0) || !std::isfinite(seconds))
        return cli::usageError(Command, QLatin1String("--timeout wants a number of seconds above 0, not \"") + text
                                            + QLatin1Char('"'));
    options.timeoutMs = int(std::min(std::ceil(seconds * 1000.0), double(std::numeric_limits<int>::max())));
    return -1;
}

// Refuse before running rather than lose the report of a run that happened.
int checkReportPath(const QString& path)
{
    const QFileInfo info(path);
    const QFileInfo dir(info.absolutePath());
    if (path.isEmpty() || info.isDir() || !dir.isDir() || !dir.isWritable())
        return cli::usageError(Command, QLatin1String("cannot write the report to \"") + path + QLatin1Char('"'));
    return -1;
}

// Reads the command line into options. Returns -1 when the run goes on, else the exit status
// (after --help or a usage error, which is printed).
int readOptions(const QStringList& arguments, RunOptions& options)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs the wizard WIZARD.xml on an emulated Windows machine. The run starts at the\n"
        "machine's start state and follows the transition of each state's exit event; it ends\n"
        "when a state finishes with an event that has no transition.\n"
        "Traces go to standard error (or to --trace FILE; nowhere with --quiet); on a terminal\n"
        "a progress line shows the current state. What \"winsteps check\" finds in the wizard\n"
        "is a warning on standard error, or with --strict refuses the run.\n"
        "Exit status: 0 success, 1 the last event was \"failed\", 2 the wizard cannot be loaded\n"
        "(or --strict refused it) or the command line is wrong, 3 the run timed out."));
    parser.addOption(cli::helpOption());
    parser.addPositionalArgument(QStringLiteral("WIZARD.xml"), QStringLiteral("The wizard file to run."));
    const QCommandLineOption profile = runProfileOption();
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
    parser.addOptions({profile, machineOption, setOption, reportOption, traceOption, timeoutOption, xmlOption});
    const RunOutputOptions outputOptions;
    outputOptions.addTo(parser);
    const QCommandLineOption dryRunOption(
        QStringLiteral("dry-run"),
        QStringLiteral("Runs on a copy of the machine, prints what the run changed in it after the last line (and "
                       "puts it into the report as \"changes\"), and leaves the machine untouched."));
    parser.addOption(dryRunOption);
    const QCommandLineOption rollbackOption(
        QStringLiteral("rollback-on-failure"),
        QStringLiteral("When the run ends by \"failed\", times out or is interrupted (Ctrl+C, SIGTERM), undoes "
                       "every change it made to the machine, newest first (see 'winsteps machine rollback'); the "
                       "report's \"rollback\" says what was undone, or what stood in the way."));
    parser.addOption(rollbackOption);

    if (const int status = cli::parse(parser, Command, QStringLiteral("WIZARD.xml [options]"), arguments); status >= 0)
        return status;

    if (const int status = cli::onePositional(parser, Command, QStringLiteral("no wizard file given"),
                                              QStringLiteral("one wizard file only"), &options.wizardPath);
        status >= 0)
        return status;
    if (const int status = outputOptions.read(parser, &options.output); status >= 0)
        return status;
    if (const int status = readAssignments(parser.values(setOption), options); status >= 0)
        return status;
    if (const int status = loadDocuments(parser.values(xmlOption), options); status >= 0)
        return status;
    if (parser.isSet(timeoutOption)) {
        if (const int status = readTimeout(parser.value(timeoutOption), options); status >= 0)
            return status;
    }
    options.report = parser.isSet(reportOption);
    options.reportPath = parser.value(reportOption);
    if (options.report) {
        if (const int status = checkReportPath(options.reportPath); status >= 0)
            return status;
    }
    options.trace = parser.isSet(traceOption);
    options.tracePath = parser.value(traceOption);
    // No --profile: an existing machine folder keeps the profile it was made from, a new
    // one gets the default.
    if (parser.isSet(profile))
        options.profile = parser.value(profile).toStdString();
    options.folder = parser.isSet(machineOption) ? parser.value(machineOption).toStdString()
                                                 : qEnvironmentVariable("WINSTEPS_MACHINE").toStdString();
    // A dry run changes nothing that a rollback could undo.
    options.dryRun = parser.isSet(dryRunOption);
    if (options.dryRun && parser.isSet(rollbackOption))
        return cli::usageError(Command, QStringLiteral("--dry-run and --rollback-on-failure exclude each other"));
    options.rollbackOnFailure = parser.isSet(rollbackOption);
    return -1;
}

// Gives the machine the documents and the machine and application properties of the command
// line. Returns -1, or the exit status of a usage error.
int applyOptions(RunOptions& options, CFsm* fsm, CApplication& application)
{
    for (auto& [name, node] : options.documents) {
        if (!fsm->adoptObjectProperty(name, std::move(node)))
            return cli::usageError(Command, QLatin1String("--xml cannot set the machine's property ") + name);
    }
    for (const Assignment& assignment : std::as_const(options.assignments)) {
        CPropertyObject* target = assignment.toMachine ? static_cast<CPropertyObject*>(fsm) : &application;
        if (!target->setProperty(assignment.name, QVariant(assignment.value)))
            return cli::usageError(Command, QLatin1String("cannot set ") + (assignment.toMachine ? QLatin1String("fsm.") : QLatin1String("app."))
                                                + assignment.name);
    }
    return -1;
}

// Writes the JSON report of a finished run; the exit status, turned into a usage error when
// the report of a successful run cannot be written.
int writeReport(const RunOptions& options, const CWizardRunner& runner, int status, CFsm* fsm,
                CApplication& application, const DryRun* dryRun, const QJsonObject& journal)
{
    RunReport report;
    report.wizard = options.wizardPath;
    report.profile = QString::fromStdString(platform::emulated::currentProfileName());
    report.exitStatus = status;
    report.steps = runner.steps();
    report.finalState = runner.finalState();
    report.finalEvent = runner.finalEvent();
    report.timedOut = runner.timedOut();
    report.machine = fsm;
    report.application = &application;
    for (const platform::ProcessEntry& process : platform::emulated::startedProcesses())
        report.processes.append({process.processId, QString::fromStdString(process.exeFile)});
    QString error;
    QJsonObject json = buildReport(report);
    if (dryRun)
        json.insert(QStringLiteral("changes"), machine::changesJson(dryRun->changes()));
    for (auto it = journal.begin(); it != journal.end(); ++it)
        json.insert(it.key(), it.value());
    if (!writeJsonFile(options.reportPath, json, &error)) {
        cli::err(QLatin1String("winsteps run: cannot write the report: ") + error + QLatin1Char('\n'));
        if (status == ExitOk)
            return ExitUsage;
    }
    return status;
}

// Ends the run in the machine's journal and rolls it back when it failed and that was asked;
// the report's "run" and "rollback".
QJsonObject endJournal(const RunOptions& options, const CWizardRunner& runner, int status, CFsm* fsm,
                       CRunJournal& journal)
{
    // A run stopped in the middle of a state (time-out, Ctrl+C) ends when that state's work
    // has: a worker still copying would change the machine after the run's end and rollback.
    if (auto* state = qobject_cast<CActionState*>(fsm->currentState())) {
        if (auto* threaded = qobject_cast<CThreadedAction*>(state->action()))
            threaded->stopAndWait();
    }
    const QString outcome = runner.interrupted() ? QStringLiteral("interrupted")
                            : runner.timedOut()  ? QStringLiteral("timed out")
                                                 : runner.finalEvent();
    journal.end(outcome);
    QJsonObject report{{QStringLiteral("run"), journal.run()}};
    if (!options.rollbackOnFailure || status == ExitOk)
        return report;
    const QJsonObject rollback = journal.rollback();
    report.insert(QStringLiteral("rollback"), rollback);
    if (rollback.contains(QStringLiteral("refused")))
        cli::err(QLatin1String("winsteps run: rollback refused: ") + rollback.value(QStringLiteral("refused")).toString()
                 + QLatin1Char('\n'));
    else if (!options.output.json) // standard output stays one JSON object with --json
        cli::out(QStringLiteral("Rolled back run %1: %2 changes undone.\n")
                     .arg(journal.run())
                     .arg(rollback.value(QStringLiteral("undone")).toArray().size()));
    return report;
}

} // namespace

int runCommand(const QStringList& arguments)
{
    RunOptions options;
    if (const int status = readOptions(arguments, options); status >= 0)
        return status;

    RunTraces traces;
    if (QString error; !traces.install(options, &error))
        return cli::usageError(Command, QLatin1String("cannot write the trace: ") + error);

    // A dry run's copy goes at the end, as a temporary machine goes at exit, and the programs
    // the run started on it with it.
    std::unique_ptr<DryRun> dryRun;
    if (options.dryRun) {
        QString error;
        if (!(dryRun = DryRun::prepare(options.profile, options.folder, &error)))
            return cli::usageError(Command, QLatin1String("cannot copy the machine: ") + error);
        options.folder = dryRun->copyFolder();
    }
    const bool temporaryMachine = options.folder.empty() || dryRun;
    std::string machineError;
    if (!platform::emulated::openMachine(options.profile, options.folder, &machineError)) {
        cli::err(QLatin1String("winsteps run: ") + QString::fromStdString(machineError) + QLatin1Char('\n'));
        return ExitUsage;
    }
    // Programs that the run starts act on the same machine.
    qputenv("WINSTEPS_MACHINE", QFile::encodeName(QString::fromStdString(platform::emulated::currentMachineFolder())));
    // ... and are tagged with the run in the machine's journal. From here on Ctrl+C and
    // SIGTERM end the run cleanly.
    CWizardRunner* activeRunner = nullptr;
    CRunJournal journal;
    if (QString error; !journal.begin(options.wizardPath, &error)) {
        cli::err(QLatin1String("winsteps run: cannot record the run: ") + error + QLatin1Char('\n'));
        return ExitUsage;
    }
    journal.catchSignals([&activeRunner] {
        if (activeRunner)
            activeRunner->interrupt();
    });

    QString pluginError;
    std::unique_ptr<CStateFactory> factory(createFactories(&pluginError));
    if (!factory) {
        cli::err(QLatin1String("winsteps run: ") + pluginError + QLatin1Char('\n'));
        return ExitUsage;
    }

    CApplication application;
    CWizardLoader loader(factory.get());
    std::unique_ptr<CFsm> fsm(loader.load(options.wizardPath, &application));
    if (!fsm) {
        for (const Diagnostic& error : loader.errors())
            cli::err(error.toText() + QLatin1Char('\n'));
        return ExitUsage;
    }
    if (const int status = checkBeforeRun(fsm.get(), loader, options.wizardPath, options.output.strict); status >= 0)
        return status;
    if (const int status = applyOptions(options, fsm.get(), application); status >= 0)
        return status;

    CWizardRunner runner(fsm.get());
    runner.setTimeout(options.timeoutMs);
    if (CTerminalProgressSink* terminal = traces.terminal.get()) {
        QObject::connect(&runner, &CWizardRunner::progressChanged, &runner,
                         [terminal](const QString& state, const QString& type, int percent) {
                             terminal->setProgress(QStringLiteral("> %1 (%2) %3%").arg(state, type).arg(percent));
                         });
    }
    activeRunner = &runner;
    if (journal.signalled())
        runner.interrupt();
    const int status = runner.run();
    const QJsonObject journalReport = endJournal(options, runner, status, fsm.get(), journal);
    if (traces.terminal)
        traces.terminal->clear();
    if (temporaryMachine)
        platform::emulated::endMachineProcesses(closeGraceMilliseconds);

    QString compareError;
    if (dryRun && !dryRun->compare(&compareError)) {
        cli::err(QLatin1String("winsteps run: cannot compare the machine with its copy: ") + compareError + QLatin1Char('\n'));
        return ExitUsage;
    }
    const int exitStatus
        = options.report ? writeReport(options, runner, status, fsm.get(), application, dryRun.get(), journalReport) : status;
    cli::out(finalLine(fsm->objectName(), runner, exitStatus, options.output.json));
    // With --json standard output stays one JSON object: the changes are in the report then.
    if (dryRun && !options.output.json)
        cli::out(dryRun->changes().isEmpty() ? QStringLiteral("No changes.\n") : machine::changesText(dryRun->changes()));

    fsm.reset(); // the states before the factories that made them
    return exitStatus;
}

} // namespace winsteps::host
