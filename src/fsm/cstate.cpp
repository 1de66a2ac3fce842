#include "fsm/cstate.h"

#include "debug/debugoutput.h"
#include "objects/cdomnode.h"
#include "fsm/ctransition.h"
#include "fsm/eventnames.h"

#include <QCoreApplication>
#include <QDomElement>
#include <QEvent>
#include <QSet>

#include <algorithm>

namespace event = winsteps::event;

CState::CState(QObject* parent, const char* objectName, const QDomNode& description)
    : CPropertyObject(parent, objectName)
{
    if (objectName && *objectName)
        declareProperties(description, QString::fromUtf8(objectName));
    else
        m_messages += QLatin1String("Unnamed state.\n");
}

CState::~CState()
{
    // Only this class's part of reset(): the derived parts are already gone.
    CState::reset();
}

void CState::reset()
{
    m_exitEvent.clear();
    m_messages.clear();
    m_events.clear();
    m_mappedProperties.clear();
    m_requiredProperties.clear();
    m_resultProperties.clear();
    m_progress = 0.0;
    m_weight = 0;
    clearProperties();
    // One transition may stand under several names: delete each distinct one once.
    QSet<CTransition*> distinct;
    for (CTransition* t : std::as_const(m_transitions))
        distinct.insert(t);
    m_transitions.clear();
    qDeleteAll(distinct);
}

CState* CState::parentState() const
{
    return qobject_cast<CState*>(parent());
}

QCoreApplication* CState::application() const
{
    CState* p = parentState();
    return p ? p->application() : nullptr;
}

CPropertyObject* CState::applicationProperties() const
{
    CState* p = parentState();
    return p ? p->applicationProperties() : nullptr;
}

QObject* CState::hostObject() const
{
    CState* p = parentState();
    return p ? p->hostObject() : nullptr;
}

bool CState::isFsm() const
{
    return inherits("CFsm");
}

QString CState::fullName() const
{
    CState* p = parentState();
    if (!p)
        return objectName();
    return p->fullName() + QLatin1Char(':') + objectName();
}

void CState::initialize() {}

void CState::onLeave() {}

void CState::addEvent(const QString& name)
{
    m_events.append(name);
}

namespace {

// The names of an "a|b" text, empty parts dropped.
QStringList splitEventNames(const QString& names)
{
    return names.split(QLatin1Char('|'), Qt::SkipEmptyParts);
}

// The event names a transition given under names stands under. A text without any name
// stands for itself, so that a transition given under it is still owned.
QStringList eventNames(const QString& names)
{
    QStringList parts = splitEventNames(names);
    if (parts.isEmpty())
        parts << names;
    return parts;
}

} // namespace

bool CState::hasEvent(const QString& names) const
{
    // A single name is taken whole, also when empty; "a|b" wants each of its names.
    const QStringList parts = names.contains(QLatin1Char('|')) ? splitEventNames(names) : QStringList{names};
    return std::all_of(parts.begin(), parts.end(),
                       [this](const QString& part) { return m_events.contains(part) || part == event::pageBack; });
}

QString CState::exitEvent() const
{
    return m_exitEvent;
}

QStringList CState::events() const
{
    return m_events;
}

void CState::addTransition(CTransition* transition, const QString& names)
{
    const QStringList parts = eventNames(names);
    for (const QString& part : parts) {
        CTransition* previous = m_transitions.value(part);
        m_transitions.insert(part, transition);
        if (previous != transition)
            deleteIfUnnamed(previous);
    }
}

void CState::deleteIfUnnamed(CTransition* transition)
{
    // One transition may stand under several names; it goes with the last of them.
    if (transition && !std::as_const(m_transitions).values().contains(transition))
        delete transition;
}

CTransition* CState::transition(const QString& name)
{
    CTransition* t = m_transitions.value(name);
    if (!t && name == event::pageBack)
        return new CBackTransition(parent(), event::pageBack.latin1());
    return t;
}

