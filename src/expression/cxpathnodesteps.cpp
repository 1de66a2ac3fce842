// Path steps of the node search: walking the DOM from a node, one step of the path at a time.

#include "expression/cxpathnode.h"
#include "expression/cxpathnode_p.h"

#include <QDomElement>
#include <QDomNamedNodeMap>

#include <algorithm>

using namespace winsteps::xpathnode;

// --- searching ---
//
// A search walks the DOM nodes themselves and makes node objects only for the nodes it
// returns. Each step reads its predicates once; the trace lines that stay the same from one
// node to the next are composed once per step.

namespace {

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
