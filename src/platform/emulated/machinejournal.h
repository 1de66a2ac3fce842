#pragma once

#include "winsteps_platform_export.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace winsteps::platform::emulated {

class EmulatedMachine;
class RegistryStore;

// The machine's journal: what every change to the machine replaced, so that the changes of a
// run can be undone later.
//
// Store: every table of machine.db (the registry, the machine's record, the restart log and
// any table added later) has triggers, generated from the live schema on each connection,
// that record each insert, each update that changes something, and each delete in the table
// "journal" (run, table, operation, row id) with the row's old image in "journal_old_TABLE",
// in the transaction of the change. Files: every change to drive_c made by the machine goes
// through FileJournal (filejournal.h), which records the path's state before and after, and
// keeps the old content beside the machine in "<folder>/journal/".
//
// A run is one wizard run and whatever it starts: the host begins it (beginRun), and every
// process started meanwhile finds it in WINSTEPS_RUN. Changes outside any run are journaled
// too, so that a rollback sees a later change made on top of a run's.
class WINSTEPS_PLATFORM_EXPORT MachineJournal {
public:
    // The environment variable that carries the current run to child processes.
    static constexpr const char* runVariable = "WINSTEPS_RUN";

    struct Run {
        qint64 id = 0;
        QString name; // the wizard
        QString started;
        QString ended;   // empty: still running, or killed
        QString outcome; // "finished", "failed", "timed out", "interrupted", ...
        qint64 pid = 0;
        qint64 changes = 0;
        QString rolledBack; // when it was rolled back; empty: not
    };

    explicit MachineJournal(EmulatedMachine& machine);

    // Records a new run and makes it the current run of this process and of the processes it
    // starts. 0 + error on failure.
    qint64 beginRun(const QString& name, QString* error);
    // Records the end of a run; the process goes on outside any run.
    bool endRun(qint64 run, const QString& outcome, QString* error);

    // Switches the journal of this process's changes on (the default) or off, as for the
    // setting up of a machine: changes made while it is off are not recorded and cannot be
    // undone.
    void setJournaling(bool on);

    // All runs, oldest first.
    QList<Run> runs(QString* error);
    // The newest run not yet rolled back; 0 when there is none.
    qint64 newestRun(QString* error);

    // Undoes every change of run, newest first; *undone gets one line per change undone. When
    // a later change stands in the way (a row or file that another run, or a change outside
    // a run, altered and that does not hold what the run left), nothing is touched and
    // *error names it. The store's undo is one transaction; file undos are decided by
    // content, so that a rollback cut short may simply be run again.
    bool rollback(qint64 run, QStringList* undone, QString* error);

private:
    EmulatedMachine& m_machine;
};

// Called by the store: the SQL functions of the journal triggers on a new connection, and the
// journal's tables and triggers inside the write transaction that prepares the file.
void registerJournalFunctions(RegistryStore& store);
bool prepareJournal(RegistryStore& store, QString* error);

} // namespace winsteps::platform::emulated
