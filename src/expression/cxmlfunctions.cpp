#include "expression/cxmlfunctions.h"

#include "objects/valueconversion.h"

#include <QDomDocument>
#include <QDomElement>

using namespace winsteps::valueconversion;

namespace {

bool isXmlNameStart(QChar c)
{
    return c.isLetter() || c == QLatin1Char('_') || c == QLatin1Char(':');
}

bool isXmlNameChar(QChar c)
{
    return isXmlNameStart(c) || c.isDigit() || c.isMark() || c == QLatin1Char('-') || c == QLatin1Char('.')
        || c.unicode() == 0xB7;
}

// A name that may stand as an element or attribute name in the written document.
bool isXmlName(const QString& name)
{
    if (name.isEmpty() || !isXmlNameStart(name.front()))
        return false;
    return std::all_of(name.cbegin(), name.cend(), isXmlNameChar);
}

QDomDocument documentOf(const QDomNode& node)
{
    return node.isDocument() ? node.toDocument() : node.ownerDocument();
}

// The node to place under parent: the given node, or a new element named tag. Null when
// there is neither.
QDomNode childToPlace(const QDomNode& parent, const CXPathNode* given, const QString& tag)
{
    if (given)
        return given->node();
    QDomDocument document = documentOf(parent);
    if (document.isNull() || !isXmlName(tag))
        return QDomNode();
    return document.createElement(tag);
}

// Whether child may be placed under parent without breaking the document.
bool mayPlace(const QDomNode& parent, const QDomNode& child)
{
    if (parent.isNull() || child.isNull())
        return false;
    if (!parent.isElement() && !parent.isDocument())
        return false;
    switch (child.nodeType()) {
    case QDomNode::ElementNode:
    case QDomNode::TextNode:
    case QDomNode::CDATASectionNode:
    case QDomNode::CommentNode:
    case QDomNode::ProcessingInstructionNode:
    case QDomNode::EntityReferenceNode:
        break;
    default:
        return false; // documents, attributes, document types, ...
    }
    // Not into itself or into its own descendant.
    for (QDomNode n = parent; !n.isNull(); n = n.parentNode()) {
        if (n == child)
            return false;
    }
    // A document has one root element, and holds no text.
    if (parent.isDocument()) {
        if (child.isText())
            return false;
        const QDomElement root = parent.toDocument().documentElement();
        if (child.isElement() && !root.isNull() && root != child)
            return false;
    }
    return true;
}

enum class Placement { Append, Before, After };

// The common part of "appendchild", "insertbefore" and "insertafter".
void place(const QDomNode& parentNode, const CXPathNode* given, const QString& tag, Placement where,
           const QDomNode& reference)
{
    QDomNode parent = parentNode;
    const QDomNode child = childToPlace(parent, given, tag);
    if (!mayPlace(parent, child) || (where != Placement::Append && child == reference))
        return;
    // A node of another document is moved as the DOM moves it: out of its old place, into
    // this document, the same node, so that node objects found earlier edit it where it is now.
    const bool fromElsewhere = documentOf(child) != documentOf(parent);
    const QDomNode placed = child;
    switch (where) {
    case Placement::Append:
        parent.appendChild(placed);
        break;
    case Placement::Before:
        // The toolkit does nothing when the reference is no child of the parent.
        if (reference.parentNode() == parent)
            parent.insertBefore(placed, reference);
        break;
    case Placement::After:
        if (reference.parentNode() == parent)
            parent.insertAfter(placed, reference);
        break;
    }
    if (fromElsewhere && placed.parentNode() == parent)
        CXPathNode::followMove(placed);
}

} // namespace

// --- CXmlFunction ---

QList<CXPathNode*> CXmlFunction::nodesOf(const CPropertyObject* list)
{
    QList<CXPathNode*> nodes;
    if (!list)
        return nodes;
    const QStringList names = objectPropertyNames(list);
    nodes.reserve(names.size());
    for (const QString& name : names) {
        if (auto* node = qobject_cast<CXPathNode*>(list->objectProperty(name)))
            nodes << node;
    }
    return nodes;
}

CObjectResult CXmlFunction::nodeParameter(int index) const
{
    CObjectResult result = parameterResult(index);
    if (!result.as<CXPathNode>())
        return CObjectResult();
    return result;
}

CXmlFunction::NodeList CXmlFunction::nodeListParameter(int index) const
{
    NodeList list;
    list.holder = parameterResult(index);
    list.nodes = nodesOf(list.holder.get());
    return list;
}

