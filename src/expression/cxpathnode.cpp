#include "expression/cxpathnode.h"

#include "debug/debugoutput.h"

#include <QDomElement>
#include <QDomNamedNodeMap>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

#include <algorithm>

namespace {

// The element of an attribute, else the parent node.
QDomNode parentOf(const QDomNode& node)
{
    if (node.isAttr())
        return node.toAttr().ownerElement();
    return node.parentNode();
}

QDomDocument documentOf(const QDomNode& node)
{
    return node.isDocument() ? node.toDocument() : node.ownerDocument();
}

// The next node after node in document order, within the subtree of root (root itself
// excluded); descends into children when descend is true. Null at the end of the subtree.
QDomNode nextInSubtree(const QDomNode& root, QDomNode node, bool descend)
{
    if (descend) {
        const QDomNode child = node.firstChild();
        if (!child.isNull())
            return child;
    }
    while (!node.isNull() && node != root) {
        const QDomNode sibling = node.nextSibling();
        if (!sibling.isNull())
            return sibling;
        node = node.parentNode();
    }
    return QDomNode();
}

// The character data of all text below node, in document order (no recursion).
QString textBelow(const QDomNode& root)
{
    QString text;
    for (QDomNode n = root.firstChild(); !n.isNull(); n = nextInSubtree(root, n, true)) {
        if (n.isText()) // text and CDATA sections
            text += n.toCharacterData().data();
    }
    return text;
}

// "text" of a node: a text node's data, an element's text, else empty.
QString nodeText(const QDomNode& node)
{
    if (node.isText())
        return node.toCharacterData().data();
    if (node.isElement())
        return textBelow(node);
    return QString();
}

bool isPathNameChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('-') || c == QLatin1Char('.')
        || c == QLatin1Char(':');
}

// An apostrophe at i that opens or closes a quoted value (not escaped by a backslash).
bool isQuote(const QString& text, qsizetype i)
{
    return text[i] == QLatin1Char('\'') && (i == 0 || text[i - 1] != QLatin1Char('\\'));
}

// The first "/" of path that stands outside predicates, -1 if none.
qsizetype firstStepSeparator(const QString& path)
{
    int brackets = 0;
    bool quoted = false;
    for (qsizetype i = 0; i < path.size(); ++i) {
        const QChar c = path[i];
        if (brackets > 0 && isQuote(path, i))
            quoted = !quoted;
        else if (quoted)
            continue;
        else if (c == QLatin1Char('['))
            ++brackets;
        else if (c == QLatin1Char(']') && brackets > 0)
            --brackets;
        else if (c == QLatin1Char('/') && brackets == 0)
            return i;
    }
    return -1;
}

// The predicates of "a][b" (the text between the step's first "[" and its last character):
// cut at every "]", white space, "[" outside quotes.
QStringList splitPredicates(const QString& text)
{
    QStringList predicates;
    qsizetype start = 0;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (isQuote(text, i))
            quoted = !quoted;
        if (!quoted && text[i] == QLatin1Char(']')) {
            qsizetype j = i + 1;
            while (j < text.size() && text[j].isSpace())
                ++j;
            if (j < text.size() && text[j] == QLatin1Char('[')) {
                predicates << text.mid(start, i - start);
                start = j + 1;
                i = j;
            }
        }
    }
    predicates << text.mid(start);
    return predicates;
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

} // namespace

// --- construction ---

CXPathNode::CXPathNode(QObject* parent, const char* name)
    : CPropertyObject(parent, name)
{
    track();
}

CXPathNode::CXPathNode(const QDomNode& node)
    : CPropertyObject(nullptr, nullptr)
    , m_node(node)
    , m_document(documentOf(node))
{
    setObjectName(node.nodeName());
    track();
}

CXPathNode::CXPathNode(const CXPathNode& source)
    : CPropertyObject(source)
    , m_node(source.m_node)
    , m_document(source.m_document)
{
    setObjectName(source.objectName());
    track();
}

CXPathNode::~CXPathNode()
{
    untrack();
}

CPropertyObject* CXPathNode::clone() const
{
    return new CXPathNode(*this);
}

