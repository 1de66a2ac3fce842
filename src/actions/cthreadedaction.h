#pragma once

#include "actions/caction.h"
#include "winsteps_export.h"

#include <QEvent>
#include <QList>
#include <QPair>
#include <QVariant>

#include <atomic>
#include <condition_variable>
#include <mutex>

class QThread;

// An action whose execute() runs on a worker thread of its own. The outcome comes back to
// the event thread only through events posted to the action: FinishedEventType (the worker
// is joined, then actionFinished is emitted) and ProgressEventType (progress set by the
// worker: actionProgress is emitted).
//
// stop() never kills the worker: it asks it to end (isStopRequested() turns true and pause()
// returns at once) and from then on the action emits nothing for that run. The destructor
// stops and waits for the worker. A subclass whose execute() uses the subclass's own members
// calls stopAndWait() first thing in its destructor, before those members go.
class WINSTEPS_EXPORT CThreadedAction : public CAsyncAction
{
    Q_OBJECT
public:
    static constexpr QEvent::Type FinishedEventType = QEvent::Type(QEvent::User + 1);
    static constexpr QEvent::Type ProgressEventType = QEvent::Type(QEvent::User + 2);
    // The progress timer started or stopped by the worker.
    static constexpr QEvent::Type TimerEventType = QEvent::Type(QEvent::User + 3);
    // The logging category of the two lines that each worker writes through the toolkit's
    // debug message function when it starts.
    static constexpr const char* threadLogCategory = "winsteps.thread";

    CThreadedAction(QObject* parent, const char* name);
    CThreadedAction(QObject* parent, const char* name, const QDomNode& element);
    ~CThreadedAction() override;

    // Starts the worker and returns at once. While a run is going on (and not stopped), a
    // second start is ignored; a stopped run that is still ending is waited for first.
    void start() override;
    void stop() override;
    // Progress set on the event thread is published at once; progress set by the worker
    // travels as a ProgressEventType event; progress set on any other thread is only kept.
    void setProgress(int value) override;
    // From the worker, a TimerEventType event that starts or stops the timer on the event
    // thread; a start of a run that has been stopped in the meantime is dropped.
    void startProgressTimer() override;
    void stopProgressTimer() override;
    bool isStopRequested() const override;

    // stop(), then waits for the worker to end.
    void stopAndWait();
    // Whether the worker thread runs; once it answers false, everything the worker did is
    // visible to the caller.
    bool isWorkerRunning() const;

protected:
    bool event(QEvent* e) override;
    // On the worker: sleeps up to milliseconds. False (at once) when a stop is requested.
    bool pause(int milliseconds);
    // Sets a property from execute(). On the action's own thread at once; from the worker
    // it is kept and set when the run's finished event arrives, just before actionFinished,
    // so that the event thread never reads a property while the worker writes it.
    void setResultProperty(const QString& name, const QVariant& value);

private:
    void runWorker(int run);
    // Posts an event of this run from the worker (progress: the value, or 1 to start the timer
    // and 0 to stop it).
    void postFromWorker(QEvent::Type type, int progress);
    void joinWorker();

    class Worker;
    Worker* m_worker = nullptr; // child of the action
    int m_run = 0;              // the current run; events of earlier runs are dropped
    std::atomic<int> m_workerRun{0};
    bool m_stopped = false;     // event thread only
    std::atomic<bool> m_stopRequested{false};
    mutable std::mutex m_pauseMutex;
    std::condition_variable m_pauseWake;
    QList<QPair<QString, QVariant>> m_pendingProperties; // the worker's until it is joined
};
