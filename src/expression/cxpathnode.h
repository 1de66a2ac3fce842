#pragma once

#include "objects/cpropertyobject.h"
#include "winsteps_export.h"

#include <QDomDocument>
#include <QDomNode>
#include <QString>

#include <memory>
#include <vector>

class CXPathNode;

// Nodes found by a search; the receiver owns them.
using CXPathNodeList = std::vector<std::unique_ptr<CXPathNode>>;

// A property object that wraps one node of an XML document and shows its name, value, text,
// type and path as declared properties. It searches the document with a small path language:
//
//   item          child elements named item ("*": any)      ./item   the same
//   ../item       elements named item beside this node       //item   anywhere in the document
//   /root/item    from the document                          a//b     b anywhere below each a
//   item/@id      the attribute id of each item ("@*": all attributes)
//   item[2]  item[first]  item[last]                         by position, counted from 1
//   item[@id]  item[name]                                    has the attribute / a child named name
//   item[@id='a' and name='x' or @t='it\'s']                 attribute and child-text tests, joined
//                                                            left to right without precedence
//
// Every search step is traced under the module "xpath". Copies (clone()) share the DOM node,
// so a change made through any of them is seen by all. Each node also holds its document,
// which therefore lives as long as any node of it.
class WINSTEPS_EXPORT CXPathNode : public CPropertyObject
{
    Q_OBJECT
    Q_PROPERTY(QString fullName READ fullName)
    Q_PROPERTY(QString nodeName READ nodeName WRITE setNodeName)
    Q_PROPERTY(QString nodeValue READ nodeValue WRITE setNodeValue)
    Q_PROPERTY(QString text READ text WRITE setText)
    Q_PROPERTY(NodeType nodeType READ nodeType)

public:
    // The toolkit's node types, by the same numbers.
    enum NodeType {
        ElementNode = QDomNode::ElementNode,
        AttributeNode = QDomNode::AttributeNode,
        TextNode = QDomNode::TextNode,
        CDATASectionNode = QDomNode::CDATASectionNode,
        EntityReferenceNode = QDomNode::EntityReferenceNode,
        EntityNode = QDomNode::EntityNode,
        ProcessingInstructionNode = QDomNode::ProcessingInstructionNode,
        CommentNode = QDomNode::CommentNode,
        DocumentNode = QDomNode::DocumentNode,
        DocumentTypeNode = QDomNode::DocumentTypeNode,
        DocumentFragmentNode = QDomNode::DocumentFragmentNode,
        NotationNode = QDomNode::NotationNode,
        BaseNode = QDomNode::BaseNode,
        CharacterDataNode = QDomNode::CharacterDataNode,
    };
    Q_ENUM(NodeType)

    // Deepest path (in steps) a search follows; a deeper one finds nothing.
    static constexpr int MaxPathSteps = 256;
    // Deepest element nesting loadDocument() accepts.
    static constexpr int MaxDocumentDepth = 1000;

    // A null node.
    explicit CXPathNode(QObject* parent = nullptr, const char* name = nullptr);
    // Shares node; no parent; the object name is the node's name.
    explicit CXPathNode(const QDomNode& node);
    ~CXPathNode() override;

    // A new node object sharing the same DOM node (and cloning the object properties).
    CPropertyObject* clone() const override;

    // After the DOM moved node into another document: every node object of node or of a
    // node below it holds that document from now on, so that the document it now belongs
    // to lives as long as the node objects that reach it.
    static void followMove(const QDomNode& node);

    // Reads an XML file (readDocumentFile()) and gives a node for its root element, or null
    // with "FILE: cannot open the XML document: WHY" or a parseDocument() message in error.
    static std::unique_ptr<CXPathNode> loadDocument(const QString& fileName, QString* error);
    // The same from the text of a document; fileName only names it in messages
    // ("FILE:LINE: PROBLEM" from parseDocumentText(), or "FILE: the XML document has no root
    // element").
    static std::unique_ptr<CXPathNode> parseDocument(const QByteArray& data, const QString& fileName, QString* error);

    // The checks on reading a document, for every reader of XML files (node objects, the
    // host's wizards and their documents), each of which words its own messages around them.
    //
    // Largest document file that is read: a document is read whole into memory.
    static constexpr qint64 MaxDocumentBytes = 64 * 1024 * 1024;
    // Why the file at fileName cannot be read as a document, "not a regular file" (a device
    // or a pipe may never end) or "larger than 64 MiB"; empty when it may be read. A missing
    // file is left to the reader, which says so.
    static QString documentFileProblem(const QString& fileName);
    // Reads the file at fileName whole into data; false with why in error: the
    // documentFileProblem(), the file's own error text, or the size of a file that grew past
    // the limit since it was looked at.
    static bool readDocumentFile(const QString& fileName, QByteArray* data, QString* error);
    // Parses data into document; false with the line of the fault in line and "elements
    // nested deeper than 1000 levels" or "not well-formed XML: MESSAGE (column N)" in error.
    static bool parseDocumentText(const QByteArray& data, QDomDocument* document, int* line, QString* error);
    // The line of the first element of data nested deeper than MaxDocumentDepth, or 0. The
    // toolkit's document code recurses over the nesting: deeper text must not reach it.
    static qint64 lineNestedTooDeep(const QByteArray& data);

    // The text of a document, as the toolkit writes it, with the attributes of every element
    // in name order: the toolkit keeps attributes unordered (differently in every process),
    // and the same document must always give the same text.
    static QString documentText(const QDomDocument& document);

    QDomNode node() const { return m_node; }

    QString fullName() const;
    QString nodeName() const;
    void setNodeName(const QString& name);
    QString nodeValue() const;
    void setNodeValue(const QString& value);
    QString text() const;
    void setText(const QString& text);
    NodeType nodeType() const;

    // Every node the path reaches, in document order for each step.
    CXPathNodeList findNodes(const QString& path) const;
    // The same for a path relative to this node (findNodes has taken off "./", "../", "/").
    CXPathNodeList getElements(const QString& path) const;
    // The child elements named name ("*": all), with descendants each followed by its own
    // matching descendants (document order). Non-element children are never taken.
    CXPathNodeList childElements(const QString& name, bool descendants) const;
    // This node's attribute named name, or all its attributes (by name) for "*"; with
    // descendants, also those of every element below.
    CXPathNodeList attributeNodes(const QString& name, bool descendants) const;
    // Keeps the nodes that satisfy one predicate (the text between "[" and "]").
    static void filterByPredicate(CXPathNodeList& nodes, const QString& predicate);
    // The and/or expression of a predicate holds for this node.
    bool evaluatePredicate(const QString& predicate) const;
    // One test of a predicate: @name, name, @name='value' or name='text'.
    bool matchesPartialExpression(const QString& test) const;
    bool checkAttribute(const QString& name, const QString& value) const;
    bool checkChildTextNode(const QString& name, const QString& text) const;

protected:
    CXPathNode(const CXPathNode& source);

private:
    // A node of document, known to the search that found it.
    CXPathNode(const QDomNode& node, const QDomDocument& document);
    // Node objects for the nodes a search of this node found.
    CXPathNodeList nodeObjects(const std::vector<QDomNode>& nodes) const;

    // Every node object is known while it lives (for followMove()).
    void track();
    void untrack();

    QDomNode m_node;
    QDomDocument m_document; // keeps the document alive while this node exists
};