CXPathNode* CXPathNode::loadDocument(const QString& fileName, QString* error)
{
    const auto refuse = [&](const QString& why) {
        if (error)
            *error = fileName + QLatin1String(": cannot open the XML document: ") + why;
        return nullptr;
    };
    const QFileInfo info(fileName);
    if (info.exists() && !info.isFile())
        return refuse(QStringLiteral("not a regular file"));
    if (info.size() > MaxDocumentBytes)
        return refuse(QStringLiteral("larger than %1 MiB").arg(MaxDocumentBytes / (1024 * 1024)));
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(file.errorString());
    // Read at most one byte more than the limit: the file may have grown since.
    const QByteArray data = file.read(MaxDocumentBytes + 1);
    if (data.size() > MaxDocumentBytes)
        return refuse(QStringLiteral("larger than %1 MiB").arg(MaxDocumentBytes / (1024 * 1024)));
    return parseDocument(data, fileName, error);
}

qint64 CXPathNode::lineNestedTooDeep(const QByteArray& data)
{
    QXmlStreamReader reader(data);
    int depth = 0;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::StartElement && ++depth > MaxDocumentDepth)
            return qMax<qint64>(1, reader.lineNumber());
        if (token == QXmlStreamReader::EndElement)
            --depth;
    }
    return 0;
}

CXPathNode* CXPathNode::parseDocument(const QByteArray& data, const QString& fileName, QString* error)
{
    // The toolkit's document walks recursively (text, output, destruction): refuse a
    // nesting deep enough to exhaust the stack before building it.
    if (const qint64 line = lineNestedTooDeep(data)) {
        if (error)
            *error = QStringLiteral("%1:%2: elements nested deeper than %3 levels")
                         .arg(fileName)
                         .arg(line)
                         .arg(MaxDocumentDepth);
        return nullptr;
    }

    QDomDocument document;
    QString message;
    int line = 0;
    int column = 0;
    if (!document.setContent(data, &message, &line, &column)) {
        if (error)
            *error = QStringLiteral("%1:%2: not well-formed XML: %3 (column %4)").arg(fileName).arg(line).arg(message).arg(column);
        return nullptr;
    }
    const QDomElement root = document.documentElement();
    if (root.isNull()) {
        if (error)
            *error = fileName + QLatin1String(": the XML document has no root element");
        return nullptr;
    }
    return new CXPathNode(root);
}

namespace {

// Copies text[from, the end of marker) to out; returns the position after the marker (the end
// of text when it is missing).
qsizetype copyThrough(const QString& text, qsizetype from, QLatin1String marker, QString& out)
{
    const qsizetype found = text.indexOf(marker, from);
    const qsizetype end = found < 0 ? text.size() : found + marker.size();
    out += QStringView(text).mid(from, end - from);
    return end;
}

// Writes the start tag at text[from] ("<name a="1" b="2"/>" as the toolkit writes it: values
// in double quotes, quotes inside them escaped) with its attributes sorted by name; returns
// the position after it.
qsizetype copyStartTag(const QString& text, qsizetype from, QString& out)
{
    qsizetype i = from + 1;
    while (i < text.size() && !text[i].isSpace() && text[i] != QLatin1Char('>') && text[i] != QLatin1Char('/'))
        ++i;
    out += QStringView(text).mid(from, i - from);
    QList<std::pair<QStringView, QStringView>> attributes; // name, ="value"
    while (i < text.size()) {
        while (i < text.size() && text[i].isSpace())
            ++i;
        if (i >= text.size() || text[i] == QLatin1Char('>') || text[i] == QLatin1Char('/'))
            break;
        const qsizetype nameStart = i;
        while (i < text.size() && text[i] != QLatin1Char('=') && !text[i].isSpace())
            ++i;
        const QStringView name = QStringView(text).mid(nameStart, i - nameStart);
        const qsizetype valueStart = i;
        const qsizetype open = text.indexOf(QLatin1Char('"'), i);
        const qsizetype close = open < 0 ? -1 : text.indexOf(QLatin1Char('"'), open + 1);
        if (close < 0) { // not the toolkit's form: leave the rest as it is
            i = nameStart;
            break;
        }
        i = close + 1;
        attributes.append({ name, QStringView(text).mid(valueStart, i - valueStart) });
    }
    std::stable_sort(attributes.begin(), attributes.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [name, value] : attributes)
        out += QLatin1Char(' ') + name.toString() + value.toString();
    return copyThrough(text, i, QLatin1String(">"), out);
}

} // namespace

