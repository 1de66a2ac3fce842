// Node objects that follow their node into another document.

#include "expression/cxpathnode.h"

#include <QDomAttr>
#include <QMutex>
#include <QSet>

namespace {

// Constructed on first use and never destroyed: node objects may outlive static data.
QMutex& liveMutex()
{
    static auto* mutex = new QMutex;
    return *mutex;
}

QSet<CXPathNode*>& liveNodes()
{
    static auto* nodes = new QSet<CXPathNode*>;
    return *nodes;
}

// The node that holds node in its tree: the parent, or the element of an attribute.
QDomNode holderOf(const QDomNode& node)
{
    return node.isAttr() ? QDomNode(node.toAttr().ownerElement()) : node.parentNode();
}

} // namespace

void CXPathNode::track()
{
    const QMutexLocker lock(&liveMutex());
    liveNodes().insert(this);
}

void CXPathNode::untrack()
{
    const QMutexLocker lock(&liveMutex());
    liveNodes().remove(this);
}

void CXPathNode::followMove(const QDomNode& node)
{
    if (node.isNull())
        return;
    const QDomDocument document = node.ownerDocument();
    const QMutexLocker lock(&liveMutex());
    for (CXPathNode* live : std::as_const(liveNodes())) {
        for (QDomNode n = live->m_node; !n.isNull(); n = holderOf(n)) {
            if (n == node) {
                live->m_document = document;
                break;
            }
        }
    }
}
