#pragma once

#include "states/servicehandle.h"
#include "winsteps_export.h"

#include <QString>

#include <functional>

// The service control manager of this computer, for one service: installs, configures,
// deletes, starts, stops and queries it, and turns its state and start type into the words
// of the service states. Every failure is traced under the module "WinServiceManager" and
// answered as false; an operation that needs a handle that is not open answers false without
// a trace. An object lives for one operation of a state; it closes its handles when it goes.
//
// Start types (internal number, word, Windows start type):
//   0 "disabled" 4 | 1 "auto" 2 | 2 "boot" 0 | 3 "manual" 3 | 4 "system" 1 | 5 no change
// Operations of control(): 0 start, 1 query the status, 2 stop, 3 pause, 4 continue,
// 5 interrogate.
//
// start() and stop() with a time-out poll the service every 100 ms through the wait
// function (by default a plain sleep). A wait function that answers false ends the poll at
// once with false: the service actions pass one that answers false when they are asked to
// stop, so that no poll outlives its action's run by more than one wait.
class WINSTEPS_EXPORT CWinServiceManager
{
public:
    enum StartType { Disabled = 0, Auto = 1, Boot = 2, Manual = 3, System = 4, NoChange = 5 };
    enum Operation { StartOperation = 0, QueryOperation = 1, StopOperation = 2, PauseOperation = 3,
                     ContinueOperation = 4, InterrogateOperation = 5 };
    // Sleeps up to the milliseconds given; false when the poll is to give up.
    using WaitFunction = std::function<bool(int milliseconds)>;
    static constexpr int pollInterval = 100; // ms

    // The manager only (to create a service).
    CWinServiceManager();
    // The manager and the service of that name.
    explicit CWinServiceManager(const QString& serviceName);
    virtual ~CWinServiceManager();
    CWinServiceManager(const CWinServiceManager&) = delete;
    CWinServiceManager& operator=(const CWinServiceManager&) = delete;

    // An own-process service with normal error control that runs as the local system
    // account; it becomes this object's service. False for a start type outside 0 to 4.
    virtual bool createService(const QString& name, const QString& displayName, const QString& path,
                               const QString& group, int startType);
    // Calls the setter of each non-empty text (display name, path, description, group) and
    // setStartup unless startType is NoChange; true when every call made succeeded.
    virtual bool configService(const QString& displayName, const QString& path, const QString& description,
                               const QString& group, int startType);
    // Marks the service for deletion (it goes once it is stopped and its handles are closed).
    virtual bool deleteService();
    // Each changes one item of the configuration under the service database lock. The
    // description is stored as the service's optional description.
    virtual bool setDisplayName(const QString& displayName);
    virtual bool setPath(const QString& path);
    virtual bool setDescription(const QString& description);
    virtual bool setGroup(const QString& group);
    virtual bool setStartup(int startType);
    // Asks the system to start the service, without arguments.
    virtual bool startService();
    // Starts (or continues) the service and waits until it runs, for up to timeout seconds;
    // timeout 0 only asks the system to start it.
    virtual bool start(int timeout);
    // Stops the service and waits until it is stopped; timeout 0 only sends "stop".
    virtual bool stop(int timeout);
    virtual bool control(int operation);
    // The service's state (1 to 7) into *state, with its status trace.
    virtual bool queryStatus(int* state);
    // The Windows start type of an internal one, -1 outside 0 to 4.
    virtual int toWinStartType(int startType);

    // The word of the service's state ("stopped", "running", ...), empty when it cannot be
    // read.
    QString statusWord();
    // The internal start type of the service, NoChange when it cannot be read.
    int queryStartType();

    void setWaitFunction(WaitFunction wait);

    // "disabled", "auto", "boot", "manual", "system" (exactly so) give 0 to 4, anything else
    // NoChange; and back, empty for NoChange or any other number.
    static int startTypeOfWord(const QString& word);
    static QString wordOfStartType(int startType);
    // The word of a Windows service state, empty for a value outside 1 to 7.
    static QString wordOfState(int state);

private:
    bool hasBoth() const { return m_manager.isOpen() && m_service.isOpen(); }
    // Runs change under the database lock; the traces of the setter named by name.
    bool changeLocked(const char* name, const char* changeCall, const std::function<std::uint32_t()>& change);
    // The waits of start() (starting true) and stop() once the time-out is not 0.
    bool poll(bool starting, int timeout);
    // Traces and sends what the state calls for: start, continue or stop.
    bool ask(bool starting, int state);
    bool wait();

    winsteps::platform::Services& m_scm;
    winsteps::servicecontrol::ServiceHandle m_manager;
    winsteps::servicecontrol::ServiceHandle m_service;
    WaitFunction m_wait;
};
