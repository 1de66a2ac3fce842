// Predicates of the node search: reading "[...]" once per step and running it on each node.

#include "expression/cxpathnode.h"
#include "expression/cxpathnode_p.h"

#include <QDomElement>

#include <algorithm>

namespace winsteps::xpathnode {

bool isQuote(const QString& text, qsizetype i)
{
    return text[i] == QLatin1Char('\'') && (i == 0 || text[i - 1] != QLatin1Char('\\'));
}

namespace {

bool isPathNameChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('-') || c == QLatin1Char('.')
        || c == QLatin1Char(':');
}

// A part of a predicate without the white space that stands outside quotes.
QString withoutSpaceOutsideQuotes(const QString& part)
{
    QString out;
    out.reserve(part.size());
    bool quoted = false;
    for (qsizetype i = 0; i < part.size(); ++i) {
        if (isQuote(part, i))
            quoted = !quoted;
        if (quoted || !part[i].isSpace())
            out += part[i];
    }
    return out;
}

// An operator word at i: preceded by white space or a closing quote, followed by white space.
bool isOperatorAt(const QString& text, qsizetype i, QLatin1String word)
{
    const qsizetype end = i + word.size();
    if (i == 0 || end >= text.size())
        return false;
    const QChar before = text[i - 1];
    if (!before.isSpace() && before != QLatin1Char('\''))
        return false;
    if (!text[end].isSpace())
        return false;
    return QStringView(text).mid(i, word.size()).compare(word, Qt::CaseInsensitive) == 0;
}

const QString matchesTrueLine = QStringLiteral("  'matches' is now true\n");
const QString matchesFalseLine = QStringLiteral("  'matches' is now false\n");
const QString matchLine = QStringLiteral("    match!\n");

PredicateTest readTest(const QString& test)
{
    PredicateTest t;
    t.partialLine = QLatin1String("matchesPartialExpression: ") % test % QLatin1Char('\n');
    qsizetype i = 0;
    const bool attribute = test.startsWith(QLatin1Char('@'));
    if (attribute)
        i = 1;
    const qsizetype nameStart = i;
    while (i < test.size() && isPathNameChar(test[i]))
        ++i;
    const QString name = test.mid(nameStart, i - nameStart);

    if (i == test.size()) {
        // The name alone: the attribute, or a child of that name, exists.
        if (!name.isEmpty()) {
            t.kind = attribute ? PredicateTest::HasAttribute : PredicateTest::HasChild;
            t.name = name;
        }
        return t;
    }
    if (test[i] != QLatin1Char('=') || i + 1 >= test.size() || test[i + 1] != QLatin1Char('\''))
        return t;

    // The value runs to the next apostrophe that no backslash escapes.
    const qsizetype valueStart = i + 2;
    qsizetype close = valueStart;
    while (close < test.size() && !(test[close] == QLatin1Char('\'') && (close == valueStart || test[close - 1] != QLatin1Char('\\'))))
        ++close;
    if (close >= test.size())
        return t;
    QString value = test.mid(valueStart, close - valueStart);
    value.replace(QLatin1String("\\'"), QLatin1String("'"));
    t.kind = attribute ? PredicateTest::AttributeIs : PredicateTest::ChildTextIs;
    t.name = name;
    t.value = value;
    t.checkLine = attribute ? QString(QLatin1String("checkAttribute name=") % name % QLatin1String(" value=") % value % QLatin1Char('\n'))
                            : QString(QLatin1String("checkChildTextNode tagname=") % name % QLatin1String(" text=") % value % QLatin1Char('\n'));
    return t;
}

// The tests of an and/or predicate, cut at every operator word that stands outside quotes,
// after white space or a closing quote and before white space (so that names such as
// "color" or "brand" are not cut). They are applied strictly from left to right.
std::vector<PredicateTest> readTests(const QString& predicate)
{
    static const QLatin1String orWord("or");
    static const QLatin1String andWord("and");
    std::vector<PredicateTest> tests;
    QLatin1String op = orWord;
    qsizetype partStart = 0;
    const auto addTest = [&](qsizetype partEnd) {
        const QString test = withoutSpaceOutsideQuotes(predicate.mid(partStart, partEnd - partStart));
        PredicateTest t = readTest(test);
        t.andOperator = op == andWord;
        t.updateLine = QLatin1String("updateMatch with operator '") % op % QLatin1String("' and expression: ") % test % QLatin1Char('\n');
        tests.push_back(std::move(t));
    };
    bool quoted = false;
    qsizetype i = 0;
    while (i < predicate.size()) {
        if (isQuote(predicate, i)) {
            quoted = !quoted;
        } else if (!quoted) {
            const QLatin1String word = isOperatorAt(predicate, i, orWord) ? orWord
                : isOperatorAt(predicate, i, andWord)                     ? andWord
                                                                          : QLatin1String();
            if (word.size() > 0) {
                addTest(i);
                op = word;
                i += word.size();
                partStart = i;
                continue;
            }
        }
        ++i;
    }
    addTest(predicate.size());
    return tests;
}

bool attributeIs(const QDomNode& node, const QString& name, const QString& value, const QString& line)
{
    traceLine(line);
    if (!node.isElement())
        return false;
    // One look-up: a missing attribute is a null node.
    const QDomAttr attribute = node.toElement().attributeNode(name);
    return !attribute.isNull() && attribute.value() == value;
}

bool childTextIs(const QDomNode& node, const QString& name, const QString& text, const QString& line)
{
    traceLine(line);
    QString childLine;
    for (QDomNode child = node.firstChild(); !child.isNull(); child = child.nextSibling()) {
        const QString childName = child.nodeName();
        const QString childText = nodeText(child);
        childLine = QLatin1String("  match against child tagname=") % childName % QLatin1String(" text=") % childText
            % QLatin1Char('\n');
        traceLine(childLine);
        if (childName == name && childText == text) {
            traceLine(matchLine);
            return true;
        }
    }
    return false;
}

bool runTest(const QDomNode& node, const PredicateTest& test)
{
    traceLine(test.partialLine);
    switch (test.kind) {
    case PredicateTest::Fails:
        return false;
    case PredicateTest::HasAttribute:
        return node.isElement() && node.toElement().hasAttribute(test.name);
    case PredicateTest::HasChild:
        for (QDomNode child = node.firstChild(); !child.isNull(); child = child.nextSibling()) {
            if (child.nodeName() == test.name)
                return true;
        }
        return false;
    case PredicateTest::AttributeIs:
        return attributeIs(node, test.name, test.value, test.checkLine);
    case PredicateTest::ChildTextIs:
        return childTextIs(node, test.name, test.value, test.checkLine);
    }
    return false;
}

bool runTests(const QDomNode& node, const std::vector<PredicateTest>& tests)
{
    bool matches = false;
    for (const PredicateTest& test : tests) {
        traceLine(test.updateLine);
        const bool result = runTest(node, test);
        matches = test.andOperator ? (matches && result) : (matches || result);
        traceLine(matches ? matchesTrueLine : matchesFalseLine);
    }
    return matches;
}

// Keeps the one entry at index (none when it is out of range).
template<typename List>
void keepOnly(List& nodes, qsizetype index)
{
    if (index < 0 || index >= qsizetype(nodes.size())) {
        nodes.clear();
        return;
    }
    if (index > 0)
        nodes.front() = std::move(nodes[size_t(index)]);
    nodes.resize(1);
}

// Applies one step predicate to a list of nodes; domOf gives an entry's DOM node.
template<typename List, typename DomOf>
void applyPredicate(List& nodes, const StepPredicate& predicate, DomOf domOf)
{
    switch (predicate.kind) {
    case StepPredicate::Position:
        keepOnly(nodes, predicate.index);
        return;
    case StepPredicate::Last:
        keepOnly(nodes, qsizetype(nodes.size()) - 1);
        return;
    case StepPredicate::Tests:
        nodes.erase(std::remove_if(nodes.begin(), nodes.end(),
                                   [&predicate, &domOf](const auto& entry) {
                                       const QDomNode& node = domOf(entry);
                                       return node.isNull() || !runTests(node, predicate.tests);
                                   }),
                    nodes.end());
        return;
    }
}

} // namespace

