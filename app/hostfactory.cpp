#include "hostfactory.h"

#include "cnoopstate.h"
#include "framework/cstatefactory.h"

namespace winsteps::host {

CStateFactory* createHostFactory()
{
    auto* factory = new CStateFactory(QStringLiteral("host"));
    // The host's state types, one registration per type.
    factory->registerState(QStringLiteral("noop"), &CStateFactory::creator<CNoopState>);
    return factory;
}

} // namespace winsteps::host
