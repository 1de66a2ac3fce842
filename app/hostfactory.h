#pragma once

class CStateFactory;

namespace winsteps::host {

// The host's own state factory, named "host". The caller owns it.
CStateFactory* createHostFactory();

} // namespace winsteps::host
