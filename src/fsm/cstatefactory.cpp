#include "fsm/cstatefactory.h"

#include "fsm/cstate.h"

CStateFactory::CStateFactory(const QString& name, CStateFactory* parent)
    : m_name(name)
    , m_parent(parent)
{
}

CStateFactory::~CStateFactory()
{
    qDeleteAll(m_children);
}

void CStateFactory::registerState(const QString& type, CStateCreator creator)
{
    m_creators.insert(type, creator);
}

QStringList CStateFactory::stateTypes(const QString& factoryName, bool includeStates, bool includeFsms) const
{
    if (factoryName.isEmpty() || factoryName == m_name)
        return typeNames(includeStates, includeFsms);
    for (const CStateFactory* child : m_children) {
        if (child->name() == factoryName)
            return child->typeNames(includeStates, includeFsms);
    }
    return {};
}

QStringList CStateFactory::factoryNames() const
{
    QStringList names(m_name);
    for (const CStateFactory* child : m_children)
        names += child->factoryNames();
    return names;
}

CState* CStateFactory::create(const QString& type, const QDomNode& description, QObject* parent,
                              const QString& name)
{
    const auto it = m_creators.constFind(type);
    if (it == m_creators.constEnd())
        return createElsewhere(type, description, parent, name);
    const QByteArray objectName = name.toUtf8();
    return (*it)(parent, objectName.constData(), type, this, description);
}

void CStateFactory::addFactory(CStateFactory* child)
{
    if (child && child != this && !m_children.contains(child))
        m_children.append(child);
}

QString CStateFactory::name() const
{
    return m_name;
}

CStateFactory* CStateFactory::findFactory(const QString& name)
{
    if (name.isEmpty())
        return nullptr;
    if (name == m_name)
        return this;
    for (CStateFactory* child : m_children) {
        if (CStateFactory* found = child->findFactory(name))
            return found;
    }
    return nullptr;
}

CState* CStateFactory::createElsewhere(const QString& type, const QDomNode& description,
                                       QObject* parent, const QString& name)
{
    for (CStateFactory* child : m_children) {
        if (child->hasType(type))
            return child->create(type, description, parent, name);
    }
    // Children are asked only when they know the type (hasType), so an unknown type ends
    // in null without bouncing between a parent and its children.
    if (m_parent)
        return m_parent->create(type, description, parent, name);
    return nullptr;
}

bool CStateFactory::hasType(const QString& type) const
{
    if (m_creators.contains(type))
        return true;
    for (const CStateFactory* child : m_children) {
        if (child->hasType(type))
            return true;
    }
    return false;
}

QStringList CStateFactory::typeNames(bool includeStates, bool includeFsms) const
{
    QStringList names;
    for (auto it = m_creators.cbegin(); it != m_creators.cend(); ++it) {
        const bool isFsm = it.key().right(3).toLower() == QLatin1String("fsm");
        if ((includeStates && includeFsms) || (isFsm ? includeFsms : includeStates))
            names.append(it.key());
    }
    return names;
}
