#include "debug/debugoutput.h"

#include "platform/platform.h"

#include <QRegExp>
#include <QSettings>
#include <QTime>

#include <cstdio>
#include <iostream>
#include <vector>

namespace winsteps {

namespace {

constexpr int tagWidth = 20;
constexpr std::size_t lineIndent = 23;

// The filter settings, read once per process (again after resetDebugSettingsForTest()).
// Guarded by debugMutex. Never destroyed: traces may come during static destruction.
struct Filters {
    bool loaded = false;
    QString include = QStringLiteral(".*");
    QString exclude;
    bool timeStamp = false;
    QRegExp includeExpression;
    QRegExp excludeExpression;
};

Filters& filters()
{
    static Filters* instance = new Filters;
    return *instance;
}

class ClogSink final : public TraceSink {
public:
    void write(const std::string& piece) override { std::clog.write(piece.data(), std::streamsize(piece.size())); }
};

ClogSink& clogSink()
{
    static ClogSink* instance = new ClogSink;
    return *instance;
}

TraceSink* installedSink = nullptr; // guarded by debugMutex

// Caller holds debugMutex.
Filters& loadedFilters()
{
    Filters& f = filters();
    if (f.loaded)
        return f;
    QSettings store(QSettings::UserScope, QStringLiteral("Korvane"), QStringLiteral("qt"));
    f.include = store.value(QStringLiteral("debug/filter/include"), QStringLiteral(".*")).toString();
    f.exclude = store.value(QStringLiteral("debug/filter/exclude"), QString()).toString();
    f.timeStamp = store.value(QStringLiteral("debug/includeTimeStamp"), false).toBool();
    store.setValue(QStringLiteral("debug/version"), QStringLiteral("1.0.0"));
    // Case-sensitive regular expressions searched anywhere; an invalid one never matches.
    f.includeExpression = QRegExp(f.include, Qt::CaseSensitive, QRegExp::RegExp);
    f.excludeExpression = QRegExp(f.exclude, Qt::CaseSensitive, QRegExp::RegExp);
    f.loaded = true;
    return f;
}

bool matches(QRegExp& expression, const QString& name)
{
    return expression.isValid() && expression.indexIn(name) >= 0;
}

bool passes(Filters& f, const QString& name)
{
    if (f.include.isEmpty())
        return true;
    if (f.include == QLatin1String(".*") && f.exclude.isEmpty())
        return true;
    if (!matches(f.includeExpression, name))
        return false;
    if (f.exclude.isEmpty())
        return true;
    return !matches(f.excludeExpression, name);
}

// One piece to the sink (in one call) and to the debugger channel.
void writePiece(const std::string& piece)
{
    if (!piece.empty())
        (installedSink ? *installedSink : static_cast<TraceSink&>(clogSink())).write(piece);
    platform::current().outputDebugString(piece);
}

} // namespace

TraceSink::~TraceSink() = default;

std::mutex& debugMutex()
{
    static std::mutex* mutex = new std::mutex;
    return *mutex;
}

std::ostream& debugModule(const char* moduleName)
{
    Filters& f = loadedFilters();
    const QString name = QString::fromUtf8(moduleName ? moduleName : "");
    if (passes(f, name)) {
        const QString tag = name.leftJustified(tagWidth, QLatin1Char(' '), true);
        debugOutput("[" + tag.toStdString() + "]");
    }
    return std::clog;
}

void debugOutput(std::string text)
{
    const std::string prefix = loadedFilters().timeStamp ? debugTimeStamp() : std::string();

    const std::size_t firstEnd = text.find('\n');
    if (firstEnd == std::string::npos || firstEnd + 1 == text.size()) {
        writePiece(prefix + text);
        return;
    }
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    if (lines.empty()) {
        writePiece(prefix + text);
        return;
    }
    const std::string indent(lineIndent, ' ');
    for (const std::string& line : lines) {
        std::string piece;
        piece.reserve(prefix.size() + indent.size() + line.size() + 1);
        piece += prefix;
        piece += indent;
        piece += line;
        piece += '\n';
        writePiece(piece);
    }
}

std::string formatDebugTimeStamp(int hour, int minute, int second, int millisecond)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%2d:%2d:%2d.%3d ", hour, minute, second, millisecond);
    return buffer;
}

std::string debugTimeStamp()
{
    const QTime now = QTime::currentTime();
    return formatDebugTimeStamp(now.hour(), now.minute(), now.second(), now.msec());
}

void trace(const char* moduleName, const QString& message)
{
    std::lock_guard<std::mutex> lock(debugMutex());
    debugModule(moduleName);
    debugOutput(message.toStdString());
}

void setTraceSink(TraceSink* sink)
{
    std::lock_guard<std::mutex> lock(debugMutex());
    installedSink = sink;
}

void resetDebugSettingsForTest()
{
    std::lock_guard<std::mutex> lock(debugMutex());
    filters() = Filters();
}

} // namespace winsteps
