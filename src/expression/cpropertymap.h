#pragma once

#include "expression/cproperty.h"
#include "winsteps_export.h"

#include <QList>
#include <QString>

#include <memory>

class CExpression;
class CFuncExpression;
class CPropertyObject;
class QObject;

// One assignment of a transition: an expression over source properties whose result is
// stored into the target. The constructor parses the function text; parse errors are
// collected in errors() and make the map invalid (an invalid map is never evaluated).
//
// Objects: after evaluate() the target holds the expression's object. When the expression
// made that object for its caller (handed it over), the map owns it until
// takeTargetObject() or the next evaluation; otherwise it belongs to the expression or to
// a source, and takeTargetObject() gives a clone. Either way a receiver gets an object of
// its own.
class WINSTEPS_EXPORT CPropertyMap
{
public:
    CPropertyMap(QObject* context, const QString& target, const QString& function);
    virtual ~CPropertyMap();
    CPropertyMap(const CPropertyMap&) = delete;
    CPropertyMap& operator=(const CPropertyMap&) = delete;

    virtual CProperty target() const;
    virtual QList<CProperty*>& variables();
    virtual CProperty* createVariable(const QString& text);
    // Evaluates the expression into the target. False (target unchanged) when the map is
    // invalid or its root has no result.
    virtual bool evaluate();
    // An object of a receiver's own: the evaluation's own object when the expression handed
    // it over, else a clone of the target's object. Null when the target holds no object.
    // The target is left not set.
    std::unique_ptr<CPropertyObject> takeTargetObject();
    // The last successful evaluation gave an object (which may be null), not a value.
    bool resultIsObject() const { return m_resultIsObject; }
    // Makes every variable not set again (before they are filled for an evaluation), so
    // that none keeps an object from an earlier one.
    void resetVariables();
    virtual bool isValid() const;
    virtual QString errors() const;
    virtual QString translate(const QString& text) const;

    // The parser (its own source file). parse() returns a tree owned by the caller, or null.
    virtual CExpression* parse(const QString& text);
    virtual QList<CExpression*> splitParameters(const QString& parameterText);
    virtual CFuncExpression* createFunction(const QString& name, const QString& parameterText);
    virtual void addError(const QString& text);

    static int countOutsideQuotes(const QString& text, const QString& sub);

    CExpression* root() const { return m_root; }
    QObject* context() const { return m_context; }

    // Deepest nesting of parentheses the parser accepts; deeper text is "Invalid expression".
    static constexpr int MaxNesting = 256;

private:
    CProperty m_target;
    QList<CProperty*> m_variables; // owned
    CExpression* m_root = nullptr; // owned
    std::unique_ptr<CPropertyObject> m_handedOver; // the last evaluation's own object, if any
    bool m_resultIsObject = false;
    QString m_errors;
    QObject* m_context = nullptr;
    int m_depth = 0; // current parse nesting
};
