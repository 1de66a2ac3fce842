#pragma once

#include <QStringList>
#include <QVariant>

// How the actions read their option values.
namespace winsteps::actionvalues {

// A yes/no option: a bool as it is, a number when not 0; a text unless it is empty or,
// in any case, "0", "false", "no" or "off".
inline bool toBool(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::UnknownType:
        return false;
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::QString: {
        const QString text = value.toString().trimmed().toLower();
        return !(text.isEmpty() || text == QLatin1String("0") || text == QLatin1String("false")
                 || text == QLatin1String("no") || text == QLatin1String("off"));
    }
    default:
        return value.toDouble() != 0.0;
    }
}

// An argument list: a string list as it is, the texts of a list's elements, or a single
// non-empty text as one argument (it is never split at blanks).
inline QStringList toArguments(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QStringList:
        return value.toStringList();
    case QMetaType::QVariantList: {
        QStringList list;
        const QVariantList items = value.toList();
        for (const QVariant& item : items)
            list << item.toString();
        return list;
    }
    case QMetaType::QString:
        return value.toString().isEmpty() ? QStringList() : QStringList(value.toString());
    default:
        return QStringList();
    }
}

// A whole number: a number or a text of one (a fraction cut toward zero); 0 for anything else.
inline int toInt(const QVariant& value)
{
    const QString text = value.toString().trimmed();
    bool ok = false;
    const int number = text.toInt(&ok);
    if (ok)
        return number;
    const double real = text.toDouble(&ok);
    return ok && real > -2147483648.0 && real < 2147483648.0 ? int(real) : 0;
}

} // namespace winsteps::actionvalues
