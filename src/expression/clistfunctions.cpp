#include "expression/clistfunctions.h"

#include "framework/cpropertyobject.h"

// "element", "append", "remove" and "merge" give an object exactly when they are called
// correctly and their first parameter gives one.
static bool firstParameterIsObject(const CFuncExpression& function)
{
    return function.checkParameterCount() && function.parameters().value(0)
        && function.parameters().value(0)->isObject();
}

bool CFunctionElement::isObject() const
{
    return firstParameterIsObject(*this);
}

CFunctionObjectList::~CFunctionObjectList()
{
    delete m_result;
}

CFunctionMakeList::~CFunctionMakeList()
{
    delete m_result;
}

bool CFunctionMakeList::isObject() const
{
    for (int i = 0; i < parameterCount(); ++i) {
        if (parameterIsObject(i))
            return true;
    }
    return false;
}

bool CFunctionAppend::isObject() const
{
    return firstParameterIsObject(*this);
}

bool CFunctionRemove::isObject() const
{
    return firstParameterIsObject(*this);
}

bool CFunctionMerge::isObject() const
{
    return firstParameterIsObject(*this);
}
