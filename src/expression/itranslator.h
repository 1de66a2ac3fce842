#pragma once

#include "winsteps_export.h"

#include <QObject>
#include <QString>

// The context of a property map that translates texts: tr() in an expression asks the map's
// context object for its translation when the context implements this interface (a state
// does), and returns the text unchanged otherwise.
class WINSTEPS_EXPORT ITranslator
{
public:
    virtual ~ITranslator() = default;
    virtual QString translateText(const QString& text) const = 0;
};

#define ITranslator_iid "winsteps.ITranslator/1.0"
Q_DECLARE_INTERFACE(ITranslator, ITranslator_iid)