QString CXPathNode::documentText(const QDomDocument& document)
{
    const QString text = document.toString();
    QString out;
    out.reserve(text.size());
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype tag = text.indexOf(QLatin1Char('<'), i);
        if (tag < 0) {
            out += QStringView(text).mid(i);
            break;
        }
        out += QStringView(text).mid(i, tag - i);
        const QStringView rest = QStringView(text).mid(tag);
        if (rest.startsWith(QLatin1String("<!--")))
            i = copyThrough(text, tag, QLatin1String("-->"), out);
        else if (rest.startsWith(QLatin1String("<![CDATA[")))
            i = copyThrough(text, tag, QLatin1String("]]>"), out);
        else if (rest.startsWith(QLatin1String("<?")))
            i = copyThrough(text, tag, QLatin1String("?>"), out);
        else if (rest.startsWith(QLatin1String("</")))
            i = copyThrough(text, tag, QLatin1String(">"), out);
        else if (rest.startsWith(QLatin1String("<!"))) {
            // A document type, with its internal subset in brackets when it has one.
            const qsizetype close = text.indexOf(QLatin1Char('>'), tag);
            const qsizetype bracket = text.indexOf(QLatin1Char('['), tag);
            const bool subset = bracket >= 0 && (close < 0 || bracket < close);
            i = copyThrough(text, tag, subset ? QLatin1String("]>") : QLatin1String(">"), out);
        } else
            i = copyStartTag(text, tag, out);
    }
    return out;
}

// --- meta properties ---

QString CXPathNode::fullName() const
{
    // Built upwards without recursion; a node outside any document ends the path where its
    // chain of parents ends.
    QStringList parts;
    QDomNode n = m_node;
    while (!n.isNull() && !n.isDocument()) {
        if (n.isAttr()) {
            parts.prepend(QLatin1Char('@') + n.nodeName());
            n = n.toAttr().ownerElement();
        } else {
            parts.prepend(n.nodeName());
            n = n.parentNode();
        }
    }
    return parts.isEmpty() ? QString(QLatin1String("")) : QLatin1Char('/') + parts.join(QLatin1Char('/'));
}

QString CXPathNode::nodeName() const
{
    return m_node.nodeName();
}

void CXPathNode::setNodeName(const QString& name)
{
    if (m_node.isElement())
        m_node.toElement().setTagName(name);
}

QString CXPathNode::nodeValue() const
{
    return m_node.nodeValue();
}

void CXPathNode::setNodeValue(const QString& value)
{
    m_node.setNodeValue(value);
}

QString CXPathNode::text() const
{
    return nodeText(m_node);
}

void CXPathNode::setText(const QString& text)
{
    if (m_node.isText()) {
        m_node.toCharacterData().setData(text);
    } else if (m_node.isElement()) {
        QDomDocument document = documentOf(m_node);
        if (document.isNull())
            return;
        while (!m_node.firstChild().isNull())
            m_node.removeChild(m_node.firstChild());
        m_node.appendChild(document.createTextNode(text));
    }
}

CXPathNode::NodeType CXPathNode::nodeType() const
{
    return NodeType(m_node.nodeType());
}

// --- searching ---
//
// A search walks the DOM nodes themselves and makes node objects only for the nodes it
// returns. Each step reads its predicates once; the trace lines that stay the same from one
// node to the next are composed once per step.

namespace {

using DomNodes = std::vector<QDomNode>;

// One line of the "xpath" module; line ends with "\n".
void traceLine(const QString& line)
{
    winsteps::trace(winsteps::module::xpath, line);
}

const QString matchesTrueLine = QStringLiteral("  'matches' is now true\n");
const QString matchesFalseLine = QStringLiteral("  'matches' is now false\n");
const QString matchLine = QStringLiteral("    match!\n");

// One test of a predicate (@name, name, @name='value' or name='text') as read from its text,
// with the lines traced while it runs.
struct PredicateTest {
    enum Kind { Fails, HasAttribute, HasChild, AttributeIs, ChildTextIs };

    Kind kind = Fails;
    bool andOperator = false; // joined to the tests before it by "and", else by "or"
    QString name;
    QString value;
    QString updateLine;  // "updateMatch with operator ..."
    QString partialLine; // "matchesPartialExpression: ..."
    QString checkLine;   // "checkAttribute ..." or "checkChildTextNode ..."
};

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

// One predicate of a step: a position (a number, "first", "last") or tests.
struct StepPredicate {
    enum Kind { Position, Last, Tests };

