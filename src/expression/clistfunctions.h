#pragma once

#include "expression/cexpression.h"

// Functions over lists and over the object properties of property objects: "count",
// "element", "find", "objectlist", "makelist", "append", "remove", "merge". Most accept a
// list value or an object as their first parameter and act on whichever they get.

class CFunctionCount : public CFuncExpression
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::between(1, 2);
    using CFuncExpression::CFuncExpression;
    bool checkParameterCount() const override { return parameterRule.accepts(parameterCount()); }
    bool isObject() const override { return false; }
};

// An object when the first parameter is one, else a value.
class CFunctionElement : public CFuncExpression
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(2);
    using CFuncExpression::CFuncExpression;
    bool checkParameterCount() const override { return parameterRule.accepts(parameterCount()); }
    bool isObject() const override;
};

class CFunctionFind : public CFuncExpression
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(2);
    using CFuncExpression::CFuncExpression;
    bool checkParameterCount() const override { return parameterRule.accepts(parameterCount()); }
    bool isObject() const override { return false; }
};

// Always an object: a new, empty list object, kept until the next evaluation.
class CFunctionObjectList : public CFuncExpression
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(1);
    using CFuncExpression::CFuncExpression;
    ~CFunctionObjectList() override;
    bool checkParameterCount() const override { return parameterRule.accepts(parameterCount()); }
    bool isObject() const override { return true; }

protected:
    mutable CPropertyObject* m_result = nullptr; // owned: the last evaluation's object
};

// An object when any parameter is one (kept until the next evaluation), else a value.
class CFunctionMakeList : public CFuncExpression
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::atLeast(1);
    using CFuncExpression::CFuncExpression;
    ~CFunctionMakeList() override;
    bool checkParameterCount() const override { return parameterRule.accepts(parameterCount()); }
    bool isObject() const override;

protected:
    mutable CPropertyObject* m_result = nullptr; // owned: the last evaluation's object
};

// An object when the first parameter is one, else a value.
class CFunctionAppend : public CFuncExpression
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::atLeast(2);
    using CFuncExpression::CFuncExpression;
    bool checkParameterCount() const override { return parameterRule.accepts(parameterCount()); }
    bool isObject() const override;
};

// An object when the first parameter is one, else a value.
class CFunctionRemove : public CFuncExpression
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(2);
    using CFuncExpression::CFuncExpression;
    bool checkParameterCount() const override { return parameterRule.accepts(parameterCount()); }
    bool isObject() const override;
};

// An object when the first parameter is one, else a value.
class CFunctionMerge : public CFuncExpression
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(2);
    using CFuncExpression::CFuncExpression;
    bool checkParameterCount() const override { return parameterRule.accepts(parameterCount()); }
    bool isObject() const override;
};
