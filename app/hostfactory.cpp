#include "hostfactory.h"

#include "cactionstates.h"
#include "cnoopstate.h"
#include "fsm/cstatefactory.h"

namespace winsteps::host {

std::unique_ptr<CStateFactory> createHostFactory()
{
    auto factory = std::make_unique<CStateFactory>(QStringLiteral("host"));
    // The host's state types, one registration per type.
    factory->registerState(QStringLiteral("noop"), &CStateFactory::creator<CNoopState>);
    factory->registerState(QStringLiteral("startApp"), &CStateFactory::creator<CStartAppState>);
    factory->registerState(QStringLiteral("copyFiles"), &CStateFactory::creator<CCopyFilesState>);
    return factory;
}

} // namespace winsteps::host