QMap<QString, CTransition*>& CState::transitions()
{
    return m_transitions;
}

bool CState::hasTransition(const QString& names)
{
    const QStringList parts = eventNames(names);
    return std::any_of(parts.begin(), parts.end(), [this](const QString& part) {
        return m_transitions.value(part) != nullptr || part == event::pageBack;
    });
}

bool CState::removeTransition(const QString& name)
{
    CTransition* t = m_transitions.value(name);
    if (!t)
        return false;
    m_transitions.remove(name);
    deleteIfUnnamed(t);
    return true;
}

void CState::declareProperties(const QDomNode& description, const QString& context)
{
    if (description.isNull())
        return;
    const QList<QDomElement> elements = CDomNode(description).applicableProperties();
    for (const QDomElement& element : elements) {
        const QString key = element.attribute(QStringLiteral("key"));
        QString value = element.attribute(QStringLiteral("value"));
        const bool required = element.attribute(QStringLiteral("required")).toLower() == QLatin1String("yes");
        if (!value.isEmpty() && value.startsWith(QLatin1String("tr("))) {
            const QByteArray text = value.mid(3, value.size() - 4).toUtf8();
            const QByteArray ctx = context.toUtf8();
            QString translated = translate(ctx.constData(), text.constData());
            if (translated == QString::fromUtf8(text))
                translated = translate("@default", text.constData());
            value = translated;
        }
        if (!setProperty(key, QVariant(value)))
            winsteps::trace(winsteps::module::state, QStringLiteral("  ! Warning ! Adding property failed.\n"));
        if (required)
            addRequiredProperty(key);
    }
    bool ok = false;
    const int w = description.toElement().attribute(QStringLiteral("weight")).toInt(&ok);
    setWeight(ok ? w : 0);
}

QString CState::type() const
{
    return m_type;
}

void CState::setType(const QString& type)
{
    m_type = type;
}

QString CState::stateName() const
{
    return objectName();
}

QString CState::translate(const char* context, const char* text) const
{
    if (application())
        return QCoreApplication::translate(context, text);
    return QString::fromUtf8(text);
}

QString CState::translateText(const QString& text) const
{
    return translate(stateName().toUtf8().constData(), text.toUtf8().constData());
}

QString& CState::messages()
{
    return m_messages;
}

int CState::weight() const
{
    return m_weight;
}

void CState::setWeight(int weight)
{
    if (weight >= 0)
        m_weight = weight;
}

void CState::addMappedProperty(const QString& name)
{
    m_mappedProperties.append(name);
}

void CState::addResultProperty(const QString& name)
{
    m_resultProperties.append(name);
}

void CState::addRequiredProperty(const QString& name)
{
    m_requiredProperties.append(name);
}

bool CState::isRequiredProperty(const QString& name) const
{
    return m_requiredProperties.contains(name);
}

bool CState::isResultProperty(const QString& name) const
{
    return m_resultProperties.contains(name);
}

QStringList& CState::mappedProperties()
{
    return m_mappedProperties;
}

QStringList& CState::requiredProperties()
{
    return m_requiredProperties;
}

QStringList& CState::resultProperties()
{
    return m_resultProperties;
}

void CState::setExitEvent(const QString& event)
{
    m_exitEvent = event;
}

void CState::leaveState()
{
    winsteps::trace(winsteps::module::state, QLatin1String("--- State ") + objectName()
                                                 + QLatin1String(": leave state with event = ")
                                                 + m_exitEvent + QLatin1Char('\n'));
    onLeave();
    QCoreApplication::postEvent(this, new QEvent(LeaveEventType));
}

bool CState::event(QEvent* e)
{
    if (e->type() != LeaveEventType)
        return CPropertyObject::event(e);
    m_progress = 100.0;
    Q_EMIT progress(100);
    Q_EMIT finished(this, transition(m_exitEvent));
    return true;
}
