#include "capplication.h"

#include "objects/cdomnode.h"

CApplication::CApplication(QObject* parent, const char* name)
    : CPropertyObject(parent, name)
{
}

void CApplication::declareProperties(const QDomElement& element)
{
    for (const QDomElement& property : CDomNode(element).applicableProperties())
        setProperty(property.attribute(QStringLiteral("key")), QVariant(property.attribute(QStringLiteral("value"))));
}
