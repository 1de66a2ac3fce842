#pragma once

// A minimal machine and state for framework tests: the machine is a CState named by class
// "CFsm" that keeps its states by name and records where transitions sent it.

#include "objects/cpropertyobject.h"
#include "fsm/cstate.h"
#include "fsm/istatemachine.h"
#include "support/tracecapture.h"

#include <QStringList>

class CFsm : public CState, public IStateMachine
{
    Q_OBJECT
public:
    explicit CFsm(const char* name = "fsm")
        : CState(nullptr, name, QDomNode())
        , appProperties(nullptr, "app")
    {
    }
    void execute() override {}
    CState* findState(const QString& name) const override
    {
        return name.isEmpty() ? nullptr : findChild<CState*>(name, Qt::FindDirectChildrenOnly);
    }
    void moveToState(const QString& name) override { moves << name; }
    void pageBack() override { moves << QStringLiteral("<back>"); }
    CPropertyObject* applicationProperties() const override
    {
        return withApplication ? const_cast<CPropertyObject*>(&appProperties) : nullptr;
    }

    CPropertyObject appProperties;
    bool withApplication = true;
    QStringList moves;
};

class TestState : public CState
{
    Q_OBJECT
public:
    TestState(QObject* parent, const char* name, const QDomNode& description)
        : CState(parent, name, description)
    {
        addEvent(QStringLiteral("success"));
        addEvent(QStringLiteral("failed"));
    }
    void execute() override
    {
        setExitEvent(QStringLiteral("success"));
        leaveState();
    }
};
