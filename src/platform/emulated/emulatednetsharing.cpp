#include "platform/netsharing.h"

// Not answered yet: every creation reports E_NOTIMPL.

namespace winsteps::platform {

namespace {

class UnansweredNetSharing final : public NetSharing {
public:
    HRESULT createManager(std::shared_ptr<NetSharingManager>*) override { return E_NOTIMPL; }
};

} // namespace

NetSharing& netSharing()
{
    static UnansweredNetSharing instance;
    return instance;
}

} // namespace winsteps::platform
