#include "cwizardrunner.h"

#include "actions/cthreadedaction.h"
#include "cfsm.h"
#include "debug/debugoutput.h"
#include "fsm/ctransition.h"
#include "fsm/eventnames.h"

#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <mutex>

namespace winsteps::host {

namespace {

std::atomic<QtMessageHandler> previousHandler{nullptr};

// The lines that action workers write through the toolkit's debug messages go where the
// toolkit sends them on Windows: to the debugger channel, beside the traces (and so through
// the trace sink, which keeps a terminal's progress line intact).
void routeThreadMessages(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (context.category && qstrcmp(context.category, CThreadedAction::threadLogCategory) == 0) {
        std::lock_guard<std::mutex> lock(winsteps::debugMutex());
        winsteps::debugOutput(QString(message + QLatin1Char('\n')).toStdString());
        return;
    }
    if (const QtMessageHandler previous = previousHandler.load())
        previous(type, context, message);
}

// Routes those lines while a run goes on.
struct ThreadMessageRoute
{
    ThreadMessageRoute() { previousHandler = qInstallMessageHandler(routeThreadMessages); }
    ~ThreadMessageRoute() { qInstallMessageHandler(previousHandler.load()); }
};

} // namespace

CWizardRunner::CWizardRunner(CFsm* fsm, QObject* parent)
    : QObject(parent)
    , m_fsm(fsm)
{
}

void CWizardRunner::onStateFinished(CState* state, const QString& event)
{
    // The report names states as the wizard does, also after a state renamed itself.
    const QString name = m_fsm->registeredName(state);
    m_steps.append({name, state->type(), event});
    m_finalState = name;
    m_finalEvent = event;
}

void CWizardRunner::traceProgress(CState* state, int percent)
{
    // Between entering (0) and leaving (100), so that states without progress add nothing.
    if (percent <= 0 || percent >= 100 || (state == m_lastProgressState && percent == m_lastProgress))
        return;
    m_lastProgressState = state;
    m_lastProgress = percent;
    winsteps::trace(winsteps::module::app, QLatin1String("--- State ") + state->objectName() + QLatin1String(": progress ")
                                               + QString::number(percent) + QLatin1String("%\n"));
}

int CWizardRunner::run()
{
    m_steps.clear();
    m_finalState.clear();
    m_finalEvent.clear();
    m_timedOut = false;
    if (m_interrupted)
        return ExitFailed; // interrupted before it began

    QEventLoop loop;
    m_loop = &loop;
    QTimer timer;
    timer.setSingleShot(true);
    QList<QMetaObject::Connection> connections;
    connections << connect(m_fsm, &CFsm::stateFinished, this, &CWizardRunner::onStateFinished);
    connections << connect(m_fsm, &CFsm::stateEntered, this, [this](CState* state) {
        Q_EMIT progressChanged(m_fsm->registeredName(state), state->type(), 0);
    });
    connections << connect(m_fsm, &CFsm::stateProgress, this, [this](CState* state, int percent) {
        Q_EMIT progressChanged(m_fsm->registeredName(state), state->type(), percent);
        traceProgress(state, percent);
    });
    connections << connect(m_fsm, &CState::finished, &loop, [&loop](CState*, CTransition* transition) {
        // The machine has no transitions of its own; a back transition made for it is ours to drop.
        if (qobject_cast<CBackTransition*>(transition))
            delete transition;
        loop.quit();
    });
    connections << connect(&timer, &QTimer::timeout, &loop, [this, &loop] {
        m_timedOut = true;
        const CState* current = m_fsm->currentState();
        m_finalState = current ? m_fsm->registeredName(current) : QString();
        m_finalEvent.clear(); // the state did not leave
        m_fsm->stop();
        winsteps::trace(winsteps::module::app, QLatin1String("--- State ") + m_fsm->objectName()
                                                   + QLatin1String(": ! Error ! Time-out, the run is stopped in state \"")
                                                   + m_finalState + QLatin1String("\".\n"));
        loop.quit();
    });

    const ThreadMessageRoute route;
    m_lastProgressState = nullptr;
    m_lastProgress = -1;
    if (m_timeout > 0)
        timer.start(m_timeout);
    m_fsm->execute();
    loop.exec();
    m_loop = nullptr;
    timer.stop();
    for (const QMetaObject::Connection& c : std::as_const(connections))
        disconnect(c);

    if (m_timedOut)
        return ExitTimeout;
    if (m_interrupted)
        return ExitFailed;
    // The machine left with the last state's event (or "failed" when it could not go on).
    return m_fsm->exitEvent() == event::failed ? ExitFailed : ExitOk;
}

void CWizardRunner::interrupt()
{
    if (m_interrupted)
        return;
    m_interrupted = true;
    if (!m_loop)
        return; // run() returns at once
    const CState* current = m_fsm->currentState();
    m_finalState = current ? m_fsm->registeredName(current) : QString();
    m_finalEvent.clear();
    m_fsm->stop();
    m_loop->quit();
}

} // namespace winsteps::host
