#include "actions/cactionstate.h"

#include "actions/caction.h"
#include "actions/cthreadedaction.h"
#include "debug/debugoutput.h"

CActionState::CActionState(QObject* parent, const char* name, const QDomNode& description)
    : CState(parent, name, description)
{
}

CActionState::~CActionState()
{
    deleteAction();
}

void CActionState::deleteAction()
{
    CAction* action = m_action;
    m_action = nullptr;
    if (!action)
        return;
    disconnect(action, nullptr, this, nullptr);
    // The worker may still use the action's members: it ends before they go.
    if (auto* threaded = qobject_cast<CThreadedAction*>(action))
        threaded->stopAndWait();
    delete action;
}

void CActionState::reset()
{
    deleteAction();
}

void CActionState::setAction(CAction* action)
{
    if (action == m_action)
        return;
    deleteAction();
    m_action = action;
}

void CActionState::execute()
{
    if (!m_action)
        return;
    m_percent = 0;
    setProgressPercent(0.0);
    m_action->resetProgress();
    // Unique: a state executed again without having left must not be told twice.
    connect(m_action, &CAction::actionFinished, this, &CActionState::slot_actionFinished, Qt::UniqueConnection);
    connect(m_action, &CAction::actionProgress, this, &CActionState::slot_actionProgress, Qt::UniqueConnection);
    m_action->start();
}

void CActionState::onLeave()
{
    if (!m_action)
        return;
    disconnect(m_action, nullptr, this, nullptr);
    m_action->stop();
}

void CActionState::slot_actionFinished(int result)
{
    winsteps::trace(winsteps::module::state, QLatin1String("--- State ") + objectName()
                                                 + QLatin1String(": actionFinished - result = ")
                                                 + QString::number(result) + QLatin1Char('\n'));
    setExitEvent(m_action ? m_action->resultEvent() : QString());
    leaveState();
}

void CActionState::slot_actionProgress(int progress, int maximum)
{
    // Without a maximum there is no fraction to show: 0 per cent.
    m_percent = maximum == 0 ? 0 : int(100.0 / double(maximum) * double(progress));
    setProgressPercent(m_percent);
    Q_EMIT this->progress(m_percent);
}

// The action is asked about its own properties only (the base class's look-up), so that
// its fall-back to this state never sends the question back here.
QStringList CActionState::propertyNames() const
{
    QStringList names = CState::propertyNames();
    if (m_action) {
        const QStringList actionNames = m_action->CPropertyObject::propertyNames();
        for (const QString& name : actionNames) {
            if (!names.contains(name))
                names << name;
        }
    }
    return names;
}

bool CActionState::hasProperty(const QString& name) const
{
    return CState::hasProperty(name) || (m_action && m_action->CPropertyObject::hasProperty(name));
}

bool CActionState::hasObjectProperty(const QString& name) const
{
    return CState::hasObjectProperty(name) || (m_action && m_action->CPropertyObject::hasObjectProperty(name));
}

QVariant CActionState::property(const QString& name) const
{
    if (CState::hasProperty(name) || !m_action || !m_action->CPropertyObject::hasProperty(name))
        return CState::property(name);
    return m_action->CPropertyObject::property(name);
}

CPropertyObject* CActionState::objectProperty(const QString& name) const
{
    if (CState::hasObjectProperty(name) || !m_action || !m_action->CPropertyObject::hasObjectProperty(name))
        return CState::objectProperty(name);
    return m_action->CPropertyObject::objectProperty(name);
}
