#pragma once

#include "platform/system.h"
#include "winsteps_export.h"

// Initialises COM for the calling thread for the guard's lifetime. On the 9x family nothing is
// done. When this guard is the first to initialise COM on the thread it also sets the
// process-wide COM security (packet authentication, impersonation). Whenever its CoInitialize
// succeeded (S_OK or S_FALSE) the destructor balances it with CoUninitialize.
class WINSTEPS_EXPORT CComInit
{
public:
    CComInit();                                             // the current machine
    explicit CComInit(winsteps::platform::System& platform);
    virtual ~CComInit();

    CComInit(const CComInit&) = delete;
    CComInit& operator=(const CComInit&) = delete;

    // Whether COM is usable on this thread as the guard set it up. False when COM was already
    // initialised on the thread (S_FALSE), when the security could not be set, or when
    // CoInitialize failed.
    bool ok() const { return m_ok; }
    // Whether this guard holds a CoInitialize to balance.
    bool initialized() const { return m_initialized; }

private:
    winsteps::platform::System& m_platform;
    bool m_initialized = false;
    bool m_ok = false;
};
