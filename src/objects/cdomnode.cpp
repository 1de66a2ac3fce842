#include "objects/cdomnode.h"

#include "system/cosversion.h"

#include <QDomElement>
#include <QRegularExpression>

namespace {

struct AttributeTest {
    QString name;
    QString value;
};

struct LastStep {
    QString element;            // tag name, or "*" for any
    QString requiredAttribute;  // from "@name" steps
    QList<AttributeTest> tests; // from [@name='value'] predicates
};

LastStep parseLastStep(const QString& step)
{
    LastStep last;
    if (step.startsWith(QLatin1Char('@'))) {
        last.element = QStringLiteral("*");
        last.requiredAttribute = step.mid(1);
        return last;
    }
    const int bracket = step.indexOf(QLatin1Char('['));
    if (bracket < 0) {
        last.element = step;
        return last;
    }
    last.element = step.left(bracket);
    // Each @name='value' test, the value running to the next unescaped apostrophe.
    static const QRegularExpression test(QStringLiteral("@([a-zA-Z0-9_]+)='(.*?[^\\\\])'"));
    auto it = test.globalMatch(step.mid(bracket));
    while (it.hasNext()) {
        const auto m = it.next();
        last.tests.append({m.captured(1), m.captured(2)});
    }
    return last;
}

bool matches(const QDomElement& element, const LastStep& last)
{
    if (last.element != QLatin1String("*") && element.tagName() != last.element)
        return false;
    if (!last.requiredAttribute.isEmpty() && !element.hasAttribute(last.requiredAttribute))
        return false;
    for (const AttributeTest& t : last.tests) {
        if (!element.hasAttribute(t.name) || element.attribute(t.name) != t.value)
            return false;
    }
    return true;
}

// Collects matching children in document order; deep searches descend into each child
// before its next sibling. Iterative, so deep documents cannot exhaust the stack.
void collect(const QDomNode& start, const LastStep& last, bool deep, QList<CDomNode>& out)
{
    if (!deep) {
        for (QDomNode c = start.firstChild(); !c.isNull(); c = c.nextSibling()) {
            if (c.isElement() && matches(c.toElement(), last))
                out.append(c);
        }
        return;
    }
    QDomNode c = start.firstChild();
    while (!c.isNull()) {
        if (c.isElement() && matches(c.toElement(), last))
            out.append(c);
        if (c.hasChildNodes()) {
            c = c.firstChild();
            continue;
        }
        while (!c.isNull() && c.nextSibling().isNull()) {
            c = c.parentNode();
            if (c == start)
                return;
        }
        if (!c.isNull())
            c = c.nextSibling();
    }
}

} // namespace

QList<CDomNode> CDomNode::elementsByPath(const QString& path) const
{
    QList<CDomNode> result;
    QString rest = path;
    QDomNode start = *this;
    bool deep = true;
    if (rest.startsWith(QLatin1String("./"))) {
        rest.remove(0, 2);
    } else if (rest.startsWith(QLatin1String("../"))) {
        start = parentNode().toElement();
        rest.remove(0, 3);
    } else if (rest.startsWith(QLatin1String("///"))) {
        deep = false;
        rest.remove(0, 3);
    } else if (rest.startsWith(QLatin1String("//"))) {
        start = ownerDocument();
        rest.remove(0, 2);
    } else if (rest.startsWith(QLatin1String("/"))) {
        start = ownerDocument();
        deep = false;
        rest.remove(0, 1);
    }
    if (start.isNull())
        return result;

    QStringList steps;
    const int bracket = rest.indexOf(QLatin1Char('['));
    if (bracket < 0) {
        steps = rest.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    } else {
        steps = rest.left(bracket).split(QLatin1Char('/'), Qt::SkipEmptyParts);
        if (steps.isEmpty())
            steps.append(QString());
        steps.last() += rest.mid(bracket);
    }
    if (steps.isEmpty())
        return result;

    QDomNode node = start;
    for (int i = 0; i + 1 < steps.size(); ++i) {
        QDomNode next;
        for (QDomNode c = node.firstChild(); !c.isNull(); c = c.nextSibling()) {
            if (c.isElement() && (steps[i] == QLatin1String("*") || c.toElement().tagName() == steps[i])) {
                next = c;
                break;
            }
        }
        if (next.isNull())
            return result;
        node = next;
    }
    collect(node, parseLastStep(steps.last()), deep, result);
    return result;
}

QList<QDomElement> CDomNode::applicableProperties() const
{
    QList<QDomElement> result;
    const QString property = QStringLiteral("property");
    const COsVersion os;
    for (QDomElement child = firstChildElement(); !child.isNull(); child = child.nextSiblingElement()) {
        if (child.tagName() == property) {
            result.append(child);
            continue;
        }
        if (child.tagName().toLower() != QLatin1String("system"))
            continue;
        const QString type = child.attribute(QStringLiteral("type"));
        if (type != QLatin1String("common") && !os.isOsClass(type))
            continue;
        for (QDomElement p = child.firstChildElement(property); !p.isNull(); p = p.nextSiblingElement(property))
            result.append(p);
    }
    return result;
}
