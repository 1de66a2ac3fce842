// winsteps machine: creates, inspects, changes and restarts emulated Windows machines.

#include "cwizardrunner.h"
#include "machineactions.h"
#include "platform/emulated/machinefolder.h"
#include "platform/emulated/regfile.h"
#include "subcommand.h"

#include <QFile>

#include <cstdio>
#include <memory>

namespace winsteps::host {

namespace machine {

using platform::emulated::EmulatedMachine;
using platform::emulated::MachineProfile;

namespace {

const QString Command = QStringLiteral("machine");

} // namespace

int parseAction(QCommandLineParser& parser, const QString& action, const QString& usage, const QString& description,
                const QStringList& arguments, int required, int count)
{
    parser.setApplicationDescription(description);
    parser.addOption(cli::helpOption());
    const QString command = Command + QLatin1Char(' ') + action;
    if (const int status = cli::parse(parser, command, usage, arguments); status >= 0)
        return status;
    const int given = int(parser.positionalArguments().size());
    if (given < required)
        return cli::usageError(command, QStringLiteral("missing arguments: %1").arg(usage));
    if (given > count)
        return cli::usageError(command, QStringLiteral("too many arguments: %1").arg(usage));
    return -1;
}

int failure(const QString& action, const QString& message)
{
    cli::err(QStringLiteral("winsteps machine %1: %2\n").arg(action, message));
    return ExitError;
}

std::unique_ptr<EmulatedMachine> openExisting(const QString& action, const QString& folder, int* status)
{
    QString error;
    std::unique_ptr<EmulatedMachine> machine = EmulatedMachine::openExisting(folder, &error);
    if (!machine) {
        *status = failure(action, error);
        return nullptr;
    }
    // The machine's own tools see every key, whatever the user's rights.
    machine->setSystemAccess(true);
    return machine;
}

namespace {

QString actionsHelp()
{
    return QStringLiteral(
        "Usage: winsteps machine ACTION DIR [arguments]\n"
        "\n"
        "Emulated Windows machines live in machine folders: machine.db (the registry and the\n"
        "machine's record) and drive_c/ (drive C:). A folder remembers the profile it was made\n"
        "from. 'winsteps run --machine DIR' runs a wizard on it.\n"
        "\n"
        "Actions:\n"
        "  init DIR [--profile NAME|FILE]  create a machine folder (default profile %1)\n"
        "  show DIR [--json]               summary of the machine (--json: all of it as JSON)\n"
        "  export-reg DIR [KEY]            the registry (or KEY and below) as .reg text on stdout\n"
        "  import-reg DIR FILE|-           apply a .reg file (UTF-8 or the editor's UTF-16)\n"
        "  reboot DIR                      carry out the removals waiting for a restart and\n"
        "                                  run and clear RunOnce\n"
        "  check DIR                       the machine opens and its database is sound\n"
        "  stage-service DIR NAME OPTIONS  stage how a service starts, stops and fails\n"
        "  plug DIR DEVICE.json            plug in a device (and the devices inside it)\n"
        "  unplug DIR INSTANCE_ID          unplug a device with every device below it\n"
        "  snapshot DIR NAME [--replace]   keep a copy of the machine as DIR/snapshots/NAME\n"
        "  snapshots DIR                   list the snapshots\n"
        "  restore DIR NAME                put the machine back to a snapshot\n"
        "  diff DIR [NAME|DIR2] [--json]   what differs from a snapshot or another machine\n"
        "  runs DIR [--json]               the runs recorded on the machine, and their changes\n"
        "  rollback DIR [RUN] [--json]     undo every change of a run (default: the newest)\n"
        "\n"
        "'winsteps machine ACTION --help' explains an action.\n"
        "Exit status: 0 success, 1 the action failed, 2 a wrong command line.\n")
        .arg(QString::fromStdString(platform::emulated::defaultProfileName()));
}

int initAction(const QStringList& arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption profileOption
        = cli::profileOption(QStringLiteral("The emulated system: a built-in profile name or a JSON profile file."));
    parser.addOption(profileOption);
    if (const int status = parseAction(parser, QStringLiteral("init"), QStringLiteral("DIR [--profile NAME|FILE]"),
                                       QStringLiteral("Creates the machine folder DIR from a profile (default %1).\n"
                                                      "Built-in profiles: %2.")
                                           .arg(cli::defaultProfile(), cli::builtinProfiles()),
                                       arguments, 1, 1);
        status >= 0)
        return status;
    QString error;
    // A profile that cannot be used is a wrong command line, as for run and check.
    MachineProfile checked;
    if (parser.isSet(profileOption) && !checked.load(parser.value(profileOption), &error))
        return cli::usageError(QStringLiteral("machine init"), error);
    std::unique_ptr<EmulatedMachine> machine
        = EmulatedMachine::create(parser.value(profileOption), parser.positionalArguments().first(), &error);
    if (!machine)
        return failure(QStringLiteral("init"), error);
    const MachineProfile& profile = machine->profile();
    cli::out(QStringLiteral("Created machine \"%1\" from profile \"%2\"%3.\n")
                 .arg(machine->folder(), profile.name(),
                      profile.description().isEmpty() ? QString() : QStringLiteral(" (%1)").arg(profile.description())));
    return ExitOk;
}

int exportAction(const QStringList& arguments)
{
    QCommandLineParser parser;
    if (const int status = parseAction(parser, QStringLiteral("export-reg"), QStringLiteral("DIR [KEY]"),
                                       QStringLiteral("Writes the registry of the machine in DIR (or the key KEY, such as\n"
                                                      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo or HKLM\\SOFTWARE\\Demo, and "
                                                      "everything below it)\nto standard output in the registry "
                                                      "editor's text format (UTF-8)."),
                                       arguments, 1, 2);
        status >= 0)
        return status;
    int status = ExitOk;
    const QStringList positional = parser.positionalArguments();
    std::unique_ptr<EmulatedMachine> machine = openExisting(QStringLiteral("export-reg"), positional.first(), &status);
    if (!machine)
        return status;
    std::string text;
    std::string error;
    std::vector<std::string> skipped;
    if (!platform::exportRegistry(machine->registry(), positional.size() > 1 ? positional.at(1).toStdString() : std::string(), &text,
                                  &skipped, &error))
        return failure(QStringLiteral("export-reg"), QString::fromStdString(error));
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    for (const std::string& key : skipped)
        cli::err(QStringLiteral("winsteps machine export-reg: cannot read [%1]\n").arg(QString::fromStdString(key)));
    return ExitOk;
}

int importAction(const QStringList& arguments)
{
    QCommandLineParser parser;
    if (const int status = parseAction(parser, QStringLiteral("import-reg"), QStringLiteral("DIR FILE"),
                                       QStringLiteral("Applies the registry file FILE (\"-\": standard input) to the "
                                                      "machine in DIR: the registry\neditor's text format, UTF-8 or "
                                                      "UTF-16. The file is checked whole before anything\nis written."),
                                       arguments, 2, 2);
        status >= 0)
        return status;
    const QStringList positional = parser.positionalArguments();
    const QString fileName = positional.at(1);
    QFile file;
    const bool opened = fileName == QLatin1String("-") ? file.open(stdin, QIODevice::ReadOnly)
                                                       : (file.setFileName(fileName), file.open(QIODevice::ReadOnly));
    if (!opened)
        return failure(QStringLiteral("import-reg"), QStringLiteral("cannot read \"%1\": %2").arg(fileName, file.errorString()));
    const QByteArray bytes = file.readAll();
    int status = ExitOk;
    std::unique_ptr<EmulatedMachine> machine = openExisting(QStringLiteral("import-reg"), positional.first(), &status);
    if (!machine)
        return status;
    std::string error;
    if (!platform::importRegistry(machine->registry(), std::vector<std::uint8_t>(bytes.begin(), bytes.end()), &error))
        return failure(QStringLiteral("import-reg"), QStringLiteral("%1: %2").arg(fileName, QString::fromStdString(error)));
    cli::out(QStringLiteral("Imported \"%1\" into \"%2\".\n").arg(fileName, machine->folder()));
    return ExitOk;
}

int rebootAction(const QStringList& arguments)
{
    QCommandLineParser parser;
    if (const int status = parseAction(parser, QStringLiteral("reboot"), QStringLiteral("DIR"),
                                       QStringLiteral("Restarts the machine in DIR: removes (or renames) the files and "
                                                      "directories waiting\nfor a restart, in order, then runs and "
                                                      "clears the RunOnce entries, and reports\nwhat it did."),
                                       arguments, 1, 1);
        status >= 0)
        return status;
    int status = ExitOk;
    std::unique_ptr<EmulatedMachine> machine = openExisting(QStringLiteral("reboot"), parser.positionalArguments().first(), &status);
    if (!machine)
        return status;
    QList<EmulatedMachine::BootEntry> done;
    QString error;
    if (!machine->reboot(&done, &error))
        return failure(QStringLiteral("reboot"), error);
    QString text = QStringLiteral("Restarted \"%1\" (restart %2).\n").arg(machine->folder()).arg(machine->statistics().boots);
    if (done.isEmpty())
        text += QStringLiteral("Nothing to do.\n");
    for (const EmulatedMachine::BootEntry& entry : std::as_const(done))
        text += entry.action + QLatin1Char(' ') + entry.detail + QLatin1Char('\n');
    cli::out(text);
    return ExitOk;
}

int checkAction(const QStringList& arguments)
{
    QCommandLineParser parser;
    if (const int status = parseAction(parser, QStringLiteral("check"), QStringLiteral("DIR"),
                                       QStringLiteral("Checks that the machine in DIR opens and that its database is "
                                                      "sound (SQLite's integrity\ncheck): prints \"ok\" (exit status 0) "
                                                      "or what is wrong (exit status 1)."),
                                       arguments, 1, 1);
        status >= 0)
        return status;
    int status = ExitOk;
    std::unique_ptr<EmulatedMachine> machine = openExisting(QStringLiteral("check"), parser.positionalArguments().first(), &status);
    if (!machine)
        return status;
    const QString findings = machine->integrityCheck();
    if (findings != QLatin1String("ok"))
        return failure(QStringLiteral("check"), findings);
    cli::out(QStringLiteral("ok\n"));
    return ExitOk;
}

} // namespace

} // namespace machine

const QList<Action>& machineActions()
{
    using namespace machine;
    static const QList<Action> actions = {
        {"init", &initAction},
        {"show", &showAction},
        {"export-reg", &exportAction},
        {"import-reg", &importAction},
        {"reboot", &rebootAction},
        {"check", &checkAction},
        {"stage-service", &stageServiceAction},
        {"plug", &plugAction},
        {"unplug", &unplugAction},
        {"snapshot", &snapshotAction},
        {"snapshots", &snapshotsAction},
        {"restore", &restoreAction},
        {"diff", &diffAction},
        {"runs", &runsAction},
        {"rollback", &rollbackAction},
    };
    return actions;
}

int machineCommand(const QStringList& arguments)
{
    using namespace machine;
    if (arguments.isEmpty()) {
        cli::err(QStringLiteral("winsteps machine: no action given\n"));
        cli::note(QLatin1Char('\n') + actionsHelp());
        return ExitUsage;
    }
    const QString action = arguments.first();
    if (action == QLatin1String("-h") || action == QLatin1String("--help") || action == QLatin1String("help")) {
        cli::out(actionsHelp());
        return ExitOk;
    }
    return runAction(Command, machineActions(), arguments);
}

} // namespace winsteps::host
