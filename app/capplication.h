#pragma once

#include "objects/cpropertyobject.h"

#include <QDomElement>

// The application properties of a wizard run: what property maps read and write under the
// "app." prefix. Filled from the wizard's <application> element and from the command line.
class CApplication : public CPropertyObject
{
    Q_OBJECT
public:
    explicit CApplication(QObject* parent = nullptr, const char* name = "application");

    // Declares the "property" children of element, and those of its "system" children whose
    // type is "common" or names a class of the current operating system. Values are text.
    void declareProperties(const QDomElement& element);
};