StepPredicate readPredicate(const QString& predicate)
{
    StepPredicate p;
    const QString trimmed = predicate.trimmed();
    const bool number = !trimmed.isEmpty()
        && std::all_of(trimmed.cbegin(), trimmed.cend(),
                       [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
    if (number) {
        bool ok = false;
        const qlonglong n = trimmed.toLongLong(&ok);
        p.kind = StepPredicate::Position;
        p.index = ok && n >= 1 ? qsizetype(n - 1) : -1; // beyond the list keeps nothing
    } else if (trimmed == QLatin1String("first")) {
        p.kind = StepPredicate::Position;
        p.index = 0;
    } else if (trimmed == QLatin1String("last")) {
        p.kind = StepPredicate::Last;
    } else {
        p.tests = readTests(predicate);
    }
    return p;
}

void applyPredicate(DomNodes& nodes, const StepPredicate& predicate)
{
    applyPredicate(nodes, predicate, [](const QDomNode& node) -> const QDomNode& { return node; });
}

} // namespace winsteps::xpathnode

using namespace winsteps::xpathnode;

void CXPathNode::filterByPredicate(CXPathNodeList& nodes, const QString& predicate)
{
    const winsteps::TraceBatch batch;
    applyPredicate(nodes, readPredicate(predicate),
                   [](const std::unique_ptr<CXPathNode>& node) -> const QDomNode& { return node->m_node; });
}

bool CXPathNode::evaluatePredicate(const QString& predicate) const
{
    const winsteps::TraceBatch batch;
    return runTests(m_node, readTests(predicate));
}

bool CXPathNode::matchesPartialExpression(const QString& test) const
{
    return runTest(m_node, readTest(test));
}

bool CXPathNode::checkAttribute(const QString& name, const QString& value) const
{
    return attributeIs(m_node, name, value, QLatin1String("checkAttribute name=") % name % QLatin1String(" value=") % value % QLatin1Char('\n'));
}

bool CXPathNode::checkChildTextNode(const QString& name, const QString& text) const
{
    return childTextIs(m_node, name, text,
                       QLatin1String("checkChildTextNode tagname=") % name % QLatin1String(" text=") % text % QLatin1Char('\n'));
}
