#pragma once

#include "expression/cexpression.h"

// Values of the kinds a user interface needs: "color", "pixmap", "font", "point", "size".

class CFunctionColor : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::either(1, 3);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    QVariant value() const override;
};

class CFunctionPixmap : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(1);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    QVariant value() const override;
};

class CFunctionFont : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::atMost(4);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    QVariant value() const override;
};

class CFunctionPoint : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(2);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    QVariant value() const override;
};

class CFunctionSize : public CFunctionNoObjectParameters
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(2);
    using CFunctionNoObjectParameters::CFunctionNoObjectParameters;
    QVariant value() const override;
};
