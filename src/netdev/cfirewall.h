#pragma once

#include "platform/firewall.h"
#include "winsteps_export.h"

#include <QString>

#include <memory>

// The firewall's list of authorised applications, through its automation objects (manager,
// local policy, current profile). The constructor starts COM on the calling thread and takes
// the current profile; on a system without the firewall (before Windows XP SP2 and Server 2003
// SP1) it does nothing and the object refuses every operation. No operation fails outwardly:
// each answers a boolean and traces its problems under "CFirewall". One object serves one
// thread and must go before that thread ends COM.
class WINSTEPS_EXPORT CFirewall
{
public:
    // Who started COM on the thread, as far as this object knows.
    enum ComState {
        ComNotInitialized = 0, // not by this object (CoInitialize failed, or never called)
        ComInitializedHere = 1, // by this object: the destructor ends it
        ComInitializedElsewhere = 2, // someone else had already started it
    };

    CFirewall();
    virtual ~CFirewall();
    CFirewall(const CFirewall&) = delete;
    CFirewall& operator=(const CFirewall&) = delete;

    // True only when the application was newly added (or a disabled entry re-enabled); an
    // entry that is there and enabled already gives false.
    bool addApplication(const QString& fullPath, const QString& friendlyName);
    // True when the firewall accepted the removal; the list is not queried first.
    bool removeApplication(const QString& fullPath);
    // True when the question could be answered; the answer is in enabled (false for a
    // program the list does not hold).
    bool IsFirewallAppEnabled(const QString& fullPath, bool& enabled);

    bool isInitialized() const { return m_manager && m_profile; }
    ComState comState() const { return m_comState; }

    // Whether the running system has the firewall: Windows XP SP2, Server 2003 SP1 or later.
    static bool isSupportedSystem();

private:
    void initialize();
    // The profile's authorised list; traces "CFirewall::CALLER: PREFIXget_AuthorizedApplications
    // is failed with error CODE" and answers null when it cannot be had.
    std::shared_ptr<winsteps::platform::FwAuthorizedApplications> authorizedApplications(const char* caller,
                                                                                          const char* prefix);
    void release();

    ComState m_comState = ComNotInitialized;
    std::shared_ptr<winsteps::platform::FwMgr> m_manager;
    std::shared_ptr<winsteps::platform::FwProfile> m_profile;
};
