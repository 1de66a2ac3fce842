#include "fsm/ctransition.h"

#include "debug/debugoutput.h"
#include "objects/valueconversion.h"
#include "objects/cdomnode.h"
#include "expression/cpropertymap.h"
#include "fsm/cstate.h"
#include "fsm/istatemachine.h"

#include <QDomElement>

using winsteps::trace;
namespace module = winsteps::module;

IStateMachine::~IStateMachine() = default;

namespace {

const QChar Q(u'"');

// The value line of a map trace: the value as text without newlines, cut at 200
// characters, or a description of an empty value or a list.
QString describeValue(const QVariant& value)
{
    // Whole numbers directly: the same text without the general conversion machinery.
    QString text;
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
        text = QString::number(value.toLongLong());
        break;
    default:
        text = winsteps::valueconversion::toText(value); // a list, even of one text, has no text form
    }
    text.remove(QLatin1Char('\n'));
    if (text.isEmpty()) {
        const qsizetype count = winsteps::valueconversion::toList(value).size();
        return count == 0 ? QStringLiteral("empty string or list")
                          : QLatin1String("list with ") + QString::number(count) + QLatin1String(" items");
    }
    if (text.size() > 200)
        text = text.left(200) + QLatin1String("...");
    return QLatin1String("value as string = ") + text;
}

// One line of a transition's trace; the end-of-line is added in the same allocation.
template <typename Text>
void traceTransition(const Text& line)
{
    trace(module::transition, QString(line + QLatin1Char('\n')));
}

} // namespace

CTransition::CTransition(QObject* parent, const char* objectName, const QString& fromState,
                         const QString& toState, const QDomNode& description)
    : CPropertyObject(parent, objectName)
    , m_fromState(fromState)
    , m_toState(toState)
{
    if (description.isNull())
        return;
    const QList<CDomNode> maps = CDomNode(description).elementsByPath(QStringLiteral("propertymap"));
    for (const CDomNode& node : maps) {
        const QDomElement element = node.toElement();
        if (!addPropertyMap(element.attribute(QStringLiteral("target")),
                            element.attribute(QStringLiteral("function")))) {
            traceTransition(QStringLiteral("  ! Error ! Invalid propertymap."));
            trace(module::transition, errors());
        }
    }
}

CTransition::CTransition(QObject* parent, const char* objectName)
    : CPropertyObject(parent, objectName)
{
}

CTransition::~CTransition()
{
    qDeleteAll(m_maps);
}

IStateMachine* CTransition::machine() const
{
    // Asked on every fire: the cast is done again only when the parent changed.
    QObject* owner = parent();
    if (owner != m_machineOwner) {
        m_machineOwner = owner;
        m_machine = dynamic_cast<IStateMachine*>(owner);
    }
    return m_machine;
}

CState* CTransition::boundState(IStateMachine* m, QPointer<CState>& bound, const QString& name) const
{
    // Bound on first use; looked up again only when that state is gone or no longer the
    // machine's (states are never renamed).
    if (!bound || bound->parent() != parent())
        bound = m ? m->findState(name) : nullptr;
    return bound.data();
}

CState* CTransition::machineState() const
{
    return qobject_cast<CState*>(parent());
}

void CTransition::fire()
{
    applyPropertyMaps();
    if (IStateMachine* m = machine())
        m->moveToState(m_toState);
}

bool CTransition::addPropertyMap(const QString& target, const QString& function)
{
    auto* map = new CPropertyMap(parent(), target, function);
    m_maps.append(map);
    return map->isValid();
}

void CTransition::checkPropertyMaps()
{
    IStateMachine* m = machine();
    CState* fsm = machineState();
    for (CPropertyMap* map : std::as_const(m_maps)) {
        if (!map->isValid())
            continue;
        const CProperty target = map->target();
        CState* receiver = nullptr;
        if (target.location() == CProperty::State)
            receiver = boundState(m, m_to, m_toState);
        else if (target.location() == CProperty::Machine)
            receiver = fsm;
        if (!receiver)
            continue;

        bool available = true;
        for (const CProperty* variable : map->variables()) {
            if (variable->location() == CProperty::State) {
                CState* from = boundState(m, m_from, m_fromState);
                available = from && (from->isResultProperty(variable->name()) || from->exists(variable->name()));
            } else if (variable->location() == CProperty::Machine) {
                available = fsm && (fsm->isRequiredProperty(variable->name())
                                    || fsm->isResultProperty(variable->name())
                                    || fsm->exists(variable->name()));
            }
            if (!available)
                break;
        }
        if (!available)
            continue;
        if (target.location() == CProperty::State)
            receiver->addMappedProperty(target.name());
        receiver->addResultProperty(target.name());
    }
}

