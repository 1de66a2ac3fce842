#pragma once

// What every fuzz target shares: the input cap, a trace sink that drops everything, and a
// place to put results so that the compiler keeps the work that made them. Plain C++ and
// Qt only, so that the replay test builds the same targets with any compiler.

#include "debug/debugoutput.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <cstddef>
#include <cstdint>

namespace fuzzsupport {

// Longer inputs are skipped: they only slow the search down.
inline constexpr std::size_t MaxInput = 64 * 1024;

// Drops every trace piece; the channel still composes its messages.
class DropSink final : public winsteps::TraceSink
{
public:
    void write(const std::string&) override {}
};

// Installs the dropping sink once per process.
inline void silenceTrace()
{
    static DropSink sink;
    static const bool installed = (winsteps::setTraceSink(&sink), true);
    (void)installed;
}

// Results go here; a volatile store cannot be removed.
inline volatile std::size_t resultSink = 0;

inline void keep(std::size_t n)
{
    resultSink = resultSink + n;
}
inline void keep(bool b)
{
    keep(std::size_t(b ? 1 : 2));
}
inline void keep(const QString& text)
{
    keep(std::size_t(text.size()) + (text.isEmpty() ? 0 : text.front().unicode()));
}
inline void keep(const QStringList& list)
{
    for (const QString& text : list)
        keep(text);
}
inline void keep(const QVariant& value)
{
    keep(std::size_t(value.typeId()));
    keep(value.toString());
}

// The input as text: UTF-8 with invalid sequences replaced, as a file reader would see it.
inline QString text(const std::uint8_t* data, std::size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
}

inline QByteArray bytes(const std::uint8_t* data, std::size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

} // namespace fuzzsupport
