// winsteps profiles and winsteps profile show: the emulated systems there are, and what a
// fresh machine of one holds. The machine is made in a temporary folder, described with the
// records of machine show and the registry export, and removed again.

#include "cwizardrunner.h"
#include "machineactions.h"
#include "platform/emulated/machinefolder.h"
#include "platform/emulated/regfile.h"
#include "subcommand.h"

#include <QDir>
#include <QJsonDocument>
#include <QTemporaryDir>

namespace winsteps::host {

namespace {

using platform::emulated::EmulatedMachine;
using platform::emulated::MachineProfile;

const QString JsonHelp = QStringLiteral("The same as one JSON object (UTF-8).");

QString jsonText(const QJsonValue& value)
{
    return QString::fromUtf8(value.isArray() ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Indented)
                                             : QJsonDocument(value.toObject()).toJson(QJsonDocument::Indented));
}

// "NT 5.1.2600 Service Pack 2" or "9x 4.10.2222 A".
QString systemText(const MachineProfile& profile)
{
    const platform::OsVersionInfoEx& v = profile.version();
    const QString pack = QString::fromStdString(v.servicePack).trimmed();
    return QStringLiteral("%1 %2.%3.%4%5")
        .arg(profile.isNt() ? QStringLiteral("NT") : QStringLiteral("9x"))
        .arg(v.majorVersion)
        .arg(v.minorVersion)
        .arg(v.buildNumber)
        .arg(pack.isEmpty() ? QString() : QLatin1Char(' ') + pack);
}

int profilesCommandImpl(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Lists the built-in profiles: the emulated system of each, whether the "
                                                    "program runs under\nWOW64 (a 64-bit system) and whether the user is an "
                                                    "administrator. The default is marked *."));
    parser.addOption(cli::helpOption());
    const QCommandLineOption jsonOption(QStringLiteral("json"), JsonHelp);
    parser.addOption(jsonOption);
    if (const int status = cli::parse(parser, QStringLiteral("profiles"), QStringLiteral("[--json]"), arguments); status >= 0)
        return status;
    if (!parser.positionalArguments().isEmpty())
        return cli::usageError(QStringLiteral("profiles"), QStringLiteral("no arguments expected"));
    QJsonArray list;
    QString text = QStringLiteral("%1 %2 %3 %4 %5\n")
                       .arg(QStringLiteral("PROFILE").leftJustified(11), QStringLiteral("SYSTEM").leftJustified(28),
                            QStringLiteral("WOW64"), QStringLiteral("ADMIN"), QStringLiteral("DESCRIPTION"));
    for (const QString& name : MachineProfile::builtinNames()) {
        MachineProfile profile;
        QString error;
        if (!profile.load(name, &error)) { // a compiled-in profile always loads; say so if not
            cli::err(QStringLiteral("winsteps profiles: %1\n").arg(error));
            return ExitFailed;
        }
        const bool isDefault = name == cli::defaultProfile();
        list.append(QJsonObject{{QStringLiteral("name"), name},
                                {QStringLiteral("default"), isDefault},
                                {QStringLiteral("description"), profile.description()},
                                {QStringLiteral("system"), systemText(profile)},
                                {QStringLiteral("wow64"), profile.wow64()},
                                {QStringLiteral("administrator"), profile.administrator()}});
        text += QStringLiteral("%1 %2 %3 %4 %5\n")
                    .arg(QString(name + (isDefault ? QStringLiteral(" *") : QString())).leftJustified(11),
                         systemText(profile).leftJustified(28),
                         (profile.wow64() ? QStringLiteral("yes") : QStringLiteral("no")).leftJustified(5),
                         (profile.administrator() ? QStringLiteral("yes") : QStringLiteral("no")).leftJustified(5),
                         profile.description());
    }
    cli::out(parser.isSet(jsonOption) ? jsonText(list) : text);
    return ExitOk;
}

