#pragma once

// Installs itself as the trace sink while alive and keeps what the traces write: each piece
// as it came, and all of them as one text.

#include "debug/debugoutput.h"

#include <QString>
#include <QStringList>

#include <string>
#include <vector>

class TraceCapture : public winsteps::TraceSink
{
public:
    TraceCapture() { winsteps::setTraceSink(this); }
    ~TraceCapture() override { winsteps::setTraceSink(nullptr); }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    void write(const std::string& piece) override
    {
        pieces.push_back(piece);
        text += piece;
    }
    QString all() const { return QString::fromUtf8(text.c_str()); }
    void clear()
    {
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
};
