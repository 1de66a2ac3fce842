#include "expression/cfunctionregistry.h"

#include "expression/carithmeticfunctions.h"
#include "expression/clistfunctions.h"
#include "expression/cpropertyfunctions.h"
#include "expression/cstringfunctions.h"
#include "expression/cstringlistfunctions.h"
#include "expression/cuivaluefunctions.h"
#include "expression/cxmlfunctions.h"

namespace {

template<typename Function>
CFuncExpression* make(const QList<CExpression*>& parameters, CPropertyMap* owner)
{
    return new Function(parameters, owner);
}

using C = CParameterCount;

} // namespace

const QList<CFunctionEntry>& functionRegistry::entries()
{
    static const QList<CFunctionEntry> table = {
        // Arithmetic
        { "add", C::atLeast(2), "Sum of the values, as 64-bit integers or doubles", make<CFunctionAdd> },
        { "multiply", C::atLeast(2), "Product of the values, as 64-bit integers or doubles", make<CFunctionMultiply> },
        { "divide", C::exactly(2), "First value divided by the second, as a double", make<CFunctionDivide> },
        { "negate", C::exactly(1), "The value negated", make<CFunctionNegate> },
        // Text
        { "concat", C::atLeast(2), "The texts joined in order", make<CFunctionConcat> },
        { "uppercase", C::exactly(1), "The text in upper case", make<CFunctionUppercase> },
        { "lowercase", C::exactly(1), "The text in lower case", make<CFunctionLowercase> },
        { "replace", C::exactly(3), "Every match of a pattern in a text replaced", make<CFunctionReplace> },
        { "substr", C::between(2, 3), "Part of a text from a start index, optionally of a length", make<CFunctionSubstr> },
        { "pos", C::between(2, 3), "Index of a match of a pattern in a text, or -1", make<CFunctionPos> },
        { "len", C::exactly(1), "Number of characters of a text", make<CFunctionLen> },
        { "section", C::between(3, 4), "Fields of a text cut at a separator pattern", make<CFunctionSection> },
        { "safexml", C::exactly(1), "The text with XML escapes", make<CFunctionSafeXML> },
        { "tr", C::exactly(1), "The text translated", make<CFunctionTr> },
        // String lists
        { "split", C::exactly(2), "A text cut at every match of a pattern, empty pieces left out", make<CFunctionSplit> },
        { "join", C::between(1, 2), "The strings of a list joined with a separator", make<CFunctionJoin> },
        { "grep", C::exactly(2), "The strings of a list that match a pattern", make<CFunctionGrep> },
        { "gres", C::exactly(3), "Every match of a pattern replaced in every string of a list", make<CFunctionGres> },
        { "list", C::exactly(1), "An empty list", make<CFunctionList> },
        // User-interface values
        { "color", C::either(1, 3), "A colour from a name or from red, green and blue", make<CFunctionColor> },
        { "pixmap", C::exactly(1), "A pixmap loaded from a file", make<CFunctionPixmap> },
        { "font", C::atMost(4), "A font from family, point size, weight and italic", make<CFunctionFont> },
        { "point", C::exactly(2), "A point from x and y", make<CFunctionPoint> },
        { "size", C::exactly(2), "A size from width and height", make<CFunctionSize> },
        // Lists and objects
        { "count", C::between(1, 2), "Number of elements or object properties, optionally matching", make<CFunctionCount> },
        { "element", C::exactly(2), "The element or object property at an index", make<CFunctionElement> },
        { "find", C::exactly(2), "The first element or object-property name that matches a pattern", make<CFunctionFind> },
        { "objectlist", C::exactly(1), "A new, empty list object", make<CFunctionObjectList> },
        { "makelist", C::atLeast(1), "A list of the values, or a list object of the objects", make<CFunctionMakeList> },
        { "append", C::atLeast(2), "A list or list object with further values or objects appended", make<CFunctionAppend> },
        { "remove", C::exactly(2), "A list or list object without the entries that match a pattern", make<CFunctionRemove> },
        { "merge", C::exactly(2), "Two lists or list objects merged", make<CFunctionMerge> },
        // Properties of objects
        { "property", C::exactly(2), "A named property of an object", make<CFunctionGetproperty> },
        { "setproperty", C::exactly(3), "An object after setting one of its properties", make<CFunctionSetproperty> },
        { "propertylist", C::exactly(1), "The property names of an object", make<CFunctionPropertyList> },
        // XML documents
        { "findfirstnode", C::exactly(2), "The first node found by a path", make<CFunctionFindFirstNode> },
        { "findnodes", C::exactly(2), "A list object of the nodes found by a path", make<CFunctionFindNodes> },
        { "setattribute", C::exactly(3), "A node after setting one of its attributes", make<CFunctionSetAttribute> },
        { "appendchild", C::exactly(2), "A node after appending a child node or new element", make<CFunctionAppendChild> },
        { "removechild", C::exactly(2), "A node after removing a child node", make<CFunctionRemoveChild> },
        { "insertbefore", C::exactly(3), "A node after inserting a child before another", make<CFunctionInsertBefore> },
        { "insertafter", C::exactly(3), "A node after inserting a child after another", make<CFunctionInsertAfter> },
        { "xmltostring", C::exactly(1), "The text of the whole document of a node", make<CFunctionXmlToString> },
    };
    return table;
}

const CFunctionEntry* functionRegistry::find(const QString& name)
{
    for (const CFunctionEntry& entry : entries()) {
        if (name == QLatin1String(entry.name))
            return &entry;
    }
    return nullptr;
}

CFuncExpression* functionRegistry::create(const QString& name, const QList<CExpression*>& parameters,
                                          CPropertyMap* owner)
{
    const CFunctionEntry* entry = find(name);
    if (!entry)
        return nullptr;
    CFuncExpression* function = entry->create(parameters, owner);
    if (!function->checkParameterCount())
        function->addError(QStringLiteral("'%1' function has invalid number of parameters.\n").arg(name));
    return function;
}
