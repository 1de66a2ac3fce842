// The winsteps command: runs and inspects wizards headless on an emulated Windows machine.

#include "cwizardrunner.h"
#include "expression/cxpathnode.h"
#include "platform/emulated/machinefolder.h"
#include "subcommand.h"

#include <QGuiApplication>

#include <cerrno>
#include <cstdio>

#include <sys/stat.h>
#include <unistd.h>

namespace winsteps::host {

const QList<Subcommand>& subcommands()
{
    static const QList<Subcommand> list = {
        {"run", "Run a wizard on an emulated machine.", &runCommand},
        {"types", "List the state types of the loaded factories.", &typesCommand},
        {"check", "Check a wizard for mistakes without running it.", &checkCommand},
        {"graph", "Print a wizard as a Graphviz graph.", &graphCommand},
        {"eval", "Evaluate an expression.", &evalCommand},
        {"machine", "Create, inspect, change and reboot an emulated machine.", &machineCommand},
        {"tool", "Run an emulated Windows system program (started by the emulated machine).", &toolCommand},
        {"profiles", "List the built-in profiles of emulated systems.", &profilesCommand},
        {"profile", "Show what a fresh machine of a profile holds.", &profileCommand},
        {"completion", "Print the bash completion script.", &completionCommand},
    };
    return list;
}

QList<Action> actionsOf(const QString& command)
{
    if (command == QLatin1String("machine"))
        return machineActions();
    if (command == QLatin1String("profile"))
        return profileActions();
    return {};
}

int runAction(const QString& command, const QList<Action>& actions, const QStringList& arguments)
{
    if (arguments.isEmpty())
        return -1;
    QStringList names;
    for (const Action& action : actions) {
        if (arguments.first() == QLatin1String(action.name))
            return action.run(arguments.mid(1));
        names << QLatin1String(action.name);
    }
    return cli::usageError(command, QStringLiteral("unknown action \"%1\" (%2)").arg(arguments.first(), names.join(QLatin1String(", "))));
}

namespace cli {

namespace {

Colour colourMode = Colour::Auto;
QString* outCapture = nullptr;

bool colourOn()
{
    static const bool terminal = ::isatty(STDERR_FILENO) == 1;
    if (colourMode != Colour::Auto)
        return colourMode == Colour::Always;
    return terminal && qEnvironmentVariableIsEmpty("NO_COLOR");
}

void writeErr(const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

} // namespace

void setColour(Colour colour)
{
    colourMode = colour;
}

void captureOut(QString* capture)
{
    outCapture = capture;
}

void out(const QString& text)
{
    if (outCapture) {
        *outCapture += text;
        return;
    }
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void err(const QString& text)
{
    if (!colourOn())
        return writeErr(text.toUtf8());
    // Each line coloured on its own, the reset before the line's end, so that a line cut off
    // by a crash or read by another program line by line never leaves the terminal coloured.
    QByteArray coloured;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0)
            coloured += '\n';
        if (lines.at(i).isEmpty())
            continue;
        coloured += lines.at(i).contains(QLatin1String("warning:")) ? "\033[33m" : "\033[31m";
        coloured += lines.at(i).toUtf8() + "\033[0m";
    }
    writeErr(coloured);
}

void note(const QString& text)
{
    writeErr(text.toUtf8());
}

int onePositional(const QCommandLineParser& parser, const QString& command, const QString& noneMessage,
                  const QString& manyMessage, QString* value)
{
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1)
        return usageError(command, positional.isEmpty() ? noneMessage : manyMessage);
    *value = positional.first();
    return -1;
}

int loadXmlOption(const QString& command, const QString& text, QString* name, std::unique_ptr<CXPathNode>* document)
{
    const qsizetype equals = text.indexOf(QLatin1Char('='));
    if (equals <= 0 || equals == text.size() - 1)
        return usageError(command, QLatin1String("--xml wants NAME=FILE, not \"") + text + QLatin1Char('"'));
    QString error;
    *document = CXPathNode::loadDocument(text.mid(equals + 1), &error);
    if (!*document)
        return usageError(command, error);
    *name = text.left(equals);
    return -1;
}

QCommandLineOption profileOption(const QString& help)
{
    return QCommandLineOption(QStringLiteral("profile"), help, QStringLiteral("NAME|FILE"));
}

QString defaultProfile()
{
    return QString::fromStdString(platform::emulated::defaultProfileName());
}

QString builtinProfiles()
{
    QStringList names;
    for (const std::string& name : platform::emulated::builtinProfileNames())
        names << QString::fromStdString(name);
    return names.join(QLatin1String(", "));
}

int usageError(const QString& command, const QString& message)
{
    err(QLatin1String("winsteps ") + command + QLatin1String(": ") + message + QLatin1Char('\n'));
    note(QLatin1String("Try 'winsteps ") + command + QLatin1String(" --help'.\n"));
    return ExitUsage;
}

QCommandLineOption helpOption()
{
    return QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Shows this help."));
}

int parse(QCommandLineParser& parser, const QString& command, const QString& usage, const QStringList& arguments)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    if (!parser.parse(QStringList(QStringLiteral("winsteps")) + arguments))
        return usageError(command, parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        // Qt's usage line names only the program; put the subcommand's own in its place.
        QString help = parser.helpText();
        help = help.mid(help.indexOf(QLatin1Char('\n')) + 1);
        out(QLatin1String("Usage: winsteps ") + command + QLatin1Char(' ') + usage + QLatin1String("\n\n") + help);
        return ExitOk;
    }
    return -1;
}

} // namespace cli

