#include "expression/cxpathnode.h"

#include "debug/debugoutput.h"

#include <QDomElement>
#include <QDomNamedNodeMap>
#include <QFile>
#include <QXmlStreamReader>

#include <algorithm>

namespace {

void traceXPath(const QString& line)
{
    winsteps::trace(winsteps::module::xpath, line + QLatin1Char('\n'));
}

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
    QString current;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (isQuote(text, i))
            quoted = !quoted;
        if (!quoted && text[i] == QLatin1Char(']')) {
            qsizetype j = i + 1;
            while (j < text.size() && text[j].isSpace())
                ++j;
            if (j < text.size() && text[j] == QLatin1Char('[')) {
                predicates << current;
                current.clear();
                i = j;
                continue;
            }
        }
        current += text[i];
    }
    predicates << current;
    return predicates;
}

// A part of a predicate without the white space that stands outside quotes.
QString withoutSpaceOutsideQuotes(const QString& part)
{
    QString out;
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
}

CXPathNode::CXPathNode(const QDomNode& node)
    : CPropertyObject(nullptr, nullptr)
    , m_node(node)
    , m_document(documentOf(node))
{
    setObjectName(node.nodeName());
}

CXPathNode::CXPathNode(const CXPathNode& source)
    : CPropertyObject(source)
    , m_node(source.m_node)
    , m_document(source.m_document)
{
    setObjectName(source.objectName());
}

CXPathNode::~CXPathNode() = default;

CPropertyObject* CXPathNode::clone() const
{
    return new CXPathNode(*this);
}

CXPathNode* CXPathNode::loadDocument(const QString& fileName, QString* error)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = fileName + QLatin1String(": cannot open the XML document: ") + file.errorString();
        return nullptr;
    }
    return parseDocument(file.readAll(), fileName, error);
}

CXPathNode* CXPathNode::parseDocument(const QByteArray& data, const QString& fileName, QString* error)
{
    // The toolkit's document walks recursively (text, output, destruction): refuse a
    // nesting deep enough to exhaust the stack before building it.
    QXmlStreamReader reader(data);
    int depth = 0;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::StartElement && ++depth > MaxDocumentDepth) {
            if (error)
                *error = QStringLiteral("%1:%2: elements nested deeper than %3 levels")
                             .arg(fileName)
                             .arg(reader.lineNumber())
                             .arg(MaxDocumentDepth);
            return nullptr;
        }
        if (token == QXmlStreamReader::EndElement)
            --depth;
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

CXPathNodeList CXPathNode::findNodes(const QString& path) const
{
    return findNodesAt(path, 0);
}

CXPathNodeList CXPathNode::getElements(const QString& path) const
{
    return getElementsAt(path, 0);
}

CXPathNodeList CXPathNode::findNodesAt(const QString& path, int depth) const
{
    traceXPath(objectName() + QLatin1String("->findNodes: ") + path);
    if (path.startsWith(QLatin1String("./")))
        return getElementsAt(path.mid(2), depth);
    if (path.startsWith(QLatin1String("../"))) {
        const CXPathNode parent(parentOf(m_node));
        return parent.getElementsAt(path.mid(3), depth);
    }
    if (path.startsWith(QLatin1Char('/'))) {
        // "//name" thus searches the whole document.
        const CXPathNode document(m_node.isDocument() ? m_node : QDomNode(documentOf(m_node)));
        return document.getElementsAt(path.mid(1), depth);
    }
    return getElementsAt(path, depth);
}

