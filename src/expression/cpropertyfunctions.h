#pragma once

#include "expression/cexpression.h"

// Reading and writing the properties of a property object: "property", "setproperty",
// "propertylist".

// An object when the first parameter's object has an object property of the given name,
// else a value.
class CFunctionGetproperty : public CFuncExpression
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(2);
    using CFuncExpression::CFuncExpression;
    bool checkParameterCount() const override { return parameterRule.accepts(parameterCount()); }
};

// Always an object: the first parameter's object after the property was set.
class CFunctionSetproperty : public CFuncExpression
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(3);
    using CFuncExpression::CFuncExpression;
    bool checkParameterCount() const override { return parameterRule.accepts(parameterCount()); }
    bool isObject() const override { return true; }
};

class CFunctionPropertyList : public CFuncExpression
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(1);
    using CFuncExpression::CFuncExpression;
    bool checkParameterCount() const override { return parameterRule.accepts(parameterCount()); }
    bool isObject() const override { return false; }
};
