#pragma once

// A minimal machine and state for framework tests: the machine is a CState named by class
// "CFsm" that keeps its states by name and records where transitions sent it.

#include "debug/debugoutput.h"
#include "framework/cpropertyobject.h"
#include "framework/cstate.h"
#include "framework/istatemachine.h"

#include <QStringList>

#include <mutex>
#include <string>

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

// Collects trace pieces while alive.
class TraceCapture : public winsteps::TraceSink
{
public:
    TraceCapture() { winsteps::setTraceSink(this); }
    ~TraceCapture() override { winsteps::setTraceSink(nullptr); }
    void write(const std::string& piece) override { text += piece; }
    QString all() const { return QString::fromUtf8(text.c_str()); }
    // The message lines without their 22-character tag, in order.
    QStringList lines() const
    {
        QStringList out;
        const QStringList raw = all().split(QLatin1Char('\n'));
        for (QString line : raw) {
            if (line.startsWith(QLatin1Char('[')) && line.size() >= 22 && line[21] == QLatin1Char(']'))
                line = line.mid(22);
            out << line;
        }
        if (!out.isEmpty() && out.last().isEmpty())
            out.removeLast();
        return out;
    }
    std::string text;
};
