#pragma once

#include <QJsonObject>
#include <QSocketNotifier>
#include <QString>

#include <functional>
#include <memory>

namespace winsteps::host {

// The journal side of `winsteps run`: the run recorded on the machine (every change it and the
// programs it starts make is tagged with it), its end with the outcome, its rollback when
// asked, and Ctrl+C or SIGTERM turned into a clean end of the run.
class CRunJournal
{
public:
    CRunJournal() = default;
    ~CRunJournal();
    CRunJournal(const CRunJournal&) = delete;
    CRunJournal& operator=(const CRunJournal&) = delete;

    // Records the run of the wizard on the current machine. False + error on failure.
    bool begin(const QString& wizard, QString* error);
    qint64 run() const { return m_run; }

    // From now on SIGINT and SIGTERM no longer end the process: while the object lives, they
    // call onSignal from the event loop.
    void catchSignals(std::function<void()> onSignal);
    bool signalled() const { return m_signalled; }

    // Records the end of the run ("finished", "failed", "timed out", "interrupted", ...).
    void end(const QString& outcome);

    // Undoes the run; {"run": ID, "undone": [TEXT, ...]} or {"run": ID, "refused": TEXT}.
    QJsonObject rollback();

private:
    qint64 m_run = 0;
    bool m_ended = false;
    bool m_signalled = false;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::function<void()> m_onSignal;
};

} // namespace winsteps::host
