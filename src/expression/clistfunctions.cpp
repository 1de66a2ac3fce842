#include "expression/clistfunctions.h"

#include "objects/valueconversion.h"
#include "objects/cpropertyobject.h"

using namespace winsteps::valueconversion;

// "element", "append", "remove" and "merge" give an object exactly when they are called
// correctly and their first parameter gives one.
static bool firstParameterIsObject(const CFuncExpression& function)
{
    return function.checkParameterCount() && function.parameters().value(0)
        && function.parameters().value(0)->isObject();
}

// --- count ---

QVariant CFunctionCount::value() const
{
    const CObjectResult first = parameterResult(0);
    if (const CPropertyObject* object = first.get()) {
        const QStringList names = objectPropertyNames(object);
        if (parameterCount() < 2)
            return QVariant(int(names.size()));
        const QRegExp expression = pattern(toText(parameterValue(1)));
        int count = 0;
        for (const QString& name : names) {
            if (matches(expression, name))
                ++count;
        }
        return QVariant(count);
    }

    const QVariantList list = toList(parameterValue(0));
    if (parameterCount() < 2)
        return QVariant(qulonglong(list.size()));
    const QVariant wanted = parameterValue(1);
    int count = 0;
    for (const QVariant& element : list) {
        if (sameValue(element, wanted))
            ++count;
    }
    return QVariant(count);
}

// --- element ---

bool CFunctionElement::isObject() const
{
    return firstParameterIsObject(*this);
}

QVariant CFunctionElement::value() const
{
    const QVariantList list = toList(parameterValue(0));
    const qlonglong index = toLongLong(parameterValue(1));
    if (index < 0 || index >= list.size())
        return QVariant();
    return list.at(qsizetype(index));
}

CPropertyObject* CFunctionElement::object() const
{
    const CObjectResult first = parameterResult(0);
    const qlonglong index = toLongLong(parameterValue(1));
    const CPropertyObject* list = first.get();
    if (!list)
        return nullptr;
    const QStringList names = objectPropertyNames(list);
    if (index < 0 || index >= names.size())
        return nullptr;
    CPropertyObject* element = list->objectProperty(names.at(qsizetype(index)));
    // A child of a handed-over list goes with the list: hand over a copy instead.
    return first.isHandedOver() && element ? element->clone() : element;
}

// --- find ---

QVariant CFunctionFind::value() const
{
    const CObjectResult first = parameterResult(0);
    if (const CPropertyObject* object = first.get()) {
        const QRegExp expression = pattern(toText(parameterValue(1)));
        for (const QString& name : objectPropertyNames(object)) {
            if (matches(expression, name))
                return QVariant(name);
        }
        return QVariant();
    }
    const QVariantList list = toList(parameterValue(0));
    const QRegExp expression = pattern(toText(parameterValue(1)));
    for (const QVariant& element : list) {
        if (matches(expression, toText(element)))
            return element;
    }
    return QVariant();
}

// --- objectlist ---

CPropertyObject* CFunctionObjectList::object() const
{
    m_result = std::make_unique<CPropertyObject>();
    return m_result.get();
}

// --- makelist ---

bool CFunctionMakeList::isObject() const
{
    for (int i = 0; i < parameterCount(); ++i) {
        if (parameterIsObject(i))
            return true;
    }
    return false;
}

QVariant CFunctionMakeList::value() const
{
    QVariantList list;
    for (int i = 0; i < parameterCount(); ++i) {
        if (parameterIsObject(i))
            return QVariant();
        list << parameterValue(i);
    }
    return QVariant(list);
}

CPropertyObject* CFunctionMakeList::object() const
{
    m_result.reset();
    for (int i = 0; i < parameterCount(); ++i) {
        CObjectResult element = parameterResult(i);
        if (!element.get())
            continue;
        if (!m_result)
            m_result = std::make_unique<CPropertyObject>();
        const QString name = element.get()->objectName();
        storeObjectProperty(m_result.get(), name, element.takeOrClone());
    }
    return m_result.get();
}

// --- append ---

bool CFunctionAppend::isObject() const
{
    return firstParameterIsObject(*this);
}

QVariant CFunctionAppend::value() const
{
    QVariantList list = toList(parameterValue(0));
    for (int i = 1; i < parameterCount(); ++i) {
        if (!parameterIsObject(i))
            list << parameterValue(i);
    }
    return QVariant(list);
}

CPropertyObject* CFunctionAppend::object() const
{
    CObjectResult target = parameterResult(0);
    if (!target.get())
        return nullptr;
    for (int i = 1; i < parameterCount(); ++i) {
        CObjectResult addition = parameterResult(i);
        // A later parameter may have deleted the target (through a property of its owner).
        if (!target.get())
            return nullptr;
        if (!addition.get())
            continue;
        const QString name = addition.get()->objectName();
        storeObjectProperty(target.get(), name, addition.takeOrClone());
    }
    return target.release();
}

// --- remove ---

bool CFunctionRemove::isObject() const
{
    return firstParameterIsObject(*this);
}

QVariant CFunctionRemove::value() const
{
    const QStringList list = toStringList(parameterValue(0));
    const QRegExp expression = pattern(toText(parameterValue(1)));
    QStringList kept;
    for (const QString& s : list) {
        if (!matches(expression, s))
            kept << s;
    }
    return QVariant(kept);
}

CPropertyObject* CFunctionRemove::object() const
{
    CObjectResult source = parameterResult(0);
    const QRegExp expression = pattern(toText(parameterValue(1)));
    // A handed-over object is changed itself; anything else is copied first.
    std::unique_ptr<CPropertyObject> copy = source.takeOrClone();
    if (!copy)
        return nullptr;
    for (const QString& name : copy->propertyNames()) {
        if (matches(expression, name))
            copy->removeProperty(name);
    }
    return copy.release(); // handed over to the caller
}

// --- merge ---

bool CFunctionMerge::isObject() const
{
    return firstParameterIsObject(*this);
}

QVariant CFunctionMerge::value() const
{
    const QVariant first = parameterValue(0);
    if (!first.isValid())
        return QVariant();
    return QVariant(toList(first) + toList(parameterValue(1)));
}

CPropertyObject* CFunctionMerge::object() const
{
    CObjectResult target = parameterResult(0);
    const CObjectResult source = parameterResult(1);
    if (!target.get())
        return nullptr;
    if (const CPropertyObject* from = source.get()) {
        for (const QString& name : objectPropertyNames(from)) {
            if (target.get()->exists(name))
                continue;
            if (const CPropertyObject* object = from->objectProperty(name))
                storeObjectProperty(target.get(), name, std::unique_ptr<CPropertyObject>(object->clone()));
        }
    }
    return target.release();
}
