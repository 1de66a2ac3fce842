#include "expression/cfunctionregistry.h"

#include "expression/carithmeticfunctions.h"
#include "expression/clistfunctions.h"
#include "expression/cpropertyfunctions.h"
#include "expression/cstringfunctions.h"
#include "expression/cstringlistfunctions.h"
#include "expression/cuivaluefunctions.h"
#include "expression/cxmlfunctions.h"

namespace {

// The class the registry builds for Function: the count check follows the rule the function
// class states, so the count is written once, beside the function.
template<typename Function>
class Registered final : public Function
{
public:
    using Function::Function;
    bool checkParameterCount() const override { return Function::parameterRule.accepts(this->parameterCount()); }
};

template<typename Function>
CFuncExpression* make(const QList<CExpression*>& parameters, CPropertyMap* owner)
{
    return new Registered<Function>(parameters, owner);
}

// A row of the table: the name, the function class's parameter rule, the description.
template<typename Function>
CFunctionEntry row(const char* name, const char* description)
{
    return { name, Function::parameterRule, description, make<Function> };
}

} // namespace

const QList<CFunctionEntry>& winsteps::functionRegistry::entries()
{
    static const QList<CFunctionEntry> table = {
        // Arithmetic
        row<CFunctionAdd>("add", "Sum of the values, as 64-bit integers or doubles"),
        row<CFunctionMultiply>("multiply", "Product of the values, as 64-bit integers or doubles"),
        row<CFunctionDivide>("divide", "First value divided by the second, as a double"),
        row<CFunctionNegate>("negate", "The value negated"),
        // Text
        row<CFunctionConcat>("concat", "The texts joined in order"),
        row<CFunctionUppercase>("uppercase", "The text in upper case"),
        row<CFunctionLowercase>("lowercase", "The text in lower case"),
        row<CFunctionReplace>("replace", "Every match of a pattern in a text replaced"),
        row<CFunctionSubstr>("substr", "Part of a text from a start index, optionally of a length"),
        row<CFunctionPos>("pos", "Index of a match of a pattern in a text, or -1"),
        row<CFunctionLen>("len", "Number of characters of a text"),
        row<CFunctionSection>("section", "Fields of a text cut at a separator pattern"),
        row<CFunctionSafeXML>("safexml", "The text with XML escapes"),
        row<CFunctionTr>("tr", "The text translated"),
        // String lists
        row<CFunctionSplit>("split", "A text cut at every match of a pattern, empty pieces left out"),
        row<CFunctionJoin>("join", "The strings of a list joined with a separator"),
        row<CFunctionGrep>("grep", "The strings of a list that match a pattern"),
        row<CFunctionGres>("gres", "Every match of a pattern replaced in every string of a list"),
        row<CFunctionList>("list", "An empty list"),
        // User-interface values
        row<CFunctionColor>("color", "A colour from a name or from red, green and blue"),
        row<CFunctionPixmap>("pixmap", "A pixmap loaded from a file"),
        row<CFunctionFont>("font", "A font from family, point size, weight and italic"),
        row<CFunctionPoint>("point", "A point from x and y"),
        row<CFunctionSize>("size", "A size from width and height"),
        // Lists and objects
        row<CFunctionCount>("count", "Number of elements or object properties, optionally matching"),
        row<CFunctionElement>("element", "The element or object property at an index"),
        row<CFunctionFind>("find", "The first element or object-property name that matches a pattern"),
        row<CFunctionObjectList>("objectlist", "A new, empty list object"),
        row<CFunctionMakeList>("makelist", "A list of the values, or a list object of the objects"),
        row<CFunctionAppend>("append", "A list or list object with further values or objects appended"),
        row<CFunctionRemove>("remove", "A list or list object without the entries that match a pattern"),
        row<CFunctionMerge>("merge", "Two lists or list objects merged"),
        // Properties of objects
        row<CFunctionGetproperty>("property", "A named property of an object"),
        row<CFunctionSetproperty>("setproperty", "An object after setting one of its properties"),
        row<CFunctionPropertyList>("propertylist", "The property names of an object"),
        // XML documents
        row<CFunctionFindFirstNode>("findfirstnode", "The first node found by a path"),
        row<CFunctionFindNodes>("findnodes", "A list object of the nodes found by a path"),
        row<CFunctionSetAttribute>("setattribute", "A node after setting one of its attributes"),
        row<CFunctionAppendChild>("appendchild", "A node after appending a child node or new element"),
        row<CFunctionRemoveChild>("removechild", "A node after removing a child node"),
        row<CFunctionInsertBefore>("insertbefore", "A node after inserting a child before another"),
        row<CFunctionInsertAfter>("insertafter", "A node after inserting a child after another"),
        row<CFunctionXmlToString>("xmltostring", "The text of the whole document of a node"),
    };
    return table;
}

const CFunctionEntry* winsteps::functionRegistry::find(const QString& name)
{
    for (const CFunctionEntry& entry : entries()) {
        if (name == QLatin1String(entry.name))
            return &entry;
    }
    return nullptr;
}

CFuncExpression* winsteps::functionRegistry::create(const QString& name, const QList<CExpression*>& parameters,
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
