#pragma once

#include "expression/cexpression.h"

// Reading and writing the properties of a property object: "property", "setproperty",
// "propertylist".

// An object when the first parameter's object has an object property of the given name,
// else a value. The object is a child of the first parameter's object, so it is handed
// over (as a copy) exactly when the first parameter hands its object over.
class CFunctionGetproperty : public CFuncExpression
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(2);
    using CFuncExpression::CFuncExpression;
    bool isObject() const override;
    QVariant value() const override;
    CPropertyObject* object() const override;
    bool handsOverObject() const override { return parameterHandsOverObject(0); }
};

// Always an object: the first parameter's object after the property was set.
class CFunctionSetproperty : public CFuncExpression
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(3);
    using CFuncExpression::CFuncExpression;
    bool isObject() const override { return true; }
    CPropertyObject* object() const override;
    bool handsOverObject() const override { return parameterHandsOverObject(0); }
};

class CFunctionPropertyList : public CFuncExpression
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(1);
    using CFuncExpression::CFuncExpression;
    bool isObject() const override { return false; }
    QVariant value() const override;
};
