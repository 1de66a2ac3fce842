#include "expression/cpropertymap.h"

#include "expression/cexpression.h"
#include "objects/cpropertyobject.h"
#include "expression/itranslator.h"

CPropertyMap::CPropertyMap(QObject* context, const QString& target, const QString& function)
    : m_target(target)
    , m_context(context)
{
    m_root = parse(function);
}

CPropertyMap::~CPropertyMap()
{
    m_handedOver.reset();
    delete m_root;
    qDeleteAll(m_variables);
}

CProperty CPropertyMap::target() const
{
    return m_target;
}

QList<CProperty*>& CPropertyMap::variables()
{
    return m_variables;
}

CProperty* CPropertyMap::createVariable(const QString& text)
{
    CProperty* variable = new CProperty(text);
    m_variables.append(variable);
    return variable;
}

bool CPropertyMap::evaluate()
{
    // A tree that carries build errors may hold null parameters; it is never evaluated.
    if (!isValid() || !m_root || !m_root->isSet())
        return false;
    // An object of the previous evaluation that nobody took goes now.
    m_handedOver.reset();
    m_resultIsObject = m_root->isObject();
    if (m_resultIsObject) {
        CObjectResult result = m_root->objectResult();
        m_target.setObject(result.get());
        if (result.isHandedOver())
            m_handedOver = result.takeOrClone();
    } else {
        m_target.setValue(m_root->value());
    }
    return true;
}

std::unique_ptr<CPropertyObject> CPropertyMap::takeTargetObject()
{
    CPropertyObject* object = m_target.object();
    std::unique_ptr<CPropertyObject> taken;
    if (object && m_handedOver.get() == object)
        taken = std::move(m_handedOver);
    else if (object)
        taken.reset(object->clone());
    m_handedOver.reset();
    m_target.clear();
    return taken;
}

void CPropertyMap::resetVariables()
{
    for (CProperty* variable : std::as_const(m_variables))
        variable->clear();
}

bool CPropertyMap::isValid() const
{
    return m_errors.isEmpty();
}

QString CPropertyMap::errors() const
{
    return m_errors;
}

QString CPropertyMap::translate(const QString& text) const
{
    const ITranslator* translator = qobject_cast<ITranslator*>(m_context);
    return translator ? translator->translateText(text) : text;
}

void CPropertyMap::addError(const QString& text)
{
    m_errors += text;
}
