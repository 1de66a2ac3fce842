#include "actions/cthreadedaction.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLoggingCategory>
#include <QThread>

#include <utility>

namespace {

Q_LOGGING_CATEGORY(threadLog, CThreadedAction::threadLogCategory)

// A finished or progress event of one run of the worker.
class ActionEvent : public QEvent
{
public:
    ActionEvent(QEvent::Type type, int run, int progress = 0)
        : QEvent(type)
        , run(run)
        , progress(progress)
    {
    }
    const int run;
    const int progress;
};

} // namespace

class CThreadedAction::Worker : public QThread
{
public:
    Worker(CThreadedAction* action)
        : QThread(action)
        , m_action(action)
    {
    }

protected:
    void run() override { m_action->runWorker(m_action->m_workerRun); }

private:
    CThreadedAction* m_action;
};

// The worker is made in the body: adding it as a child sends this object an event, and
// event() takes m_pauseMutex, which must exist by then.
CThreadedAction::CThreadedAction(QObject* parent, const char* name)
    : CAsyncAction(parent, name)
{
    m_worker = new Worker(this);
}

CThreadedAction::CThreadedAction(QObject* parent, const char* name, const QDomNode& element)
    : CAsyncAction(parent, name, element)
{
    m_worker = new Worker(this);
}

CThreadedAction::~CThreadedAction()
{
    stopAndWait();
}

void CThreadedAction::start()
{
    if (m_worker->isRunning() && !m_stopRequested)
        return;
    // A stopped run checks for the stop at least every 100 ms; joined, it leaves nothing.
    joinWorker();
    m_pendingProperties.clear();
    m_stopped = false;
    m_stopRequested = false;
    m_workerRun = ++m_run;
    m_worker->start();
}

void CThreadedAction::stop()
{
    m_stopped = true;
    {
        std::lock_guard<std::mutex> lock(m_pauseMutex);
        m_stopRequested = true;
    }
    m_pauseWake.notify_all();
    m_worker->requestInterruption();
}

void CThreadedAction::stopAndWait()
{
    // Called from destructors, where only this class's stop() is safe to run.
    CThreadedAction::stop();
    joinWorker();
}

void CThreadedAction::joinWorker()
{
    m_worker->wait();
    // The worker's last step is under this lock: taking it makes everything the worker did
    // visible here in a way that thread checkers see too.
    std::lock_guard<std::mutex> lock(m_pauseMutex);
}

bool CThreadedAction::isWorkerRunning() const
{
    if (m_worker->isRunning())
        return true;
    // Ended: as in joinWorker(), taking the lock of the worker's last step makes what it did
    // visible to the caller, who may now use what the worker used.
    std::lock_guard<std::mutex> lock(m_pauseMutex);
    return false;
}

bool CThreadedAction::isStopRequested() const
{
    return m_stopRequested;
}

bool CThreadedAction::pause(int milliseconds)
{
    std::unique_lock<std::mutex> lock(m_pauseMutex);
    return !m_pauseWake.wait_for(lock, std::chrono::milliseconds(qMax(0, milliseconds)),
                                 [this] { return m_stopRequested.load(); });
}

void CThreadedAction::setResultProperty(const QString& name, const QVariant& value)
{
    if (QThread::currentThread() == thread())
        setProperty(name, value);
    else
        m_pendingProperties.append({name, value});
}

void CThreadedAction::setProgress(int value)
{
    const int maximum = maxProgress();
    const int progress = value > maximum ? maximum : value;
    storeProgress(progress);
    if (QThread::currentThread() == thread()) {
        if (!m_stopped)
            Q_EMIT actionProgress(progress, maximum);
        return;
    }
    // execute() called directly on another thread (inside another action's worker) is not
    // a run of this action: its progress is only kept, for the event thread would read the
    // maximum while that thread still changes what it is made of.
    if (QThread::currentThread() == m_worker)
        postFromWorker(ProgressEventType, progress);
}

void CThreadedAction::startProgressTimer()
{
    if (QThread::currentThread() == thread())
        CAction::startProgressTimer();
    else
        postFromWorker(TimerEventType, 1);
}

void CThreadedAction::stopProgressTimer()
{
    if (QThread::currentThread() == thread())
        CAction::stopProgressTimer();
    else
        postFromWorker(TimerEventType, 0);
}

void CThreadedAction::postFromWorker(QEvent::Type type, int progress)
{
    // Made and posted under the lock that event() takes before it reads the event, so that
    // the event thread sees the event whole (the toolkit's queue lock is not one a thread
    // checker knows).
    std::lock_guard<std::mutex> lock(m_pauseMutex);
    QCoreApplication::postEvent(this, new ActionEvent(type, m_workerRun, progress));
}

void CThreadedAction::runWorker(int run)
{
    qCDebug(threadLog).noquote() << QStringLiteral("[THREAD] Action = %1.").arg(objectName());
    qCDebug(threadLog).noquote() << QStringLiteral("[THREAD] ThreadId = %1.")
                                        .arg(quintptr(QThread::currentThreadId()));
    const int code = execute();
    std::lock_guard<std::mutex> lock(m_pauseMutex);
    setResult(code);
    QCoreApplication::postEvent(this, new ActionEvent(FinishedEventType, run));
}

bool CThreadedAction::event(QEvent* e)
{
    {
        // Pairs with the lock under which the worker made and posted its events.
        std::lock_guard<std::mutex> lock(m_pauseMutex);
    }
    const QEvent::Type type = e->type();
    if (type != FinishedEventType && type != ProgressEventType && type != TimerEventType)
        return CAsyncAction::event(e);
    const auto* actionEvent = dynamic_cast<ActionEvent*>(e);
    if (!actionEvent)
        return CAsyncAction::event(e);
    // Stopping the timer is always right; a stopped run does not start it again.
    if (type == TimerEventType) {
        if (actionEvent->progress == 0)
            CAction::stopProgressTimer();
        else if (!m_stopped && actionEvent->run == m_run)
            CAction::startProgressTimer();
        return true;
    }
    // A stopped run, or one that a newer run replaced, has nothing more to say.
    if (m_stopped || actionEvent->run != m_run)
        return true;
    if (type == FinishedEventType) {
        joinWorker();
        const auto pending = std::exchange(m_pendingProperties, {});
        for (const auto& property : pending)
            setProperty(property.first, property.second);
        Q_EMIT actionFinished(result());
    } else {
        Q_EMIT actionProgress(actionEvent->progress, maxProgress());
    }
    return true;
}
