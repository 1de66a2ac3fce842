#pragma once

#include "winsteps_export.h"

#include <QRegExp>
#include <QString>
#include <QStringList>
#include <QVariant>

class CPropertyObject;

// How the expression functions read values: one place for every conversion, so that all
// functions agree. A value that does not convert gives the empty text, the empty list, 0
// or 0.0; a text never turns into a list of its characters.
namespace winsteps::valueconversion {

// The value as text. Lists (and values without a text form) give the empty text.
QString toText(const QVariant& value);
// The strings of a string list, or the texts of a list's elements; empty for anything else.
QStringList toStringList(const QVariant& value);
// The elements of a list, or the strings of a string list; empty for anything else.
QVariantList toList(const QVariant& value);
// A 64-bit integer: a text of digits, an integer type, a double cut towards zero, a bool.
qlonglong toLongLong(const QVariant& value);
// A double cut towards zero; out of range saturates, NaN is 0.
qlonglong doubleToLongLong(double d);
// A double: a number text or any numeric type.
double toDouble(const QVariant& value);
// toLongLong() cut to 32 bits, as a 32-bit integer would hold it.
int toInt(const QVariant& value);
// True unless empty, "0" or "false" (any case) for texts; non-zero for numbers.
bool toBool(const QVariant& value);

// Equality of two values: of one type, as the type compares; of different types (neither
// a list), as their texts.
bool sameValue(const QVariant& a, const QVariant& b);

// The regular expression of a pattern text: case-sensitive, not a wildcard pattern.
QRegExp pattern(const QString& text);
// The pattern is found somewhere in text.
bool matches(const QRegExp& expression, const QString& text);

// The fields start to end (counted from 0; negative numbers count from the end) of text
// cut at every match of separator, with the separators between them kept: what
// QString::section did with a regular expression and default flags.
QString section(const QString& text, const QRegExp& separator, int start, int end);

// The names of the object properties of object in list order: as propertyNames() lists
// them, with runs of digits compared by number, so that "node2" comes before "node10".
// Empty for null.
WINSTEPS_EXPORT QStringList objectPropertyNames(const CPropertyObject* object);
// Natural order of two names (digit runs by number).
WINSTEPS_EXPORT bool naturalLess(const QString& a, const QString& b);

} // namespace winsteps::valueconversion
