#include "platform/firewall.h"
#include "platform/netsharing.h"

// The interfaces of the firewall and connection-sharing subsystems, whichever backend answers.

namespace winsteps::platform {

FwAuthorizedApplication::~FwAuthorizedApplication() = default;
FwAuthorizedApplications::~FwAuthorizedApplications() = default;
FwProfile::~FwProfile() = default;
FwPolicy::~FwPolicy() = default;
FwMgr::~FwMgr() = default;
Firewall::~Firewall() = default;

NetSharingPortMapping::~NetSharingPortMapping() = default;
NetSharingConfiguration::~NetSharingConfiguration() = default;
NetConnection::~NetConnection() = default;
NetSharingManager::~NetSharingManager() = default;
NetSharing::~NetSharing() = default;

} // namespace winsteps::platform
