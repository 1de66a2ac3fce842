#include "expression/carithmeticfunctions.h"

#include "debug/debugoutput.h"
#include "expression/valueconversion.h"

using namespace valueconversion;

CFunctionAdd::Values CFunctionAdd::collectValues() const
{
    QMetaType::Type kind = QMetaType::UnknownType;
    Values values;
    values.reserve(parameterCount());
    for (CExpression* p : parameters()) {
        if (!p)
            continue;
        const QVariant v = p->value();
        switch (v.typeId()) {
        case QMetaType::QString: {
            const QString text = v.toString();
            if (expressiontext::isInteger(text)) {
                if (kind != QMetaType::Double)
                    kind = QMetaType::LongLong;
            } else if (expressiontext::isDecimal(text)) {
                kind = QMetaType::Double;
            } else if (kind != QMetaType::Double) {
                kind = QMetaType::UnknownType;
            }
            break;
        }
        case QMetaType::Double:
            kind = QMetaType::Double;
            break;
        case QMetaType::LongLong:
            if (kind != QMetaType::Double)
                kind = QMetaType::LongLong;
            break;
        default:
            break; // other types leave the kind as it is
        }
        values.append(v);
    }
    m_numericKind = kind;
    return values;
}

QVariant CFunctionAdd::value() const
{
    const Values values = collectValues();
    if (m_numericKind == QMetaType::LongLong) {
        quint64 sum = 0; // wraps like the machine's 64-bit integers
        for (const QVariant& v : values)
            sum += quint64(toLongLong(v));
        return QVariant(qlonglong(sum));
    }
    if (m_numericKind == QMetaType::Double) {
        double sum = 0.0;
        for (const QVariant& v : values)
            sum += toDouble(v);
        return QVariant(sum);
    }
    return QVariant(int(0));
}

QVariant CFunctionMultiply::value() const
{
    const Values values = collectValues();
    if (m_numericKind == QMetaType::LongLong) {
        quint64 product = 1;
        for (const QVariant& v : values)
            product *= quint64(toLongLong(v));
        return QVariant(qlonglong(product));
    }
    if (m_numericKind == QMetaType::Double) {
        double product = 1.0;
        for (const QVariant& v : values)
            product *= toDouble(v);
        return QVariant(product);
    }
    return QVariant(int(0));
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
