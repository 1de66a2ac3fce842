#pragma once

#include <QList>
#include <QObject>
#include <QString>

class CFsm;
class QEventLoop;
class CState;
class CTransition;

namespace winsteps::host {

// Exit statuses of a run.
enum ExitStatus {
    ExitOk = 0,
    ExitFailed = 1,  // the last event was "failed"
    ExitUsage = 2,   // the wizard cannot be loaded, or a bad command line
    ExitTimeout = 3, // the run was stopped by its time-out
};

// One finished state of a run.
struct Step
{
    QString state;
    QString type;
    QString event;
};

// Runs a machine through the event loop until it leaves (a state finished with no
// transition for its exit event) or its time-out runs out, and records the steps.
class CWizardRunner : public QObject
{
    Q_OBJECT
public:
    explicit CWizardRunner(CFsm* fsm, QObject* parent = nullptr);

    // Milliseconds; 0 or less: no time-out.
    void setTimeout(int milliseconds) { m_timeout = milliseconds; }

    // Runs the machine and returns the exit status (ExitOk, ExitFailed or ExitTimeout).
    int run();

    const QList<Step>& steps() const { return m_steps; }
    // The state that finished last and its event; after a time-out, the state that was
    // running and an empty event.
    QString finalState() const { return m_finalState; }
    QString finalEvent() const { return m_finalEvent; }
    bool timedOut() const { return m_timedOut; }
    // Stops the run from the event loop (Ctrl+C): the current state is the final state, with
    // no event, and run() returns ExitFailed (at once when called before it).
    void interrupt();
    bool interrupted() const { return m_interrupted; }

Q_SIGNALS:
    // The state being worked on and its progress in percent, for a progress display.
    void progressChanged(const QString& state, const QString& type, int percent);

private:
    void onStateFinished(CState* state, const QString& event);
    // Traces a state's progress while it works ("--- State NAME: progress N%").
    void traceProgress(CState* state, int percent);

    CFsm* m_fsm;
    int m_timeout = 0;
    QList<Step> m_steps;
    QString m_finalState;
    QString m_finalEvent;
    bool m_timedOut = false;
    bool m_interrupted = false;
    QEventLoop* m_loop = nullptr;
    CState* m_lastProgressState = nullptr;
    int m_lastProgress = -1;
};

} // namespace winsteps::host
