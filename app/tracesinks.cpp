#include "tracesinks.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/ioctl.h>
#include <unistd.h>

namespace winsteps::host {

CFileTraceSink::~CFileTraceSink()
{
    if (m_file)
        std::fclose(m_file);
}

bool CFileTraceSink::open(const QString& path, QString* error)
{
    if (m_file)
        std::fclose(m_file);
    m_file = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!m_file && error)
        *error = path + QLatin1String(": ") + QString::fromLocal8Bit(std::strerror(errno));
    return m_file != nullptr;
}

void CFileTraceSink::write(const std::string& piece)
{
    if (!m_file)
        return;
    std::fwrite(piece.data(), 1, piece.size(), m_file);
    if (!piece.empty() && piece.back() == '\n')
        std::fflush(m_file);
}

CTerminalProgressSink::CTerminalProgressSink(int fd, winsteps::TraceSink* traces)
    : m_fd(fd)
    , m_traces(traces)
{
}

void CTerminalProgressSink::writeRaw(const std::string& bytes)
{
    const char* data = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(m_fd, data, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // a closed terminal: nothing sensible to do
        data += n;
        left -= size_t(n);
    }
}

void CTerminalProgressSink::erase()
{
    if (m_shown)
        writeRaw("\r\033[K");
    m_shown = false;
}

void CTerminalProgressSink::draw()
{
    if (!m_progress.empty() && !m_shown) {
        writeRaw(m_progress);
        m_shown = true;
    }
}

void CTerminalProgressSink::write(const std::string& piece)
{
    if (m_traces) {
        m_traces->write(piece);
        return;
    }
    if (m_lineStart)
        erase();
    writeRaw(piece);
    m_lineStart = !piece.empty() && piece.back() == '\n';
    if (m_lineStart)
        draw();
}

void CTerminalProgressSink::setProgress(const QString& text)
{
    winsize size{};
    int width = 80;
    if (::ioctl(m_fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 1)
        width = size.ws_col;
    // One column less than the width, so the cursor never wraps to a new line.
    const std::string line = text.left(width - 1).toStdString();

    std::lock_guard<std::mutex> lock(winsteps::debugMutex());
    if (line == m_progress && m_shown)
        return;
    m_progress = line;
    if (m_traces || m_lineStart) {
        erase();
        draw();
    }
}

void CTerminalProgressSink::clear()
{
    std::lock_guard<std::mutex> lock(winsteps::debugMutex());
    m_progress.clear();
    if (m_traces || m_lineStart)
        erase();
}

} // namespace winsteps::host
