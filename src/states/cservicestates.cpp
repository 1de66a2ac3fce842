#include "states/cservicestates.h"

#include "fsm/eventnames.h"
#include "states/cserviceactions.h"
#include "states/cwinservicemanager.h"

using namespace winsteps;

namespace {

const QString ServiceName = QStringLiteral("serviceName");

void addServiceEvents(CState* state)
{
    state->addEvent(event::finished);
    state->addEvent(event::failed);
}

void leaveBy(CState* state, bool ok)
{
    state->setExitEvent(ok ? event::finished : event::failed);
    state->leaveState();
}

} // namespace

CInstallServiceState::CInstallServiceState(QObject* parent, const char* name, const QDomNode& description)
    : CInstallServiceState(parent, name, description, ConfigOnly())
{
    addRequiredProperty(QStringLiteral("path"));
    addRequiredProperty(ServiceName);
    addRequiredProperty(QStringLiteral("displayName"));
}

CInstallServiceState::CInstallServiceState(QObject* parent, const char* name, const QDomNode& description, ConfigOnly)
    : CState(parent, name, description)
{
    addServiceEvents(this);
    init();
}

QString CInstallServiceState::expandedPath() const
{
    return expand(property("path").toString());
}

void CInstallServiceState::execute()
{
    const int startType = CWinServiceManager::startTypeOfWord(property("startType").toString());
    const QString description = property("description").toString();
    bool ok = false;
    {
        CWinServiceManager manager;
        ok = manager.createService(property(ServiceName).toString(), property("displayName").toString(), expandedPath(),
                                   property("group").toString(), startType);
        // A new service gets its description too, so that none is dropped.
        if (ok && !description.isEmpty())
            ok = manager.setDescription(description);
        else if (!ok)
            ok = configure();
    }
    leaveBy(this, ok);
}

bool CInstallServiceState::configure()
{
    CWinServiceManager manager(property(ServiceName).toString());
    return manager.configService(property("displayName").toString(), expandedPath(), property("description").toString(),
                                 property("group").toString(),
                                 CWinServiceManager::startTypeOfWord(property("startType").toString()));
}

CConfigServiceState::CConfigServiceState(QObject* parent, const char* name, const QDomNode& description)
    : CInstallServiceState(parent, name, description, ConfigOnly())
{
    addRequiredProperty(ServiceName);
}

void CConfigServiceState::execute()
{
    leaveBy(this, configure());
}

CDeleteServiceState::CDeleteServiceState(QObject* parent, const char* name, const QDomNode& description)
    : CState(parent, name, description)
{
    addServiceEvents(this);
    addRequiredProperty(ServiceName);
}

void CDeleteServiceState::execute()
{
    bool ok = false;
    {
        CWinServiceManager manager(property(ServiceName).toString());
        ok = manager.deleteService();
    }
    leaveBy(this, ok);
}

CGetServiceStatusState::CGetServiceStatusState(QObject* parent, const char* name, const QDomNode& description)
    : CState(parent, name, description)
{
    addServiceEvents(this);
    addRequiredProperty(ServiceName);
    addResultProperty(QStringLiteral("startType"));
    addResultProperty(QStringLiteral("status"));
}

void CGetServiceStatusState::execute()
{
    QString status;
    {
        CWinServiceManager manager(property(ServiceName).toString());
        status = manager.statusWord();
        setProperty("status", status);
        setProperty("startType", CWinServiceManager::wordOfStartType(manager.queryStartType()));
    }
    leaveBy(this, !status.isEmpty());
}

CStartServiceState::CStartServiceState(QObject* parent, const char* name, const QDomNode& description)
    : CActionState(parent, name, description)
{
    addServiceEvents(this);
    addRequiredProperty(ServiceName);
    addRequiredProperty(QStringLiteral("timeout"));
    setAction(new CActionStartService(this));
}

CStopServiceState::CStopServiceState(QObject* parent, const char* name, const QDomNode& description)
    : CActionState(parent, name, description)
{
    addServiceEvents(this);
    addRequiredProperty(ServiceName);
    addRequiredProperty(QStringLiteral("timeout"));
    setAction(new CActionStopService(this));
}
