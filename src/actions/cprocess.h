#pragma once

#include "platform/process.h"
#include "winsteps_export.h"

#include <QObject>
#include <QStringList>

#include <memory>
#include <mutex>

class QTimer;

// A child process: started with a program and an argument list (optionally under the
// credentials of an administrator that the user types in), watched by a 100 ms poll that
// emits processExited() once it has ended.
//
// The command line is the program followed, for each argument, by one blank and the
// argument unchanged: an argument that needs quotes for the program (a path with blanks)
// carries its own. Only a program path with blanks is quoted. The program splits its
// command line itself (see platform::commandLineToArgv). Password buffers are wiped after
// use and never traced. May be used from a worker thread; the poll then still runs on the
// object's own thread.
class WINSTEPS_EXPORT CProcess : public QObject
{
    Q_OBJECT
public:
    // Exit code of a process ended by kill().
    static constexpr quint32 killExitCode = 62097;
    static constexpr int pollInterval = 100; // ms

    explicit CProcess(QObject* parent = nullptr, const char* name = nullptr);
    ~CProcess() override;

    // Whether the user belongs to the administrators.
    virtual bool isAdmin();
    virtual void setArguments(const QStringList& arguments);
    virtual void addArgument(const QString& argument);
    // Launches program with the arguments. environment: "NAME=value" entries for the new
    // process (PATH is added from this process when the list has none); empty: inherit.
    virtual bool start(const QString& program, const QStringList& environment = QStringList());
    // Launches with administrator rights: on Windows NT 5 and later a user who is not an
    // administrator is asked for an administrator's credentials (offered on Windows XP
    // only); without credentials nothing is launched and false is returned.
    virtual bool startAsAdmin(const QString& program, const QStringList& environment = QStringList());
    // The same, handing out a handle of the new process taken in the launch itself: it stays
    // valid however soon the process ends and the poll lets go of its own.
    bool start(const QString& program, const QStringList& environment, winsteps::platform::ProcessHandlePtr* handle);
    bool startAsAdmin(const QString& program, const QStringList& environment,
                      winsteps::platform::ProcessHandlePtr* handle);

    QStringList arguments() const;
    void clearArguments();
    // False once the process has ended; the exit code is then collected.
    bool isRunning();
    quint32 exitStatus() const;
    // The process ended by itself (not by kill()).
    bool normalExit() const;
    // 0 when no process runs.
    quint32 processIdentifier() const;

    // The identifier of the first running process whose file name equals fileName without
    // regard to case; 0 when there is none.
    static quint32 findProcess(const QString& fileName);
    // Opens that process for waiting and queries (and termination when withTerminate);
    // null when there is none or it cannot be opened (traced).
    static winsteps::platform::ProcessHandlePtr openProcess(const QString& fileName, bool withTerminate);
    // The environment a launch hands over for a list: PATH first when the list has no PATH
    // entry and this process has one, then the list.
    static QStringList environmentBlock(const QStringList& environment);

public Q_SLOTS:
    // Asks the process to close (its windows get a close request). It may refuse.
    void tryTerminate();
    // Ends the process at once with killExitCode.
    void kill();
    // The poll: emits processExited() once the process has ended.
    void timeout();

Q_SIGNALS:
    void processExited();

protected:
    bool event(QEvent* e) override;

private Q_SLOTS:
    // Starts the poll; runs on this object's thread.
    void startPoll();

private:
    struct Launcher;
    bool launch(const QString& program, const QStringList& environment, bool logon,
                winsteps::platform::ProcessHandlePtr* handle);
    bool launchAsAdmin(const QString& program, const QStringList& environment,
                       winsteps::platform::ProcessHandlePtr* handle);
    bool promptForCredentials();
    bool isRunningLocked();

    std::unique_ptr<Launcher> d;
    mutable std::mutex m_mutex; // guards d's record and the results below
    QStringList m_arguments;
    quint32 m_exitStatus = 0;
    bool m_normalExit = false;
    QTimer* m_timer; // child of this object
};
