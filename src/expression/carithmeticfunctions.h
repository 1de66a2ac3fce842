#pragma once

#include "expression/cexpression.h"

// Arithmetic on 64-bit integers and doubles: "add", "multiply", "divide", "negate".

class CFunctionAdd : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::atLeast(2);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    bool checkParameterCount() const override { return parameterRule.accepts(parameterCount()); }

    // The type the arithmetic is done in: UnknownType (none yet), LongLong or Double.
    QMetaType::Type numericKind() const { return m_numericKind; }

protected:
    // Decided while the parameters are read, starting from the previous evaluation's kind.
    mutable QMetaType::Type m_numericKind = QMetaType::UnknownType;
};

class CFunctionMultiply : public CFunctionAdd
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::atLeast(2);
    using CFunctionAdd::CFunctionAdd;
    bool checkParameterCount() const override { return parameterRule.accepts(parameterCount()); }
};

class CFunctionDivide : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(2);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    bool checkParameterCount() const override { return parameterRule.accepts(parameterCount()); }
};

class CFunctionNegate : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(1);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    bool checkParameterCount() const override { return parameterRule.accepts(parameterCount()); }
};
