#pragma once

#include <QString>

#include <memory>

class CStateFactory;

namespace winsteps::host {

// Opens the winsteps plug-in by name, resolves its createFactory and builds the factory
// chain of this host: the "host" factory with the plug-in's "win" factory as its child
// (and the host factory as the plug-in factory's parent), so that either can create any
// type. Null and an error text when the plug-in cannot be opened.
std::unique_ptr<CStateFactory> createFactories(QString* error);

} // namespace winsteps::host
