#pragma once

#include "expression/cexpression.h"

// Functions that search and edit an XML document held in DOM form through the node
// objects that their parameters give: "findfirstnode", "findnodes", "setattribute",
// "appendchild", "removechild", "insertbefore", "insertafter", "xmltostring".

// Base of the XML document functions.
class WINSTEPS_EXPORT CXmlFunction : public CFuncExpression
{
public:
    using CFuncExpression::CFuncExpression;
};

// The classes below that always give an object say so at build time, so that a value
// function given one of them as a parameter reports the object parameter.

class CFunctionFindFirstNode : public CXmlFunction
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(2);
    using CXmlFunction::CXmlFunction;
    bool checkParameterCount() const override { return parameterRule.accepts(parameterCount()); }
    bool isObject() const override { return true; }
};

class CFunctionFindNodes : public CXmlFunction
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(2);
    using CXmlFunction::CXmlFunction;
    bool checkParameterCount() const override { return parameterRule.accepts(parameterCount()); }
    bool isObject() const override { return true; }
};

class CFunctionSetAttribute : public CXmlFunction
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(3);
    using CXmlFunction::CXmlFunction;
    bool checkParameterCount() const override { return parameterRule.accepts(parameterCount()); }
    bool isObject() const override { return true; }
};

class CFunctionAppendChild : public CXmlFunction
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(2);
    using CXmlFunction::CXmlFunction;
    bool checkParameterCount() const override { return parameterRule.accepts(parameterCount()); }
    bool isObject() const override { return true; }
};

class CFunctionRemoveChild : public CXmlFunction
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(2);
    using CXmlFunction::CXmlFunction;
    bool checkParameterCount() const override { return parameterRule.accepts(parameterCount()); }
    bool isObject() const override { return true; }
};

class CFunctionInsertBefore : public CXmlFunction
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(3);
    using CXmlFunction::CXmlFunction;
    bool checkParameterCount() const override { return parameterRule.accepts(parameterCount()); }
    bool isObject() const override { return true; }
};

class CFunctionInsertAfter : public CXmlFunction
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(3);
    using CXmlFunction::CXmlFunction;
    bool checkParameterCount() const override { return parameterRule.accepts(parameterCount()); }
    bool isObject() const override { return true; }
};

// A value: the text of the whole document.
class CFunctionXmlToString : public CXmlFunction
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(1);
    using CXmlFunction::CXmlFunction;
    bool checkParameterCount() const override { return parameterRule.accepts(parameterCount()); }
    bool isObject() const override { return false; }
};
