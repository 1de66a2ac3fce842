// winsteps machine stage-service: how a service of an existing machine behaves when it is
// started, stopped or paused, for trying a wizard's slow and failing paths. The items are
// those of a profile's "services" table; the machine keeps them in its store, so every
// process on the folder uses them from its next call on.

#include "cwizardrunner.h"
#include "machineactions.h"
#include "platform/emulated/servicestate.h"
#include "subcommand.h"

#include <QJsonObject>

namespace winsteps::host::machine {

namespace {

using platform::emulated::EmulatedMachine;
using platform::emulated::ServiceBehaviour;

const QString Action = QStringLiteral("stage-service");

// One option of the command: its name, value name, help, and how its value becomes the
// staging item `key` (false: not a value it takes; `expected` says which are).
struct StagingOption {
    const char* name;
    const char* valueName;
    const char* help;
    const char* key;
    const char* expected;
    bool (*convert)(const QString& text, QJsonValue* item);
};

bool seconds(const QString& text, QJsonValue* item)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    *item = value;
    return ok && value >= 0 && value <= 86400;
}

bool exitCode(const QString& text, QJsonValue* item)
{
    bool ok = false;
    const qulonglong value = text.toULongLong(&ok, 10);
    *item = double(value);
    return ok && value <= 0xFFFFFFFFull;
}

bool yesNo(const QString& text, QJsonValue* item)
{
    *item = text == QLatin1String("yes");
    return text == QLatin1String("yes") || text == QLatin1String("no");
}

bool hangs(const QString& text, QJsonValue* item)
{
    *item = text;
    return text == QLatin1String("starting") || text == QLatin1String("stopping") || text == QLatin1String("none");
}

bool state(const QString& text, QJsonValue* item)
{
    *item = text;
    return text == QLatin1String("running") || text == QLatin1String("stopped");
}

const StagingOption stagingOptions[] = {
    {"start-seconds", "S", "Seconds it stays in \"starting\" (fractions allowed).", "startSeconds",
     "a number of seconds from 0 to 86400", &seconds},
    {"stop-seconds", "S", "Seconds it stays in \"stopping\".", "stopSeconds", "a number of seconds from 0 to 86400",
     &seconds},
    {"hangs", "starting|stopping|none", "Stays in that pending state for ever (none: it does not).", "hangs",
     "starting, stopping or none", &hangs},
    {"start-failure", "CODE", "Stops again after its start time with this exit code (0: starts).", "startFailure",
     "an exit code from 0 to 4294967295", &exitCode},
    {"stoppable", "yes|no", "Whether it accepts the stop control.", "stoppable", "yes or no", &yesNo},
    {"pausable", "yes|no", "Whether it accepts pause and continue.", "pausable", "yes or no", &yesNo},
    {"state", "running|stopped", "Its state now (an existing service), and before anything started it.", "state",
     "running or stopped", &state},
};

QString secondsText(qint64 milliseconds)
{
    return QStringLiteral("%1 s").arg(QString::number(double(milliseconds) / 1000.0));
}

// "starts in 3 s, stops in 1 s, can be stopped, cannot be paused".
QString describe(const ServiceBehaviour& behaviour)
{
    QStringList parts;
    if (behaviour.hangsStarting)
        parts << QStringLiteral("hangs in \"starting\"");
    else if (behaviour.startFailure)
        parts << QStringLiteral("fails to start after %1 with exit code %2").arg(secondsText(behaviour.startMs)).arg(behaviour.startFailure);
    else
        parts << QStringLiteral("starts in %1").arg(secondsText(behaviour.startMs));
    parts << (behaviour.hangsStopping ? QStringLiteral("hangs in \"stopping\"")
                                      : QStringLiteral("stops in %1").arg(secondsText(behaviour.stopMs)));
    parts << (behaviour.stoppable ? QStringLiteral("can be stopped") : QStringLiteral("cannot be stopped"));
    parts << (behaviour.pausable ? QStringLiteral("can be paused") : QStringLiteral("cannot be paused"));
    return parts.join(QStringLiteral(", "));
}

} // namespace

int stageServiceAction(const QStringList& arguments)
{
    QCommandLineParser parser;
    QList<QCommandLineOption> options;
    for (const StagingOption& option : stagingOptions) {
        options.append(QCommandLineOption(QLatin1String(option.name), QLatin1String(option.help), QLatin1String(option.valueName)));
        parser.addOption(options.last());
    }
    const QCommandLineOption resetOption(QStringLiteral("reset"),
                                         QStringLiteral("Drops what was staged for the service before (the profile's "
                                                        "staging and the defaults hold again)."));
    parser.addOption(resetOption);
    const QString usage = QStringLiteral("DIR NAME");
    if (const int status = parseAction(
            parser, Action, usage,
            QStringLiteral("Stages how the service NAME of the machine in DIR behaves, as a profile's \"services\"\n"
                           "table does: every process on the machine uses it from its next call on. The service\n"
                           "need not exist yet (a wizard may create it). Options not given keep what was staged\n"
                           "before. Defaults: it starts and stops in a second, can be stopped, cannot be paused."),
            arguments, 2, 2);
        status >= 0)
        return status;
    const QString command = QStringLiteral("machine ") + Action;
    const QString name = parser.positionalArguments().at(1);
    if (name.isEmpty() || name.size() > 256 || name.contains(QLatin1Char('\\')) || name.contains(QLatin1Char('/')))
        return cli::usageError(command, QStringLiteral("\"%1\" is no service name").arg(name));
    QJsonObject items;
    for (qsizetype i = 0; i < options.size(); ++i) {
        const StagingOption& option = stagingOptions[i];
        if (!parser.isSet(options.at(i)))
            continue;
        const QString text = parser.value(options.at(i));
        QJsonValue item;
        if (!option.convert(text, &item))
            return cli::usageError(command, QStringLiteral("--%1 wants %2, not \"%3\"")
                                                .arg(QLatin1String(option.name), QLatin1String(option.expected), text));
        items.insert(QLatin1String(option.key), item);
    }
    if (items.isEmpty() && !parser.isSet(resetOption))
        return cli::usageError(command, QStringLiteral("nothing to stage: give --reset or at least one of --start-seconds, "
                                                       "--stop-seconds, --hangs, --start-failure, --stoppable, "
                                                       "--pausable, --state"));

    int status = ExitOk;
    std::unique_ptr<EmulatedMachine> machine = openExisting(Action, parser.positionalArguments().first(), &status);
    if (!machine)
        return status;
    ServiceBehaviour behaviour;
    const std::uint32_t code = machine->services().stage(name, items, parser.isSet(resetOption), &behaviour);
    if (code == platform::ERROR_CALL_NOT_IMPLEMENTED)
        return failure(Action, QStringLiteral("\"%1\" is a machine of the 9x family, which has no services").arg(machine->folder()));
    if (code != platform::ERROR_SUCCESS)
        return failure(Action, QStringLiteral("cannot write to \"%1\" (error %2)").arg(machine->folder()).arg(code));
    cli::out(QStringLiteral("Staged service \"%1\" on \"%2\": %3.\n").arg(name, machine->folder(), describe(behaviour)));
    return ExitOk;
}

} // namespace winsteps::host::machine