QString CTransition::errors() const
{
    QString text;
    for (const CPropertyMap* map : m_maps)
        text += map->errors();
    return text;
}

void CTransition::applyPropertyMaps()
{
    IStateMachine* m = machine();
    CState* fsm = machineState();
    static const QString emptyLine = QStringLiteral("\n");
    static const QString mapLine = QStringLiteral("|\u00afpropertymap\n");
    trace(module::transition, emptyLine);

    for (CPropertyMap* map : std::as_const(m_maps)) {
        trace(module::transition, mapLine);
        fillVariables(map, m, fsm);
        setTarget(map, m, fsm);
    }
}

const CPropertyObject* CTransition::variableSource(const CProperty& variable, IStateMachine* m, CState* fsm)
{
    const CPropertyObject* source = nullptr;
    switch (variable.location()) {
    case CProperty::State:
        traceTransition(QLatin1String("| - get value from property ") + Q + variable.name() + Q
                        + QLatin1String(" from state ") + Q + m_fromState + Q + QLatin1Char('.'));
        source = boundState(m, m_from, m_fromState);
        if (!source)
            traceTransition(QStringLiteral("| ! Warning ! No from-state."));
        return source;
    case CProperty::Machine:
        traceTransition(QLatin1String("| - get value from property ") + Q + variable.name() + Q
                        + QLatin1String(" from FSM."));
        return fsm;
    case CProperty::Application:
        source = fsm ? fsm->applicationProperties() : nullptr;
        if (!source) {
            traceTransition(QStringLiteral("| ! Warning ! No application properties available."));
            return nullptr;
        }
        traceTransition(QLatin1String("| - get value from property ") + Q + variable.name() + Q
                        + QLatin1String(" from application."));
        return source;
    default:
        traceTransition(QStringLiteral("| ! Warning ! Unsupported input property location."));
        return nullptr;
    }
}

void CTransition::fillVariables(CPropertyMap* map, IStateMachine* m, CState* fsm)
{
    // Variables are filled afresh: one whose source is missing now stays not set instead of
    // keeping an object from an earlier application.
    map->resetVariables();
    for (CProperty* variable : map->variables()) {
        const CPropertyObject* source = variableSource(*variable, m, fsm);
        if (!source)
            continue;
        const QVariant value = source->property(variable->name());
        CPropertyObject* object = source->objectProperty(variable->name());
        if (!value.isValid() && !object) {
            traceTransition(QStringLiteral("|   ! Warning ! Property not found"));
            variable->setValue(QString(QLatin1String("")));
        } else if (object) {
            variable->setObject(object);
            traceTransition(QLatin1String("|   object name = ") + object->objectName());
        } else {
            variable->setValue(value);
            traceTransition(QLatin1String("|   ") + describeValue(value));
        }
    }
}

CPropertyObject* CTransition::targetReceiver(const CProperty& target, IStateMachine* m, CState* fsm)
{
    CPropertyObject* receiver = nullptr;
    switch (target.location()) {
    case CProperty::State:
        receiver = boundState(m, m_to, m_toState);
        break;
    case CProperty::Machine:
        receiver = fsm;
        break;
    case CProperty::Application:
        receiver = fsm ? fsm->applicationProperties() : nullptr;
        break;
    default:
        traceTransition(QStringLiteral("    ! Warning ! Unsupported target property location."));
        return nullptr;
    }
    if (!receiver)
        traceTransition(QStringLiteral("    ! Warning ! No target to set property in."));
    return receiver;
}

void CTransition::setTarget(CPropertyMap* map, IStateMachine* m, CState* fsm)
{
    if (!map->evaluate()) { // the target is left as it was
        traceTransition(QLatin1String("|_Property ") + Q + map->target().name() + Q
                        + QLatin1String(" will not be set."));
        return;
    }
    const CProperty target = map->target();
    if (target.object())
        traceTransition(QLatin1String("|_Set object property ") + Q + target.name() + Q
                        + QLatin1String(" object name = ") + target.object()->objectName());
    else
        traceTransition(QLatin1String("|_Set property ") + Q + target.name() + Q + QLatin1Char(' ')
                        + describeValue(target.value()));

    CPropertyObject* receiver = targetReceiver(target, m, fsm);
    if (!receiver)
        return;
    if (target.object()) {
        // The receiver owns what it is given: the object the expression made for this map,
        // or a copy of one that the expression or a source keeps. A refused object (a
        // declared property of that name) goes with this scope.
        receiver->adoptObjectProperty(target.name(), map->takeTargetObject());
    } else {
        receiver->setProperty(target.name(), target.value());
    }
}

CBackTransition::CBackTransition(QObject* parent, const char* objectName)
    : CTransition(parent, objectName)
{
}

void CBackTransition::fire()
{
    if (IStateMachine* m = machine())
        m->pageBack();
    delete this;
}
