#include "system/ccominit.h"

#include "system/cosversion.h"

namespace platform = winsteps::platform;

CComInit::CComInit()
    : CComInit(platform::system())
{
}

CComInit::CComInit(platform::System& machine)
    : m_platform(machine)
{
    if (COsVersion(machine).record().platformId == platform::VER_PLATFORM_WIN32_WINDOWS) {
        m_ok = true;
        return;
    }
    const platform::HRESULT hr = machine.coInitialize();
    if (hr == platform::S_FALSE) {
        // Someone else initialised COM on this thread; our call still needs balancing.
        m_initialized = true;
        m_ok = false;
        return;
    }
    if (hr == platform::S_OK) {
        m_initialized = true;
        const platform::HRESULT security = machine.coInitializeSecurity(
            platform::RPC_C_AUTHN_DEFAULT, platform::RPC_C_AUTHN_LEVEL_PKT,
            platform::RPC_C_IMP_LEVEL_IMPERSONATE, platform::EOAC_NONE);
        // The security is process-wide and can be set once: a later thread finds it already
        // in force (RPC_E_TOO_LATE), which is what it asked for.
        m_ok = platform::SUCCEEDED(security) || security == platform::RPC_E_TOO_LATE;
        return;
    }
    // COM runs in another apartment model on this thread: usable, but not ours to release.
    // Any other failure leaves COM unusable.
    m_ok = platform::SUCCEEDED(hr) || hr == platform::RPC_E_CHANGED_MODE;
}

CComInit::~CComInit()
{
    if (m_initialized)
        m_platform.coUninitialize();
}
