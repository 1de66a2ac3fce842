// winsteps tool: runs an emulated Windows system program. The emulated machine starts it as
// a child process when a step runs the program it stands for; it can be run by hand too.

#include "cwizardrunner.h"
#include "emulatedtools.h"
#include "platform/emulated/emulatedprocess.h"
#include "subcommand.h"

namespace winsteps::host {

namespace {

QString toolNames()
{
    QStringList names;
    for (const EmulatedTool& tool : emulatedTools())
        names << QLatin1String(tool.name);
    return names.join(QLatin1String(", "));
}

QString toolUsage()
{
    QString text = QStringLiteral(
        "Usage: winsteps tool NAME [ARGUMENTS...]\n"
        "\n"
        "Runs an emulated Windows system program on the machine named by WINSTEPS_MACHINE (and\n"
        "WINSTEPS_PROFILE); without it, on a temporary machine. The arguments are the\n"
        "program's own. The exit status is the program's exit code (its low 8 bits; the\n"
        "emulated machine that started the tool receives all 32).\n"
        "\n"
        "Tools:\n");
    for (const EmulatedTool& tool : emulatedTools())
        text += QStringLiteral("  %1 %2\n        %3\n").arg(QLatin1String(tool.name), QLatin1String(tool.arguments), QLatin1String(tool.summary));
    text += QStringLiteral("\nPrograms mapped to tools by default:");
    for (const platform::emulated::ToolMapping& mapping : platform::emulated::builtinTools())
        text += QStringLiteral(" %1 (%2)").arg(QString::fromLatin1(mapping.fileName), QString::fromLatin1(mapping.tool));
    text += QStringLiteral("\nA profile maps more with \"tools\": {\"file.exe\": \"tool\"}.\n");
    text += QStringLiteral("\nEnvironment:\n"
                           "  %1     the machine folder to act on (made from the profile when new)\n"
                           "  %2     the profile of a new machine folder (default %4)\n"
                           "  %3 the descriptor on which the tool reports its 32-bit exit\n"
                           "                        code to the emulated machine that started it\n"
                           "  TMPDIR               where the temporary machine goes\n"
                           "  NO_COLOR             set and not empty: no colour in error messages\n"
                           "  QT_QPA_PLATFORM, XDG_RUNTIME_DIR  as for every winsteps command: when unset,\n"
                           "                       \"offscreen\" and a private folder in /tmp\n")
                .arg(QString::fromLatin1(platform::emulated::toolMachineVariable).leftJustified(16),
                     QString::fromLatin1(platform::emulated::toolProfileVariable).leftJustified(16),
                     QString::fromLatin1(platform::emulated::toolExitCodeVariable).leftJustified(20), cli::defaultProfile());
    return text;
}

} // namespace

int toolCommand(const QStringList& arguments)
{
    const QString Command = QStringLiteral("tool");
    if (arguments.isEmpty())
        return cli::usageError(Command, QStringLiteral("no tool name given (one of %1)").arg(toolNames()));
    const QString name = arguments.first();
    if (name == QLatin1String("-h") || name == QLatin1String("--help")) {
        cli::out(toolUsage());
        return ExitOk;
    }
    const EmulatedTool* found = nullptr;
    for (const EmulatedTool& tool : emulatedTools()) {
        if (name == QLatin1String(tool.name))
            found = &tool;
    }
    if (!found)
        return cli::usageError(Command, QStringLiteral("no tool named \"%1\" (one of %2)").arg(name, toolNames()));
    if (qEnvironmentVariableIsSet(platform::emulated::toolMachineVariable)) {
        std::string error;
        if (!platform::emulated::openToolMachine(&error)) {
            cli::err(QLatin1String("winsteps tool: ") + QString::fromStdString(error) + QLatin1Char('\n'));
            return ExitUsage;
        }
    }
    const std::uint32_t code = found->run(arguments.mid(1));
    platform::emulated::reportToolExitCode(code);
    return int(code & 0xFFu);
}

} // namespace winsteps::host
