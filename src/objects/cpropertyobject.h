#pragma once

#include "objects/cobject.h"
#include "winsteps_export.h"

#include <QMap>
#include <QObjectList>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <type_traits>

// A configurable framework object. A name is exactly one of: a declared (meta-object)
// property, a data field (a QVariant), or an object property (an owned CPropertyObject),
// tested in that order. Writing a data field removes an object property of the same name
// and vice versa.
class WINSTEPS_EXPORT CPropertyObject : public CObject
{
    Q_OBJECT
public:
    explicit CPropertyObject(QObject* parent = nullptr, const char* name = nullptr);
    ~CPropertyObject() override;

    // A deep copy of the object properties sharing the data fields; no parent. Caller owns.
    virtual CPropertyObject* clone() const;

    // Declared names (meta-object order), then data fields (ascending), then object properties
    // in natural order (digit runs by number: "node2" before "node10"), the order in which the
    // list functions count and pick them.
    virtual QStringList propertyNames() const;

    // Object property name becomes object (this object owns it from then on). A null object
    // sets a data field 0 instead. False, with object still the caller's, for a declared
    // property of that name.
    virtual bool setObjectProperty(const QString& name, CPropertyObject* object);
    // The same with the ownership in the type: object is taken only when this returns true,
    // otherwise it stays with the caller.
    template <typename T>
    bool adoptObjectProperty(const QString& name, std::unique_ptr<T>&& object)
    {
        static_assert(std::is_base_of_v<CPropertyObject, T>, "object properties are property objects");
        if (!setObjectProperty(name, object.get()))
            return false;
        object.release();
        return true;
    }
    virtual CPropertyObject* objectProperty(const QString& name) const;
    // Adopts every object whose object name is not yet an object property. Always true.
    virtual bool addObjectProperties(const QObjectList& objects);
    virtual bool removeProperty(const QString& name);
    virtual void clearProperties();
    virtual bool exists(const QString& name) const;
    virtual bool hasProperty(const QString& name) const;
    virtual bool hasObjectProperty(const QString& name) const;

    Q_INVOKABLE virtual bool setConfig(const QString& tokenString);
    Q_INVOKABLE virtual QStringList config() const;
    Q_INVOKABLE virtual bool setDataField(const QString name, const QVariant value);
    Q_INVOKABLE virtual QVariant dataField(const QString name) const;

    // These hide QObject's: unknown names become data fields, never dynamic properties.
    virtual bool setProperty(const QString& name, const QVariant& value);
    virtual QVariant property(const QString& name) const;
    bool setProperty(const char* name, const QVariant& value) { return setProperty(QString::fromUtf8(name), value); }
    QVariant property(const char* name) const { return property(QString::fromUtf8(name)); }

    bool isDeclaredProperty(const QString& name) const;
    const QMap<QString, QVariant>& dataFields() const { return m_dataFields; }
    const QMap<QString, CPropertyObject*>& objectProperties() const { return m_objects; }

protected:
    // The copying constructor used by clone(): no parent, the source's name, shared data
    // fields and a clone of every object property.
    explicit CPropertyObject(const CPropertyObject& source);

private:
    QMap<QString, QVariant> m_dataFields;
    QMap<QString, CPropertyObject*> m_objects; // owned
};
