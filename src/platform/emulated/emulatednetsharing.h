#pragma once

#include "platform/emulated/networkstate.h"
#include "platform/netsharing.h"
#include "winsteps_platform_export.h"

#include <QList>

#include <functional>

namespace winsteps::platform::emulated {

class EmulatedMachine;

// The connection sharing of an emulated machine (see networkstate.h for what it keeps). The
// manager exists where the profile's system has connection sharing; its connections and
// port mappings are a record of the machine's store, so a change made by one process is seen
// by every process on the machine folder at its next call. Objects name their connection by
// its GUID and their mapping by its number: one whose connection or mapping has gone answers
// RPC_E_DISCONNECTED.
class WINSTEPS_PLATFORM_EXPORT EmulatedNetSharing final : public NetSharing {
public:
    explicit EmulatedNetSharing(EmulatedMachine& machine);
    EmulatedNetSharing(const EmulatedNetSharing&) = delete;
    EmulatedNetSharing& operator=(const EmulatedNetSharing&) = delete;

    HRESULT createManager(std::shared_ptr<NetSharingManager>* manager) override;

    // --- the machine's owner (machine show, tests) -------------------------------------------

    // The connections with their mappings as they are now (none without connection sharing).
    QList<ConnectionRecord> connections();

    // --- the objects' access -----------------------------------------------------------------

    // Runs work on the machine's network record in one store transaction, and writes the
    // record back when write is set and work succeeded. E_FAIL when the store fails.
    HRESULT access(bool write, const std::function<HRESULT(NetworkState&)>& work);

private:
    EmulatedMachine& m_machine;
};

// The object's "no longer there" answer.
inline constexpr HRESULT RPC_E_DISCONNECTED = static_cast<HRESULT>(0x80010108u);

} // namespace winsteps::platform::emulated
