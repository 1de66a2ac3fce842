#include "objects/ctag.h"

#include <algorithm>

namespace {

// A present but empty value is the empty string, never a null one.
QString valueText(const QByteArray& bytes)
{
    QString text = QString::fromUtf8(bytes);
    if (text.isNull())
        text = QString(QLatin1String(""));
    return text;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Cuts UTF-8 bytes to at most max bytes without splitting a multi-byte character.
QByteArray cutUtf8(const QByteArray& bytes, int max)
{
    if (bytes.size() <= max)
        return bytes;
    int end = max;
    while (end > 0 && (static_cast<unsigned char>(bytes[end]) & 0xC0) == 0x80)
        --end;
    return bytes.left(end);
}

// Whether bytes (valid UTF-8) hold nothing but white space from position on, as
// QString::trimmed() sees it; reads only as far as the first other character.
bool onlySpaceFrom(const QByteArray& bytes, int position)
{
    const int n = bytes.size();
    while (position < n) {
        const unsigned char lead = static_cast<unsigned char>(bytes[position]);
        if (lead < 0x80) {
            if (!QChar::isSpace(char32_t(lead)))
                return false;
            ++position;
            continue;
        }
        const int length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        const QString character = QString::fromUtf8(bytes.constData() + position, std::min(length, n - position));
        for (const QChar c : character) {
            if (!c.isSpace())
                return false;
        }
        position += length;
    }
    return true;
}

} // namespace

void CTag::setValue(const QString& text)
{
    if (text.startsWith(QLatin1String("tr(")) && text.endsWith(QLatin1Char(')'))) {
        const QString inner = text.mid(3, text.size() - 4);
        const int comma = inner.indexOf(QLatin1Char(','));
        if (comma < 0) {
            rawValue = inner.trimmed();
            translationId = MarkerWithoutId;
            return;
        }
        rawValue = inner.mid(comma + 1).trimmed();
        // Decimal integer from the start: blanks, optional sign, digits; 0 when none.
        int i = 0;
        while (i < inner.size() && (inner[i] == QLatin1Char(' ') || inner[i] == QLatin1Char('\t')))
            ++i;
        bool negative = false;
        if (i < inner.size() && (inner[i] == QLatin1Char('-') || inner[i] == QLatin1Char('+'))) {
            negative = inner[i] == QLatin1Char('-');
            ++i;
        }
        long long id = 0;
        while (i < inner.size() && inner[i].isDigit() && inner[i].unicode() < 128) {
            id = id * 10 + (inner[i].unicode() - '0');
            if (id > 0x7fffffffLL)
                id = 0x7fffffffLL;
            ++i;
        }
        translationId = static_cast<int>(negative ? -id : id);
        return;
    }
    rawValue = text;
}

QString CTag::value(bool withTranslation) const
{
    if (withTranslation && translationId != PlainText)
        return QLatin1String("tr(") + QString::number(translationId) + QLatin1String(", ") + rawValue
               + QLatin1Char(')');
    return rawValue;
}

CTagToken::CTagToken(const QString& text)
    : m_bytes(text.toUtf8())
{
    // A text of blanks only holds no tag (it would make one with an empty name).
    moveTo(0);
}

// Works on the UTF-8 bytes of the text, so any character survives; the length limits are
// counted in bytes and never split a character.
void CTagToken::nextTag(CTag& out)
{
    out = CTag();
    const QByteArray& bytes = m_bytes;
    const int n = bytes.size();
    int i = m_position;
    while (i < n && isBlank(bytes[i]))
        ++i;

    const int nameStart = i;
    while (i < n && !isBlank(bytes[i]) && bytes[i] != '=' && i - nameStart < BufferSize)
        ++i;
    const QByteArray name = cutUtf8(bytes.mid(nameStart, i - nameStart), BufferSize);
    i = nameStart + name.size();
    out.name = QString::fromUtf8(name);

    int j = i;
    while (j < n && isBlank(bytes[j]))
        ++j;
    if (j >= n || bytes[j] != '=') {
        moveTo(i);
        return;
    }
    ++j; // '='
    while (j < n && isBlank(bytes[j]))
        ++j;

    if (j < n && bytes[j] == '"') {
        int k = j + 1;
        while (k < n && bytes[k] != '"') {
            if (bytes[k] == '\\' && k + 1 < n)
                ++k;
            ++k;
        }
        if (k >= n) { // no closing quote: the rest is dropped, the tag keeps only its name
            moveTo(n);
            return;
        }
        out.setValue(valueText(cutUtf8(bytes.mid(j + 1, k - j - 1), BufferSize - 1)));
        out.quoted = true;
        moveTo(k + 1);
    } else {
        int k = j;
        while (k < n && bytes[k] != ' ')
            ++k;
        out.setValue(valueText(cutUtf8(bytes.mid(j, k - j), BufferSize)));
        moveTo(k < n ? k + 1 : n);
    }
}

void CTagToken::moveTo(int position)
{
    m_position = position;
    m_more = !onlySpaceFrom(m_bytes, position);
}
