#pragma once

#include "winsteps_export.h"

#include <QByteArray>
#include <QString>

// One name=value pair of a configuration string.
class WINSTEPS_EXPORT CTag
{
public:
    static constexpr int PlainText = -2;      // the value is plain text
    static constexpr int MarkerWithoutId = -1; // tr(text) without a number

    CTag() = default;
    explicit CTag(const QString& name) : name(name) {}

    // Stores text, recognising a translation marker "tr(...)" / "tr(N, ...)".
    void setValue(const QString& text);
    // With withTranslation and a marker: "tr(" + id + ", " + value + ")"; else the bare value.
    QString value(bool withTranslation) const;

    QString name;
    QString rawValue;            // null when the pair had no value
    int translationId = PlainText;
    bool quoted = false;
};

// Cuts a configuration string into CTags: blank-separated name=value pairs, values
// optionally in double quotes (backslash escapes the next character and is kept).
class WINSTEPS_EXPORT CTagToken
{
public:
    explicit CTagToken(const QString& text);

    bool hasMoreTags() const { return m_more; }
    void nextTag(CTag& out);

    // Longest name and unquoted value in bytes; quoted values keep at most one byte less.
    static constexpr int BufferSize = 1024;

private:
    // Makes position the start of the next tag; there is none when only white space is left.
    void moveTo(int position);

    // The text as UTF-8, converted once: each tag moves m_position on, so cutting a long
    // string costs time in proportion to its length.
    QByteArray m_bytes;
    int m_position = 0;
    bool m_more = false;
};
