#include "framework/cstatefactory.h"

// The plug-in's state types, one registration per type, in one list.
extern "C" CStateFactory* createFactory(CStateFactory* parent)
{
    auto* factory = new CStateFactory(QStringLiteral("win"), parent);
    return factory;
}