CXPathNodeList CXPathNode::getElementsAt(const QString& path, int depth) const
{
    traceXPath(objectName() + QLatin1String("->getElements: ") + path);
    // Each step searches one level deeper in this recursion: a path of too many steps is
    // refused rather than allowed to exhaust the stack.
    if (depth >= MaxPathSteps) {
        traceXPath(objectName() + QStringLiteral("->getElements: ! Warning ! The path has more than %1 steps.").arg(MaxPathSteps));
        return {};
    }
    QString rest = path;
    bool descendants = false;
    if (rest.startsWith(QLatin1Char('/'))) {
        rest.remove(0, 1);
        descendants = true;
    }
    if (rest.startsWith(QLatin1Char('@')))
        return attributeNodes(rest.mid(1), descendants);

    const qsizetype cut = firstStepSeparator(rest);
    QString step = cut < 0 ? rest : rest.left(cut);
    rest = cut < 0 ? QString() : rest.mid(cut + 1);

    QStringList predicates;
    const qsizetype open = step.indexOf(QLatin1Char('['));
    if (open >= 0) {
        predicates = splitPredicates(step.mid(open + 1, std::max<qsizetype>(0, step.size() - open - 2)));
        step.truncate(open);
    }

    CXPathNodeList candidates = childElements(step, descendants);
    for (const QString& predicate : std::as_const(predicates))
        filterByPredicate(candidates, predicate);
    if (rest.isEmpty())
        return candidates;

    CXPathNodeList result;
    for (const std::unique_ptr<CXPathNode>& candidate : candidates) {
        // "a//b": the b elements anywhere below each a.
        CXPathNodeList found = rest.startsWith(QLatin1Char('/')) ? candidate->getElementsAt(rest, depth + 1)
                                                                 : candidate->findNodesAt(rest, depth + 1);
        std::move(found.begin(), found.end(), std::back_inserter(result));
    }
    return result;
}

CXPathNodeList CXPathNode::childElements(const QString& name, bool descendants) const
{
    CXPathNodeList result;
    const bool any = name == QLatin1String("*");
    for (QDomNode n = m_node.firstChild(); !n.isNull(); n = nextInSubtree(m_node, n, descendants)) {
        if (n.isElement() && (any || n.nodeName() == name)) {
            auto node = std::make_unique<CXPathNode>(n);
            result.push_back(std::move(node));
        }
    }
    return result;
}

CXPathNodeList CXPathNode::attributeNodes(const QString& name, bool descendants) const
{
    CXPathNodeList result;
    const bool any = name == QLatin1String("*");
    const auto addFrom = [&](const QDomNode& n) {
        if (!n.isElement())
            return;
        QDomElement element = n.toElement();
        if (!any) {
            const QDomAttr attribute = element.attributeNode(name);
            if (!attribute.isNull())
                result.push_back(std::make_unique<CXPathNode>(attribute));
            return;
        }
        // The toolkit keeps attributes unordered: list them by name.
        const QDomNamedNodeMap attributes = element.attributes();
        QList<QDomNode> nodes;
        for (int i = 0; i < attributes.count(); ++i)
            nodes << attributes.item(i);
        std::sort(nodes.begin(), nodes.end(),
                  [](const QDomNode& a, const QDomNode& b) { return a.nodeName() < b.nodeName(); });
        for (const QDomNode& attribute : std::as_const(nodes))
            result.push_back(std::make_unique<CXPathNode>(attribute));
    };
    addFrom(m_node);
    if (descendants) {
        for (QDomNode n = m_node.firstChild(); !n.isNull(); n = nextInSubtree(m_node, n, true))
            addFrom(n);
    }
    return result;
}

