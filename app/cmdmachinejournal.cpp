// winsteps machine runs / rollback: the runs the machine's journal recorded, and the undoing
// of one of them.

#include "cwizardrunner.h"
#include "machineactions.h"
#include "platform/emulated/machinejournal.h"
#include "subcommand.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace winsteps::host::machine {

using platform::emulated::MachineJournal;

namespace {

QJsonValue textOrNull(const QString& text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

QJsonObject runJson(const MachineJournal::Run& run)
{
    return {{QStringLiteral("id"), run.id},
            {QStringLiteral("wizard"), run.name},
            {QStringLiteral("started"), run.started},
            {QStringLiteral("ended"), textOrNull(run.ended)},
            {QStringLiteral("outcome"), textOrNull(run.outcome)},
            {QStringLiteral("pid"), run.pid},
            {QStringLiteral("changes"), run.changes},
            {QStringLiteral("rolledBack"), !run.rolledBack.isEmpty()},
            {QStringLiteral("rolledBackAt"), textOrNull(run.rolledBack)}};
}

QString runText(const MachineJournal::Run& run)
{
    const QString end = run.ended.isEmpty() ? QStringLiteral("no end recorded (running, or killed)")
                                            : QStringLiteral("ended %1 (%2)").arg(run.ended, run.outcome);
    QString text = QStringLiteral("run %1: %2\n  started %3, %4, %5 change%6")
                       .arg(run.id)
                       .arg(run.name, run.started, end)
                       .arg(run.changes)
                       .arg(run.changes == 1 ? QString() : QStringLiteral("s"));
    if (!run.rolledBack.isEmpty())
        text += QStringLiteral(", rolled back %1").arg(run.rolledBack);
    return text + QLatin1Char('\n');
}

} // namespace

int runsAction(const QStringList& arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Writes the runs as a JSON array."));
    parser.addOption(json);
    if (const int status = parseAction(parser, QStringLiteral("runs"), QStringLiteral("DIR [--json]"),
                                       QStringLiteral("Lists the runs recorded on the machine in DIR, oldest first: id, "
                                                      "wizard, start, end\nand outcome, number of changes, and whether "
                                                      "the run was rolled back.\nEvery 'winsteps run --machine DIR' "
                                                      "records a run; 'winsteps machine rollback'\nundoes one."),
                                       arguments, 1, 1);
        status >= 0)
        return status;
    int status = ExitOk;
    std::unique_ptr<platform::emulated::EmulatedMachine> machine
        = openExisting(QStringLiteral("runs"), parser.positionalArguments().first(), &status);
    if (!machine)
        return status;
    QString error;
    const QList<MachineJournal::Run> runs = MachineJournal(*machine).runs(&error);
    if (!error.isEmpty())
        return failure(QStringLiteral("runs"), error);
    if (parser.isSet(json)) {
        QJsonArray array;
        for (const MachineJournal::Run& run : runs)
            array.append(runJson(run));
        cli::out(QString::fromUtf8(QJsonDocument(array).toJson()));
        return ExitOk;
    }
    QString text = runs.isEmpty() ? QStringLiteral("No runs recorded.\n") : QString();
    for (const MachineJournal::Run& run : runs)
        text += runText(run);
    cli::out(text);
    return ExitOk;
}

int rollbackAction(const QStringList& arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Writes what was undone as JSON."));
    parser.addOption(json);
    if (const int status = parseAction(
            parser, QStringLiteral("rollback"), QStringLiteral("DIR [RUN] [--json]"),
            QStringLiteral("Undoes every change that run RUN (default: the newest run not yet rolled\nback) made to the "
                           "machine in DIR: registry keys and values, services,\nfirewall entries and the machine's "
                           "other records, and the files on drive C:,\nnewest first, one line per change. A run that "
                           "was killed is undone like any\nother. When a later change (another run, or a change "
                           "outside any run) stands\nin the way, nothing is undone and the change is named. A "
                           "rollback cut short may\nsimply be run again.\nExit status: 0 undone, 1 refused or failed, "
                           "2 a wrong command line."),
            arguments, 1, 2);
        status >= 0)
        return status;
    const QStringList positional = parser.positionalArguments();
    qint64 run = 0;
    if (positional.size() > 1) {
        bool ok = false;
        run = positional.at(1).toLongLong(&ok);
        if (!ok || run <= 0)
            return cli::usageError(QStringLiteral("machine rollback"),
                                   QStringLiteral("RUN wants a run number (see 'winsteps machine runs'), not \"%1\"")
                                       .arg(positional.at(1)));
    }
    int status = ExitOk;
    std::unique_ptr<platform::emulated::EmulatedMachine> machine
        = openExisting(QStringLiteral("rollback"), positional.first(), &status);
    if (!machine)
        return status;
    MachineJournal journal(*machine);
    QString error;
    if (run == 0 && (run = journal.newestRun(&error)) == 0)
        return failure(QStringLiteral("rollback"), error.isEmpty() ? QStringLiteral("no run to roll back") : error);
    QStringList undone;
    if (!journal.rollback(run, &undone, &error))
        return failure(QStringLiteral("rollback"), error);
    if (parser.isSet(json)) {
        const QJsonObject object{{QStringLiteral("run"), run}, {QStringLiteral("undone"), QJsonArray::fromStringList(undone)}};
        cli::out(QString::fromUtf8(QJsonDocument(object).toJson()));
        return ExitOk;
    }
    cli::out(QStringLiteral("Rolled back run %1: %2 change%3 undone.\n%4")
                 .arg(run)
                 .arg(undone.size())
                 .arg(undone.size() == 1 ? QString() : QStringLiteral("s"))
                 .arg(undone.isEmpty() ? QString() : undone.join(QLatin1Char('\n')) + QLatin1Char('\n')));
    return ExitOk;
}

} // namespace winsteps::host::machine
