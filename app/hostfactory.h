#pragma once

#include <memory>

class CStateFactory;

namespace winsteps::host {

// The host's own state factory, named "host".
std::unique_ptr<CStateFactory> createHostFactory();

} // namespace winsteps::host
