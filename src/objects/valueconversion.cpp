#include "objects/valueconversion.h"

#include "objects/cpropertyobject.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

bool isList(const QVariant& value)
{
    const int type = value.typeId();
    return type == QMetaType::QVariantList || type == QMetaType::QStringList;
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

} // namespace

QString winsteps::valueconversion::toText(const QVariant& value)
{
    if (!value.isValid() || isList(value))
        return QString();
    if (value.typeId() == QMetaType::QString)
        return value.toString();
    return value.canConvert<QString>() ? value.toString() : QString();
}

QStringList winsteps::valueconversion::toStringList(const QVariant& value)
{
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList();
    QStringList list;
    if (value.typeId() == QMetaType::QVariantList) {
        const QVariantList elements = value.toList();
        list.reserve(elements.size());
        for (const QVariant& element : elements)
            list << toText(element);
    }
    return list;
}

QVariantList winsteps::valueconversion::toList(const QVariant& value)
{
    if (value.typeId() == QMetaType::QVariantList)
        return value.toList();
    QVariantList list;
    if (value.typeId() == QMetaType::QStringList) {
        const QStringList strings = value.toStringList();
        list.reserve(strings.size());
        for (const QString& s : strings)
            list << QVariant(s);
    }
    return list;
}

qlonglong winsteps::valueconversion::doubleToLongLong(double d)
{
    if (std::isnan(d))
        return 0;
    if (d >= 9223372036854775807.0)
        return std::numeric_limits<qlonglong>::max();
    if (d <= -9223372036854775808.0)
        return std::numeric_limits<qlonglong>::min();
    return qlonglong(d);
}

qlonglong winsteps::valueconversion::toLongLong(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QString: {
        bool ok = false;
        const qlonglong n = value.toString().trimmed().toLongLong(&ok);
        return ok ? n : 0;
    }
    case QMetaType::Double:
    case QMetaType::Float:
        return doubleToLongLong(value.toDouble());
    case QMetaType::ULongLong:
        return qlonglong(value.toULongLong()); // wraps, as a cast does
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Bool:
        return value.toLongLong();
    case QMetaType::QByteArray: {
        bool ok = false;
        const qlonglong n = value.toByteArray().trimmed().toLongLong(&ok);
        return ok ? n : 0;
    }
    default:
        return 0;
    }
}

double winsteps::valueconversion::toDouble(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QString: {
        bool ok = false;
        const double d = value.toString().trimmed().toDouble(&ok);
        return ok ? d : 0.0;
    }
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Bool:
        return value.toDouble();
    case QMetaType::QByteArray: {
        bool ok = false;
        const double d = value.toByteArray().trimmed().toDouble(&ok);
        return ok ? d : 0.0;
    }
    default:
        return 0.0;
    }
}

int winsteps::valueconversion::toInt(const QVariant& value)
{
    return int(qint32(quint32(quint64(toLongLong(value)))));
}

bool winsteps::valueconversion::toBool(const QVariant& value)
{
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString().toLower();
        return !(text.isEmpty() || text == QLatin1String("0") || text == QLatin1String("false"));
    }
    if (value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float)
        return value.toDouble() != 0.0;
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    return toLongLong(value) != 0;
}

bool winsteps::valueconversion::sameValue(const QVariant& a, const QVariant& b)
{
    if (a.typeId() == b.typeId())
        return a == b;
    if (!a.isValid() || !b.isValid() || isList(a) || isList(b))
        return false;
    return toText(a) == toText(b);
}

QRegExp winsteps::valueconversion::pattern(const QString& text)
{
    return QRegExp(text, Qt::CaseSensitive, QRegExp::RegExp);
}

bool winsteps::valueconversion::matches(const QRegExp& expression, const QString& text)
{
    return expression.indexIn(text) != -1;
}

QString winsteps::valueconversion::section(const QString& text, const QRegExp& separator, int start, int end)
{
    // Each field is kept with the separator in front of it (none for the first), so that a
    // range of fields is the text between them, separators included.
    struct Field
    {
        int separatorLength;
        qsizetype from;
        qsizetype length;
    };
    QList<Field> fields;
    QRegExp sep = separator;
    const int n = int(text.size());
    int m = 0;
    int fieldStart = 0;
    int separatorLength = 0;
    while ((m = sep.indexIn(text, m)) != -1) {
        fields.append({ separatorLength, fieldStart, m - fieldStart });
        fieldStart = m;
        separatorLength = sep.matchedLength();
        m += std::max(sep.matchedLength(), 1);
        if (m > n)
            break;
    }
    fields.append({ separatorLength, fieldStart, n - fieldStart });

    const qlonglong count = fields.size();
    qlonglong first = start < 0 ? start + count : start;
    qlonglong last = end < 0 ? end + count : end;
    if (first < 0)
        first = 0;
    if (first >= count || last < 0 || first > last)
        return QString();
    last = std::min(last, count - 1);

    QString result;
    for (qlonglong i = first; i <= last; ++i) {
        const Field& f = fields.at(i);
        if (i == first)
            result += QStringView(text).mid(f.from + f.separatorLength, f.length - f.separatorLength);
        else
            result += QStringView(text).mid(f.from, f.length);
    }
    return result;
}

bool winsteps::valueconversion::naturalLess(const QString& a, const QString& b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            // Compare the digit runs by value: without leading zeros, the longer is larger.
            qsizetype ia = i;
            qsizetype jb = j;
            while (ia < a.size() && a[ia] == QLatin1Char('0'))
                ++ia;
            while (jb < b.size() && b[jb] == QLatin1Char('0'))
                ++jb;
            qsizetype ea = ia;
            qsizetype eb = jb;
            while (ea < a.size() && isDigit(a[ea]))
                ++ea;
            while (eb < b.size() && isDigit(b[eb]))
                ++eb;
            if (ea - ia != eb - jb)
                return ea - ia < eb - jb;
            const int c = QStringView(a).mid(ia, ea - ia).compare(QStringView(b).mid(jb, eb - jb));
            if (c != 0)
                return c < 0;
            // Same number: fewer leading zeros first, then go on after the runs.
            if (ea - i != eb - j)
                return ea - i < eb - j;
            i = ea;
            j = eb;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

QStringList winsteps::valueconversion::objectPropertyNames(const CPropertyObject* object)
{
    if (!object)
        return QStringList();
    QStringList names = object->objectProperties().keys();
    std::stable_sort(names.begin(), names.end(), naturalLess);
    return names;
}
