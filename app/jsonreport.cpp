#include "jsonreport.h"

#include "objects/cpropertyobject.h"

#include <QColor>
#include <QFont>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPixmap>
#include <QPoint>
#include <QSaveFile>
#include <QSize>

#include <limits>

namespace winsteps::host {

namespace {

QJsonValue naturalJson(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::UnknownType:
        return QJsonValue::Null;
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
        return value.toLongLong();
    case QMetaType::ULongLong: {
        const qulonglong n = value.toULongLong();
        if (n <= qulonglong(std::numeric_limits<qint64>::max()))
            return qint64(n);
        return double(n);
    }
    case QMetaType::Double:
    case QMetaType::Float:
        return value.toDouble();
    case QMetaType::QString:
        return value.toString();
    case QMetaType::QStringList:
        return QJsonArray::fromStringList(value.toStringList());
    case QMetaType::QVariantList: {
        QJsonArray array;
        for (const QVariant& element : value.toList())
            array.append(variantToJson(element));
        return array;
    }
    case QMetaType::QVariantMap: {
        QJsonObject object;
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            object.insert(it.key(), variantToJson(it.value()));
        return object;
    }
    case QMetaType::QColor:
        return value.value<QColor>().name(QColor::HexRgb);
    case QMetaType::QFont:
        return value.value<QFont>().toString();
    case QMetaType::QPoint: {
        const QPoint p = value.toPoint();
        return QJsonObject{{QStringLiteral("x"), p.x()}, {QStringLiteral("y"), p.y()}};
    }
    case QMetaType::QSize: {
        const QSize s = value.toSize();
        return QJsonObject{{QStringLiteral("width"), s.width()}, {QStringLiteral("height"), s.height()}};
    }
    case QMetaType::QPixmap: {
        const QPixmap pixmap = value.value<QPixmap>();
        return QJsonObject{{QStringLiteral("width"), pixmap.width()}, {QStringLiteral("height"), pixmap.height()}};
    }
    default:
        if (value.canConvert<QString>())
            return value.toString();
        return QJsonValue::Null;
    }
}

} // namespace

QJsonObject variantToJson(const QVariant& value)
{
    const char* name = value.isValid() ? value.typeName() : nullptr;
    return QJsonObject{{QStringLiteral("type"), name ? QString::fromLatin1(name) : QStringLiteral("invalid")},
                       {QStringLiteral("value"), naturalJson(value)}};
}

QJsonObject propertiesToJson(const CPropertyObject* object)
{
    QJsonObject properties;
    QJsonObject objects;
    if (object) {
        // Declared properties (an XML node's fullName, nodeName, text, ...) and data fields,
        // as eval shows them; the object name is the object's "name".
        for (const QString& name : object->propertyNames()) {
            if (name != QLatin1String("objectName") && !object->hasObjectProperty(name))
                properties.insert(name, variantToJson(object->property(name)));
        }
        const QMap<QString, CPropertyObject*>& children = object->objectProperties();
        for (auto it = children.cbegin(); it != children.cend(); ++it)
            objects.insert(it.key(), objectToJson(it.value()));
    }
    return QJsonObject{{QStringLiteral("properties"), properties}, {QStringLiteral("objects"), objects}};
}

QJsonObject objectToJson(const CPropertyObject* object)
{
    if (!object)
        return {};
    QJsonObject json = propertiesToJson(object);
    json.insert(QStringLiteral("class"), QString::fromLatin1(object->metaObject()->className()));
    json.insert(QStringLiteral("name"), object->objectName());
    return json;
}

QJsonObject buildReport(const RunReport& report)
{
    QJsonArray steps;
    for (const Step& step : report.steps)
        steps.append(QJsonObject{{QStringLiteral("state"), step.state},
                                 {QStringLiteral("type"), step.type},
                                 {QStringLiteral("event"), step.event}});
    const QJsonValue finalEvent = report.timedOut ? QJsonValue(QJsonValue::Null)
                                                             : QJsonValue(report.finalEvent);
    const QJsonValue finalState = report.finalState.isEmpty() ? QJsonValue(QJsonValue::Null)
                                                              : QJsonValue(report.finalState);
    QJsonArray processes;
    for (const auto& [pid, name] : report.processes)
        processes.append(QJsonObject{{QStringLiteral("pid"), qint64(pid)}, {QStringLiteral("name"), name}});
    return QJsonObject{
        {QStringLiteral("schemaVersion"), 1},
        {QStringLiteral("wizard"), report.wizard},
        {QStringLiteral("profile"), report.profile},
        {QStringLiteral("exitStatus"), report.exitStatus},
        {QStringLiteral("steps"), steps},
        {QStringLiteral("final"), QJsonObject{{QStringLiteral("state"), finalState},
                                              {QStringLiteral("event"), finalEvent}}},
        {QStringLiteral("machine"), propertiesToJson(report.machine)},
        {QStringLiteral("application"), propertiesToJson(report.application)},
        {QStringLiteral("processes"), processes},
    };
}

bool writeJsonFile(const QString& path, const QJsonObject& json, QString* error)
{
    // Written whole or not at all: a reader never sees half a report.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)
        || file.write(QJsonDocument(json).toJson(QJsonDocument::Indented)) < 0 || !file.commit()) {
        if (error)
            *error = path + QLatin1String(": ") + file.errorString();
        return false;
    }
    return true;
}

} // namespace winsteps::host
