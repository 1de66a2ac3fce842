#pragma once

#include "actions/cthreadedaction.h"
#include "winsteps_export.h"

class CWinServiceManager;

// The threaded actions that start and stop a service and wait for it, so that the wizard
// stays responsive. Each reads "serviceName" and "timeout" (seconds) through the fall-back to
// its state, opens the service and calls start() or stop() of CWinServiceManager with the
// time-out on the worker thread. Result 0 and event "finished" when the service got there,
// else 1 and "failed".
//
// Progress: the maximum is the time-out plus 30; resetProgress() starts at 0 and moves one
// step a second; stop() stops the steps, sets the progress to the maximum and asks the worker
// to end (its 100 ms waits see the request, so it ends within one of them).
class WINSTEPS_EXPORT CServiceAction : public CThreadedAction
{
    Q_OBJECT
public:
    enum Result { Success = 0, Failure = 1 };
    static constexpr int progressMargin = 30;

    CServiceAction(QObject* parent, const char* name);
    ~CServiceAction() override;

    int maxProgress() const override;
    void resetProgress() override;
    void stop() override;
    int execute() override;

protected:
    // start() or stop() of the manager with the time-out.
    virtual bool run(CWinServiceManager& manager, int timeout) = 0;

private:
    int timeout() const;
};

class WINSTEPS_EXPORT CActionStartService : public CServiceAction
{
    Q_OBJECT
public:
    CActionStartService(QObject* parent, const char* name = "startService");

protected:
    bool run(CWinServiceManager& manager, int timeout) override;
};

class WINSTEPS_EXPORT CActionStopService : public CServiceAction
{
    Q_OBJECT
public:
    CActionStopService(QObject* parent, const char* name = "stopService");

protected:
    bool run(CWinServiceManager& manager, int timeout) override;
};
