#include "expression/cstringfunctions.h"

#include "objects/valueconversion.h"
#include "expression/cpropertymap.h"

#include <QVarLengthArray>

#include <limits>

using namespace winsteps::valueconversion;

namespace {

// The HTML 4.01 entity names of U+00A1 to U+00FF, indexed by code - 0xA1.
const char* const latin1Entities[95] = {
    "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",    "copy",   "ordf",
    "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn", "sup2",   "sup3",   "acute",
    "micro",  "para",   "middot", "cedil",  "sup1",   "ordm",   "raquo",  "frac14", "frac12", "frac34",
    "iquest", "Agrave", "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave",
    "Eacute", "Ecirc",  "Euml",   "Igrave", "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve",
    "Oacute", "Ocirc",  "Otilde", "Ouml",   "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",
    "Yacute", "THORN",  "szlig",  "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",
    "ccedil", "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",   "eth",
    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide", "oslash", "ugrave", "uacute",
    "ucirc",  "uuml",   "yacute", "thorn",  "yuml",
};

// A 64-bit number used as an unsigned 32-bit one: negative numbers become huge.
quint32 asUnsigned32(qlonglong n)
{
    return quint32(quint64(n));
}

int clampToInt(qlonglong n)
{
    if (n > std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    if (n < std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return int(n);
}

} // namespace

QVariant CFunctionConcat::value() const
{
    // The parts first, so that the text is allocated once at its full size.
    QVarLengthArray<QString, 8> parts;
    qsizetype size = 0;
    for (int i = 0; i < parameterCount(); ++i) {
        parts.append(toText(parameterValue(i)));
        size += parts.back().size();
    }
    QString text;
    if (size > 0)
        text.reserve(size);
    for (const QString& part : parts)
        text += part;
    return QVariant(text);
}

QVariant CFunctionUppercase::value() const
{
    return QVariant(toText(parameterValue(0)).toUpper());
}

QVariant CFunctionLowercase::value() const
{
    return QVariant(toText(parameterValue(0)).toLower());
}

QVariant CFunctionReplace::value() const
{
    const QString text = toText(parameterValue(0));
    const QRegExp expression = pattern(toText(parameterValue(1)));
    const QString replacement = toText(parameterValue(2));
    return QVariant(expression.replaceIn(text, replacement));
}

QVariant CFunctionSubstr::value() const
{
    const QString text = toText(parameterValue(0));
    const quint32 start = asUnsigned32(toLongLong(parameterValue(1)));
    quint32 length = std::numeric_limits<quint32>::max();
    if (parameterCount() >= 3)
        length = asUnsigned32(toLongLong(parameterValue(2)));
    if (start >= quint64(text.size()))
        return QVariant(QString(QLatin1String("")));
    const quint64 available = quint64(text.size()) - start;
    return QVariant(text.mid(qsizetype(start), qsizetype(std::min<quint64>(length, available))));
}

QVariant CFunctionPos::value() const
{
    const QString text = toText(parameterValue(0));
    const QRegExp expression = pattern(toText(parameterValue(1)));
    const int from = parameterCount() >= 3 ? clampToInt(toLongLong(parameterValue(2))) : 0;
    // A negative start searches backwards from there, -1 being the last character.
    const int index = from >= 0 ? expression.indexIn(text, from) : expression.lastIndexIn(text, from);
    return QVariant(int(index));
}

QVariant CFunctionLen::value() const
{
    return QVariant(uint(toText(parameterValue(0)).size()));
}

QVariant CFunctionSection::value() const
{
    const QString text = toText(parameterValue(0));
    const QRegExp separator = pattern(toText(parameterValue(1)));
    const int start = toInt(parameterValue(2));
    const int end = parameterCount() >= 4 ? toInt(parameterValue(3)) : -1;
    return QVariant(section(text, separator, start, end));
}

QVariant CFunctionSafeXML::value() const
{
    const QString text = toText(parameterValue(0));
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        switch (code) {
        case u'"': escaped += QLatin1String("&quot;"); break;
        case u'&': escaped += QLatin1String("&amp;"); break;
        case u'\'': escaped += QLatin1String("&apos;"); break;
        case u'<': escaped += QLatin1String("&lt;"); break;
        case u'>': escaped += QLatin1String("&gt;"); break;
        case 0x20AC: escaped += QLatin1String("&euro;"); break;
        default:
            if (code >= 0xA1 && code <= 0xFF)
                escaped += QLatin1Char('&') + QLatin1String(latin1Entities[code - 0xA1]) + QLatin1Char(';');
            else
                escaped += c;
        }
    }
    return QVariant(escaped);
}

QVariant CFunctionTr::value() const
{
    const QString text = toText(parameterValue(0));
    return QVariant(owner() ? owner()->translate(text) : text);
}