    Kind kind = Tests;
    qsizetype index = -1; // Position: from 0; -1 keeps nothing
    std::vector<PredicateTest> tests;
};

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

void applyPredicate(DomNodes& nodes, const StepPredicate& predicate)
{
    applyPredicate(nodes, predicate, [](const QDomNode& node) -> const QDomNode& { return node; });
}

bool isNamedElement(const QDomNode& node, const QString& name, bool any)
{
    return node.isElement() && (any || node.nodeName() == name);
}

// The elements named name ("*": all) among the children of from, or all its descendants in
// document order. With a position predicate only the element it picks is taken: the walk
// stops at it, and "last" among children walks back from the last child.
void collectElements(const QDomNode& from, const QString& name, bool descendants, const StepPredicate* position,
                     DomNodes& out)
{
    const bool any = name == QLatin1String("*");
    if (position && position->kind == StepPredicate::Position && position->index < 0)
        return;
    if (position && position->kind == StepPredicate::Last && !descendants) {
        for (QDomNode n = from.lastChild(); !n.isNull(); n = n.previousSibling()) {
            if (isNamedElement(n, name, any)) {
                out.push_back(n);
                return;
            }
        }
        return;
    }
    if (position && position->kind == StepPredicate::Last) { // the last among descendants
        QDomNode last;
        for (QDomNode n = from.firstChild(); !n.isNull(); n = nextInSubtree(from, n, true)) {
            if (isNamedElement(n, name, any))
                last = n;
        }
        if (!last.isNull())
            out.push_back(last);
        return;
    }
    const qsizetype wanted = position ? position->index + 1 : 0; // 0: every match
    qsizetype seen = 0;
    QDomNode n = from.firstChild();
    while (!n.isNull()) {
        if (isNamedElement(n, name, any)) {
            if (wanted == 0) {
                out.push_back(n);
            } else if (++seen == wanted) {
                out.push_back(n);
                return;
            }
        }
        // The next node in document order within from's subtree (the children only when
        // descendants is false), with one handle moving along.
        QDomNode next;
        if (descendants)
            next = n.firstChild();
        while (next.isNull()) {
            next = n.nextSibling();
            if (!next.isNull() || !descendants)
                break;
            n = n.parentNode();
            if (n.isNull() || n == from)
                break;
        }
        n = next;
    }
}

void collectAttributes(const QDomNode& from, const QString& name, bool descendants, DomNodes& out)
{
    const bool any = name == QLatin1String("*");
    const auto addFrom = [&](const QDomNode& n) {
        if (!n.isElement())
            return;
        QDomElement element = n.toElement();
        if (!any) {
            const QDomAttr attribute = element.attributeNode(name);
            if (!attribute.isNull())
                out.push_back(attribute);
            return;
        }
        // The toolkit keeps attributes unordered: list them by name.
        const QDomNamedNodeMap attributes = element.attributes();
        const std::size_t first = out.size();
        for (int i = 0; i < attributes.count(); ++i)
            out.push_back(attributes.item(i));
        std::sort(out.begin() + std::ptrdiff_t(first), out.end(),
                  [](const QDomNode& a, const QDomNode& b) { return a.nodeName() < b.nodeName(); });
    };
    addFrom(from);
    if (descendants) {
        for (QDomNode n = from.firstChild(); !n.isNull(); n = nextInSubtree(from, n, true))
            addFrom(n);
    }
}

void findFrom(const QDomNode& node, const QString& name, const QString& path, int depth, DomNodes& out);

// The nodes path reaches from node, relative to it; name is the node's name in the traces.
void elementsFrom(const QDomNode& node, const QString& name, const QString& path, int depth, DomNodes& out)
{
    traceLine(name % QLatin1String("->getElements: ") % path % QLatin1Char('\n'));
    // Each step searches one level deeper in this recursion: a path of too many steps is
    // refused rather than allowed to exhaust the stack.
    if (depth >= CXPathNode::MaxPathSteps) {
        traceLine(name % QStringLiteral("->getElements: ! Warning ! The path has more than %1 steps.").arg(CXPathNode::MaxPathSteps)
                  % QLatin1Char('\n'));
        return;
    }
    QString rest = path;
    bool descendants = false;
    if (rest.startsWith(QLatin1Char('/'))) {
        rest.remove(0, 1);
        descendants = true;
    }
    if (rest.startsWith(QLatin1Char('@'))) {
        collectAttributes(node, rest.mid(1), descendants, out);
        return;
    }

    const qsizetype cut = firstStepSeparator(rest);
    QString step = cut < 0 ? rest : rest.left(cut);
    rest = cut < 0 ? QString() : rest.mid(cut + 1);

    std::vector<StepPredicate> predicates;
    const qsizetype open = step.indexOf(QLatin1Char('['));
    if (open >= 0) {
        const QStringList texts = splitPredicates(step.mid(open + 1, std::max<qsizetype>(0, step.size() - open - 2)));
        predicates.reserve(size_t(texts.size()));
        for (const QString& text : texts)
            predicates.push_back(readPredicate(text));
        step.truncate(open);
    }

    // A leading position predicate is applied by the walk itself.
    const bool positionFirst = !predicates.empty() && predicates.front().kind != StepPredicate::Tests;
    // The last step collects straight into out when nothing is there yet to be filtered.
    DomNodes local;
    const bool direct = rest.isEmpty() && out.empty();
    DomNodes& candidates = direct ? out : local;
    collectElements(node, step, descendants, positionFirst ? &predicates.front() : nullptr, candidates);
    for (std::size_t i = positionFirst ? 1 : 0; i < predicates.size(); ++i)
        applyPredicate(candidates, predicates[i]);
    if (rest.isEmpty()) {
        if (!direct)
            std::move(local.begin(), local.end(), std::back_inserter(out));
        return;
    }

    const bool below = rest.startsWith(QLatin1Char('/'));
    for (const QDomNode& candidate : std::as_const(local)) {
        // "a//b": the b elements anywhere below each a.
        if (below)
            elementsFrom(candidate, candidate.nodeName(), rest, depth + 1, out);
        else
            findFrom(candidate, candidate.nodeName(), rest, depth + 1, out);
    }
}

// The nodes path reaches from node: relative, or from its parent ("../"), or from the
// document ("/"); name is the node's name in the traces.
void findFrom(const QDomNode& node, const QString& name, const QString& path, int depth, DomNodes& out)
{
    traceLine(name % QLatin1String("->findNodes: ") % path % QLatin1Char('\n'));
    if (path.startsWith(QLatin1String("./"))) {
        elementsFrom(node, name, path.mid(2), depth, out);
        return;
    }
    if (path.startsWith(QLatin1String("../"))) {
        const QDomNode parent = parentOf(node);
        elementsFrom(parent, parent.nodeName(), path.mid(3), depth, out);
        return;
    }
    if (path.startsWith(QLatin1Char('/'))) {
        // "//name" thus searches the whole document.
        const QDomNode document = node.isDocument() ? node : QDomNode(documentOf(node));
        elementsFrom(document, document.nodeName(), path.mid(1), depth, out);
        return;
    }
    elementsFrom(node, name, path, depth, out);
}

} // namespace

