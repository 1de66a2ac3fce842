#pragma once

#include "fsm/cstate.h"
#include "winsteps_export.h"

class CAction;

// A state whose work is done by one action it owns. execute() starts the action; the
// action's progress becomes the state's progress in per cent; when the action finishes the
// state leaves by the action's result event. Leaving disconnects the action and stops it,
// so a late actionFinished never reaches the state.
//
// A property the state lacks is looked up among the action's own properties (and the action
// falls back to the state's own ones), so maps can read an action's results from the state.
class WINSTEPS_EXPORT CActionState : public CState
{
    Q_OBJECT
public:
    CActionState(QObject* parent, const char* name, const QDomNode& description);
    ~CActionState() override;

    // Deletes the action; the state is then without one. Replaces CState::reset.
    void reset() override;
    void execute() override;
    void onLeave() override;

    // Takes ownership (a previous action is deleted).
    virtual void setAction(CAction* action);
    CAction* action() const { return m_action; }
    // The last per-cent value published by slot_actionProgress (0 when executed).
    int percent() const { return m_percent; }

    QStringList propertyNames() const override;
    bool hasProperty(const QString& name) const override;
    bool hasObjectProperty(const QString& name) const override;
    QVariant property(const QString& name) const override;
    CPropertyObject* objectProperty(const QString& name) const override;
    using CPropertyObject::property;

public Q_SLOTS:
    virtual void slot_actionFinished(int result);
    virtual void slot_actionProgress(int progress, int maximum);

private:
    void deleteAction();

    CAction* m_action = nullptr; // owned
    int m_percent = 0;
};
