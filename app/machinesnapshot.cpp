// winsteps machine snapshot, snapshots, restore and diff: whole copies of a machine kept in
// "<DIR>/snapshots/NAME", put back, and compared with the machine or with another one.

#include "cwizardrunner.h"
#include "machineactions.h"
#include "machinediff.h"
#include "platform/emulated/machinecopy.h"
#include "platform/emulated/processrecords.h"
#include "subcommand.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <algorithm>

namespace winsteps::host::machine {

namespace {

using platform::emulated::EmulatedMachine;

QString snapshotFolder(const QString& folder, const QString& name)
{
    return QDir(folder).filePath(QStringLiteral("snapshots/") + name);
}

// A snapshot's name is one plain file name: no separators, not hidden (the hidden names are
// the half-made copies).
bool validName(const QString& name)
{
    return !name.isEmpty() && !name.startsWith(QLatin1Char('.')) && !name.contains(QLatin1Char('/'))
        && !name.contains(QLatin1Char('\\'));
}

// When a snapshot was taken: its folder's birth (reading a snapshot changes its files), else
// its last change where the file system keeps no birth time.
QDateTime takenTime(const QFileInfo& snapshot)
{
    const QDateTime born = snapshot.birthTime();
    return born.isValid() ? born : snapshot.lastModified();
}

// The snapshots of the machine in folder, by name: the folders of "snapshots" that hold a
// machine (a half-made one, ".NAME.new", holds none yet).
QFileInfoList snapshotsOf(const QString& folder)
{
    QFileInfoList snapshots = QDir(QDir(folder).filePath(QStringLiteral("snapshots")))
                                  .entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    snapshots.removeIf([](const QFileInfo& s) { return !EmulatedMachine::holdsMachine(s.filePath()); });
    return snapshots;
}

int badName(const QString& action, const QString& name)
{
    return cli::usageError(QStringLiteral("machine ") + action,
                           QStringLiteral("\"%1\" is no snapshot name (a plain name, not beginning with \".\")").arg(name));
}

} // namespace

int snapshotAction(const QStringList& arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption replaceOption(QStringLiteral("replace"), QStringLiteral("Replaces a snapshot of that name."));
    parser.addOption(replaceOption);
    if (const int status = parseAction(parser, QStringLiteral("snapshot"), QStringLiteral("DIR NAME [--replace]"),
                                       QStringLiteral("Keeps a copy of the machine in DIR (its registry database, drive C: and "
                                                      "journal) as\n\"DIR/snapshots/NAME\"; file data is shared with the "
                                                      "machine where the file system allows."),
                                       arguments, 2, 2);
        status >= 0)
        return status;
    const QString folder = parser.positionalArguments().at(0);
    const QString name = parser.positionalArguments().at(1);
    if (!validName(name))
        return badName(QStringLiteral("snapshot"), name);
    if (!EmulatedMachine::holdsMachine(folder))
        return failure(QStringLiteral("snapshot"), QStringLiteral("\"%1\" holds no machine").arg(folder));
    const QString target = snapshotFolder(folder, name);
    if (QFileInfo::exists(target) && !parser.isSet(replaceOption))
        return failure(QStringLiteral("snapshot"), QStringLiteral("snapshot \"%1\" exists already (--replace replaces it)").arg(name));
    // Made under a hidden name and renamed when whole: a snapshot that is listed is complete.
    const QString fresh = snapshotFolder(folder, QLatin1Char('.') + name + QStringLiteral(".new"));
    const QString old = snapshotFolder(folder, QLatin1Char('.') + name + QStringLiteral(".old"));
    platform::emulated::removeTree(fresh);
    platform::emulated::removeTree(old);
    QString error;
    if (!QDir().mkpath(QFileInfo(fresh).absolutePath()) || !platform::emulated::copyMachine(folder, fresh, &error))
        return failure(QStringLiteral("snapshot"), error.isEmpty() ? QStringLiteral("cannot create \"%1\"").arg(fresh) : error);
    if ((QFileInfo::exists(target) && !QDir().rename(target, old)) || !QDir().rename(fresh, target)) {
        platform::emulated::removeTree(fresh);
        return failure(QStringLiteral("snapshot"), QStringLiteral("cannot rename \"%1\" to \"%2\"").arg(fresh, target));
    }
    platform::emulated::removeTree(old);
    cli::out(QStringLiteral("Saved snapshot \"%1\" of \"%2\".\n").arg(name, folder));
    return ExitOk;
}

int snapshotsAction(const QStringList& arguments)
{
    QCommandLineParser parser;
    if (const int status = parseAction(parser, QStringLiteral("snapshots"), QStringLiteral("DIR"),
                                       QStringLiteral("Lists the snapshots of the machine in DIR, one a line: name and time "
                                                      "taken (UTC)."),
                                       arguments, 1, 1);
        status >= 0)
        return status;
    const QString folder = parser.positionalArguments().first();
    if (!EmulatedMachine::holdsMachine(folder))
        return failure(QStringLiteral("snapshots"), QStringLiteral("\"%1\" holds no machine").arg(folder));
    QString text;
    for (const QFileInfo& snapshot : snapshotsOf(folder))
        text += snapshot.fileName() + QLatin1Char('\t') + takenTime(snapshot).toUTC().toString(Qt::ISODate) + QLatin1Char('\n');
    cli::out(text);
    return ExitOk;
}

int restoreAction(const QStringList& arguments)
{
    QCommandLineParser parser;
    if (const int status = parseAction(parser, QStringLiteral("restore"), QStringLiteral("DIR NAME"),
                                       QStringLiteral("Puts the machine in DIR back to its snapshot NAME (registry, drive C: "
                                                      "and journal).\nThe snapshot is kept. Programs must not run on the "
                                                      "machine meanwhile. A restore that was\ninterrupted leaves a machine "
                                                      "that refuses to open: restore it again."),
                                       arguments, 2, 2);
        status >= 0)
        return status;
    const QString folder = parser.positionalArguments().at(0);
    const QString name = parser.positionalArguments().at(1);
    if (!validName(name))
        return badName(QStringLiteral("restore"), name);
    const QString snapshot = snapshotFolder(folder, name);
    if (!EmulatedMachine::holdsMachine(snapshot))
        return failure(QStringLiteral("restore"), QStringLiteral("\"%1\" has no snapshot \"%2\"").arg(folder, name));
    for (const platform::emulated::MachineProcess& process : platform::emulated::recordedProcesses(folder.toStdString())) {
        if (process.processId < platform::emulated::systemProcessIdBase)
            return failure(QStringLiteral("restore"), QStringLiteral("programs run on the machine (process %1): end them first")
                                                          .arg(process.processId));
    }
    QString error;
    if (!platform::emulated::restoreMachine(snapshot, folder, &error))
        return failure(QStringLiteral("restore"), error);
    cli::out(QStringLiteral("Restored \"%1\" to snapshot \"%2\".\n").arg(folder, name));
    return ExitOk;
}

int diffAction(const QStringList& arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption jsonOption(QStringLiteral("json"), QStringLiteral("The changes as one JSON object (UTF-8)."));
    parser.addOption(jsonOption);
    if (const int status = parseAction(
            parser, QStringLiteral("diff"), QStringLiteral("DIR [NAME|DIR2] [--json]"),
            QStringLiteral("Shows how the machine in DIR differs: from its snapshot NAME (what changed since), or\n"
                           "to the machine folder DIR2 (what DIR2 has that DIR has not is \"+\"). A name that is both a\n"
                           "snapshot of DIR and a folder means the snapshot. Without either: the newest snapshot.\n"
                           "One line per change, sorted: \"+\" added, \"-\" removed, \"~\" changed (old -> new).\n"
                           "Exit status: 0 the machines are equal, 1 they differ, 2 a wrong command line or a\n"
                           "machine that cannot be read."),
            arguments, 1, 2);
        status >= 0)
        return status;
    const QStringList positional = parser.positionalArguments();
    const QString folder = positional.first();
    const QString command = QStringLiteral("machine diff");
    if (!EmulatedMachine::holdsMachine(folder))
        return cli::usageError(command, QStringLiteral("\"%1\" holds no machine").arg(folder));
    QString from = folder;
    QString to;
    if (positional.size() == 1) {
        const QFileInfoList snapshots = snapshotsOf(folder);
        if (snapshots.isEmpty())
            return cli::usageError(command, QStringLiteral("\"%1\" has no snapshot to compare with").arg(folder));
        from = std::max_element(snapshots.cbegin(), snapshots.cend(), [](const QFileInfo& a, const QFileInfo& b) {
                   return takenTime(a) < takenTime(b);
               })->filePath();
        to = folder;
    } else if (validName(positional.at(1)) && EmulatedMachine::holdsMachine(snapshotFolder(folder, positional.at(1)))) {
        from = snapshotFolder(folder, positional.at(1));
        to = folder;
    } else if (EmulatedMachine::holdsMachine(positional.at(1))) {
        to = positional.at(1);
    } else {
        return cli::usageError(command, QStringLiteral("\"%1\" is neither a snapshot of \"%2\" nor a machine folder")
                                            .arg(positional.at(1), folder));
    }
    MachineState before;
    MachineState after;
    QString error;
    // A snapshot is read from a throw-away copy beside it (opening a machine writes to its
    // database), so that it stays as it was taken.
    QTemporaryDir reading(QDir(folder).filePath(QStringLiteral("snapshots/.diff-XXXXXX")));
    reading.setAutoRemove(false);
    const auto removeReading = qScopeGuard([&reading] {
        if (reading.isValid())
            platform::emulated::removeTree(reading.path());
    });
    if (to == folder) {
        const QString copy = reading.filePath(QStringLiteral("machine"));
        if (!reading.isValid() || !platform::emulated::copyMachine(from, copy, &error))
            return cli::usageError(command, QStringLiteral("cannot read the snapshot: ") + error);
        from = copy;
    }
    if (!captureState(from, &before, &error) || !captureState(to, &after, &error))
        return cli::usageError(command, error);
    const QList<Change> changes = diffStates(before, after);
    if (parser.isSet(jsonOption))
        cli::out(QString::fromUtf8(QJsonDocument(changesJson(changes)).toJson(QJsonDocument::Indented)));
    else
        cli::out(changesText(changes));
    return changes.isEmpty() ? int(ExitOk) : int(ExitError);
}

} // namespace winsteps::host::machine
