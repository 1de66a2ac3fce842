#pragma once

#include "expression/cexpression.h"

// Text functions: "concat", "uppercase", "lowercase", "replace", "substr", "pos", "len",
// "section", "safexml", "tr".

class CFunctionConcat : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::atLeast(2);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    bool checkParameterCount() const override { return parameterRule.accepts(parameterCount()); }
};

class CFunctionUppercase : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(1);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    bool checkParameterCount() const override { return parameterRule.accepts(parameterCount()); }
};

class CFunctionLowercase : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(1);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    bool checkParameterCount() const override { return parameterRule.accepts(parameterCount()); }
};

class CFunctionReplace : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(3);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    bool checkParameterCount() const override { return parameterRule.accepts(parameterCount()); }
};

class CFunctionSubstr : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::between(2, 3);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    bool checkParameterCount() const override { return parameterRule.accepts(parameterCount()); }
};

class CFunctionPos : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::between(2, 3);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    bool checkParameterCount() const override { return parameterRule.accepts(parameterCount()); }
};

class CFunctionLen : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(1);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    bool checkParameterCount() const override { return parameterRule.accepts(parameterCount()); }
};

class CFunctionSection : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::between(3, 4);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    bool checkParameterCount() const override { return parameterRule.accepts(parameterCount()); }
};

class CFunctionSafeXML : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(1);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    bool checkParameterCount() const override { return parameterRule.accepts(parameterCount()); }
};

class CFunctionTr : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(1);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    bool checkParameterCount() const override { return parameterRule.accepts(parameterCount()); }
};
