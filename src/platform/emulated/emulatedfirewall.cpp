#include "platform/firewall.h"

// Not answered yet: every creation reports E_NOTIMPL.

namespace winsteps::platform {

namespace {

class UnansweredFirewall final : public Firewall {
public:
    HRESULT createManager(std::shared_ptr<FwMgr>*) override { return E_NOTIMPL; }
};

} // namespace

Firewall& firewall()
{
    static UnansweredFirewall instance;
    return instance;
}

} // namespace winsteps::platform
