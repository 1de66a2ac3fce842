#pragma once

// Evaluating expression texts as a property map does, and describing results compactly,
// for the tables of the function and XML tests.

#include "expression/cxpathnode.h"
#include "expression/cproperty.h"
#include "expression/cpropertymap.h"
#include "objects/cpropertyobject.h"
#include "objects/valueconversion.h"

#include <QColor>
#include <QDomElement>
#include <QFont>
#include <QLocale>
#include <QPixmap>
#include <QPoint>
#include <QSize>
#include <QStringList>

#include <memory>

namespace exprtesting {


// "TYPE:VALUE", e.g. "qlonglong:3", "QString:abc", "QStringList:[a,b]", "invalid".
inline QString describeValue(const QVariant& v)
{
    if (!v.isValid())
        return QStringLiteral("invalid");
    const QString type = QString::fromLatin1(v.typeName());
    switch (v.typeId()) {
    case QMetaType::QStringList:
        return type + QLatin1String(":[") + v.toStringList().join(QLatin1Char(',')) + QLatin1Char(']');
    case QMetaType::QVariantList: {
        QStringList items;
        for (const QVariant& e : v.toList())
            items << describeValue(e);
        return type + QLatin1String(":[") + items.join(QLatin1Char(',')) + QLatin1Char(']');
    }
    case QMetaType::Double:
        return type + QLatin1Char(':') + QString::number(v.toDouble(), 'g', QLocale::FloatingPointShortest);
    case QMetaType::QColor: {
        const QColor c = v.value<QColor>();
        return type + QLatin1Char(':') + (c.isValid() ? c.name() : QStringLiteral("invalid"));
    }
    case QMetaType::QFont: {
        const QFont f = v.value<QFont>();
        return type + QStringLiteral(":%1/%2/%3/%4").arg(f.family()).arg(f.pointSize()).arg(int(f.weight())).arg(f.italic() ? "true" : "false");
    }
    case QMetaType::QPoint:
        return type + QStringLiteral(":%1,%2").arg(v.toPoint().x()).arg(v.toPoint().y());
    case QMetaType::QSize:
        return type + QStringLiteral(":%1x%2").arg(v.toSize().width()).arg(v.toSize().height());
    case QMetaType::QPixmap: {
        const QPixmap p = v.value<QPixmap>();
        return type + QLatin1Char(':') + (p.isNull() ? QStringLiteral("null") : QStringLiteral("%1x%2").arg(p.width()).arg(p.height()));
    }
    default:
        return type + QLatin1Char(':') + v.toString();
    }
}

// "null"; "node:FULLNAME#ID" for a node (the id attribute when there is one); else
// "object:NAME{field=VALUE,child=...}" with data fields then object properties in list order.
inline QString describeObject(const CPropertyObject* object)
{
    if (!object)
        return QStringLiteral("null");
    if (const auto* node = qobject_cast<const CXPathNode*>(object)) {
        const QDomElement element = node->node().toElement();
        QString text = QLatin1String("node:") + node->fullName();
        if (!element.isNull() && element.hasAttribute(QStringLiteral("id")))
            text += QLatin1Char('#') + element.attribute(QStringLiteral("id"));
        return text;
    }
    QStringList entries;
    for (auto it = object->dataFields().cbegin(); it != object->dataFields().cend(); ++it)
        entries << it.key() + QLatin1Char('=') + it.value().toString();
    for (const QString& name : winsteps::valueconversion::objectPropertyNames(object))
        entries << name + QLatin1Char('=') + describeObject(object->objectProperty(name));
    return QLatin1String("object:") + object->objectName() + QLatin1Char('{') + entries.join(QLatin1Char(',')) + QLatin1Char('}');
}

// Fills the variables of map from source as a transition does: an object property, else a
// value, else the empty text.
inline void fillVariables(CPropertyMap& map, const CPropertyObject* source)
{
    for (CProperty* variable : map.variables()) {
        CPropertyObject* object = source ? source->objectProperty(variable->name()) : nullptr;
        const QVariant value = source ? source->property(variable->name()) : QVariant();
        if (object)
            variable->setObject(object);
        else
            variable->setValue(value.isValid() ? value : QVariant(QString(QLatin1String(""))));
    }
}

// The result of one evaluation of map, described; the map's object is taken and deleted.
inline QString evaluateOnce(CPropertyMap& map, const CPropertyObject* source)
{
    fillVariables(map, source);
    if (!map.evaluate())
        return QStringLiteral("unset");
    if (map.resultIsObject()) {
        const std::unique_ptr<CPropertyObject> object(map.takeTargetObject());
        return describeObject(object.get());
    }
    return describeValue(map.target().value());
}

// The text evaluated once against source; "error:ERRORS" for an invalid text.
inline QString evaluate(const QString& text, const CPropertyObject* source = nullptr, QObject* context = nullptr)
{
    CPropertyMap map(context, QStringLiteral("out"), text);
    if (!map.isValid())
        return QLatin1String("error:") + map.errors();
    return evaluateOnce(map, source);
}

} // namespace exprtesting
