#pragma once

#include "expression/itranslator.h"
#include "objects/cpropertyobject.h"
#include "fsm/ctransition.h"
#include "winsteps_export.h"

#include <QDomNode>
#include <QEvent>
#include <QMap>
#include <QStringList>

class QCoreApplication;

// Base of every state. A state declares its events and properties from its XML
// description, does its work in execute(), then names an exit event and calls
// leaveState(); finished(state, transition) is emitted later from the event loop.
class WINSTEPS_EXPORT CState : public CPropertyObject, public ITranslator
{
    Q_OBJECT
    Q_INTERFACES(ITranslator)
public:
    // Event type posted by leaveState() and delivered from the event loop.
    static constexpr QEvent::Type LeaveEventType = QEvent::Type(QEvent::User + 1);

    CState(QObject* parent, const char* objectName, const QDomNode& description);
    ~CState() override;

    virtual void reset();
    // Parent-chain queries, answered by the host's machine at the top of the chain.
    virtual QCoreApplication* application() const;
    virtual CPropertyObject* applicationProperties() const;
    virtual QObject* hostObject() const;
    virtual bool isFsm() const;
    virtual QString fullName() const;
    virtual void initialize();
    virtual void execute() = 0;
    virtual void onLeave();
    virtual void addEvent(const QString& name);
    virtual bool hasEvent(const QString& names) const;
    virtual QString exitEvent() const;
    virtual QStringList events() const;
    virtual void addTransition(CTransition* transition, const QString& names);
    virtual CTransition* transition(const QString& name);
    virtual QMap<QString, CTransition*>& transitions();
    virtual bool hasTransition(const QString& names);
    virtual bool removeTransition(const QString& name);
    virtual void declareProperties(const QDomNode& description, const QString& context);
    virtual QString type() const;
    virtual void setType(const QString& type);
    virtual QString stateName() const;
    // The application's translation of text in context; text unchanged without an application.
    // (Named translate: Q_OBJECT already declares a static tr.)
    virtual QString translate(const char* context, const char* text) const;
    // tr() in this state's expressions: translate() with the state's name as context.
    QString translateText(const QString& text) const override;
    virtual QString& messages();
    virtual int weight() const;
    virtual void setWeight(int weight);
    virtual void addMappedProperty(const QString& name);
    virtual void addResultProperty(const QString& name);
    virtual void addRequiredProperty(const QString& name);
    virtual bool isRequiredProperty(const QString& name) const;
    virtual bool isResultProperty(const QString& name) const;
    virtual QStringList& mappedProperties();
    virtual QStringList& requiredProperties();
    virtual QStringList& resultProperties();
    virtual void setExitEvent(const QString& event);
    double progressPercent() const { return m_progress; }

    Q_INVOKABLE void leaveState();

Q_SIGNALS:
    void finished(CState* state, CTransition* transition);
    void progress(int percent);

protected:
    bool event(QEvent* e) override;
    // For states whose work reports progress as it goes (action states).
    void setProgressPercent(double percent) { m_progress = percent; }
    CState* parentState() const;

private:
    // Deletes transition (may be null) when no event name holds it any more.
    void deleteIfUnnamed(CTransition* transition);

    QString m_type;
    QString m_exitEvent;
    QStringList m_events;
    QMap<QString, CTransition*> m_transitions;
    double m_progress = 0.0;
    int m_weight = 0;
    QString m_messages;
    QStringList m_mappedProperties;
    QStringList m_requiredProperties;
    QStringList m_resultProperties;
};
