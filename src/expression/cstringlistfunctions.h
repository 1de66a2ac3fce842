#pragma once

#include "expression/cexpression.h"

// String-list and regular-expression functions: "split", "join", "grep", "gres", "list".

class CFunctionSplit : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(2);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    QVariant value() const override;
};

class CFunctionJoin : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::between(1, 2);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    QVariant value() const override;
};

class CFunctionGrep : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(2);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    QVariant value() const override;
};

class CFunctionGres : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(3);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    QVariant value() const override;
};

class CFunctionList : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(1);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    QVariant value() const override;
};
