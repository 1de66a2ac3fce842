// winsteps machine: creates, inspects, changes and restarts emulated Windows machines.

#include "cwizardrunner.h"
#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/machinefolder.h"
#include "platform/emulated/regfile.h"
#include "subcommand.h"

#include <QFile>

#include <cstdio>
#include <memory>

namespace winsteps::host {

namespace {

using platform::emulated::EmulatedMachine;
using platform::emulated::EmulatedServices;
using platform::emulated::MachineProfile;

const QString Command = QStringLiteral("machine");

enum { ExitError = 1 };

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
        "  show DIR                        summary of the machine\n"
        "  export-reg DIR [KEY]            the registry (or KEY and below) as .reg text on stdout\n"
        "  import-reg DIR FILE|-           apply a .reg file (UTF-8 or the editor's UTF-16)\n"
        "  reboot DIR                      carry out the removals waiting for a restart and\n"
        "                                  run and clear RunOnce\n"
        "\n"
        "'winsteps machine ACTION --help' explains an action.\n"
        "Exit status: 0 success, 1 the action failed, 2 a wrong command line.\n")
        .arg(QString::fromStdString(platform::emulated::defaultProfileName()));
}

// Parses the arguments of one action: exactly `count` positional arguments (optional ones
// beyond `required` may be left out). Returns -1 to go on, else the exit status.
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

// The values of a key (64-bit view) as (name, text) for text values.
QList<QPair<QString, QString>> textValues(platform::Registry& machine, platform::HKEY root, const QString& path)
{
    QList<QPair<QString, QString>> result;
    platform::HKEY key = platform::HKEY_NULL;
    if (machine.regOpenKeyEx(root, path.toStdString(), platform::KEY_READ | platform::KEY_WOW64_64KEY, &key)
        != platform::ERROR_SUCCESS)
        return result;
    std::string name;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    for (std::uint32_t i = 0; machine.regEnumValue(key, i, &name, &type, &data) == platform::ERROR_SUCCESS; ++i) {
        if (type != platform::REG_SZ && type != platform::REG_EXPAND_SZ)
            continue;
        QByteArray bytes(reinterpret_cast<const char*>(data.data()), qsizetype(data.size()));
        const qsizetype nul = bytes.indexOf('\0');
        if (nul >= 0)
            bytes.truncate(nul);
        result.append({QString::fromStdString(name), QString::fromUtf8(bytes)});
    }
    machine.regCloseKey(key);
    return result;
}

QStringList subKeys(platform::Registry& machine, platform::HKEY root, const QString& path)
{
    QStringList result;
    platform::HKEY key = platform::HKEY_NULL;
    if (machine.regOpenKeyEx(root, path.toStdString(), platform::KEY_READ | platform::KEY_WOW64_64KEY, &key)
        != platform::ERROR_SUCCESS)
        return result;
    std::string name;
    for (std::uint32_t i = 0; machine.regEnumKeyEx(key, i, &name) == platform::ERROR_SUCCESS; ++i)
        result << QString::fromStdString(name);
    machine.regCloseKey(key);
    return result;
}

// The parts of `machine show`, each a block of lines.

QString systemSummary(EmulatedMachine& machine, const EmulatedMachine::Statistics& stats)
{
    const MachineProfile& profile = machine.profile();
    const platform::OsVersionInfoEx& version = profile.version();
    QString text;
    text += QStringLiteral("Machine:   %1\n").arg(machine.folder());
    text += QStringLiteral("Profile:   %1%2\n")
                .arg(profile.name(), profile.description().isEmpty() ? QString() : QStringLiteral(" (%1)").arg(profile.description()));
    text += QStringLiteral("System:    %1 %2.%3.%4%5, %6; user \"%7\"%8\n")
                .arg(profile.isNt() ? QStringLiteral("NT") : QStringLiteral("9x"))
                .arg(version.majorVersion)
                .arg(version.minorVersion)
                .arg(version.buildNumber)
                .arg(QString::fromStdString(version.servicePack).trimmed().isEmpty()
                         ? QString()
                         : QLatin1Char(' ') + QString::fromStdString(version.servicePack).trimmed(),
                     profile.wow64() ? QStringLiteral("64-bit (the process runs under WOW64)") : QStringLiteral("32-bit"),
                     profile.user(),
                     profile.administrator() ? QStringLiteral(", administrator") : QString());
    text += QStringLiteral("Drive C:   %1\n").arg(machine.driveC());
    text += QStringLiteral("Registry:  %1 keys, %2 values (machine.db schema %3, created %4)\n")
                .arg(stats.keys)
                .arg(stats.values)
                .arg(stats.schema)
                .arg(stats.created);
    text += QStringLiteral("Restarts:  %1\n").arg(stats.boots);
    return text;
}

// "TITLE:" with the lines below it, or "TITLE: none" when there are none.
QString section(const QString& title, const QStringList& lines, const QString& none)
{
    QString text = title + QLatin1Char(':') + (lines.isEmpty() ? QLatin1Char(' ') + none : QString()) + QLatin1Char('\n');
    for (const QString& line : lines)
        text += line + QLatin1Char('\n');
    return text;
}

const QString Software = QStringLiteral("SOFTWARE\\");
const QString CurrentVersion = QStringLiteral("Microsoft\\Windows\\CurrentVersion\\");

// The machine-wide software keys: the native one and, on a 64-bit system, the 32-bit view.
QStringList softwareViews(const EmulatedMachine& machine)
{
    QStringList views = {Software};
    if (machine.profile().wow64())
        views << QStringLiteral("SOFTWARE\\Wow6432Node\\");
    return views;
}

