#include "actions/caction.h"

#include "debug/debugoutput.h"
#include "objects/cdomnode.h"

#include <QDomElement>
#include <QThread>
#include <QTimer>

using winsteps::trace;
namespace module = winsteps::module;

namespace {

QString traceName(const char* name)
{
    return name && *name ? QString::fromUtf8(name) : QStringLiteral("_unnamed_");
}

} // namespace

CAction::CAction(QObject* parent, const char* name)
    : CPropertyObject(parent, name)
    , m_timer(new QTimer(this))
{
    trace(module::action, QLatin1String("Create action \"") + traceName(name) + QLatin1String("\"\n"));
}

CAction::CAction(QObject* parent, const char* name, const QDomNode& element)
    : CAction(parent, name)
{
    readProperties(element);
}

CAction::~CAction() = default;

void CAction::resetProgress()
{
    setProgress(0);
}

void CAction::start()
{
    setResult(execute());
    Q_EMIT actionFinished(result());
}

void CAction::stop() {}

void CAction::setResult(int result)
{
    m_result = result;
}

int CAction::result() const
{
    return m_result;
}

void CAction::setResultEvent(const QString& event)
{
    m_resultEvent = event;
}

QString CAction::resultEvent() const
{
    return m_resultEvent;
}

void CAction::setMaxProgress(int maximum)
{
    m_maxProgress = maximum;
}

void CAction::stepProgress(int n)
{
    if (n >= 1)
        setProgress(m_progress + n);
}

void CAction::stepProgress()
{
    stepProgress(1);
}

int CAction::maxProgress() const
{
    return m_maxProgress;
}

void CAction::progressTimerSlot()
{
    stepProgress();
}

void CAction::setProgress(int value)
{
    const int maximum = maxProgress();
    m_progress = value > maximum ? maximum : value;
    Q_EMIT actionProgress(m_progress, maximum);
}

bool CAction::isStopRequested() const
{
    return false;
}

void CAction::startProgressTimer()
{
    if (QThread::currentThread() != m_timer->thread()) {
        QMetaObject::invokeMethod(this, [this] { startProgressTimer(); }, Qt::QueuedConnection);
        return;
    }
    // Unique: a second start must not make every tick count twice.
    connect(m_timer, &QTimer::timeout, this, &CAction::progressTimerSlot, Qt::UniqueConnection);
    m_timer->start(progressTimerInterval);
}

void CAction::stopProgressTimer()
{
    if (QThread::currentThread() != m_timer->thread()) {
        QMetaObject::invokeMethod(this, [this] { stopProgressTimer(); }, Qt::QueuedConnection);
        return;
    }
    m_timer->stop();
    disconnect(m_timer, nullptr, this, nullptr);
}

void CAction::readProperties(const QDomNode& element)
{
    if (element.isNull())
        return;
    const QList<QDomElement> properties = CDomNode(element).applicableProperties();
    for (const QDomElement& property : properties) {
        const QString key = property.attribute(QStringLiteral("key"));
        const QString value = property.attribute(QStringLiteral("value"));
        trace(module::action, QLatin1String("Set property for action \"") + objectName() + QLatin1String("\": key = \"")
                                  + key + QLatin1String("\" value = \"") + value + QLatin1String("\"\n"));
        if (!setProperty(key, QVariant(value)))
            trace(module::action, QStringLiteral("  ! Warning ! Adding property failed.\n"));
    }
}

CPropertyObject* CAction::parentProperties() const
{
    return qobject_cast<CPropertyObject*>(parent());
}

// The parent is asked about its own properties only (the base class's look-up), so that an
// action state, which falls back to its action in turn, never sends the question back.
bool CAction::hasProperty(const QString& name) const
{
    if (CPropertyObject::hasProperty(name))
        return true;
    const CPropertyObject* owner = parentProperties();
    return owner && owner->CPropertyObject::hasProperty(name);
}

bool CAction::hasObjectProperty(const QString& name) const
{
    if (CPropertyObject::hasObjectProperty(name))
        return true;
    const CPropertyObject* owner = parentProperties();
    return owner && owner->CPropertyObject::hasObjectProperty(name);
}

QVariant CAction::property(const QString& name) const
{
    if (CPropertyObject::hasProperty(name))
        return CPropertyObject::property(name);
    const CPropertyObject* owner = parentProperties();
    if (owner && owner->CPropertyObject::hasProperty(name))
        return owner->CPropertyObject::property(name);
    return QVariant();
}

CPropertyObject* CAction::objectProperty(const QString& name) const
{
    if (CPropertyObject::hasObjectProperty(name))
        return CPropertyObject::objectProperty(name);
    const CPropertyObject* owner = parentProperties();
    if (owner && owner->CPropertyObject::hasObjectProperty(name))
        return owner->CPropertyObject::objectProperty(name);
    return nullptr;
}

CAsyncAction::CAsyncAction(QObject* parent, const char* name)
    : CAction(parent, name)
{
}

CAsyncAction::CAsyncAction(QObject* parent, const char* name, const QDomNode& element)
    : CAction(parent, name, element)
{
}

void CAsyncAction::start()
{
    setResult(execute());
}

int CAsyncAction::execute()
{
    return 0;
}
