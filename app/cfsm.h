#pragma once

#include "fsm/cstate.h"
#include "fsm/istatemachine.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QPointer>
#include <QStringList>

class CTransition;

// The host's machine: a state that owns the states and transitions of a wizard, runs them
// one after another and keeps the history of visited states for going back a page.
//
// execute() starts at the start state. Each state is executed from the event loop; when it
// finishes, the transition registered for its exit event is fired (its property maps are
// applied and it moves the machine on). The next state is executed in the same pass of the
// event loop that delivered the finished state's leave event, once every receiver of that
// state's finished signal has returned. A state that finishes without a transition ends the
// run: the machine takes that state's exit event as its own and leaves, so it emits
// finished(this, ...) like any other state.
class CFsm : public CState, public IStateMachine
{
    Q_OBJECT
public:
    CFsm(QObject* parent, const char* name, const QDomNode& description);
    ~CFsm() override;

    // Parent-chain queries: the answers stop here.
    QCoreApplication* application() const override;
    CPropertyObject* applicationProperties() const override;
    QObject* hostObject() const override;

    // Starts a run at the start state.
    void execute() override;

    CState* findState(const QString& name) const override;
    // Makes the named state current and executes it from the event loop. The state left
    // behind goes onto the history. An unknown name ends the run with "failed".
    void moveToState(const QString& name) override;
    // Goes back to the state visited before the current one. With no history the run ends
    // with the event "pageBack".
    void pageBack() override;

    // Takes a state into the machine (it becomes the state's parent) under name, or under
    // its object name when name is empty. False, and the state is left alone, when there is
    // no name or a state of that name exists already. The state stays registered under that
    // name, also when its object name changes later (a property "objectName" declared in its
    // description or set by a property map): such a rename is traced as a warning.
    bool addState(CState* state, const QString& name = QString());
    // The name a state of the machine is registered under; empty for a stranger.
    QString registeredName(const CState* state) const { return m_names.value(state); }
    QList<CState*> states() const { return m_order; }

    void setStartState(const QString& name) { m_start = name; }
    QString startState() const { return m_start; }

    // Not owned.
    void setApplicationProperties(CPropertyObject* properties) { m_application = properties; }

    CState* currentState() const { return m_current; }
    // Names of the states that pageBack() would return to, oldest first.
    QStringList history() const { return m_history; }
    bool isRunning() const { return m_running; }
    // Ends the run where it stands (for a time-out). The current state's late finish is ignored.
    void stop();

Q_SIGNALS:
    void stateEntered(CState* state);
    void stateProgress(CState* state, int percent);
    // A state of the machine finished with event; emitted before its transition is fired.
    void stateFinished(CState* state, const QString& event);

protected:
    // Delivers the leave events of the machine's states (see enter()).
    bool eventFilter(QObject* watched, QEvent* event) override;

private Q_SLOTS:
    void onStateFinished(CState* state, CTransition* transition);
    void executeCurrent();

private:
    void enter(CState* state);
    void traceRename(const CState* state) const;
    void endRun(const QString& event);

    QMap<QString, CState*> m_states; // children of the machine, by registered name
    QHash<const CState*, QString> m_names; // the other way round
    QList<CState*> m_order;          // in the order added
    QString m_start;
    QPointer<CPropertyObject> m_application;
    CState* m_current = nullptr;
    QStringList m_history;
    bool m_running = false;
    bool m_executing = false; // the current state has been executed and has not finished yet
    bool m_executePending = false;
    int m_delivering = 0; // leave events of our states being delivered (nested loops count)
};