QStringList startupEntries(EmulatedMachine& machine)
{
    QStringList lines;
    for (const QString& kind : {QStringLiteral("Run"), QStringLiteral("RunOnce")}) {
        QList<QPair<platform::HKEY, QString>> places;
        for (const QString& view : softwareViews(machine))
            places.append({platform::HKEY_LOCAL_MACHINE, view + CurrentVersion + kind});
        places.append({platform::HKEY_CURRENT_USER, Software + CurrentVersion + kind});
        for (const auto& place : std::as_const(places)) {
            for (const auto& value : textValues(machine.registry(), place.first, place.second))
                lines << QStringLiteral("  %1\\%2: \"%3\" = %4")
                             .arg(QLatin1String(platform::hiveName(place.first)), place.second, value.first, value.second);
        }
    }
    return lines;
}

QStringList installedPrograms(EmulatedMachine& machine)
{
    QStringList lines;
    for (const QString& view : softwareViews(machine)) {
        const QString uninstall = view + CurrentVersion + QStringLiteral("Uninstall");
        for (const QString& name : subKeys(machine.registry(), platform::HKEY_LOCAL_MACHINE, uninstall)) {
            QString display = name;
            QString command;
            for (const auto& value : textValues(machine.registry(), platform::HKEY_LOCAL_MACHINE, uninstall + QLatin1Char('\\') + name)) {
                if (value.first.compare(QLatin1String("DisplayName"), Qt::CaseInsensitive) == 0)
                    display = value.second;
                else if (value.first.compare(QLatin1String("UninstallString"), Qt::CaseInsensitive) == 0)
                    command = value.second;
            }
            lines << QStringLiteral("  %1 [%2]: %3").arg(display, name, command);
        }
    }
    return lines;
}

QStringList pendingOperations(EmulatedMachine& machine)
{
    QStringList lines;
    for (const auto& operation : machine.pendingFileOperations()) {
        if (operation.second.isEmpty())
            lines << QStringLiteral("  remove %1").arg(operation.first);
        else
            lines << QStringLiteral("  rename %1 -> %2").arg(operation.first, operation.second);
    }
    return lines;
}

// One line a service: name, display name, status and start type in the words of the service
// states ("running", "manual", ...).
QStringList serviceLines(EmulatedMachine& machine)
{
    static const char* const states[] = {"", "stopped", "starting", "stopping", "running", "continuePending",
                                         "pausePending", "paused"};
    static const char* const starts[] = {"boot", "system", "auto", "manual", "disabled"};
    QStringList lines;
    for (const EmulatedServices::Entry& entry : machine.services().list()) {
        const std::uint32_t state = entry.status.currentState;
        const std::uint32_t start = entry.config.startType;
        lines << QStringLiteral("  %1 (%2): %3, %4")
                     .arg(QString::fromStdString(entry.name), QString::fromStdString(entry.config.displayName),
                          QLatin1String(state < std::size(states) ? states[state] : "unknown"),
                          QLatin1String(start < std::size(starts) ? starts[start] : "unknown"));
    }
    return lines;
}

QString lastRestart(EmulatedMachine& machine, qint64 boots)
{
    if (boots <= 0)
        return QString();
    QString text = QStringLiteral("Last restart (%1):\n").arg(boots);
    const QList<EmulatedMachine::BootEntry> log = machine.bootLog(boots);
    if (log.isEmpty())
        text += QStringLiteral("  nothing to do\n");
    for (const EmulatedMachine::BootEntry& entry : log)
        text += QStringLiteral("  %1 %2\n").arg(entry.action, entry.detail);
    return text;
}

int showAction(const QStringList& arguments)
{
    QCommandLineParser parser;
    if (const int status = parseAction(parser, QStringLiteral("show"), QStringLiteral("DIR"),
                                       QStringLiteral("Shows a summary of the machine in DIR: its system, registry, "
                                                      "start-up entries,\ninstalled programs, services, pending removals and "
                                                      "last restart."),
                                       arguments, 1, 1);
        status >= 0)
        return status;
    int status = ExitOk;
    std::unique_ptr<EmulatedMachine> machine = openExisting(QStringLiteral("show"), parser.positionalArguments().first(), &status);
    if (!machine)
        return status;
    const EmulatedMachine::Statistics stats = machine->statistics();
    cli::out(systemSummary(*machine, stats)
             + section(QStringLiteral("Start-up entries"), startupEntries(*machine), QStringLiteral("none"))
             + section(QStringLiteral("Installed programs"), installedPrograms(*machine), QStringLiteral("none"))
             + section(QStringLiteral("Services"), serviceLines(*machine), QStringLiteral("none"))
             + section(QStringLiteral("At the next restart"), pendingOperations(*machine), QStringLiteral("nothing"))
             + lastRestart(*machine, stats.boots));
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

} // namespace

int machineCommand(const QStringList& arguments)
{
    if (arguments.isEmpty()) {
        cli::err(actionsHelp());
        return ExitUsage;
    }
    const QString action = arguments.first();
    const QStringList rest = arguments.mid(1);
    if (action == QLatin1String("-h") || action == QLatin1String("--help") || action == QLatin1String("help")) {
        cli::out(actionsHelp());
        return ExitOk;
    }
    if (action == QLatin1String("init"))
        return initAction(rest);
    if (action == QLatin1String("show"))
        return showAction(rest);
    if (action == QLatin1String("export-reg"))
        return exportAction(rest);
    if (action == QLatin1String("import-reg"))
        return importAction(rest);
    if (action == QLatin1String("reboot"))
        return rebootAction(rest);
    return cli::usageError(Command, QStringLiteral("unknown action \"%1\" (init, show, export-reg, import-reg, reboot)").arg(action));
}

} // namespace winsteps::host
