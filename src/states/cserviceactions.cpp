#include "states/cserviceactions.h"

#include "actions/actionvalues.h"
#include "fsm/eventnames.h"
#include "states/cwinservicemanager.h"

CServiceAction::CServiceAction(QObject* parent, const char* name)
    : CThreadedAction(parent, name)
{
}

CServiceAction::~CServiceAction()
{
    stopAndWait(); // the worker calls this class's virtual functions
}

int CServiceAction::timeout() const
{
    return winsteps::actionvalues::toInt(property(QStringLiteral("timeout")));
}

int CServiceAction::maxProgress() const
{
    return timeout() + progressMargin;
}

void CServiceAction::resetProgress()
{
    setProgress(0);
    startProgressTimer();
}

void CServiceAction::stop()
{
    stopProgressTimer();
    setProgress(maxProgress());
    CThreadedAction::stop();
}

int CServiceAction::execute()
{
    CWinServiceManager manager(property(QStringLiteral("serviceName")).toString());
    manager.setWaitFunction([this](int milliseconds) { return pause(milliseconds); });
    const bool ok = run(manager, timeout());
    setResultEvent(ok ? winsteps::event::finished : winsteps::event::failed);
    return ok ? Success : Failure;
}

CActionStartService::CActionStartService(QObject* parent, const char* name)
    : CServiceAction(parent, name)
{
}

bool CActionStartService::run(CWinServiceManager& manager, int timeout)
{
    return manager.start(timeout);
}

CActionStopService::CActionStopService(QObject* parent, const char* name)
    : CServiceAction(parent, name)
{
}

bool CActionStopService::run(CWinServiceManager& manager, int timeout)
{
    return manager.stop(timeout);
}
