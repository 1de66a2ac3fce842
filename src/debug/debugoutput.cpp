#include "debug/debugoutput.h"

#include "platform/system.h"

#include <QRegExp>
#include <QSettings>
#include <QTime>

#include <cstdio>
#include <iostream>
#include <string_view>
#include <utility>
#include <vector>

namespace winsteps {

namespace {

constexpr int tagWidth = 20;
constexpr std::size_t lineIndent = 23;

struct ModuleTag {
    const char* pointer; // the last name pointer seen for this module
    std::string name;
    std::string tag;
};

// The filter settings, read once per process (again after resetDebugSettingsForTest()).
// Guarded by debugMutex. Never destroyed: traces may come during static destruction.
struct Filters {
    bool loaded = false;
    QString include = QStringLiteral(".*");
    QString exclude;
    bool timeStamp = false;
    QRegExp includeExpression;
    QRegExp excludeExpression;
    // The tag piece of each module seen so far (empty when the filters hide it), so that
    // the filters run once per module and not once per trace.
    std::vector<ModuleTag> tags;
};

// Modules beyond this many are filtered on every trace instead of being remembered.
constexpr std::size_t maxRememberedTags = 64;

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

// While trace() runs with the default sink, the pieces of its trace are gathered here and
// go to std::clog in one call at the end: std::clog is unbuffered, so every call is a
// system call of its own. The bytes are the same as piece by piece. Guarded by debugMutex.
std::string* composedLine = nullptr;

// The open TraceBatch scopes of this thread and the traces they gathered. The buffer is only
// touched under debugMutex by its own thread.
thread_local int batchDepth = 0;
constexpr std::size_t batchFlushSize = 64 * 1024;

std::string& batchBuffer()
{
    thread_local std::string buffer;
    return buffer;
}

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

// The debugger channel of the trace being written: looked up once per trace() instead of
// once per piece. Null outside trace(). Guarded by debugMutex.
platform::System* traceChannel = nullptr;

// One piece to the sink (in one call) and to the debugger channel.
void writePiece(const std::string& piece)
{
    platform::System& channel = traceChannel ? *traceChannel : platform::system();
    if (!piece.empty()) {
        if (installedSink)
            installedSink->write(piece);
        else if (composedLine)
            composedLine->append(piece);
        else
            clogSink().write(piece);
    }
    channel.outputDebugString(piece);
}

// The UTF-8 form of text into out (replacing its content), without a temporary array for
// text of the first two UTF-8 rows (ASCII, Latin-1 and the like); other text goes through
// the toolkit's converter.
void assignUtf8(std::string& out, const QString& text)
{
    const char16_t* units = reinterpret_cast<const char16_t*>(text.constData());
    const std::size_t size = std::size_t(text.size());
    out.resize(2 * size);
    char* bytes = out.data();
    std::size_t n = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const char16_t unit = units[i];
        if (unit < 0x80) {
            bytes[n++] = char(unit);
        } else if (unit < 0x800) {
            bytes[n++] = char(0xc0 | (unit >> 6));
            bytes[n++] = char(0x80 | (unit & 0x3f));
        } else {
            const QByteArray utf8 = text.toUtf8();
            out.assign(utf8.constData(), std::size_t(utf8.size()));
            return;
        }
    }
    out.resize(n);
}

// The tag piece of a module: "[name padded/cut to 20]", or empty when the filters hide it.
std::string tagPiece(Filters& f, const char* moduleName)
{
    const QString name = QString::fromUtf8(moduleName);
    if (!passes(f, name))
        return std::string();
    const QString tag = name.leftJustified(tagWidth, QLatin1Char(' '), true);
    return "[" + tag.toStdString() + "]";
}

// debugOutput() without copying the text. Caller holds debugMutex.
void outputText(const std::string& whole)
{
    Filters& f = loadedFilters();
    const std::string_view text = whole;
    const std::size_t firstEnd = text.find('\n');
    const bool onePiece = firstEnd == std::string_view::npos || firstEnd + 1 == text.size();
    if (onePiece && !f.timeStamp) {
        writePiece(whole);
        return;
    }
    const std::string prefix = f.timeStamp ? debugTimeStamp() : std::string();
    if (onePiece) {
        writePiece(prefix + whole);
        return;
    }
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        if (end > start)
            lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    if (lines.empty()) {
        writePiece(prefix + whole);
        return;
    }
    const std::string indent(lineIndent, ' ');
    std::string piece;
    for (std::string_view line : lines) {
        piece.clear();
        piece.reserve(prefix.size() + indent.size() + line.size() + 1);
        piece += prefix;
        piece += indent;
        piece += line;
        piece += '\n';
        writePiece(piece);
    }
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
    const char* name = moduleName ? moduleName : "";
    // Callers pass the names of winsteps::module, the same pointer each time: find the
    // entry by pointer first (the text is still checked: a pointer may be reused for
    // another name), by text only for a pointer not seen yet.
    const ModuleTag* found = nullptr;
    for (const ModuleTag& known : f.tags) {
        if (known.pointer == name && known.name == name) {
            found = &known;
            break;
        }
    }
    if (!found) {
        for (ModuleTag& known : f.tags) {
            if (known.name == name) {
                known.pointer = name;
                found = &known;
                break;
            }
        }
    }
    if (found) {
        if (!found->tag.empty())
            outputText(found->tag);
        return std::clog;
    }
    std::string tag = tagPiece(f, name);
    if (!tag.empty())
        outputText(tag);
    if (f.tags.size() < maxRememberedTags)
        f.tags.push_back({name, name, std::move(tag)});
    return std::clog;
}

void debugOutput(std::string text)
{
    outputText(text);
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
    static std::string* reused = new std::string; // keeps its capacity
    const bool batched = batchDepth > 0;
    std::string* line = batched ? &batchBuffer() : reused;
    if (!batched)
        line->clear();
    if (!installedSink)
        composedLine = line;
    traceChannel = &platform::system();
    debugModule(moduleName);
    static std::string* text = new std::string; // the message in UTF-8; keeps its capacity
    assignUtf8(*text, message);
    outputText(*text);
    composedLine = nullptr;
    traceChannel = nullptr;
    if (line->empty() || (batched && line->size() < batchFlushSize))
        return;
    clogSink().write(*line);
    line->clear();
}

TraceBatch::TraceBatch()
{
    ++batchDepth;
}

TraceBatch::~TraceBatch()
{
    if (--batchDepth > 0)
        return;
    std::lock_guard<std::mutex> lock(debugMutex());
    std::string& buffer = batchBuffer();
    if (buffer.empty())
        return;
    clogSink().write(buffer);
    buffer.clear();
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
