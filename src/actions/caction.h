#pragma once

#include "objects/cpropertyobject.h"
#include "winsteps_export.h"

#include <QDomNode>
#include <QString>

#include <atomic>

class QTimer;

// A unit of work that a state hands off. It runs, reports progress as (current, maximum),
// ends with a result code (0: success) and names the event by which its state is to be left.
//
// CAction runs execute() synchronously in start() and emits actionFinished before start()
// returns. Its parameters are ordinary properties; a property the action lacks is looked up
// in its parent object (normally the state that owns it), never further.
class WINSTEPS_EXPORT CAction : public CPropertyObject
{
    Q_OBJECT
public:
    static constexpr int defaultMaxProgress = 5;
    static constexpr int progressTimerInterval = 1000; // ms

    CAction(QObject* parent, const char* name);
    // The same, then readProperties(element).
    CAction(QObject* parent, const char* name, const QDomNode& element);
    ~CAction() override;

    virtual void resetProgress();
    virtual void start();
    // Nothing to stop in a synchronous action.
    virtual void stop();
    virtual void setResult(int result);
    virtual int result() const;
    virtual void setResultEvent(const QString& event);
    virtual QString resultEvent() const;
    virtual void setMaxProgress(int maximum);
    // n >= 1: setProgress(progress + n); otherwise nothing.
    virtual void stepProgress(int n);
    virtual void stepProgress();
    virtual int maxProgress() const;
    int progress() const { return m_progress; }

    // The work: returns the result code and sets the result event.
    virtual int execute() = 0;

    // Applies the "property" children of element: those directly below it, and those below
    // a "system" child (tag in any case) whose "type" is "common" or a class of the running
    // system. Each is traced; a failed assignment is traced and skipped.
    virtual void readProperties(const QDomNode& element);

    // Ticks once a second on the action's thread, each tick stepping the progress by 1.
    // Callable from a worker thread.
    virtual void startProgressTimer();
    virtual void stopProgressTimer();

    // Progress becomes value, cut to maxProgress() (no lower bound), and is published.
    virtual void setProgress(int value);

    // Whether the work has been asked to stop; long loops in execute() check it at least
    // every 100 ms. Never true for a synchronous action.
    virtual bool isStopRequested() const;

    // Property look-up with the fall-back to the parent's own properties.
    bool hasProperty(const QString& name) const override;
    bool hasObjectProperty(const QString& name) const override;
    QVariant property(const QString& name) const override;
    CPropertyObject* objectProperty(const QString& name) const override;
    using CPropertyObject::property;

    QTimer* progressTimer() const { return m_timer; }

public Q_SLOTS:
    virtual void progressTimerSlot();

Q_SIGNALS:
    void actionFinished(int result);
    void actionProgress(int progress, int maximum);

protected:
    // Stores progress without publishing it.
    void storeProgress(int value) { m_progress = value; }
    // The parent when it is a property object.
    CPropertyObject* parentProperties() const;

private:
    QTimer* m_timer = nullptr; // child of the action
    std::atomic<int> m_progress{0};
    std::atomic<int> m_maxProgress{defaultMaxProgress};
    std::atomic<int> m_result{0};
    QString m_resultEvent;
};

// An action whose start() only runs execute(); finishing is the subclass's business.
class WINSTEPS_EXPORT CAsyncAction : public CAction
{
    Q_OBJECT
public:
    CAsyncAction(QObject* parent, const char* name);
    CAsyncAction(QObject* parent, const char* name, const QDomNode& element);

    void start() override;
    int execute() override;
};
