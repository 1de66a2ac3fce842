#pragma once

// Bytes and files for tests: literals with NUL bytes, UTF-16 files as the registry editor
// writes them, and whole files read and written.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <cstddef>

namespace testsupport {

// The whole literal, NUL bytes included.
template <std::size_t N>
QByteArray bytes(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

// text in UTF-16 (little endian) behind a byte-order mark.
inline QByteArray utf16(const QString& text)
{
    QByteArray data("\xFF\xFE", 2);
    for (const QChar c : text) {
        data.append(char(c.unicode() & 0xFF));
        data.append(char(c.unicode() >> 8));
    }
    return data;
}

// Writes data to path, making the folders on the way; false when it cannot.
inline bool writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// The file's bytes, or "<unreadable>".
inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

} // namespace testsupport
