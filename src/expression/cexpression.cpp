#include "expression/cexpression.h"

#include "expression/cproperty.h"
#include "expression/cpropertymap.h"

#include <QRegExp>
#include <QStringList>

#include <utility>

// --- CObjectResult ---

CObjectResult::CObjectResult(CPropertyObject* object, bool handedOver)
    : m_object(object)
    , m_handedOver(handedOver && object)
{
}

CObjectResult::~CObjectResult()
{
    reset();
}

CObjectResult::CObjectResult(CObjectResult&& other) noexcept
    : m_object(other.m_object)
    , m_handedOver(other.m_handedOver)
{
    other.m_object.clear();
    other.m_handedOver = false;
}

CObjectResult& CObjectResult::operator=(CObjectResult&& other) noexcept
{
    if (this != &other) {
        reset();
        m_object = other.m_object;
        m_handedOver = other.m_handedOver;
        other.m_object.clear();
        other.m_handedOver = false;
    }
    return *this;
}

void CObjectResult::reset()
{
    if (m_handedOver)
        delete m_object.data(); // null when someone deleted it already
    m_object.clear();
    m_handedOver = false;
}

CPropertyObject* CObjectResult::release()
{
    CPropertyObject* object = m_object.data();
    m_object.clear();
    m_handedOver = false;
    return object;
}

std::unique_ptr<CPropertyObject> CObjectResult::takeOrClone()
{
    if (!m_object)
        return nullptr;
    if (m_handedOver)
        return std::unique_ptr<CPropertyObject>(release());
    std::unique_ptr<CPropertyObject> copy(m_object->clone());
    m_object.clear();
    return copy;
}

// --- CNumericValue ---

namespace {

// Both set() overloads: a plain number is unpacked, anything else is kept (copied or moved).
template <typename Variant>
void setNumeric(CNumericValue& number, Variant&& value)
{
    switch (value.typeId()) {
    case QMetaType::LongLong:
        number.setInteger(*static_cast<const qlonglong*>(value.constData()));
        return;
    case QMetaType::Double:
        number.setDecimal(*static_cast<const double*>(value.constData()));
        return;
    default:
        number.type = QMetaType::UnknownType;
        number.other = std::forward<Variant>(value);
    }
}

} // namespace

void CNumericValue::set(const QVariant& value)
{
    setNumeric(*this, value);
}

void CNumericValue::set(QVariant&& value)
{
    setNumeric(*this, std::move(value));
}

QVariant CNumericValue::toVariant() const
{
    if (type == QMetaType::LongLong)
        return QVariant(integer);
    if (type == QMetaType::Double)
        return QVariant(decimal);
    return other ? *other : QVariant();
}

// --- CExpression ---

CExpression::CExpression(CPropertyMap* owner)
    : m_owner(owner)
{
}

CExpression::~CExpression() = default;

bool CExpression::isSet() const
{
    return true;
}

QString CExpression::errors() const
{
    return m_errors;
}

CProperty* CExpression::createVariable(const QString& name)
{
    return m_owner ? m_owner->createVariable(name) : nullptr;
}

void CExpression::addError(const QString& text)
{
    m_errors += text;
}

bool CExpression::handsOverObject() const
{
    return false;
}

CObjectResult CExpression::objectResult() const
{
    return CObjectResult(object(), handsOverObject());
}

void CExpression::numericValue(CNumericValue& out) const
{
    out.set(value());
}

// --- CConstExpression ---

CConstExpression::CConstExpression(const QString& text, CPropertyMap* owner)
    : CExpression(owner)
{
    // The only escape of the language: backslash-apostrophe stands for an apostrophe.
    QString unescaped = text;
    unescaped.replace(QStringLiteral("\\'"), QStringLiteral("'"));
    m_value = QVariant(unescaped);
}

CConstExpression::CConstExpression(qlonglong number, CPropertyMap* owner)
    : CExpression(owner)
    , m_value(number)
{
    m_number.setInteger(number);
}

CConstExpression::CConstExpression(double number, CPropertyMap* owner)
    : CExpression(owner)
    , m_value(number)
{
    m_number.setDecimal(number);
}

QVariant CConstExpression::value() const
{
    return m_value;
}

void CConstExpression::numericValue(CNumericValue& out) const
{
    if (m_number.type != QMetaType::UnknownType) {
        out.type = m_number.type;
        out.integer = m_number.integer;
        out.decimal = m_number.decimal;
    } else {
        out.set(m_value);
    }
}

CPropertyObject* CConstExpression::object() const
{
    return nullptr;
}

bool CConstExpression::isObject() const
{
    return false;
}

bool CConstExpression::isSet() const
{
    return true;
}

// --- CVarExpression ---

