#pragma once

#include "actions/cthreadedaction.h"
#include "system/istandardpaths.h"
#include "platform/process.h"
#include "winsteps_export.h"

#include <QStringList>

#include <memory>

class CProcess;

// Runs an external program on the worker thread: starts it (optionally with administrator
// rights), waits for it with a time limit while the progress moves once a second, and
// publishes its exit code. With "undo" it terminates a running instance instead.
//
// Properties: "command" (macros expanded), "argumentList" (each argument expanded; after a
// run: the command followed by the arguments), "timeout" (seconds; 0: do not wait; -1: no
// limit; below -1: timed out at once), "admin", "undo"; written: "returnCode".
// Result 0 success, 1 the start (or stop) failed, 2 time-out; event "success" for 0, else
// "failed". A stop ends every wait within 100 ms; the program is left running.
class WINSTEPS_EXPORT CActionStartApp : public CThreadedAction, private IStandardPaths
{
    Q_OBJECT
public:
    enum Result { Success = 0, StartFailed = 1, TimedOut = 2 };

    CActionStartApp(QObject* parent, const char* name, const QDomNode& element = QDomNode());
    ~CActionStartApp() override;

    // "timeout" when it is 1 or more, else the default maximum.
    int maxProgress() const override;
    int execute() override;

    CProcess* process() const { return m_process.get(); }

private:
    // The handle of the program's new process, or of an instance that already runs.
    winsteps::platform::ProcessHandlePtr startProcess(const QStringList& list, bool admin);
    // Result::Success once the process has ended (its exit code in *exitCode when it can
    // be read), Result::TimedOut after timeout one-second waits or when stopped.
    int waitForProcess(winsteps::platform::ProcessHandle& process, int timeout, quint32* exitCode);
    int stopProcess(const QStringList& list, int timeout, quint32* exitCode);
    // The argument list to run with: the configured one, not the list a previous run wrote.
    QStringList configuredArguments();

    std::unique_ptr<CProcess> m_process; // no parent
    QStringList m_writtenArguments; // what the last run stored as "argumentList"
    QVariant m_configuredArguments;
};
