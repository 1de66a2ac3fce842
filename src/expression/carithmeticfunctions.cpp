#include "expression/carithmeticfunctions.h"

#include "debug/debugoutput.h"
#include "objects/valueconversion.h"

using namespace winsteps::valueconversion;

namespace {

// The kind an operand leaves: a text of digits asks for integers, a decimal text or a
// double for doubles (which then stay), any other text for none; other types leave it.
QMetaType::Type nextKind(QMetaType::Type kind, const CNumericValue& operand)
{
    switch (operand.type) {
    case QMetaType::LongLong:
        return kind == QMetaType::Double ? kind : QMetaType::LongLong;
    case QMetaType::Double:
        return QMetaType::Double;
    default:
        break;
    }
    if (!operand.other || operand.other->typeId() != QMetaType::QString)
        return kind;
    const QString text = operand.other->toString();
    if (winsteps::expressiontext::isInteger(text))
        return kind == QMetaType::Double ? kind : QMetaType::LongLong;
    if (winsteps::expressiontext::isDecimal(text))
        return QMetaType::Double;
    return kind == QMetaType::Double ? kind : QMetaType::UnknownType;
}

// toLongLong() and toDouble() of the operand's value.
qlonglong integerOf(const CNumericValue& operand)
{
    switch (operand.type) {
    case QMetaType::LongLong:
        return operand.integer;
    case QMetaType::Double:
        return doubleToLongLong(operand.decimal);
    default:
        return operand.other ? toLongLong(*operand.other) : 0;
    }
}

double decimalOf(const CNumericValue& operand)
{
    switch (operand.type) {
    case QMetaType::LongLong:
        return double(operand.integer);
    case QMetaType::Double:
        return operand.decimal;
    default:
        return operand.other ? toDouble(*operand.other) : 0.0;
    }
}

} // namespace

void CFunctionAdd::combine(CNumericValue& out, bool multiply) const
{
    // One pass: the integer and the double result are both kept until the last operand
    // has decided the kind. Integers wrap like the machine's 64-bit integers.
    QMetaType::Type kind = QMetaType::UnknownType;
    quint64 integer = multiply ? 1 : 0;
    double decimal = multiply ? 1.0 : 0.0;
    CNumericValue operand;
    for (const CExpression* p : parameters()) {
        if (!p)
            continue;
        p->numericValue(operand);
        kind = nextKind(kind, operand);
        if (multiply) {
            integer *= quint64(integerOf(operand));
            decimal *= decimalOf(operand);
        } else {
            integer += quint64(integerOf(operand));
            decimal += decimalOf(operand);
        }
    }
    m_numericKind = kind;
    if (kind == QMetaType::LongLong)
        out.setInteger(qlonglong(integer));
    else if (kind == QMetaType::Double)
        out.setDecimal(decimal);
    else
        out.set(QVariant(int(0)));
}

void CFunctionAdd::numericValue(CNumericValue& out) const
{
    combine(out, false);
}

QVariant CFunctionAdd::value() const
{
    CNumericValue result;
    numericValue(result);
    return result.toVariant();
}

void CFunctionMultiply::numericValue(CNumericValue& out) const
{
    combine(out, true);
}

QVariant CFunctionDivide::value() const
{
    const double dividend = toDouble(parameterValue(0));
    const double divisor = toDouble(parameterValue(1));
    if (divisor == 0.0) {
        winsteps::trace(winsteps::module::propertymapfunctions, QStringLiteral(" ! Division by zero !\n"));
        return QVariant();
    }
    return QVariant(dividend / divisor);
}

QVariant CFunctionNegate::value() const
{
    const QVariant v = parameterValue(0);
    if (v.typeId() == QMetaType::Double)
        return QVariant(-v.toDouble());
    return QVariant(qlonglong(0ULL - quint64(toLongLong(v)))); // wraps for the smallest value
}
