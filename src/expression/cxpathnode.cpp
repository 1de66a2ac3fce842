// Node objects: construction, reading and writing documents, and the node's properties.

#include "expression/cxpathnode.h"
#include "expression/cxpathnode_p.h"

#include <QDomElement>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

#include <algorithm>

namespace winsteps::xpathnode {

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

namespace {

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

} // namespace

QString nodeText(const QDomNode& node)
{
    if (node.isText())
        return node.toCharacterData().data();
    if (node.isElement())
        return textBelow(node);
    return QString();
}

} // namespace winsteps::xpathnode

using namespace winsteps::xpathnode;

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

// --- reading documents ---

namespace {

QString tooLarge()
{
    return QStringLiteral("larger than %1 MiB").arg(CXPathNode::MaxDocumentBytes / (1024 * 1024));
}

} // namespace

QString CXPathNode::documentFileProblem(const QString& fileName)
{
    const QFileInfo info(fileName);
    if (!info.exists())
        return QString();
    if (!info.isFile())
        return QStringLiteral("not a regular file");
    if (info.size() > MaxDocumentBytes)
        return tooLarge();
    return QString();
}

bool CXPathNode::readDocumentFile(const QString& fileName, QByteArray* data, QString* error)
{
    QString problem = documentFileProblem(fileName);
    QFile file(fileName);
    if (problem.isEmpty() && !file.open(QIODevice::ReadOnly))
        problem = file.errorString();
    if (problem.isEmpty()) {
        // At most one byte more than the limit: the file may have grown since.
        *data = file.read(MaxDocumentBytes + 1);
        if (data->size() > MaxDocumentBytes) {
            data->clear();
            problem = tooLarge();
        }
    }
    if (problem.isEmpty())
        return true;
    if (error)
        *error = problem;
    return false;
}

std::unique_ptr<CXPathNode> CXPathNode::loadDocument(const QString& fileName, QString* error)
{
    QByteArray data;
    QString why;
    if (!readDocumentFile(fileName, &data, &why)) {
        if (error)
            *error = fileName + QLatin1String(": cannot open the XML document: ") + why;
        return nullptr;
    }
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

bool CXPathNode::parseDocumentText(const QByteArray& data, QDomDocument* document, int* line, QString* error)
{
    // The toolkit's document walks recursively (text, output, destruction): refuse a
    // nesting deep enough to exhaust the stack before building it.
    if (const qint64 deepLine = lineNestedTooDeep(data)) {
        *line = int(deepLine);
        if (error)
            *error = QStringLiteral("elements nested deeper than %1 levels").arg(MaxDocumentDepth);
        return false;
    }
    QString message;
    int column = 0;
    if (document->setContent(data, &message, line, &column))
        return true;
    if (error)
        *error = QLatin1String("not well-formed XML: ") + message + QLatin1String(" (column ")
                 + QString::number(column) + QLatin1Char(')');
    return false;
}

std::unique_ptr<CXPathNode> CXPathNode::parseDocument(const QByteArray& data, const QString& fileName, QString* error)
{
    QDomDocument document;
    int line = 0;
    QString problem;
    if (!parseDocumentText(data, &document, &line, &problem)) {
        if (error)
            *error = fileName + QLatin1Char(':') + QString::number(line) + QLatin1String(": ") + problem;
        return nullptr;
    }
    const QDomElement root = document.documentElement();
    if (root.isNull()) {
        if (error)
            *error = fileName + QLatin1String(": the XML document has no root element");
        return nullptr;
    }
    return std::make_unique<CXPathNode>(root);
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
