#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <memory>

class CXPathNode;

namespace winsteps::host {

// One subcommand of the winsteps command. run() gets the subcommand's own arguments
// (without the program and subcommand names) and returns the exit status.
struct Subcommand
{
    const char* name;
    const char* summary;
    int (*run)(const QStringList& arguments);
};

// One action of a command that has actions (machine ACTION, profile ACTION): the command
// dispatches its first argument through its table, and completion offers the names.
struct Action
{
    const char* name;
    int (*run)(const QStringList& arguments);
};

// The subcommands, in the order `winsteps --help` lists them.
const QList<Subcommand>& subcommands();
// The text of `winsteps --help`.
QString toolHelp();
// The actions of a subcommand by its name; empty for a command without actions.
QList<Action> actionsOf(const QString& command);
// Runs the action named by arguments' first word with the rest; an unknown name is a usage
// error that lists the actions. Returns -1 when arguments are empty (the caller explains).
int runAction(const QString& command, const QList<Action>& actions, const QStringList& arguments);

int runCommand(const QStringList& arguments);
int typesCommand(const QStringList& arguments);
int checkCommand(const QStringList& arguments);   // cmdcheck.cpp
int graphCommand(const QStringList& arguments);   // cmdgraph.cpp
int evalCommand(const QStringList& arguments);    // cmdeval.cpp
int machineCommand(const QStringList& arguments); // cmdmachine.cpp
int toolCommand(const QStringList& arguments);    // cmdtool.cpp
int profilesCommand(const QStringList& arguments);   // cmdprofile.cpp
int profileCommand(const QStringList& arguments);    // cmdprofile.cpp
int completionCommand(const QStringList& arguments); // cmdcompletion.cpp
const QList<Action>& machineActions(); // cmdmachine.cpp
const QList<Action>& profileActions(); // cmdprofile.cpp

// Shared command-line handling of the subcommands.
namespace cli {

// -h, --help: every subcommand takes it first.
QCommandLineOption helpOption();

// Parses arguments with parser (which must have helpOption()). Returns -1 when the
// subcommand should go on; otherwise the exit status to return at once (0 after --help,
// 2 after a usage error, which is printed).
int parse(QCommandLineParser& parser, const QString& command, const QString& usage,
          const QStringList& arguments);

// The one positional argument of a parsed command line, into *value. Returns -1 when there is
// exactly one; otherwise prints the usage error (none: noneMessage, more: manyMessage) and
// returns its exit status.
int onePositional(const QCommandLineParser& parser, const QString& command, const QString& noneMessage,
                  const QString& manyMessage, QString* value);

// Reads the text of an --xml NAME=FILE option: the name and the file's loaded document.
// Returns -1, or the exit status of the usage error it printed.
int loadXmlOption(const QString& command, const QString& text, QString* name, std::unique_ptr<CXPathNode>* document);

// --profile NAME|FILE, the emulated system a command works on, with its help text.
QCommandLineOption profileOption(const QString& help);
// The default profile's name, and the built-in profiles' names joined by ", ", for help texts.
QString defaultProfile();
QString builtinProfiles();

// "winsteps COMMAND: message" and a hint to --help on stderr; returns 2.
int usageError(const QString& command, const QString& message);

// Prints to stdout / stderr as UTF-8. err() is for messages: when colour is on, a line with
// "warning:" in it is yellow and any other line red. note() writes plain text to stderr
// (usage and hints after an error).
void out(const QString& text);
void err(const QString& text);
void note(const QString& text);

// Colour of err(): never, always, or (auto) when stderr is a terminal and NO_COLOR is unset
// or empty.
enum class Colour { Never, Auto, Always };
void setColour(Colour colour);

// While a capture is set, out() appends to it instead of writing (completion reads the help
// texts of the commands this way); null ends the capture.
void captureOut(QString* capture);

} // namespace cli

} // namespace winsteps::host
