#pragma once

#include "objects/cpropertyobject.h"
#include "winsteps_export.h"

#include <QDomNode>
#include <QList>
#include <QPointer>

class CProperty;
class CPropertyMap;
class CState;
class IStateMachine;

// Connects a source state to a target state; carries property maps applied when fired.
// Its parent is the machine (a CState implementing IStateMachine).
class WINSTEPS_EXPORT CTransition : public CPropertyObject
{
    Q_OBJECT
public:
    CTransition(QObject* parent, const char* objectName, const QString& fromState,
                const QString& toState, const QDomNode& description);
    ~CTransition() override;

    virtual void fire();
    virtual bool addPropertyMap(const QString& target, const QString& function);
    virtual void checkPropertyMaps();
    virtual QString errors() const;
    virtual void applyPropertyMaps();

    QString fromState() const { return m_fromState; }
    QString toState() const { return m_toState; }
    const QList<CPropertyMap*>& propertyMaps() const { return m_maps; }

protected:
    CTransition(QObject* parent, const char* objectName); // for CBackTransition
    IStateMachine* machine() const;
    CState* machineState() const;

private:
    CState* boundState(IStateMachine* m, QPointer<CState>& bound, const QString& name) const;
    // The phases of applyPropertyMaps() for one map: fill its variables from their sources,
    // then evaluate it and give the result to its target. A missing source or receiver is
    // traced and yields null.
    void fillVariables(CPropertyMap* map, IStateMachine* m, CState* fsm);
    const CPropertyObject* variableSource(const CProperty& variable, IStateMachine* m, CState* fsm);
    void setTarget(CPropertyMap* map, IStateMachine* m, CState* fsm);
    CPropertyObject* targetReceiver(const CProperty& target, IStateMachine* m, CState* fsm);

    QString m_fromState;
    QString m_toState;
    mutable QPointer<CState> m_from;
    mutable QPointer<CState> m_to;
    mutable QObject* m_machineOwner = nullptr;
    mutable IStateMachine* m_machine = nullptr;
    QList<CPropertyMap*> m_maps; // owned
};

// Goes back one page instead of naming a target; deletes itself when fired.
class WINSTEPS_EXPORT CBackTransition : public CTransition
{
    Q_OBJECT
public:
    CBackTransition(QObject* parent, const char* objectName);
    void fire() override;
};

class WINSTEPS_EXPORT CEntryTransition : public CTransition
{
    Q_OBJECT
public:
    using CTransition::CTransition;
};

class WINSTEPS_EXPORT CExitTransition : public CTransition
{
    Q_OBJECT
public:
    using CTransition::CTransition;
};
