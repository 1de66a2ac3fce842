#pragma once

// Installs itself as the trace sink while alive and keeps what the traces write: each piece
// as it came, and all of them as one text. Worker threads may write while the test reads
// through all() or contains(); a piece that holds slowOn takes 300 ms to write (the writer
// waits), to widen a race for the test.

#include "debug/debugoutput.h"

#include <QString>
#include <QStringList>
#include <QThread>

#include <mutex>
#include <string>
#include <vector>

class TraceCapture : public winsteps::TraceSink
{
public:
    explicit TraceCapture(const char* slowOn = nullptr)
        : m_slowOn(slowOn)
    {
        winsteps::setTraceSink(this);
    }
    ~TraceCapture() override { winsteps::setTraceSink(nullptr); }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    void write(const std::string& piece) override
    {
        if (m_slowOn && piece.find(m_slowOn) != std::string::npos)
            QThread::msleep(300);
        const std::lock_guard<std::mutex> lock(m_mutex);
        pieces.push_back(piece);
        text += piece;
    }
    QString all() const
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return QString::fromUtf8(text.c_str());
    }
    bool contains(const QString& part) const { return all().contains(part); }
    void clear()
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        pieces.clear();
        text.clear();
    }

    // The message lines without their 22-character tag, in order; with a module name, only
    // the lines tagged with that module.
    QStringList lines(const char* module = nullptr) const
    {
        const QString tag = module ? QLatin1Char('[') + QString::fromLatin1(module).leftJustified(20) + QLatin1Char(']')
                                   : QString();
        QStringList out;
        for (QString line : all().split(QLatin1Char('\n'))) {
            const bool tagged = line.startsWith(QLatin1Char('[')) && line.size() >= 22 && line[21] == QLatin1Char(']');
            if (module && !line.startsWith(tag))
                continue;
            out << (tagged ? line.mid(22) : line);
        }
        if (!out.isEmpty() && out.last().isEmpty())
            out.removeLast();
        return out;
    }

    std::vector<std::string> pieces;
    std::string text;

private:
    const char* m_slowOn;
    mutable std::mutex m_mutex;
};
