#pragma once

#include "objects/cpropertyobject.h"
#include "winsteps_export.h"

#include <QList>
#include <QMetaType>
#include <QPointer>
#include <QString>
#include <QStringView>
#include <QVariant>

#include <memory>
#include <optional>

class CProperty;
class CPropertyMap;

// An object that an expression gave, with its ownership. A handed-over object (one the
// expression made for its caller) belongs to the holder and is deleted with it unless it
// is released. Any other object belongs to someone else; the holder only watches it, so
// that it reads as null once its owner has deleted it.
class WINSTEPS_EXPORT CObjectResult
{
public:
    CObjectResult() = default;
    CObjectResult(CPropertyObject* object, bool handedOver);
    ~CObjectResult();
    CObjectResult(CObjectResult&& other) noexcept;
    CObjectResult& operator=(CObjectResult&& other) noexcept;
    CObjectResult(const CObjectResult&) = delete;
    CObjectResult& operator=(const CObjectResult&) = delete;

    CPropertyObject* get() const { return m_object.data(); }
    template<typename T>
    T* as() const { return qobject_cast<T*>(get()); }
    // The holder owns the object.
    bool isHandedOver() const { return m_handedOver && m_object; }
    // The object, now owned by the caller when the holder owned it; the holder is emptied.
    CPropertyObject* release();
    // An object of the caller's own: the held object itself when it was handed over, else a
    // clone. Null when there is no object. The holder is emptied.
    std::unique_ptr<CPropertyObject> takeOrClone();

private:
    void reset();

    QPointer<CPropertyObject> m_object;
    bool m_handedOver = false;
};

// A value as arithmetic reads it: a 64-bit integer or a double held as a plain number, so that
// nested arithmetic passes numbers along without building a QVariant for each; any other
// value is held as it is.
struct WINSTEPS_EXPORT CNumericValue
{
    // LongLong or Double for a plain number; UnknownType when the value is in other.
    QMetaType::Type type = QMetaType::UnknownType;
    qlonglong integer = 0;
    double decimal = 0.0;
    // Any other value. Engaged only then: plain numbers never construct or destroy a QVariant.
    std::optional<QVariant> other;

    void set(const QVariant& value);
    void set(QVariant&& value);
    void setInteger(qlonglong n)
    {
        type = QMetaType::LongLong;
        integer = n;
    }
    void setDecimal(double d)
    {
        type = QMetaType::Double;
        decimal = d;
    }
    QVariant toVariant() const;
};

// A node of a property map's expression tree. A node evaluates either to a value or to
// an object; nothing is cached between requests. Problems found while the tree is built
// are collected as lines of text (each ending in "\n") and copied into the owner map by
// the parser; evaluation never reports errors.
class WINSTEPS_EXPORT CExpression
{
public:
    explicit CExpression(CPropertyMap* owner);
    virtual ~CExpression();
    CExpression(const CExpression&) = delete;
    CExpression& operator=(const CExpression&) = delete;

    virtual QVariant value() const = 0;
    // Not owned by the caller unless handsOverObject() says so.
    virtual CPropertyObject* object() const = 0;
    // The result of this expression is an object, not a value.
    virtual bool isObject() const = 0;
    // A result is available.
    virtual bool isSet() const;
    virtual QString errors() const;
    // Forwarded to the owner map; null without an owner.
    virtual CProperty* createVariable(const QString& name);
    virtual void addError(const QString& text);
    // Whether object() makes a new object for its caller, who then owns it (deletes it or
    // passes it on). Decided by the shape of the tree, not by the values.
    virtual bool handsOverObject() const;

    // object() together with its ownership.
    CObjectResult objectResult() const;
    // value() as arithmetic reads it; the same value, without a QVariant where the node
    // gives a plain number.
    virtual void numericValue(CNumericValue& out) const;

    CPropertyMap* owner() const { return m_owner; }

private:
    CPropertyMap* m_owner = nullptr; // not owned
    QString m_errors;
};

// A literal: a string (with every backslash-apostrophe turned into an apostrophe), a
// 64-bit integer or a double.
class WINSTEPS_EXPORT CConstExpression : public CExpression
{
public:
    CConstExpression(const QString& text, CPropertyMap* owner);
    CConstExpression(qlonglong number, CPropertyMap* owner);
    CConstExpression(double number, CPropertyMap* owner);

