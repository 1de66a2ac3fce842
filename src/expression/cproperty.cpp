#include "expression/cproperty.h"

CProperty::CProperty(const QString& text)
    : m_name(text)
{
    // "fsm.name" and "app.name" address the machine and the application; anything else,
    // including a bare "fsm." and other prefixes, is a property name of the state.
    const int dot = int(text.indexOf(QLatin1Char('.')));
    if (dot < 0 || dot == text.size() - 1)
        return;
    const QStringView prefix = QStringView(text).left(dot);
    if (prefix == QLatin1String("fsm"))
        m_location = Machine;
    else if (prefix == QLatin1String("app"))
        m_location = Application;
    else
        return;
    m_name = text.mid(dot + 1);
}

void CProperty::setObject(CPropertyObject* object)
{
    m_object = object;
    m_value = QVariant();
    m_isSet = true;
}

void CProperty::setValue(const QVariant& value)
{
    m_value = value;
    m_object = nullptr;
    m_isSet = true;
}

void CProperty::clear()
{
    m_value = QVariant();
    m_object = nullptr;
    m_isSet = false;
}
