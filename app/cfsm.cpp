#include "cfsm.h"

#include "debug/debugoutput.h"
#include "fsm/ctransition.h"
#include "fsm/eventnames.h"

#include <QCoreApplication>
#include <QEvent>

using winsteps::trace;
namespace module = winsteps::module;

CFsm::CFsm(QObject* parent, const char* name, const QDomNode& description)
    : CState(parent, name, description)
{
}

CFsm::~CFsm()
{
    // The states go first: each deletes its own transitions, which are our children too.
    const QList<CState*> states = m_order;
    m_order.clear();
    m_states.clear();
    m_names.clear();
    m_current = nullptr;
    qDeleteAll(states);
}

QCoreApplication* CFsm::application() const
{
    return QCoreApplication::instance();
}

CPropertyObject* CFsm::applicationProperties() const
{
    return m_application.data();
}

QObject* CFsm::hostObject() const
{
    return nullptr;
}

bool CFsm::addState(CState* state, const QString& name)
{
    const QString key = name.isEmpty() && state ? state->objectName() : name;
    if (!state || key.isEmpty() || m_states.contains(key) || m_names.contains(state))
        return false;
    state->setParent(this);
    m_states.insert(key, state);
    m_names.insert(state, key);
    m_order.append(state);
    connect(state, &CState::finished, this, &CFsm::onStateFinished);
    state->installEventFilter(this);
    // The state is bound here: sender() would scan every connection of a large machine.
    connect(state, &CState::progress, this, [this, state](int percent) { Q_EMIT stateProgress(state, percent); });
    connect(state, &QObject::objectNameChanged, this, [this, state] { traceRename(state); });
    if (state->objectName() != key) // renamed by its own description
        traceRename(state);
    return true;
}

void CFsm::traceRename(const CState* state) const
{
    const QString name = m_names.value(state);
    if (state->objectName() == name)
        return;
    trace(module::state, QLatin1String("--- State ") + name + QLatin1String(": ! Warning ! Object name changed to \"")
                             + state->objectName() + QLatin1String("\"; the machine still knows the state as \"")
                             + name + QLatin1String("\".\n"));
}

CState* CFsm::findState(const QString& name) const
{
    return m_states.value(name);
}

void CFsm::execute()
{
    if (m_running) {
        trace(module::state, QLatin1String("--- State ") + objectName()
                                 + QLatin1String(": ! Warning ! Already running.\n"));
        return;
    }
    m_history.clear();
    m_current = nullptr;
    m_executing = false;
    m_running = true;
    setExitEvent(QString());
    moveToState(m_start);
}

void CFsm::moveToState(const QString& name)
{
    CState* next = findState(name);
    if (!next) {
        trace(module::state, QLatin1String("--- State ") + objectName()
                                 + QLatin1String(": ! Error ! No state named \"") + name
                                 + QLatin1String("\".\n"));
        if (m_running)
            endRun(winsteps::event::failed);
        return;
    }
    if (m_current)
        m_history.append(registeredName(m_current));
    enter(next);
}

void CFsm::pageBack()
{
    if (m_history.isEmpty()) {
        trace(module::state, QLatin1String("--- State ") + objectName()
                                 + QLatin1String(": ! Warning ! No page to go back to.\n"));
        if (m_running)
            endRun(winsteps::event::pageBack);
        return;
    }
    CState* previous = findState(m_history.takeLast());
    if (!previous) { // states are never removed during a run, but be safe
        if (m_running)
            endRun(winsteps::event::failed);
        return;
    }
    enter(previous);
}

void CFsm::enter(CState* state)
{
    m_current = state;
    m_executing = false;
    if (!m_running || m_executePending)
        return;
    // Never from inside a transition's fire() or a finished signal: while a state's leave
    // event is being delivered, eventFilter() executes the next state when the delivery
    // is over; otherwise the event loop does.
    m_executePending = true;
    if (m_delivering == 0)
        QMetaObject::invokeMethod(this, &CFsm::executeCurrent, Qt::QueuedConnection);
}

bool CFsm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != CState::LeaveEventType || watched->parent() != this)
        return CState::eventFilter(watched, event);
    // The state handles its own leave event here (progress, finished, and through
    // onStateFinished the transition); the next state then runs in this same pass of the
    // event loop instead of waiting for another.
    // One write for the traces of the whole step: the finished state's transition and the
    // next state's execute().
    const winsteps::TraceBatch batch;
    const QPointer<CFsm> alive(this);
    ++m_delivering;
    static_cast<QObject*>(watched)->event(event);
    if (!alive) // a receiver of finished deleted the machine
        return true;
    if (--m_delivering == 0 && m_executePending)
        executeCurrent();
    return true;
}

void CFsm::executeCurrent()
{
    if (!m_executePending) // already executed at the end of a leave event's delivery
        return;
    m_executePending = false;
    if (!m_running || !m_current)
        return;
    const winsteps::TraceBatch batch;
    m_executing = true;
    trace(module::state, QLatin1String("--- State ") + m_current->objectName()
                             + QLatin1String(": enter state (type ") + m_current->type()
                             + QLatin1String(")\n"));
    Q_EMIT stateEntered(m_current);
    m_current->execute();
}

void CFsm::onStateFinished(CState* state, CTransition* transition)
{
    if (!m_running || state != m_current || !m_executing) {
        // A state that leaves twice, or finishes after a time-out: nothing to follow.
        trace(module::state, QLatin1String("--- State ") + state->objectName()
                                 + QLatin1String(": ! Warning ! Finished while not being executed, ignored.\n"));
        if (qobject_cast<CBackTransition*>(transition))
            delete transition; // made for this call only, owned by nobody
        return;
    }
    m_executing = false;
    const QString event = state->exitEvent();
    Q_EMIT stateFinished(state, event);
    if (!transition) {
        endRun(event);
        return;
    }
    transition->fire(); // a back transition deletes itself here
}

void CFsm::endRun(const QString& event)
{
    m_running = false;
    m_executing = false;
    setExitEvent(event);
    leaveState();
}

void CFsm::stop()
{
    m_running = false;
    m_executing = false;
}