// --- searching ---

CPropertyObject* CFunctionFindFirstNode::object() const
{
    const QString path = toText(parameterValue(1));
    const CObjectResult start = nodeParameter(0);
    const CXPathNode* node = start.as<CXPathNode>();
    if (!node)
        return nullptr;
    CXPathNodeList found = node->findNodes(path);
    return found.empty() ? nullptr : found.front().release();
}

CPropertyObject* CFunctionFindNodes::object() const
{
    const QString path = toText(parameterValue(1));
    // One evaluation of the first parameter: a node, or a list of nodes.
    const CObjectResult start = parameterResult(0);
    CXPathNodeList found;
    if (const CXPathNode* node = start.as<CXPathNode>()) {
        found = node->findNodes(path);
    } else {
        for (const CXPathNode* listed : nodesOf(start.get())) {
            CXPathNodeList more = listed->findNodes(path);
            std::move(more.begin(), more.end(), std::back_inserter(found));
        }
    }
    if (found.empty())
        return nullptr;
    // The found nodes are new and ours: they go into the list as they are.
    auto list = std::make_unique<CPropertyObject>(nullptr, "nodeList");
    for (size_t i = 0; i < found.size(); ++i)
        storeObjectProperty(list.get(), QStringLiteral("node%1").arg(i), std::move(found[i]));
    return list.release(); // handed over to the caller
}

// --- editing ---

CPropertyObject* CFunctionSetAttribute::object() const
{
    CObjectResult target = nodeParameter(0);
    const QString name = toText(parameterValue(1));
    const QString value = toText(parameterValue(2));
    CXPathNode* node = target.as<CXPathNode>();
    if (!node)
        return nullptr;
    QDomElement element = node->node().toElement();
    if (!element.isNull() && isXmlName(name))
        element.setAttribute(name, value);
    return target.release();
}

CPropertyObject* CFunctionAppendChild::object() const
{
    CObjectResult parent = nodeParameter(0);
    const CObjectResult child = parameterResult(1);
    const CXPathNode* childNode = child.as<CXPathNode>();
    const QString tag = childNode ? QString() : toText(parameterValue(1));
    CXPathNode* parentNode = parent.as<CXPathNode>();
    if (!parentNode)
        return nullptr;
    place(parentNode->node(), childNode, tag, Placement::Append, QDomNode());
    return parent.release();
}

CPropertyObject* CFunctionRemoveChild::object() const
{
    CObjectResult parent = nodeParameter(0);
    const CObjectResult child = nodeParameter(1);
    CXPathNode* parentNode = parent.as<CXPathNode>();
    if (!parentNode)
        return nullptr;
    if (const CXPathNode* childNode = child.as<CXPathNode>()) {
        QDomNode dom = parentNode->node();
        if (childNode->node().parentNode() == dom && !dom.isNull())
            dom.removeChild(childNode->node());
    }
    return parent.release();
}

static CPropertyObject* insertChild(const CXmlFunction& function, Placement where)
{
    CObjectResult parent = function.nodeParameter(0);
    const CObjectResult child = function.parameters().value(1) ? function.parameters().value(1)->objectResult()
                                                               : CObjectResult();
    const CXPathNode* childNode = child.as<CXPathNode>();
    const QString tag = childNode || !function.parameters().value(1)
                            ? QString()
                            : toText(function.parameters().value(1)->value());
    const CObjectResult reference = function.nodeParameter(2);
    CXPathNode* parentNode = parent.as<CXPathNode>();
    if (!parentNode)
        return nullptr;
    if (const CXPathNode* referenceNode = reference.as<CXPathNode>())
        place(parentNode->node(), childNode, tag, where, referenceNode->node());
    return parent.release();
}

CPropertyObject* CFunctionInsertBefore::object() const
{
    return insertChild(*this, Placement::Before);
}

CPropertyObject* CFunctionInsertAfter::object() const
{
    return insertChild(*this, Placement::After);
}

// --- output ---

QVariant CFunctionXmlToString::value() const
{
    const CObjectResult start = nodeParameter(0);
    const CXPathNode* node = start.as<CXPathNode>();
    if (!node)
        return QVariant();
    const QDomDocument document = documentOf(node->node());
    return QVariant(document.isNull() ? QString(QLatin1String("")) : CXPathNode::documentText(document));
}