CXPathNode::CXPathNode(const QDomNode& node, const QDomDocument& document)
    : CPropertyObject(nullptr, nullptr)
    , m_node(node)
    , m_document(document)
{
    setObjectName(node.nodeName());
    track();
}

CXPathNodeList CXPathNode::nodeObjects(const std::vector<QDomNode>& nodes) const
{
    // Every node a search reaches is in this node's document.
    const QDomDocument document = m_node.isNull() ? QDomDocument() : documentOf(m_node);
    CXPathNodeList objects;
    objects.reserve(nodes.size());
    for (const QDomNode& node : nodes)
        objects.push_back(std::unique_ptr<CXPathNode>(new CXPathNode(node, document)));
    return objects;
}

CXPathNodeList CXPathNode::findNodes(const QString& path) const
{
    const winsteps::TraceBatch batch;
    DomNodes found;
    findFrom(m_node, objectName(), path, 0, found);
    return nodeObjects(found);
}

CXPathNodeList CXPathNode::getElements(const QString& path) const
{
    const winsteps::TraceBatch batch;
    DomNodes found;
    elementsFrom(m_node, objectName(), path, 0, found);
    return nodeObjects(found);
}

CXPathNodeList CXPathNode::childElements(const QString& name, bool descendants) const
{
    DomNodes found;
    collectElements(m_node, name, descendants, nullptr, found);
    return nodeObjects(found);
}

CXPathNodeList CXPathNode::attributeNodes(const QString& name, bool descendants) const
{
    DomNodes found;
    collectAttributes(m_node, name, descendants, found);
    return nodeObjects(found);
}

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
