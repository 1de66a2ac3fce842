#include "objects/cpropertyobject.h"

#include "objects/valueconversion.h"
#include "objects/ctag.h"

#include <QMetaProperty>
#include <QVarLengthArray>

CPropertyObject::CPropertyObject(QObject* parent, const char* name)
    : CObject(parent, name)
{
}

CPropertyObject::CPropertyObject(const CPropertyObject& source)
    : CObject(nullptr, nullptr)
    , m_dataFields(source.m_dataFields)
{
    setObjectName(source.objectName());
    for (auto it = source.m_objects.cbegin(); it != source.m_objects.cend(); ++it)
        m_objects.insert(it.key(), it.value()->clone());
}

CPropertyObject::~CPropertyObject()
{
    qDeleteAll(m_objects);
}

CPropertyObject* CPropertyObject::clone() const
{
    return new CPropertyObject(*this);
}

bool CPropertyObject::isDeclaredProperty(const QString& name) const
{
    // Asked on every property read and write: the usual short ASCII name is converted on
    // the stack instead of into a new array.
    QVarLengthArray<char, 64> ascii;
    const qsizetype size = name.size();
    ascii.resize(size + 1);
    const QChar* chars = name.constData();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t unit = chars[i].unicode();
        // The meta-object reads names as C strings: a name with a NUL would be cut there
        // and pass for the declared property before it. No declared name holds one.
        if (unit == 0)
            return false;
        if (unit >= 0x80)
            return metaObject()->indexOfProperty(name.toUtf8().constData()) >= 0;
        ascii[i] = char(unit);
    }
    ascii[size] = '\0';
    return metaObject()->indexOfProperty(ascii.constData()) >= 0;
}

QStringList CPropertyObject::propertyNames() const
{
    QStringList names;
    const QMetaObject* meta = metaObject();
    for (int i = 0; i < meta->propertyCount(); ++i)
        names << QString::fromLatin1(meta->property(i).name());
    names << m_dataFields.keys();
    // In the order that the list functions walk object properties (node2 before node10).
    names << winsteps::valueconversion::objectPropertyNames(this);
    return names;
}

bool CPropertyObject::setProperty(const QString& name, const QVariant& value)
{
    if (isDeclaredProperty(name))
        return QObject::setProperty(name.toUtf8().constData(), value);
    if (m_objects.contains(name) && !removeProperty(name))
        return false;
    m_dataFields.insert(name, value);
    return true;
}

QVariant CPropertyObject::property(const QString& name) const
{
    if (isDeclaredProperty(name))
        return QObject::property(name.toUtf8().constData());
    return m_dataFields.value(name);
}

bool CPropertyObject::setObjectProperty(const QString& name, CPropertyObject* object)
{
    if (!object)
        return setProperty(name, QVariant(int(0)));
    if (isDeclaredProperty(name))
        return false;
    if (m_dataFields.contains(name) && !removeProperty(name))
        return false;
    CPropertyObject* previous = m_objects.value(name);
    if (previous == object)
        return true;
    m_objects.insert(name, object);
    delete previous;
    return true;
}

CPropertyObject* CPropertyObject::objectProperty(const QString& name) const
{
    return m_objects.value(name);
}

bool CPropertyObject::addObjectProperties(const QObjectList& objects)
{
    for (QObject* object : objects) {
        auto* po = qobject_cast<CPropertyObject*>(object);
        if (po && !m_objects.contains(po->objectName()))
            m_objects.insert(po->objectName(), po);
    }
    return true;
}

bool CPropertyObject::removeProperty(const QString& name)
{
    if (isDeclaredProperty(name))
        return false;
    m_dataFields.remove(name);
    delete m_objects.take(name);
    return true;
}

void CPropertyObject::clearProperties()
{
    m_dataFields.clear();
    const auto objects = m_objects;
    m_objects.clear();
    qDeleteAll(objects);
}

bool CPropertyObject::exists(const QString& name) const
{
    return hasObjectProperty(name) || hasProperty(name);
}

bool CPropertyObject::hasProperty(const QString& name) const
{
    return isDeclaredProperty(name) || m_dataFields.contains(name);
}

bool CPropertyObject::hasObjectProperty(const QString& name) const
{
    return m_objects.contains(name);
}

bool CPropertyObject::setConfig(const QString& tokenString)
{
    CTagToken tokens(tokenString);
    bool result = true;
    while (tokens.hasMoreTags()) {
        CTag tag;
        tokens.nextTag(tag);
        // A data field written here also replaces an object property of the same name,
        // so the two kinds never share a name.
        result = setProperty(tag.name, QVariant(tag.value(false))) && result;
    }
    return result;
}

QStringList CPropertyObject::config() const
{
    QStringList list;
    const QMetaObject* meta = metaObject();
    for (int i = 0; i < meta->propertyCount(); ++i) {
        const QMetaProperty p = meta->property(i);
        if (!p.name())
            continue;
        list << QString::fromLatin1(p.name()) + QLatin1Char('=') + winsteps::valueconversion::toText(p.read(this));
    }
    for (auto it = m_dataFields.cbegin(); it != m_dataFields.cend(); ++it)
        list << it.key() + QLatin1Char('=') + winsteps::valueconversion::toText(it.value());
    return list;
}

bool CPropertyObject::setDataField(const QString name, const QVariant value)
{
    return setProperty(name, value);
}

QVariant CPropertyObject::dataField(const QString name) const
{
    return property(name);
}