CVarExpression::CVarExpression(const QString& name, CPropertyMap* owner)
    : CExpression(owner)
{
    m_variable = createVariable(name);
}

QVariant CVarExpression::value() const
{
    return m_variable ? m_variable->value() : QVariant();
}

void CVarExpression::numericValue(CNumericValue& out) const
{
    out.set(m_variable ? m_variable->value() : QVariant());
}

CPropertyObject* CVarExpression::object() const
{
    return m_variable ? m_variable->object() : nullptr;
}

bool CVarExpression::isObject() const
{
    return object() != nullptr;
}

bool CVarExpression::isSet() const
{
    return m_variable && m_variable->isSet();
}

// --- CFuncExpression ---

CFuncExpression::CFuncExpression(const QList<CExpression*>& parameters, CPropertyMap* owner)
    : CExpression(owner)
    , m_parameters(parameters)
{
}

CFuncExpression::~CFuncExpression()
{
    qDeleteAll(m_parameters); // null entries are skipped by delete
}

QVariant CFuncExpression::value() const
{
    return QVariant();
}

CPropertyObject* CFuncExpression::object() const
{
    return nullptr;
}

bool CFuncExpression::isObject() const
{
    return objectResult().get() != nullptr;
}

int CFuncExpression::parameterCount() const
{
    return int(m_parameters.size());
}

CExpression* CFuncExpression::parameter(int index) const
{
    return m_parameters.value(index, nullptr);
}

QVariant CFuncExpression::parameterValue(int index) const
{
    const CExpression* p = parameter(index);
    return p ? p->value() : QVariant();
}

bool CFuncExpression::parameterIsObject(int index) const
{
    const CExpression* p = parameter(index);
    return p && p->isObject();
}

CObjectResult CFuncExpression::parameterResult(int index) const
{
    const CExpression* p = parameter(index);
    return p ? p->objectResult() : CObjectResult();
}

void CFuncExpression::storeObjectProperty(CPropertyObject* owner, const QString& name, std::unique_ptr<CPropertyObject> object)
{
    if (object)
        owner->adoptObjectProperty(name, std::move(object));
}

bool CFuncExpression::parameterHandsOverObject(int index) const
{
    const CExpression* p = parameter(index);
    return p && p->handsOverObject();
}

// --- CFunctionNoObjectParameters ---

CFunctionNoObjectParameters::CFunctionNoObjectParameters(const QList<CExpression*>& parameters,
                                                         CPropertyMap* owner)
    : CFuncExpression(parameters, owner)
{
    for (int i = 0; i < parameterCount(); ++i) {
        if (parameterIsObject(i)) {
            addError(QStringLiteral("function does not take object parameters.\n"));
            break;
        }
    }
}

// --- CParameterCount ---

bool CParameterCount::accepts(int n) const
{
    if (n < 0)
        return false;
    if (exactCounts != 0)
        return n < 32 && (exactCounts & (1u << n)) != 0;
    return n >= minimum && (maximum == Unbounded || n <= maximum);
}

QString CParameterCount::text() const
{
    if (exactCounts != 0) {
        QStringList counts;
        for (int n = 0; n < 32; ++n) {
            if (exactCounts & (1u << n))
                counts << QString::number(n);
        }
        if (counts.size() == 1)
            return QStringLiteral("exactly ") + counts.first();
        const QString last = counts.takeLast();
        return counts.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
    }
    if (maximum == Unbounded)
        return QStringLiteral("%1 or more").arg(minimum);
    if (minimum == maximum)
        return QStringLiteral("exactly %1").arg(minimum);
    if (minimum == 0)
        return QStringLiteral("%1 or fewer").arg(maximum);
    if (maximum == minimum + 1)
        return QStringLiteral("%1 or %2").arg(minimum).arg(maximum);
    return QStringLiteral("%1 to %2").arg(minimum).arg(maximum);
}

bool CParameterCount::operator==(const CParameterCount& other) const
{
    return minimum == other.minimum && maximum == other.maximum && exactCounts == other.exactCounts;
}

// --- expressiontext ---

bool winsteps::expressiontext::isInteger(const QString& text)
{
    // QRegExp keeps match state, so each thread has its own.
    thread_local const QRegExp pattern(QStringLiteral("-?[0-9]+"));
    return pattern.exactMatch(text);
}

bool winsteps::expressiontext::isDecimal(const QString& text)
{
    thread_local const QRegExp pattern(QStringLiteral("-?[0-9]+.[0-9]+"));
    return pattern.exactMatch(text);
}

int winsteps::expressiontext::quoteCount(QStringView text)
{
    // The matches of "^'" and of "[^\\]'": every unescaped apostrophe, counted in one pass.
    int count = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('\'') && (i == 0 || text[i - 1] != QLatin1Char('\\')))
            ++count;
    }
    return count;
}
