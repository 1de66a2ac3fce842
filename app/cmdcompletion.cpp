// winsteps completion bash: a bash completion script made from the command's own tables.
// The commands and the actions of machine and profile come from their tables, the options of
// each from the help text its parser writes, the tools from the tool table and the profiles
// from the built-in list: a new command, action or option is completed without a change here.

#include "cwizardrunner.h"
#include "emulatedtools.h"
#include "subcommand.h"

#include <QRegularExpression>

namespace winsteps::host {

namespace {

struct Options
{
    QStringList all;
    QStringList valued; // those that take a value
};

// The options a help text lists: its lines that start with a dash after two blanks, as Qt's
// parser writes them ("  -h, --help", "  --profile <NAME|FILE>  ..."); the lines that carry on
// a description are indented further.
Options optionsOfHelp(const QString& help)
{
    static const QRegularExpression line(QStringLiteral(R"(^  (-{1,2}[\w-]+(?:, -{1,2}[\w-]+)*)( <[^>]+>)?)"));
    Options options;
    for (const QString& text : help.split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch match = line.match(text);
        if (!match.hasMatch())
            continue;
        for (const QString& name : match.captured(1).split(QLatin1Char(','))) {
            options.all << name.trimmed();
            if (match.hasCaptured(2))
                options.valued << name.trimmed();
        }
    }
    return options;
}

// The help text a command (or action) prints for --help.
QString helpOf(int (*run)(const QStringList&))
{
    QString help;
    cli::captureOut(&help);
    run({QStringLiteral("--help")});
    cli::captureOut(nullptr);
    return help;
}

// A bash "case" arm: CONTEXT) echo 'WORDS' ;;
QString arm(const QString& context, const QStringList& words)
{
    return QStringLiteral("        '%1') echo '%2' ;;\n").arg(context, words.join(QLatin1Char(' ')));
}

QString bashScript()
{
    QString options;
    QString valued;
    QString actions;
    QStringList commands;
    const Options global = optionsOfHelp(toolHelp());
    options += arm(QString(), global.all);
    valued += arm(QString(), global.valued);
    for (const Subcommand& command : subcommands()) {
        const QString name = QLatin1String(command.name);
        commands << name;
        const Options own = optionsOfHelp(helpOf(command.run));
        QStringList all = QStringList{QStringLiteral("-h"), QStringLiteral("--help")} + own.all;
        all.removeDuplicates();
        options += arm(name, all);
        valued += arm(name, own.valued);
        QStringList names;
        for (const Action& action : actionsOf(name)) {
            names << QLatin1String(action.name);
            const Options of = optionsOfHelp(helpOf(action.run));
            options += arm(name + QLatin1Char(' ') + names.last(), of.all);
            valued += arm(name + QLatin1Char(' ') + names.last(), of.valued);
        }
        if (!names.isEmpty())
            actions += arm(name, names);
    }
    QStringList tools;
    for (const EmulatedTool& tool : emulatedTools())
        tools << QLatin1String(tool.name);

    return QStringLiteral(R"BASH(# bash completion for winsteps, made by 'winsteps completion bash'.
# Load it in the running shell with:  source <(winsteps completion bash)

_winsteps_options()
{
    case "$1" in
%1    esac
}

_winsteps_valued()
{
    case "$1" in
%2    esac
}

_winsteps_actions()
{
    case "$1" in
%3    esac
}

_winsteps()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev= option=
    local commands='%4' tools='%5' profiles='%6'
    local command= subject= action= positional=0 i=1 word context=
    (( COMP_CWORD > 0 )) && prev=${COMP_WORDS[COMP_CWORD-1]}
    COMPREPLY=()
    while (( i < COMP_CWORD )); do
        word=${COMP_WORDS[i]}
        context="$command${action:+ $action}"
        if [[ $word == -* ]]; then
            if [[ ${COMP_WORDS[i+1]} == = ]]; then
                (( i += 2 ))
            elif [[ " $(_winsteps_valued "$context") " == *" $word "* ]]; then
                (( i++ ))
            fi
        elif [[ -z $command ]]; then
            command=$word
        elif [[ $command == help && -z $subject ]]; then
            subject=$word
        elif [[ -z $action && -n $(_winsteps_actions "${subject:-$command}") ]]; then
            action=$word
        else
            (( positional++ ))
        fi
        (( i++ ))
    done
    context="$command${action:+ $action}"

    # An option's value; bash splits "--color=always" into "--color", "=", "always".
    if [[ $cur == = ]]; then
        option=$prev cur=
    elif [[ $prev == = ]]; then
        option=${COMP_WORDS[COMP_CWORD-2]}
    elif [[ " $(_winsteps_valued "$context") " == *" $prev "* ]]; then
        option=$prev
    fi
    if [[ -n $option ]]; then
        case "$option" in
            --color) COMPREPLY=($(compgen -W 'never auto always' -- "$cur")) ;;
            --profile) COMPREPLY=($(compgen -W "$profiles" -- "$cur") $(compgen -f -- "$cur")) ;;
        esac
        return 0
    fi
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$(_winsteps_options "$context")" -- "$cur"))
    elif [[ -z $command ]]; then
        COMPREPLY=($(compgen -W "$commands" -- "$cur"))
    elif [[ $command == help ]]; then
        if [[ -z $subject ]]; then
            COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        elif [[ -z $action ]]; then
            COMPREPLY=($(compgen -W "$(_winsteps_actions "$subject")" -- "$cur"))
        fi
    elif [[ -z $action && -n $(_winsteps_actions "$command") ]]; then
        COMPREPLY=($(compgen -W "$(_winsteps_actions "$command")" -- "$cur"))
    elif [[ $command == tool && $positional == 0 ]]; then
        COMPREPLY=($(compgen -W "$tools" -- "$cur"))
    elif [[ $command == completion && $positional == 0 ]]; then
        COMPREPLY=($(compgen -W 'bash' -- "$cur"))
    fi
    return 0
}

complete -o default -F _winsteps winsteps
)BASH")
        .arg(options, valued, actions, commands.join(QLatin1Char(' ')), tools.join(QLatin1Char(' ')), cli::builtinProfiles().remove(QLatin1Char(',')));
}

} // namespace

int completionCommand(const QStringList& arguments)
{
    const QString command = QStringLiteral("completion");
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Prints the completion script of a shell (bash) for winsteps: its commands, the\n"
        "actions of machine and profile, each one's options, tool names and profile names.\n"
        "Load it in the running shell with: source <(winsteps completion bash)\n"
        "or keep it in the shell's completion folder."));
    parser.addOption(cli::helpOption());
    if (const int status = cli::parse(parser, command, QStringLiteral("bash"), arguments); status >= 0)
        return status;
    QString shell;
    if (const int status = cli::onePositional(parser, command, QStringLiteral("no shell named (bash)"),
                                              QStringLiteral("one shell at a time"), &shell);
        status >= 0)
        return status;
    if (shell != QLatin1String("bash"))
        return cli::usageError(command, QStringLiteral("no completion for \"%1\" (bash)").arg(shell));
    cli::out(bashScript());
    return ExitOk;
}

} // namespace winsteps::host
