#pragma once

#include "expression/cexpression.h"

// Text functions: "concat", "uppercase", "lowercase", "replace", "substr", "pos", "len",
// "section", "safexml", "tr".

class CFunctionConcat : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::atLeast(2);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    QVariant value() const override;
};

class CFunctionUppercase : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(1);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    QVariant value() const override;
};

class CFunctionLowercase : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(1);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    QVariant value() const override;
};

class CFunctionReplace : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(3);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    QVariant value() const override;
};

class CFunctionSubstr : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::between(2, 3);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    QVariant value() const override;
};

class CFunctionPos : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::between(2, 3);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    QVariant value() const override;
};

class CFunctionLen : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(1);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    QVariant value() const override;
};

class CFunctionSection : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::between(3, 4);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    QVariant value() const override;
};

class CFunctionSafeXML : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(1);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    QVariant value() const override;
};

class CFunctionTr : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(1);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    QVariant value() const override;
};
