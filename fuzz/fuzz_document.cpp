// Documents against fixed paths: the input is an XML document, read as a document of the
// expression language and searched with every path form; its text is written back out, and
// the short-path lookup of the framework runs on the same nodes.

#include "fuzzsupport.h"

#include "expression/cxpathnode.h"
#include "objects/cdomnode.h"

#include <QDomDocument>

#include <memory>

namespace {

// Documents may be large; they still have to be read in a moment.
constexpr std::size_t MaxDocument = 1024 * 1024;

const char* const Paths[] = {
    "item", "*", "./item", "../item", "//item", "/config/group/item", "group//name",
    "item/@id", "//@*", "//item[2]", "//item[first]", "//item[last]", "//item[@id]",
    "//item[name]", "//item[@id='a' and name='x' or @t='it\\'s']", "//*[@key='port']/@value",
    "//group[@name='g1']/item[last]/name", "/*", "//text", "//a//b//c",
};

const char* const ShortPaths[] = {
    "property", "./property", "../state", "///property", "//propertymap", "/fsm",
    "//state[@name='first']", "//transition[@from='a'][@to='b']", "property/@key",
};

void use(const CXPathNodeList& nodes)
{
    fuzzsupport::keep(std::size_t(nodes.size()));
    for (const std::unique_ptr<CXPathNode>& node : nodes) {
        fuzzsupport::keep(node->fullName());
        fuzzsupport::keep(node->nodeValue());
        fuzzsupport::keep(node->text());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > MaxDocument)
        return -1;
    fuzzsupport::silenceTrace();

    QString error;
    const std::unique_ptr<CXPathNode> root(
        CXPathNode::parseDocument(fuzzsupport::bytes(data, size), QStringLiteral("input.xml"), &error));
    fuzzsupport::keep(error);
    if (!root)
        return 0;

    fuzzsupport::keep(root->fullName());
    fuzzsupport::keep(root->text());
    for (const char* path : Paths) {
        CXPathNodeList found = root->findNodes(QString::fromLatin1(path));
        use(found);
        if (!found.empty())
            use(found.back()->findNodes(QStringLiteral("../*")));
    }
    fuzzsupport::keep(root->evaluatePredicate(QStringLiteral("@id='a' and name='x' or @version")));

    const CDomNode domRoot(root->node());
    for (const char* path : ShortPaths)
        fuzzsupport::keep(std::size_t(domRoot.elementsByPath(QString::fromLatin1(path)).size()));

    fuzzsupport::keep(CXPathNode::documentText(root->node().ownerDocument()));
    return 0;
}
