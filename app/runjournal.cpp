// The journal side of `winsteps run` (see CRunJournal).

#include "runjournal.h"

#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/machinejournal.h"

#include <QFileInfo>
#include <QJsonArray>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace winsteps::host {

using platform::emulated::MachineJournal;

namespace {

// The write end of the pipe that carries a signal into the event loop.
int signalPipe[2] = {-1, -1};

extern "C" void onStopSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

} // namespace

CRunJournal::~CRunJournal()
{
    // The handlers stay: a signal that comes while the process ends after its run (and its
    // rollback) has nothing left to stop, and must not cut the end short.
    // A run that did not reach its end (an early return) still gets one.
    if (m_run && !m_ended)
        end(QStringLiteral("ended"));
}

bool CRunJournal::begin(const QString& wizard, QString* error)
{
    m_run = MachineJournal(platform::emulated::currentMachine()).beginRun(QFileInfo(wizard).absoluteFilePath(), error);
    return m_run != 0;
}

void CRunJournal::catchSignals(std::function<void()> onSignal)
{
    m_onSignal = std::move(onSignal);
    if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this] {
        char bytes[16];
        while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
        }
        if (m_signalled)
            return;
        m_signalled = true;
        if (m_onSignal)
            m_onSignal();
    });
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

void CRunJournal::end(const QString& outcome)
{
    if (!m_run || m_ended)
        return;
    m_ended = true;
    MachineJournal(platform::emulated::currentMachine()).endRun(m_run, outcome, nullptr);
}

QJsonObject CRunJournal::rollback()
{
    QJsonObject result{{QStringLiteral("run"), m_run}};
    QStringList undone;
    QString error;
    if (MachineJournal(platform::emulated::currentMachine()).rollback(m_run, &undone, &error))
        result.insert(QStringLiteral("undone"), QJsonArray::fromStringList(undone));
    else
        result.insert(QStringLiteral("refused"), error);
    return result;
}

} // namespace winsteps::host
