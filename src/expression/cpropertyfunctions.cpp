#include "expression/cpropertyfunctions.h"

#include "objects/valueconversion.h"
#include "objects/cpropertyobject.h"

using namespace winsteps::valueconversion;

bool CFunctionGetproperty::isObject() const
{
    if (!checkParameterCount())
        return false;
    const CObjectResult owner = parameterResult(0);
    return owner.get() && owner.get()->hasObjectProperty(toText(parameterValue(1)));
}

QVariant CFunctionGetproperty::value() const
{
    const CObjectResult owner = parameterResult(0);
    const QString name = toText(parameterValue(1));
    return owner.get() ? owner.get()->property(name) : QVariant();
}

CPropertyObject* CFunctionGetproperty::object() const
{
    const CObjectResult owner = parameterResult(0);
    const QString name = toText(parameterValue(1));
    if (!owner.get())
        return nullptr;
    CPropertyObject* child = owner.get()->objectProperty(name);
    // A child of a handed-over object goes with it: hand over a copy instead.
    return owner.isHandedOver() && child ? child->clone() : child;
}

CPropertyObject* CFunctionSetproperty::object() const
{
    CObjectResult owner = parameterResult(0);
    const QString name = toText(parameterValue(1));
    CObjectResult newObject = parameterResult(2);
    // The third parameter may have deleted the owner (through a property of its own owner).
    if (!owner.get())
        return nullptr;
    if (newObject.get())
        storeObjectProperty(owner.get(), name, newObject.takeOrClone());
    else
        owner.get()->setProperty(name, parameterValue(2));
    return owner.release();
}

QVariant CFunctionPropertyList::value() const
{
    const CObjectResult owner = parameterResult(0);
    return QVariant(owner.get() ? owner.get()->propertyNames() : QStringList());
}
