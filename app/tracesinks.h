#pragma once

#include "debug/debugoutput.h"

#include <QString>

#include <cstdio>
#include <string>

namespace winsteps::host {

// Writes every trace piece to a file, flushed at each line end so that a killed run
// leaves its trace behind.
class CFileTraceSink : public winsteps::TraceSink
{
public:
    CFileTraceSink() = default;
    ~CFileTraceSink() override;
    CFileTraceSink(const CFileTraceSink&) = delete;
    CFileTraceSink& operator=(const CFileTraceSink&) = delete;

    // Creates or truncates the file. False and an error text on failure.
    bool open(const QString& path, QString* error);
    void write(const std::string& piece) override;

private:
    std::FILE* m_file = nullptr;
};

// A progress line at the bottom of a terminal that trace lines never garble: before a
// trace line starts, the progress line is erased; after a line ends, it is drawn again.
// Trace pieces go to the terminal too, unless another sink is given to take them (traces
// written to a file while the terminal shows only the progress).
class CTerminalProgressSink : public winsteps::TraceSink
{
public:
    explicit CTerminalProgressSink(int fd, winsteps::TraceSink* traces = nullptr);

    // Called under the trace lock.
    void write(const std::string& piece) override;

    // Replace or erase the progress line. These take the trace lock themselves.
    void setProgress(const QString& text);
    void clear();

private:
    void writeRaw(const std::string& bytes);
    void erase();
    void draw();

    int m_fd;
    winsteps::TraceSink* m_traces;
    std::string m_progress;  // the text shown, already cut to the terminal width
    bool m_shown = false;    // the progress line is on the screen
    bool m_lineStart = true; // the last trace piece ended a line
};

// Drops every trace piece while it lives, for commands whose output is their answer alone
// (building states writes traces that nobody asked for), then restores the default sink.
class CSilentTraces final : public winsteps::TraceSink
{
public:
    CSilentTraces() { winsteps::setTraceSink(this); }
    ~CSilentTraces() override { winsteps::setTraceSink(nullptr); }
    CSilentTraces(const CSilentTraces&) = delete;
    CSilentTraces& operator=(const CSilentTraces&) = delete;

    void write(const std::string&) override {}
};

} // namespace winsteps::host
