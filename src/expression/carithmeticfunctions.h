#pragma once

#include "expression/cexpression.h"

// Arithmetic on 64-bit integers and doubles: "add", "multiply", "divide", "negate".

class CFunctionAdd : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::atLeast(2);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    QVariant value() const override;
    void numericValue(CNumericValue& out) const override;

    // The type the last evaluation did its arithmetic in: UnknownType (none), LongLong or
    // Double.
    QMetaType::Type numericKind() const { return m_numericKind; }

protected:
    // The sum or the product of all parameters, in the kind decided from their values.
    // Every evaluation starts from UnknownType, so its result type depends on its own
    // values only; without a kind the result is the integer 0.
    void combine(CNumericValue& out, bool multiply) const;

    mutable QMetaType::Type m_numericKind = QMetaType::UnknownType;
};

class CFunctionMultiply : public CFunctionAdd
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::atLeast(2);
    using CFunctionAdd::CFunctionAdd;
    void numericValue(CNumericValue& out) const override;
};

class CFunctionDivide : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(2);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    QVariant value() const override;
};

class CFunctionNegate : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(1);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    QVariant value() const override;
};
