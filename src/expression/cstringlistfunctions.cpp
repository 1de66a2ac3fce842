#include "expression/cstringlistfunctions.h"

#include "objects/valueconversion.h"

using namespace winsteps::valueconversion;

QVariant CFunctionSplit::value() const
{
    const QString text = toText(parameterValue(0));
    const QRegExp separator = pattern(toText(parameterValue(1)));
    return QVariant(separator.splitString(text, Qt::SkipEmptyParts));
}

QVariant CFunctionJoin::value() const
{
    const QStringList list = toStringList(parameterValue(0));
    const QString separator = parameterCount() >= 2 ? toText(parameterValue(1)) : QString();
    return QVariant(list.join(separator));
}

QVariant CFunctionGrep::value() const
{
    const QStringList list = toStringList(parameterValue(0));
    return QVariant(pattern(toText(parameterValue(1))).filterList(list));
}

QVariant CFunctionGres::value() const
{
    const QStringList list = toStringList(parameterValue(0));
    const QRegExp expression = pattern(toText(parameterValue(1)));
    return QVariant(expression.replaceIn(list, toText(parameterValue(2))));
}

QVariant CFunctionList::value() const
{
    return QVariant(QVariantList()); // the parameter is not evaluated
}
