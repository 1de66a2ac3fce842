#include "pluginloader.h"

#include "fsm/cstatefactory.h"
#include "hostfactory.h"

#include <QLibrary>

namespace winsteps::host {

namespace {

using CreateFactory = CStateFactory* (*)(CStateFactory*);

// The plug-in is also linked into this program: opening it by its soname finds that copy,
// so the process holds one framework (one set of meta-objects, one trace lock). The build
// path is a fall-back for a program whose link-time copy was found some other way.
CreateFactory resolveCreateFactory(QString* error)
{
    const QString candidates[] = {QStringLiteral(WINSTEPS_PLUGIN_NAME), QStringLiteral(WINSTEPS_PLUGIN_PATH)};
    QStringList problems;
    for (const QString& name : candidates) {
        QLibrary library(name);
        if (!library.load()) {
            problems << library.errorString();
            continue;
        }
        if (auto entry = reinterpret_cast<CreateFactory>(library.resolve("createFactory")))
            return entry;
        problems << library.errorString();
    }
    if (error)
        *error = QLatin1String("cannot load the winsteps plug-in: ") + problems.join(QLatin1String("; "));
    return nullptr;
}

} // namespace

std::unique_ptr<CStateFactory> createFactories(QString* error)
{
    const CreateFactory entry = resolveCreateFactory(error);
    if (!entry)
        return nullptr;
    std::unique_ptr<CStateFactory> host = createHostFactory();
    CStateFactory* plugin = entry(host.get());
    if (!plugin) {
        if (error)
            *error = QStringLiteral("the winsteps plug-in made no factory");
        return nullptr;
    }
    host->addFactory(plugin);
    return host;
}

} // namespace winsteps::host