    QVariant value() const override;
    void numericValue(CNumericValue& out) const override;
    CPropertyObject* object() const override;
    bool isObject() const override;
    bool isSet() const override;

private:
    QVariant m_value;
    CNumericValue m_number; // the value read once for arithmetic (numbers only)
};

// A reference to a property ("$name"). Each occurrence creates its own variable in the
// owner map, which fills it before evaluation.
class WINSTEPS_EXPORT CVarExpression : public CExpression
{
public:
    CVarExpression(const QString& name, CPropertyMap* owner);

    QVariant value() const override;
    void numericValue(CNumericValue& out) const override;
    CPropertyObject* object() const override;
    bool isObject() const override;
    bool isSet() const override;

    CProperty* variable() const { return m_variable; }

private:
    CProperty* m_variable = nullptr; // belongs to the owner map
};

// A function call. Owns its parameters; an entry is null where a parameter failed to
// parse (such a tree carries errors in its map and is never evaluated).
class WINSTEPS_EXPORT CFuncExpression : public CExpression
{
public:
    CFuncExpression(const QList<CExpression*>& parameters, CPropertyMap* owner);
    ~CFuncExpression() override;

    QVariant value() const override;
    CPropertyObject* object() const override;
    // Asks object() and deletes a handed-over result.
    bool isObject() const override;
    // Null entries included.
    virtual int parameterCount() const;
    virtual bool checkParameterCount() const = 0;

    const QList<CExpression*>& parameters() const { return m_parameters; }

protected:
    // Null-safe access by position: a missing or null parameter reads as an invalid value,
    // no object and not an object. Objects are read with parameterResult(), which deletes
    // what a parameter hands over.
    CExpression* parameter(int index) const;
    QVariant parameterValue(int index) const;
    bool parameterIsObject(int index) const;
    // The parameter's object with its ownership; empty for a missing or null parameter.
    CObjectResult parameterResult(int index) const;
    // Whether the parameter hands its object over (functions that return their first
    // parameter's object pass this on).
    bool parameterHandsOverObject(int index) const;
    // Gives object to owner as its object property name; an object that owner refuses (a
    // declared property of that name) is deleted. A null object changes nothing.
    static void storeObjectProperty(CPropertyObject* owner, const QString& name, std::unique_ptr<CPropertyObject> object);

private:
    QList<CExpression*> m_parameters; // owned, entries may be null
};

// Base of the functions that work on values only: an object parameter is an error,
// reported once however many there are.
class WINSTEPS_EXPORT CFunctionNoObjectParameters : public CFuncExpression
{
public:
    CFunctionNoObjectParameters(const QList<CExpression*>& parameters, CPropertyMap* owner);
    bool isObject() const override { return false; }
};

// The accepted numbers of parameters of a function, as data: a range (maximum
// Unbounded for "or more") or, for the odd rules, a set of exact counts.
struct WINSTEPS_EXPORT CParameterCount
{
    static constexpr int Unbounded = -1;

    int minimum = 0;
    int maximum = Unbounded;
    // When non-zero, bit n set means n parameters are accepted; minimum/maximum unused.
    unsigned int exactCounts = 0;

    static constexpr CParameterCount exactly(int n) { return { n, n, 0 }; }
    static constexpr CParameterCount atLeast(int n) { return { n, Unbounded, 0 }; }
    static constexpr CParameterCount atMost(int n) { return { 0, n, 0 }; }
    static constexpr CParameterCount between(int low, int high) { return { low, high, 0 }; }
    static constexpr CParameterCount either(int a, int b) { return { 0, 0, (1u << a) | (1u << b) }; }

    bool accepts(int n) const;
    // "exactly 2", "2 or more", "4 or fewer", "2 or 3", "1 or 3".
    QString text() const;
    bool operator==(const CParameterCount& other) const;
};

// How the expression language reads plain text; shared by the parser and the functions
// that decide between integer and double arithmetic.
namespace winsteps::expressiontext {

// The whole text matches "-?[0-9]+".
bool isInteger(const QString& text);
// The whole text matches "-?[0-9]+.[0-9]+" (any one character between the digit runs).
bool isDecimal(const QString& text);
// The apostrophes of text that are not escaped: one for an apostrophe at the start, and
// one for every later apostrophe whose preceding character is not a backslash.
int quoteCount(QStringView text);

} // namespace winsteps::expressiontext