void CXPathNode::filterByPredicate(CXPathNodeList& nodes, const QString& predicate)
{
    const QString trimmed = predicate.trimmed();
    const bool position = !trimmed.isEmpty()
        && std::all_of(trimmed.cbegin(), trimmed.cend(),
                       [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
    const auto keepOnly = [&nodes](qsizetype index) {
        std::unique_ptr<CXPathNode> kept;
        if (index >= 0 && index < qsizetype(nodes.size()))
            kept = std::move(nodes[size_t(index)]);
        nodes.clear();
        if (kept)
            nodes.push_back(std::move(kept));
    };
    if (position) {
        bool ok = false;
        const qlonglong n = trimmed.toLongLong(&ok);
        keepOnly(ok && n >= 1 ? qsizetype(n - 1) : -1); // beyond the list keeps nothing
        return;
    }
    if (trimmed == QLatin1String("first")) {
        keepOnly(0);
        return;
    }
    if (trimmed == QLatin1String("last")) {
        keepOnly(qsizetype(nodes.size()) - 1);
        return;
    }
    nodes.erase(std::remove_if(nodes.begin(), nodes.end(),
                               [&predicate](const std::unique_ptr<CXPathNode>& node) {
                                   return node->m_node.isNull() || !node->evaluatePredicate(predicate);
                               }),
                nodes.end());
}

bool CXPathNode::evaluatePredicate(const QString& predicate) const
{
    // Tests joined by "and"/"or", applied strictly from left to right. An operator word
    // stands outside quotes, after white space or a closing quote and before white space,
    // so names such as "color" or "brand" are not cut.
    static const QLatin1String orWord("or");
    static const QLatin1String andWord("and");
    bool matches = false;
    QString op = orWord;
    QString part;
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
                updateMatch(matches, op, withoutSpaceOutsideQuotes(part));
                part.clear();
                op = word;
                i += word.size();
                continue;
            }
        }
        part += predicate[i];
        ++i;
    }
    updateMatch(matches, op, withoutSpaceOutsideQuotes(part));
    return matches;
}

void CXPathNode::updateMatch(bool& matches, const QString& op, const QString& part) const
{
    traceXPath(QLatin1String("updateMatch with operator '") + op + QLatin1String("' and expression: ") + part);
    const bool result = matchesPartialExpression(part);
    matches = op == QLatin1String("and") ? (matches && result) : (matches || result);
    traceXPath(QLatin1String("  'matches' is now ") + (matches ? QLatin1String("true") : QLatin1String("false")));
}

bool CXPathNode::matchesPartialExpression(const QString& test) const
{
    traceXPath(QLatin1String("matchesPartialExpression: ") + test);
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
        if (name.isEmpty())
            return false;
        if (attribute)
            return m_node.isElement() && m_node.toElement().hasAttribute(name);
        for (QDomNode child = m_node.firstChild(); !child.isNull(); child = child.nextSibling()) {
            if (child.nodeName() == name)
                return true;
        }
        return false;
    }
    if (test[i] != QLatin1Char('=') || i + 1 >= test.size() || test[i + 1] != QLatin1Char('\''))
        return false;

    // The value runs to the next apostrophe that no backslash escapes.
    const qsizetype valueStart = i + 2;
    qsizetype close = valueStart;
    while (close < test.size() && !(test[close] == QLatin1Char('\'') && (close == valueStart || test[close - 1] != QLatin1Char('\\'))))
        ++close;
    if (close >= test.size())
        return false;
    QString value = test.mid(valueStart, close - valueStart);
    value.replace(QLatin1String("\\'"), QLatin1String("'"));
    return attribute ? checkAttribute(name, value) : checkChildTextNode(name, value);
}

bool CXPathNode::checkAttribute(const QString& name, const QString& value) const
{
    traceXPath(QLatin1String("checkAttribute name=") + name + QLatin1String(" value=") + value);
    const QDomElement element = m_node.toElement();
    return !element.isNull() && element.hasAttribute(name) && element.attribute(name) == value;
}

bool CXPathNode::checkChildTextNode(const QString& name, const QString& text) const
{
    traceXPath(QLatin1String("checkChildTextNode tagname=") + name + QLatin1String(" text=") + text);
    for (QDomNode child = m_node.firstChild(); !child.isNull(); child = child.nextSibling()) {
        const QString childText = nodeText(child);
        traceXPath(QLatin1String("  match against child tagname=") + child.nodeName() + QLatin1String(" text=") + childText);
        if (child.nodeName() == name && childText == text) {
            traceXPath(QStringLiteral("    match!"));
            return true;
        }
    }
    return false;
}
