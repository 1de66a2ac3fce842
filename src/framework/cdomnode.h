#pragma once

#include "winsteps_export.h"

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
};
