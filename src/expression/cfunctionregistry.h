#pragma once

#include "expression/cexpression.h"
#include "winsteps_export.h"

#include <QList>
#include <QString>

// One function of the expression language: its name as written in expressions, the
// numbers of parameters it accepts, a one-line description and its factory.
struct WINSTEPS_EXPORT CFunctionEntry
{
    using Factory = CFuncExpression* (*)(const QList<CExpression*>& parameters, CPropertyMap* owner);

    const char* name;
    CParameterCount parameterCount;
    const char* description;
    Factory create;
};

// The function registry: one fixed table binding function names to function classes. Each
// function class states the numbers of parameters it accepts once, as its
// `static constexpr CParameterCount parameterRule`; the table's rows and the count check of
// the functions the registry builds read that rule. A function class is abstract on its own:
// only the registry makes functions.
namespace winsteps::functionRegistry {

// Every function, in lookup order.
WINSTEPS_EXPORT const QList<CFunctionEntry>& entries();

// The entry whose name equals name exactly (case-sensitive); null when there is none.
WINSTEPS_EXPORT const CFunctionEntry* find(const QString& name);

// Builds the function bound to name over parameters (which it then owns) and checks the
// number of parameters: a count the function does not accept is recorded in the new
// expression's errors as "'<name>' function has invalid number of parameters.". The
// expression is returned also when it carries errors. Null, with parameters left to the
// caller, when no function has that name.
WINSTEPS_EXPORT CFuncExpression* create(const QString& name, const QList<CExpression*>& parameters,
                                        CPropertyMap* owner);

} // namespace winsteps::functionRegistry
