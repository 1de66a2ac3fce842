#pragma once

#include "expression/cexpression.h"

// Functions over lists and over the object properties of property objects: "count",
// "element", "find", "objectlist", "makelist", "append", "remove", "merge". Most accept a
// list value or an object as their first parameter and act on whichever they get.
//
// The object properties of an object are taken in list order (winsteps::valueconversion::
// objectPropertyNames): "node2" before "node10".
//
// Ownership of the objects they give: "objectlist" and "makelist" keep their object until
// their next evaluation; "remove" hands a new object to its caller; "append" and "merge"
// give their first parameter's object, and "element" a child of it, so they hand over
// exactly when their first parameter does (a child is then cloned out of the list).

class CFunctionCount : public CFuncExpression
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::between(1, 2);
    using CFuncExpression::CFuncExpression;
    bool isObject() const override { return false; }
    QVariant value() const override;
};

// An object when the first parameter is one, else a value.
class CFunctionElement : public CFuncExpression
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(2);
    using CFuncExpression::CFuncExpression;
    bool isObject() const override;
    QVariant value() const override;
    CPropertyObject* object() const override;
    bool handsOverObject() const override { return parameterHandsOverObject(0); }
};

class CFunctionFind : public CFuncExpression
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(2);
    using CFuncExpression::CFuncExpression;
    bool isObject() const override { return false; }
    QVariant value() const override;
};

// Always an object: a new, empty list object, kept until the next evaluation.
class CFunctionObjectList : public CFuncExpression
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(1);
    using CFuncExpression::CFuncExpression;
    bool isObject() const override { return true; }
    CPropertyObject* object() const override;

protected:
    mutable std::unique_ptr<CPropertyObject> m_result; // the last evaluation's object
};

// An object when any parameter is one (kept until the next evaluation), else a value.
class CFunctionMakeList : public CFuncExpression
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::atLeast(1);
    using CFuncExpression::CFuncExpression;
    bool isObject() const override;
    QVariant value() const override;
    CPropertyObject* object() const override;

protected:
    mutable std::unique_ptr<CPropertyObject> m_result; // the last evaluation's object
};

// An object when the first parameter is one, else a value.
class CFunctionAppend : public CFuncExpression
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::atLeast(2);
    using CFuncExpression::CFuncExpression;
    bool isObject() const override;
    QVariant value() const override;
    CPropertyObject* object() const override;
    bool handsOverObject() const override { return parameterHandsOverObject(0); }
};

// An object when the first parameter is one, else a value. The object is always new.
class CFunctionRemove : public CFuncExpression
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(2);
    using CFuncExpression::CFuncExpression;
    bool isObject() const override;
    QVariant value() const override;
    CPropertyObject* object() const override;
    bool handsOverObject() const override { return true; }
};

// An object when the first parameter is one, else a value.
class CFunctionMerge : public CFuncExpression
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(2);
    using CFuncExpression::CFuncExpression;
    bool isObject() const override;
    QVariant value() const override;
    CPropertyObject* object() const override;
    bool handsOverObject() const override { return parameterHandsOverObject(0); }
};
