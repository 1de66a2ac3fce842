// What the parts of the node search share: DOM helpers, the "xpath" trace, read predicates.

#pragma once

#include "debug/debugoutput.h"

#include <QDomNode>
#include <QString>

#include <vector>

namespace winsteps::xpathnode {

using DomNodes = std::vector<QDomNode>;

// The element of an attribute, else the parent node.
QDomNode parentOf(const QDomNode& node);
QDomDocument documentOf(const QDomNode& node);
// The next node after node in document order, within the subtree of root (root itself
// excluded); descends into children when descend is true. Null at the end of the subtree.
QDomNode nextInSubtree(const QDomNode& root, QDomNode node, bool descend);
// "text" of a node: a text node's data, an element's text, else empty.
QString nodeText(const QDomNode& node);
// An apostrophe at i that opens or closes a quoted value (not escaped by a backslash).
bool isQuote(const QString& text, qsizetype i);

// One line of the "xpath" module; line ends with "\n".
inline void traceLine(const QString& line)
{
    winsteps::trace(winsteps::module::xpath, line);
}

// One test of a predicate (@name, name, @name='value' or name='text') as read from its text,
// with the lines traced while it runs.
struct PredicateTest {
    enum Kind { Fails, HasAttribute, HasChild, AttributeIs, ChildTextIs };

    Kind kind = Fails;
    bool andOperator = false; // joined to the tests before it by "and", else by "or"
    QString name;
    QString value;
    QString updateLine;  // "updateMatch with operator ..."
    QString partialLine; // "matchesPartialExpression: ..."
    QString checkLine;   // "checkAttribute ..." or "checkChildTextNode ..."
};

// One predicate of a step: a position (a number, "first", "last") or tests.
struct StepPredicate {
    enum Kind { Position, Last, Tests };

    Kind kind = Tests;
    qsizetype index = -1; // Position: from 0; -1 keeps nothing
    std::vector<PredicateTest> tests;
};

StepPredicate readPredicate(const QString& predicate);
// Keeps the nodes that pass predicate (a position or tests).
void applyPredicate(DomNodes& nodes, const StepPredicate& predicate);

} // namespace winsteps::xpathnode
