#pragma once

#include "expression/cexpression.h"
#include "expression/cxpathnode.h"

// Functions that search and edit an XML document held in DOM form through the node
// objects that their parameters give: "findfirstnode", "findnodes", "setattribute",
// "appendchild", "removechild", "insertbefore", "insertafter", "xmltostring".
//
// "findnodes" and "findfirstnode" hand new objects to their caller. The editing functions
// give their first parameter's node object, so they hand it over exactly when their first
// parameter does. Edits go through shared DOM handles: every node object of the document
// sees them. An edit that would break the document (a node put inside itself, a second
// root element, an invalid element or attribute name) is not made.

// Base of the XML document functions.
class WINSTEPS_EXPORT CXmlFunction : public CFuncExpression
{
public:
    using CFuncExpression::CFuncExpression;

    // The nodes of a node list, with the object that holds them.
    struct NodeList
    {
        CObjectResult holder;
        QList<CXPathNode*> nodes;
    };

    // The parameter's object when it is a node, with its ownership; empty otherwise (a
    // handed-over object that is no node is deleted).
    virtual CObjectResult nodeParameter(int index) const;
    // The object properties of the parameter's object that are nodes, in list order.
    virtual NodeList nodeListParameter(int index) const;

protected:
    // The node objects among the object properties of list, in list order.
    static QList<CXPathNode*> nodesOf(const CPropertyObject* list);
};

// Base of the editing functions: always an object, their first parameter's node object.
class WINSTEPS_EXPORT CXmlEditFunction : public CXmlFunction
{
public:
    using CXmlFunction::CXmlFunction;
    bool isObject() const override { return true; }
    bool handsOverObject() const override { return parameterHandsOverObject(0); }
};

class CFunctionFindFirstNode : public CXmlFunction
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(2);
    using CXmlFunction::CXmlFunction;
    bool isObject() const override { return true; }
    CPropertyObject* object() const override;
    bool handsOverObject() const override { return true; }
};

// A list object "nodeList" with the found nodes as node0, node1, ...; null when none.
class CFunctionFindNodes : public CXmlFunction
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(2);
    using CXmlFunction::CXmlFunction;
    bool isObject() const override { return true; }
    CPropertyObject* object() const override;
    bool handsOverObject() const override { return true; }
};

class CFunctionSetAttribute : public CXmlEditFunction
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(3);
    using CXmlEditFunction::CXmlEditFunction;
    CPropertyObject* object() const override;
};

class CFunctionAppendChild : public CXmlEditFunction
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(2);
    using CXmlEditFunction::CXmlEditFunction;
    CPropertyObject* object() const override;
};

class CFunctionRemoveChild : public CXmlEditFunction
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(2);
    using CXmlEditFunction::CXmlEditFunction;
    CPropertyObject* object() const override;
};

class CFunctionInsertBefore : public CXmlEditFunction
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(3);
    using CXmlEditFunction::CXmlEditFunction;
    CPropertyObject* object() const override;
};

class CFunctionInsertAfter : public CXmlEditFunction
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(3);
    using CXmlEditFunction::CXmlEditFunction;
    CPropertyObject* object() const override;
};

// A value: the text of the whole document.
class CFunctionXmlToString : public CXmlFunction
{
public:
    static constexpr CParameterCount parameterRule = CParameterCount::exactly(1);
    using CXmlFunction::CXmlFunction;
    bool isObject() const override { return false; }
    QVariant value() const override;
};
