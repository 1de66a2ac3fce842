#pragma once

#include "winsteps_export.h"

#include <QString>
#include <QVariant>

class CPropertyObject;

// One variable or target of a property map: a name with its location (state, machine
// "fsm.", application "app.") and, once set, a value or an object (not owned).
class WINSTEPS_EXPORT CProperty
{
public:
    enum Location { State = 0, Machine = 1, Application = 2 };

    CProperty() = default;
    // Parses "fsm.name", "app.name" or a plain state property name.
    explicit CProperty(const QString& text);
    virtual ~CProperty() = default;
    CProperty(const CProperty&) = default;
    CProperty& operator=(const CProperty&) = default;

    virtual void setObject(CPropertyObject* object);
    virtual void setValue(const QVariant& value);
    virtual bool isSet() const { return m_isSet; }
    virtual QVariant value() const { return m_value; }
    virtual CPropertyObject* object() const { return m_object; }
    virtual QString name() const { return m_name; }
    virtual int location() const { return m_location; }
    // Back to not set: no value, no object; the name and location stay.
    void clear();

private:
    bool m_isSet = false;
    QString m_name;
    QVariant m_value;
    CPropertyObject* m_object = nullptr;
    int m_location = State;
};