// The shell folders a profile answers, by their CSIDL numbers.
const QMap<int, const char*>& csidlNames()
{
    using namespace platform::csidl;
    static const QMap<int, const char*> names = {
        {PROGRAMS, "PROGRAMS"},
        {PERSONAL, "PERSONAL"},
        {STARTUP, "STARTUP"},
        {STARTMENU, "STARTMENU"},
        {DESKTOPDIRECTORY, "DESKTOPDIRECTORY"},
        {FONTS, "FONTS"},
        {COMMON_STARTMENU, "COMMON_STARTMENU"},
        {COMMON_PROGRAMS, "COMMON_PROGRAMS"},
        {COMMON_STARTUP, "COMMON_STARTUP"},
        {COMMON_DESKTOPDIRECTORY, "COMMON_DESKTOPDIRECTORY"},
        {APPDATA, "APPDATA"},
        {LOCAL_APPDATA, "LOCAL_APPDATA"},
        {COMMON_APPDATA, "COMMON_APPDATA"},
        {WINDOWS, "WINDOWS"},
        {SYSTEM, "SYSTEM"},
        {PROGRAM_FILES, "PROGRAM_FILES"},
        {PROFILE, "PROFILE"},
        {41, "SYSTEMX86"},
        {PROGRAM_FILESX86, "PROGRAM_FILESX86"},
        {PROGRAM_FILES_COMMON, "PROGRAM_FILES_COMMON"},
        {COMMON_DOCUMENTS, "COMMON_DOCUMENTS"},
    };
    return names;
}

QJsonObject foldersJson(const MachineProfile& profile)
{
    const QString windows = QStringLiteral("C:\\") + profile.windowsFolder();
    QJsonObject shell;
    for (auto it = profile.shellFolders().begin(); it != profile.shellFolders().end(); ++it)
        shell.insert(QString::number(it.key()), it.value().isNull() ? QJsonValue() : QJsonValue(it.value()));
    return QJsonObject{{QStringLiteral("windows"), windows},
                       {QStringLiteral("system"), QString(windows + QLatin1Char('\\') + profile.systemFolder())},
                       {QStringLiteral("profiles"), profile.profilesFolder().isEmpty() ? QJsonValue() : QString(QStringLiteral("C:\\") + profile.profilesFolder())},
                       {QStringLiteral("temp"), profile.tempFolder()},
                       {QStringLiteral("shellFolders"), shell}};
}

QString foldersText(const MachineProfile& profile)
{
    const QJsonObject folders = foldersJson(profile);
    QString text = QStringLiteral("Folders:\n");
    for (const char* name : {"windows", "system", "profiles", "temp"}) {
        text += QStringLiteral("  %1 %2\n").arg(QString(QLatin1String(name) + QLatin1Char(':')).leftJustified(27),
                                                 folders.value(QLatin1String(name)).toString(QStringLiteral("none")));
    }
    for (auto it = profile.shellFolders().begin(); it != profile.shellFolders().end(); ++it) {
        const QString label = QStringLiteral("%1 %2:").arg(it.key()).arg(QLatin1String(csidlNames().value(it.key(), "")));
        text += QStringLiteral("  %1 %2\n").arg(label.leftJustified(27), it.value().isNull() ? QStringLiteral("(fails)") : it.value());
    }
    return text;
}

// What machine show says that is about the profile, not about one machine folder: its path,
// drive C:, registry statistics, restarts and pending removals are left out.
QString profileSummary(EmulatedMachine& machine)
{
    static const QStringList folderLines{"Machine:", "Drive C:", "Registry:", "Restarts:", "At the next restart:"};
    QString text;
    for (const QString& line : machine::summary(machine).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (std::none_of(folderLines.begin(), folderLines.end(), [&](const QString& start) { return line.startsWith(start); }))
            text += line + QLatin1Char('\n');
    }
    return text;
}

