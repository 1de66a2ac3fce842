// The expression parser of CPropertyMap. The language has no operators: a text is a
// constant, a variable, a function call or an expression in parentheses, decided by a
// fixed sequence of tests on the whole text. Errors go, one line each, to the map's
// error text; parsing goes on after an error wherever it can.

#include "expression/cpropertymap.h"

#include "expression/cexpression.h"
#include "expression/cfunctionregistry.h"

#include <QStringList>

#include <algorithm>

namespace {

bool isForbiddenInVariableName(QChar c)
{
    return c == QLatin1Char('$') || c == QLatin1Char('(') || c == QLatin1Char(')') || c == QLatin1Char('\'')
        || c == QLatin1Char('"') || c == QLatin1Char(',') || c.isSpace();
}

// The characters that make an unquoted text that is no call an invalid expression.
bool isForbiddenInPlainText(QChar c)
{
    return c == QLatin1Char('$') || c == QLatin1Char('(') || c == QLatin1Char(')') || c == QLatin1Char('\'')
        || c == QLatin1Char('"') || c == QLatin1Char(',');
}

bool containsAny(const QString& text, bool (*test)(QChar))
{
    return std::any_of(text.cbegin(), text.cend(), test);
}

// The first "(" of a piece (quotes disregarded) stands after its last ")".
bool parenthesesOutOfOrder(const QString& piece)
{
    return piece.indexOf(QLatin1Char('(')) > piece.lastIndexOf(QLatin1Char(')'));
}

// Whether text nests parentheses outside quotes more than the parser accepts. Checked once
// on the outermost text, so that a deep text is refused before the recursion copies it at
// every level.
bool nestsTooDeep(const QString& text)
{
    int depth = 0;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\'') && (i == 0 || text[i - 1] != QLatin1Char('\\')))
            quoted = !quoted;
        else if (quoted)
            continue;
        else if (c == QLatin1Char('(') && ++depth > CPropertyMap::MaxNesting)
            return true;
        else if (c == QLatin1Char(')') && depth > 0)
            --depth;
    }
    return false;
}

// Tracks the nesting depth of the parser across its recursion.
class DepthGuard
{
public:
    explicit DepthGuard(int& depth)
        : m_depth(depth)
    {
        ++m_depth;
    }
    ~DepthGuard() { --m_depth; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;

private:
    int& m_depth;
};

} // namespace

CExpression* CPropertyMap::parse(const QString& text)
{
    QString s = text.trimmed();
    CExpression* result = nullptr;

    if (s.isEmpty()) {
        result = new CConstExpression(QString(), this);
    } else if (s.at(0) == QLatin1Char('$')) {
        const QString name = s.mid(1);
        if (containsAny(name, isForbiddenInVariableName)) {
            addError(QStringLiteral("Invalid character(s) in variable name: %1\n").arg(text));
            return nullptr;
        }
        result = new CVarExpression(name, this);
    } else if (s.startsWith(QLatin1Char('\'')) && s.endsWith(QLatin1Char('\''))) {
        // A lone apostrophe is both the opening and the closing one.
        const QString inner = s.size() >= 2 ? s.mid(1, s.size() - 2) : QString();
        if (winsteps::expressiontext::quoteCount(inner) > 0) {
            addError(QStringLiteral("Invalid character(s) in constant expression: %1\n").arg(text));
            return nullptr;
        }
        result = new CConstExpression(inner, this);
    } else if (s.contains(QLatin1Char('(')) && s.endsWith(QLatin1Char(')'))) {
        // Parentheses and calls recurse; text nested deeper than the bound is refused rather
        // than allowed to exhaust the stack. The depth count is the safety net for what the
        // scan of the outermost text does not see.
        if (m_depth >= MaxNesting || (m_depth == 0 && nestsTooDeep(s))) {
            addError(QStringLiteral("Invalid expression: %1\n").arg(text));
            return nullptr;
        }
        DepthGuard guard(m_depth);
        if (s.startsWith(QLatin1Char('('))) {
            const QString inner = s.mid(1, s.size() - 2);
            s.clear(); // not kept alive through the recursion
            result = parse(inner);
        } else {
            const qsizetype open = s.indexOf(QLatin1Char('('));
            const QString name = s.left(open);
            const QString parameterText = s.mid(open + 1, s.size() - open - 2);
            s.clear();
            result = createFunction(name, parameterText);
        }
        if (!result)
            return nullptr;
    } else if (!containsAny(s, isForbiddenInPlainText)) {
        if (winsteps::expressiontext::isInteger(s)) {
            result = new CConstExpression(s.toLongLong(), this); // out of range gives 0
        } else if (winsteps::expressiontext::isDecimal(s)) {
            bool ok = false;
            const double number = s.toDouble(&ok);
            result = new CConstExpression(ok ? number : 0.0, this); // no number gives 0.0
        } else {
            result = new CConstExpression(s, this);
        }
    } else {
        addError(QStringLiteral("Invalid expression: %1\n").arg(text));
        return nullptr;
    }

    // The expression's own errors; for parentheses this copies the inner errors once more.
    addError(result->errors());
    return result;
}