QString toolHelp()
{
    QString text = QStringLiteral(
        "Usage: winsteps COMMAND [options] [arguments]\n"
        "\n"
        "Runs and inspects installer wizards (XML state machines built from the winsteps\n"
        "plug-in's states) headless, on an emulated Windows machine.\n"
        "\n"
        "Commands:\n");
    for (const Subcommand& command : subcommands())
        text += QStringLiteral("  %1%2\n").arg(QString::fromLatin1(command.name).leftJustified(12), QString::fromLatin1(command.summary));
    text += QStringLiteral(
        "\n"
        "Options (before the command):\n"
        "  -h, --help     Show this help; 'winsteps help COMMAND [ACTION]' explains a command.\n"
        "  -v, --version  Show the version.\n"
        "  --color <WHEN> Colour errors and warnings: never, always, or auto (when standard\n"
        "                 error is a terminal and NO_COLOR is unset or empty; the default).\n"
        "\n"
        "Exit status: 0 success, 1 the wizard ended with \"failed\", 2 the wizard cannot be\n"
        "loaded or the command line is wrong, 3 the run timed out.\n");
    return text;
}

} // namespace winsteps::host

int main(int argc, char* argv[])
{
    using namespace winsteps::host;
    // Colours, fonts and pixmaps need a GUI application; it runs without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The offscreen platform wants a private runtime folder; a headless shell (CI, cron,
    // sudo) often has none, and Qt would then warn on every run.
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QByteArray dir = QByteArray("/tmp/winsteps-runtime-") + QByteArray::number(uint(getuid()));
        if (::mkdir(dir.constData(), 0700) == 0 || errno == EEXIST) {
            struct stat info;
            if (::stat(dir.constData(), &info) == 0 && info.st_uid == getuid() && (info.st_mode & 0777) == 0700)
                qputenv("XDG_RUNTIME_DIR", dir);
        }
    }
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("winsteps"));
    QCoreApplication::setApplicationVersion(QStringLiteral(WINSTEPS_VERSION));

    QStringList arguments = app.arguments().mid(1);
    // Global options come before the command.
    while (!arguments.isEmpty() && arguments.first().startsWith(QLatin1String("--color"))) {
        const QString option = arguments.takeFirst();
        QString when = option.mid(8);
        if (option == QLatin1String("--color"))
            when = arguments.isEmpty() ? QString() : arguments.takeFirst();
        static const QStringList words{QStringLiteral("never"), QStringLiteral("auto"), QStringLiteral("always")};
        if (option.size() > 7 && option.at(7) != QLatin1Char('='))
            when = option; // --colour, --colors, ...: no such option
        if (!words.contains(when)) {
            cli::err(QLatin1String("winsteps: --color wants never, auto or always, not \"") + when + QLatin1String("\"\n"));
            return ExitUsage;
        }
        cli::setColour(cli::Colour(words.indexOf(when)));
    }
    if (arguments.isEmpty()) {
        cli::err(QStringLiteral("winsteps: no command given\n"));
        cli::note(QLatin1Char('\n') + toolHelp());
        return ExitUsage;
    }
    const QString first = arguments.takeFirst();
    if (first == QLatin1String("-h") || first == QLatin1String("--help") || (first == QLatin1String("help") && arguments.isEmpty())) {
        cli::out(toolHelp());
        return ExitOk;
    }
    if (first == QLatin1String("-v") || first == QLatin1String("--version")) {
        cli::out(QLatin1String("winsteps ") + QCoreApplication::applicationVersion() + QLatin1Char('\n'));
        return ExitOk;
    }
    QString name = first;
    if (first == QLatin1String("help")) {
        // "winsteps help COMMAND [ACTION]" is "winsteps COMMAND [ACTION] --help"; words after
        // a command without actions (a tool's name, say) are left out.
        name = arguments.takeFirst();
        arguments = arguments.mid(0, actionsOf(name).isEmpty() ? 0 : 1);
        arguments << QStringLiteral("--help");
    }
    for (const Subcommand& command : subcommands()) {
        if (name == QLatin1String(command.name))
            return command.run(arguments);
    }
    cli::err(QLatin1String("winsteps: unknown command \"") + name + QLatin1String("\"\n"));
    cli::note(QLatin1Char('\n') + toolHelp());
    return ExitUsage;
}