int showAction(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Shows what a fresh machine of a profile (a built-in name or a JSON profile file)\n"
                       "holds: its version record, folders, services, firewall, connections, devices,\n"
                       "drives, and the whole registry in the registry editor's text format. The machine\n"
                       "is made in a temporary folder and removed again. Built-in profiles: %1.")
            .arg(cli::builtinProfiles()));
    parser.addOption(cli::helpOption());
    const QCommandLineOption jsonOption(QStringLiteral("json"), JsonHelp);
    parser.addOption(jsonOption);
    const QString command = QStringLiteral("profile show");
    if (const int status = cli::parse(parser, command, QStringLiteral("NAME|FILE [--json]"), arguments); status >= 0)
        return status;
    QString name;
    if (const int status = cli::onePositional(parser, command, QStringLiteral("no profile named"),
                                              QStringLiteral("one profile at a time"), &name);
        status >= 0)
        return status;
    QString error;
    MachineProfile checked;
    if (!checked.load(name, &error))
        return cli::usageError(command, error);

    QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/winsteps-profile-XXXXXX"));
    if (!folder.isValid()) {
        cli::err(QStringLiteral("winsteps %1: cannot make a temporary folder: %2\n").arg(command, folder.errorString()));
        return ExitFailed;
    }
    std::unique_ptr<EmulatedMachine> machine = EmulatedMachine::create(name, folder.filePath(QStringLiteral("machine")), &error);
    if (!machine) {
        cli::err(QStringLiteral("winsteps %1: %2\n").arg(command, error));
        return ExitFailed;
    }
    machine->setSystemAccess(true);
    std::string registry;
    std::string exportError;
    std::vector<std::string> skipped;
    if (!platform::exportRegistry(machine->registry(), std::string(), &registry, &skipped, &exportError)) {
        cli::err(QStringLiteral("winsteps %1: %2\n").arg(command, QString::fromStdString(exportError)));
        return ExitFailed;
    }
    // The export's line ends are the registry editor's (CR LF); here they are those of the rest.
    const QString registryText = QString::fromStdString(registry).replace(QLatin1String("\r\n"), QLatin1String("\n"));
    const MachineProfile& profile = machine->profile();
    if (parser.isSet(jsonOption)) {
        QJsonObject object = machine::json(*machine);
        for (const char* own : {"machine", "driveC", "registry", "restarts", "pendingRemovals", "processes"})
            object.remove(QLatin1String(own));
        object.insert(QStringLiteral("folders"), foldersJson(profile));
        object.insert(QStringLiteral("registry"), registryText);
        cli::out(jsonText(object));
        return ExitOk;
    }
    const platform::OsVersionInfoEx& v = profile.version();
    QString text = profileSummary(*machine);
    text.insert(text.indexOf(QLatin1Char('\n'), text.indexOf(QLatin1String("System:"))) + 1,
                QStringLiteral("Version:   platform %1, %2.%3.%4, \"%5\" (%6.%7), suite mask 0x%8, product type %9\n")
                    .arg(v.platformId)
                    .arg(v.majorVersion)
                    .arg(v.minorVersion)
                    .arg(v.buildNumber)
                    .arg(QString::fromStdString(v.servicePack))
                    .arg(v.servicePackMajor)
                    .arg(v.servicePackMinor)
                    .arg(v.suiteMask, 4, 16, QLatin1Char('0'))
                    .arg(v.productType)
                    + QStringLiteral("Computer:  %1\n").arg(profile.computerName()));
    text += foldersText(profile);
    text += QStringLiteral("Registry:\n") + registryText;
    cli::out(text);
    return ExitOk;
}

QString profileUsage()
{
    return QStringLiteral("Usage: winsteps profile show NAME|FILE [--json]\n"
                          "\n"
                          "Actions:\n"
                          "  show NAME|FILE [--json]  what a fresh machine of the profile holds\n"
                          "\n"
                          "'winsteps profiles' lists the built-in profiles.\n");
}

} // namespace

int profilesCommand(const QStringList& arguments)
{
    return profilesCommandImpl(arguments);
}

const QList<Action>& profileActions()
{
    static const QList<Action> actions = {{"show", &showAction}};
    return actions;
}

int profileCommand(const QStringList& arguments)
{
    if (arguments.isEmpty()) {
        cli::err(QStringLiteral("winsteps profile: no action given\n"));
        cli::note(QLatin1Char('\n') + profileUsage());
        return ExitUsage;
    }
    if (arguments.first() == QLatin1String("-h") || arguments.first() == QLatin1String("--help")) {
        cli::out(profileUsage());
        return ExitOk;
    }
    return runAction(QStringLiteral("profile"), profileActions(), arguments);
}

} // namespace winsteps::host
