#include "netdev/cguid.h"

namespace {

// The value of the hexadecimal digits of text, other characters skipped.
quint32 hexValue(QStringView text)
{
    quint32 value = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= u'0' && u <= u'9')
            value = value * 16 + (u - u'0');
        else if ((u | 0x20) >= u'a' && (u | 0x20) <= u'f')
            value = value * 16 + ((u | 0x20) - u'a' + 10);
    }
    return value;
}

// Parses "{a-b-c-d-e}" into *guid; false when the text does not have that shape.
bool parse(const QString& text, winsteps::platform::GUID* guid)
{
    const qsizetype open = text.indexOf(QLatin1Char('{'));
    const qsizetype close = open < 0 ? -1 : text.indexOf(QLatin1Char('}'), open);
    if (close < 0)
        return false;
    const QStringView inner = QStringView(text).mid(open + 1, close - open - 1);
    QStringView groups[5];
    qsizetype from = 0;
    for (int i = 0; i < 4; ++i) {
        const qsizetype dash = inner.indexOf(QLatin1Char('-'), from);
        if (dash < 0)
            return false;
        groups[i] = inner.mid(from, dash - from);
        from = dash + 1;
    }
    groups[4] = inner.mid(from);
    if (groups[4].size() != 12)
        return false;
    guid->data1 = hexValue(groups[0]);
    guid->data2 = quint16(hexValue(groups[1]));
    guid->data3 = quint16(hexValue(groups[2]));
    const quint32 pair = hexValue(groups[3]);
    guid->data4[0] = quint8(pair >> 8);
    guid->data4[1] = quint8(pair);
    for (int i = 0; i < 6; ++i)
        guid->data4[2 + i] = quint8(hexValue(groups[4].mid(2 * i, 2)));
    return true;
}

} // namespace

CGUID::CGUID(const QString& text)
    : m_text(text)
{
    winsteps::platform::GUID value;
    if (parse(text, &value))
        m_value = value;
}

const CGUID& CGUID::null()
{
    static const CGUID guid;
    return guid;
}

const CGUID& CGUID::networkAdapterClass()
{
    static const CGUID guid(QStringLiteral("{4D36E972-E325-11CE-BFC1-08002BE10318}"));
    return guid;
}