QList<CExpression*> CPropertyMap::splitParameters(const QString& parameterText)
{
    QStringList pieces = parameterText.split(QLatin1Char(','));
    const QLatin1Char comma(',');

    // Rejoin the pieces that were cut inside quotes. An unterminated quote is dropped.
    QStringList quoted;
    QString accumulator;
    for (const QString& piece : pieces) {
        const bool odd = winsteps::expressiontext::quoteCount(piece) % 2 != 0;
        if (accumulator.isEmpty()) {
            if (odd)
                accumulator = piece + comma;
            else
                quoted.append(piece);
        } else if (odd) {
            accumulator += piece;
            quoted.append(accumulator);
            accumulator.clear();
        } else {
            accumulator += piece + comma;
        }
    }
    pieces.clear();

    // Rejoin the pieces that were cut inside parentheses and parse each parameter. A
    // parenthesis never closed is dropped.
    QList<CExpression*> parameters;
    accumulator.clear();
    int depth = 0;
    for (const QString& piece : quoted) {
        const int opening = countOutsideQuotes(piece, QStringLiteral("("));
        const int closing = countOutsideQuotes(piece, QStringLiteral(")"));
        if (depth == 0) {
            if (opening == 0) {
                parameters.append(parse(piece));
                continue;
            }
            depth = opening;
            if (closing != 0) {
                if (parenthesesOutOfOrder(piece)) {
                    addError(QStringLiteral("Invalid parenthese sequence.\n"));
                    return parameters;
                }
                depth = opening - closing;
                if (opening == closing) {
                    parameters.append(parse(piece));
                    continue;
                }
            }
            accumulator = piece + comma;
        } else if (opening != 0 && closing == 0) {
            depth += opening;
            accumulator += piece + comma;
        } else if (closing != 0) {
            depth -= closing;
            if (opening != 0) {
                if (parenthesesOutOfOrder(piece)) {
                    addError(QStringLiteral("Invalid parenthese sequence.\n"));
                    return parameters;
                }
                depth += opening;
            }
            if (depth == 0) {
                accumulator += piece;
                parameters.append(parse(accumulator));
                accumulator.clear();
            } else {
                accumulator += piece + comma;
            }
        } else {
            accumulator += piece + comma;
        }
    }
    return parameters;
}

CFuncExpression* CPropertyMap::createFunction(const QString& name, const QString& parameterText)
{
    // Parameter errors reach the map before anything about the function itself.
    const QList<CExpression*> parameters = splitParameters(parameterText);
    CFuncExpression* function = winsteps::functionRegistry::create(name, parameters, this);
    if (!function) {
        qDeleteAll(parameters);
        addError(QStringLiteral("Invalid function name: %1\n").arg(name.toLower()));
    }
    return function;
}

int CPropertyMap::countOutsideQuotes(const QString& text, const QString& sub)
{
    const qsizetype length = text.size();
    if (length < sub.size())
        return 0;

    // One pass: the quote count before a position is carried along, the count after it is
    // the total less what lies before, so each position costs nothing extra.
    const auto isQuote = [&text](qsizetype i) {
        return text[i] == QLatin1Char('\'') && (i == 0 || text[i - 1] != QLatin1Char('\\'));
    };
    const int total = winsteps::expressiontext::quoteCount(text);
    int before = 0; // quote count of text[0, i)
    qsizetype counted = 0; // before covers the positions below this one
    int count = 0;
    for (qsizetype i = text.indexOf(sub); i >= 0; i = text.indexOf(sub, i + 1)) {
        for (; counted < i; ++counted)
            before += isQuote(counted) ? 1 : 0;
        // The quote count of the text from i + 1 on, taken as a text of its own: its first
        // character counts as a quote whatever stands before it.
        int after = 0;
        if (i + 1 < length) {
            after = total - before - (isQuote(i) ? 1 : 0) - (isQuote(i + 1) ? 1 : 0);
            if (text[i + 1] == QLatin1Char('\''))
                ++after;
        }
        if (before % 2 == 0 && after % 2 == 0)
            ++count;
    }
    return count;
}
