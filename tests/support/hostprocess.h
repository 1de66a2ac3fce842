#pragma once

// A process of the host that a test starts beside the emulated machine, to show that the
// machine never sees or touches it. Started with posix_spawn (a thread checker refuses a
// fork in a process that already runs threads); ended and reaped when the object goes.

#include <QString>
#include <QStringList>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <string>
#include <vector>

extern char** environ;

class HostProcess
{
public:
    HostProcess(const QString& program, const QStringList& arguments)
    {
        std::vector<std::string> args{program.toStdString()};
        for (const QString& argument : arguments)
            args.push_back(argument.toStdString());
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&m_pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
            m_pid = 0;
    }
    ~HostProcess()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    bool started() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }
    // Whether it still runs; an ended process is reaped here.
    bool running()
    {
        if (m_pid <= 0 || ::waitpid(m_pid, nullptr, WNOHANG) == 0)
            return m_pid > 0;
        m_pid = 0;
        return false;
    }

private:
    pid_t m_pid = 0;
};
