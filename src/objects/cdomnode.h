#pragma once

#include "winsteps_export.h"

#include <QDomElement>
#include <QDomNode>
#include <QList>

// A DOM node with the short-path lookup that states, actions and transitions use to find
// their "property" and "propertymap" elements. Writes no trace.
class WINSTEPS_EXPORT CDomNode : public QDomNode
{
public:
    CDomNode() = default;
    CDomNode(const QDomNode& node) : QDomNode(node) {}

    // The matching elements in document order. Prefixes: "./" deep from here, "../" deep
    // from the parent, "///" flat from here, "//" deep from the document, "/" flat from the
    // document, none: deep from here. The last step may carry [@a='v'] tests or be "@attr".
    QList<CDomNode> elementsByPath(const QString& path) const;

    // The "property" elements that apply to this node on the running system, in document
    // order: its own "property" children, and those of its "system" children (tag in any
    // case) whose "type" is "common" or a class of the running system.
    QList<QDomElement> applicableProperties() const;
};
