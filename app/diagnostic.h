#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace winsteps::host {

// A finding about a file that a reader can go to: the file, the line it is about (from 1;
// 0 when it is about the file as a whole, such as a file that cannot be opened) and what
// is wrong there.
struct Diagnostic
{
    QString file;
    int line = 0;
    QString message;

    // "FILE:LINE: message", or "FILE: message" without a line: the form compilers use, so
    // that editors can jump to it.
    QString toText() const
    {
        QString text = file + QLatin1Char(':');
        if (line > 0)
            text += QString::number(line) + QLatin1Char(':');
        return text + QLatin1Char(' ') + message;
    }
};

// The texts of diagnostics, in order.
inline QStringList toTexts(const QList<Diagnostic>& diagnostics)
{
    QStringList texts;
    texts.reserve(diagnostics.size());
    for (const Diagnostic& diagnostic : diagnostics)
        texts << diagnostic.toText();
    return texts;
}

} // namespace winsteps::host
