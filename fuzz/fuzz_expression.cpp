// Expressions of property maps: the input is the function text of a map. A valid map is
// evaluated twice, as a transition would, with its variables read from fixed sources: plain
// values, a list, an object with children and a document. Everything is built anew for each
// input, since evaluations may edit the objects and the document they are given.

#include "fixeddocument.h"
#include "fuzzsupport.h"

#include "expression/cxpathnode.h"
#include "expression/cproperty.h"
#include "expression/cpropertymap.h"
#include "objects/cpropertyobject.h"

#include <memory>

namespace {

struct Sources
{
    CPropertyObject state{nullptr, "state"};
    CPropertyObject machine{nullptr, "fsm"};
    CPropertyObject application{nullptr, "application"};

    Sources()
    {
        state.setProperty("a", QStringLiteral("text"));
        state.setProperty("n", QStringLiteral("42"));
        state.setProperty("d", QStringLiteral("2.5"));
        state.setProperty("neg", qlonglong(-7));
        state.setProperty("list", QStringList{QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three")});
        state.setProperty("empty", QString(QLatin1String("")));
        state.setProperty("quote", QStringLiteral("it's \\ \"q\""));

        auto* object = new CPropertyObject(nullptr, "obj");
        object->setProperty("x", 1);
        object->setProperty("name", QStringLiteral("first"));
        for (int i = 0; i < 3; ++i) {
            auto* child = new CPropertyObject(nullptr, QByteArray("node" + QByteArray::number(i)).constData());
            child->setProperty("v", i);
            object->setObjectProperty(child->objectName(), child);
        }
        state.setObjectProperty(QStringLiteral("obj"), object);

        QString error;
        if (std::unique_ptr<CXPathNode> root = CXPathNode::parseDocument(fuzzsupport::FixedDocument, QStringLiteral("fixed.xml"), &error))
            state.adoptObjectProperty(QStringLiteral("doc"), std::move(root));

        machine.setProperty("x", QStringLiteral("machine"));
        machine.setProperty("count", 3);
        application.setProperty("y", QStringLiteral("application"));
        application.setObjectProperty(QStringLiteral("settings"), new CPropertyObject(nullptr, "settings"));
    }

    CPropertyObject* of(int location)
    {
        switch (location) {
        case CProperty::Machine: return &machine;
        case CProperty::Application: return &application;
        default: return &state;
        }
    }
};

// Fills the variables as a transition does: an object property, else a value, else the
// empty text.
void fill(CPropertyMap& map, Sources& sources)
{
    map.resetVariables();
    for (CProperty* variable : map.variables()) {
        const CPropertyObject* source = sources.of(variable->location());
        if (CPropertyObject* object = source->objectProperty(variable->name())) {
            variable->setObject(object);
            continue;
        }
        const QVariant value = source->property(variable->name());
        variable->setValue(value.isValid() ? value : QVariant(QString(QLatin1String(""))));
    }
}

// Touches an object result down to a few levels.
void use(const CPropertyObject* object, int depth)
{
    if (!object)
        return;
    fuzzsupport::keep(object->objectName());
    fuzzsupport::keep(object->propertyNames());
    if (depth >= 4)
        return;
    for (const CPropertyObject* child : object->objectProperties())
        use(child, depth + 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > fuzzsupport::MaxInput)
        return -1;
    fuzzsupport::silenceTrace();

    // The sources outlive the map, whose variables point into them.
    std::unique_ptr<Sources> sources;
    CPropertyMap map(nullptr, QStringLiteral("result"), fuzzsupport::text(data, size));
    fuzzsupport::keep(map.errors());
    if (!map.isValid())
        return 0;

    sources = std::make_unique<Sources>();
    for (int round = 0; round < 2; ++round) {
        fill(map, *sources);
        if (!map.evaluate())
            continue;
        if (map.resultIsObject()) {
            const std::unique_ptr<CPropertyObject> object(map.takeTargetObject());
            use(object.get(), 0);
        } else {
            fuzzsupport::keep(map.target().value());
        }
    }
    return 0;
}
