#pragma once

#include "winsteps_export.h"

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringView>
#include <QVariant>

class CProperty;
class CPropertyMap;
class CPropertyObject;

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
    // Not owned by the caller unless the function says otherwise.
    virtual CPropertyObject* object() const = 0;
    // The result of this expression is an object, not a value.
    virtual bool isObject() const = 0;
    // A result is available.
    virtual bool isSet() const;
    virtual QString errors() const;
    // Forwarded to the owner map; null without an owner.
    virtual CProperty* createVariable(const QString& name);
    virtual void addError(const QString& text);

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
    CPropertyObject* object() const override;
    bool isObject() const override;
    bool isSet() const override;

private:
    QVariant m_value;
};

// A reference to a property ("$name"). Each occurrence creates its own variable in the
// owner map, which fills it before evaluation.
class WINSTEPS_EXPORT CVarExpression : public CExpression
{
public:
    CVarExpression(const QString& name, CPropertyMap* owner);

    QVariant value() const override;
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
    bool isObject() const override;
    // Null entries included.
    virtual int parameterCount() const;
    virtual bool checkParameterCount() const = 0;

    const QList<CExpression*>& parameters() const { return m_parameters; }

protected:
    // Null-safe access by position: a missing or null parameter reads as an invalid value,
    // a null object and not an object.
    CExpression* parameter(int index) const;
    QVariant parameterValue(int index) const;
    CPropertyObject* parameterObject(int index) const;
    bool parameterIsObject(int index) const;

private:
    QList<CExpression*> m_parameters; // owned, entries may be null
};

// Base of the functions that work on values only: an object parameter is an error,
// reported once however many there are.
class WINSTEPS_EXPORT CFunctionNoObjectParameters : public CFuncExpression
{
public:
    CFunctionNoObjectParameters(const QList<CExpression*>& parameters, CPropertyMap* owner);
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
namespace expressiontext {

// The whole text matches "-?[0-9]+".
bool isInteger(const QString& text);
// The whole text matches "-?[0-9]+.[0-9]+" (any one character between the digit runs).
bool isDecimal(const QString& text);
// The apostrophes of text that are not escaped: one for an apostrophe at the start, and
// one for every later apostrophe whose preceding character is not a backslash.
int quoteCount(QStringView text);

} // namespace expressiontext
