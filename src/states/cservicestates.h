#pragma once

#include "actions/cactionstate.h"
#include "fsm/cstate.h"
#include "system/istandardpaths.h"
#include "winsteps_export.h"

// The service states. Each works through CWinServiceManager and leaves by "finished" on
// success, "failed" otherwise. "startType" takes the words "disabled", "auto", "boot",
// "manual" and "system", written exactly so; any other text (a capitalised word too) leaves
// the start type as it is. "path" may hold path macros, expanded when the state runs.

// "installService": creates the service "serviceName" ("displayName", "path", "group",
// "startType", "description"); when that fails, configures an existing service of that name
// as "configService" does. A new service needs a start type.
class WINSTEPS_EXPORT CInstallServiceState : public CState, private IStandardPaths
{
    Q_OBJECT
public:
    CInstallServiceState(QObject* parent, const char* name, const QDomNode& description);
    void execute() override;

protected:
    // For configService: declares the events only.
    struct ConfigOnly {};
    CInstallServiceState(QObject* parent, const char* name, const QDomNode& description, ConfigOnly);
    // Configures the existing service with the state's properties.
    bool configure();
    QString expandedPath() const;
};

// "configService": changes the items of "serviceName" whose properties are not empty
// ("displayName", "path", "description", "group"; "startType" when it names one).
class WINSTEPS_EXPORT CConfigServiceState : public CInstallServiceState
{
    Q_OBJECT
public:
    CConfigServiceState(QObject* parent, const char* name, const QDomNode& description);
    void execute() override;
};

// "deleteService": marks "serviceName" for deletion; it goes once it is stopped and nobody
// holds it open.
class WINSTEPS_EXPORT CDeleteServiceState : public CState
{
    Q_OBJECT
public:
    CDeleteServiceState(QObject* parent, const char* name, const QDomNode& description);
    void execute() override;
};

// "getServiceStatus": "status" (the state word: "stopped", "starting", "stopping",
// "running", "continuePending", "pausePending", "paused") and "startType" (a word, empty
// when unreadable) of "serviceName"; "failed" with an empty status when it cannot be read.
class WINSTEPS_EXPORT CGetServiceStatusState : public CState
{
    Q_OBJECT
public:
    CGetServiceStatusState(QObject* parent, const char* name, const QDomNode& description);
    void execute() override;
};

// "startService": starts "serviceName" and waits up to "timeout" seconds until it runs
// (0: only asks the system to start it), with progress (CActionStartService).
class WINSTEPS_EXPORT CStartServiceState : public CActionState
{
    Q_OBJECT
public:
    CStartServiceState(QObject* parent, const char* name, const QDomNode& description);
};

// "stopService": stops "serviceName" and waits up to "timeout" seconds until it is stopped
// (0: only sends "stop"), with progress (CActionStopService).
class WINSTEPS_EXPORT CStopServiceState : public CActionState
{
    Q_OBJECT
public:
    CStopServiceState(QObject* parent, const char* name, const QDomNode& description);
};
