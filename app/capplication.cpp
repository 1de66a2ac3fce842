#include "capplication.h"

#include "actions/cosversion.h"

CApplication::CApplication(QObject* parent, const char* name)
    : CPropertyObject(parent, name)
{
}

void CApplication::declareProperties(const QDomElement& element)
{
    if (element.isNull())
        return;
    const COsVersion os;
    auto declare = [this](const QDomElement& property) {
        setProperty(property.attribute(QStringLiteral("key")),
                    QVariant(property.attribute(QStringLiteral("value"))));
    };
    for (QDomElement child = element.firstChildElement(); !child.isNull();
         child = child.nextSiblingElement()) {
        if (child.tagName() == QLatin1String("property")) {
            declare(child);
        } else if (child.tagName().toLower() == QLatin1String("system")) {
            const QString filter = child.attribute(QStringLiteral("type"));
            if (filter != QLatin1String("common") && !os.isOsClass(filter))
                continue;
            for (QDomElement p = child.firstChildElement(QStringLiteral("property")); !p.isNull();
                 p = p.nextSiblingElement(QStringLiteral("property")))
                declare(p);
        }
    }
}
