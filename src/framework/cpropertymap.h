#pragma once

#include "framework/cproperty.h"
#include "winsteps_export.h"

#include <QList>
#include <QString>

class CExpression;
class CFuncExpression;
class QObject;

// One assignment of a transition: an expression over source properties whose result is
// stored into the target. The constructor parses the function text; parse errors are
// collected in errors() and make the map invalid (an invalid map is never evaluated).
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
    QString m_errors;
    QObject* m_context = nullptr;
    int m_depth = 0; // current parse nesting
};
