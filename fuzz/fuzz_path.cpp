// Paths and predicates against a fixed document. The input is "PATH", or "PATH\nPREDICATE":
// the path is searched from the root, from an inner element and from an attribute, and
// through the short-path lookup of the framework; the predicate filters what the path found
// and is tested on its own against a few nodes.

#include "fixeddocument.h"
#include "fuzzsupport.h"

#include "expression/cxpathnode.h"
#include "objects/cdomnode.h"

#include <memory>

namespace {

// The fixed document and a few of its nodes; read-only for the searches, so built once.
struct Fixed
{
    std::unique_ptr<CXPathNode> root;
    std::unique_ptr<CXPathNode> inner; // an element below the root
    std::unique_ptr<CXPathNode> attribute;

    Fixed()
    {
        QString error;
        root = CXPathNode::parseDocument(fuzzsupport::FixedDocument, QStringLiteral("fixed.xml"), &error);
        if (!root)
            qFatal("the fixed document does not load: %s", qPrintable(error));
        CXPathNodeList found = root->findNodes(QStringLiteral("group/item"));
        CXPathNodeList attributes = root->findNodes(QStringLiteral("//item/@id"));
        if (found.empty() || attributes.empty())
            qFatal("the fixed document lacks its items");
        inner = std::move(found.front());
        attribute = std::move(attributes.front());
    }
};

void use(const CXPathNodeList& nodes)
{
    fuzzsupport::keep(std::size_t(nodes.size()));
    for (const std::unique_ptr<CXPathNode>& node : nodes) {
        fuzzsupport::keep(node->fullName());
        fuzzsupport::keep(node->text());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > fuzzsupport::MaxInput)
        return -1;
    fuzzsupport::silenceTrace();
    static const Fixed fixed;

    const QString input = fuzzsupport::text(data, size);
    const qsizetype newline = input.indexOf(QLatin1Char('\n'));
    const QString path = newline < 0 ? input : input.left(newline);
    const QString predicate = newline < 0 ? QString() : input.mid(newline + 1);

    CXPathNodeList found = fixed.root->findNodes(path);
    use(found);
    use(fixed.inner->findNodes(path));
    use(fixed.inner->getElements(path));
    use(fixed.attribute->findNodes(path));

    const CDomNode domRoot(fixed.root->node());
    fuzzsupport::keep(std::size_t(domRoot.elementsByPath(path).size()));
    fuzzsupport::keep(std::size_t(CDomNode(fixed.inner->node()).elementsByPath(path).size()));

    if (newline < 0)
        return 0;
    fuzzsupport::keep(fixed.root->evaluatePredicate(predicate));
    fuzzsupport::keep(fixed.inner->evaluatePredicate(predicate));
    fuzzsupport::keep(fixed.attribute->evaluatePredicate(predicate));
    fuzzsupport::keep(fixed.inner->matchesPartialExpression(predicate));
    CXPathNode::filterByPredicate(found, predicate);
    use(found);
    CXPathNodeList items = fixed.root->findNodes(QStringLiteral("//item"));
    CXPathNode::filterByPredicate(items, predicate);
    use(items);
    return 0;
}
