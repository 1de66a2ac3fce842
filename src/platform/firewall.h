#pragma once

#include "platform/com.h" // GUID, CLSID
#include "platform/common.h"
#include "winsteps_platform_export.h"

#include <cstdint>
#include <memory>
#include <string>

// The firewall subsystem of the Windows system interface: the firewall's automation objects
// (the manager, its local policy, the current profile and its list of authorised
// applications), each call answering the HRESULT its COM method gives. Plain C++ only, like
// every interface header (see common.h).
//
// Objects are held by std::shared_ptr: a holder owns one reference of the COM object, a copy
// of the holder another one, and the last holder to go releases it. Release every object
// before the thread's CoUninitialize that balances the CoInitialize it was created under.
//
// The firewall came with Windows XP Service Pack 2 (and Windows Server 2003 SP1); on earlier
// systems, and on the 9x family, its manager class is not registered and creating the
// manager fails as CoCreateInstance does there (REGDB_E_CLASSNOTREG).

namespace winsteps::platform {

// HRESULTs of the automation objects (the common ones are in common.h).
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);

// The automation boolean: VARIANT_TRUE is -1 (all bits set), VARIANT_FALSE 0.
using VARIANT_BOOL = std::int16_t;
inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

// The classes and interfaces, as the system publishes them. Both classes are created
// in-process (CLSCTX_INPROC_SERVER).
inline constexpr CLSID CLSID_NetFwMgr = {0x304CE942, 0x6E39, 0x40D8, {0x94, 0x3A, 0xB9, 0x13, 0xC4, 0x0C, 0x9C, 0xD4}};
inline constexpr GUID IID_INetFwMgr = {0xF7898AF5, 0xCAC4, 0x4632, {0xA2, 0xEC, 0xDA, 0x06, 0xE5, 0x11, 0x1A, 0xF2}};
inline constexpr CLSID CLSID_NetFwAuthorizedApplication = {
    0xEC9846B3, 0x2762, 0x4A6B, {0xA2, 0x14, 0x6A, 0xCB, 0x60, 0x34, 0x62, 0xD2}};
inline constexpr GUID IID_INetFwAuthorizedApplication = {
    0xB5E64FFA, 0xC2C5, 0x444E, {0xA3, 0x01, 0xFB, 0x5E, 0x00, 0x01, 0x80, 0x50}};

// INetFwAuthorizedApplication: one entry of the authorised list, as Item found it.
class WINSTEPS_PLATFORM_EXPORT FwAuthorizedApplication {
public:
    virtual ~FwAuthorizedApplication();

    // get_ProcessImageFileName: the program's full path, as the list holds it.
    virtual HRESULT processImageFileName(std::string* path) = 0;
    // get_Name: the name the firewall's exception list shows.
    virtual HRESULT name(std::string* name) = 0;
    // get_Enabled: VARIANT_TRUE when the program may accept connections.
    virtual HRESULT enabled(VARIANT_BOOL* enabled) = 0;
};

// INetFwAuthorizedApplications: the authorised list of one profile. Paths compare without
// regard to case.
class WINSTEPS_PLATFORM_EXPORT FwAuthorizedApplications {
public:
    virtual ~FwAuthorizedApplications();

    // Item(path): the entry of that program. HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
    // (0x80070002) when the list holds none; *application is set on success only.
    virtual HRESULT item(const std::string& path, std::shared_ptr<FwAuthorizedApplication>* application) = 0;
    // Add of a new authorised-application object (CoCreateInstance of
    // CLSID_NetFwAuthorizedApplication, put_ProcessImageFileName(path), put_Name(name), the
    // firewall's defaults for the rest, which enable it): an entry of the same path is
    // replaced, which is how a disabled entry is enabled again. E_INVALIDARG for an empty
    // path or name. The HRESULT is that of the first step that failed.
    virtual HRESULT add(const std::string& path, const std::string& name) = 0;
    // Remove(path): the entry of that program goes. HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
    // when the list holds none.
    virtual HRESULT remove(const std::string& path) = 0;
};

// INetFwProfile: the profile the firewall applies now.
class WINSTEPS_PLATFORM_EXPORT FwProfile {
public:
    virtual ~FwProfile();

    // get_FirewallEnabled.
    virtual HRESULT firewallEnabled(VARIANT_BOOL* enabled) = 0;
    // get_AuthorizedApplications; *applications is set on success only.
    virtual HRESULT authorizedApplications(std::shared_ptr<FwAuthorizedApplications>* applications) = 0;
};

// INetFwPolicy: the local policy.
class WINSTEPS_PLATFORM_EXPORT FwPolicy {
public:
    virtual ~FwPolicy();

    // get_CurrentProfile; *profile is set on success only.
    virtual HRESULT currentProfile(std::shared_ptr<FwProfile>* profile) = 0;
};

// INetFwMgr: the firewall manager.
class WINSTEPS_PLATFORM_EXPORT FwMgr {
public:
    virtual ~FwMgr();

    // get_LocalPolicy; *policy is set on success only.
    virtual HRESULT localPolicy(std::shared_ptr<FwPolicy>* policy) = 0;
};

// The firewall of one Windows machine as seen from the running process. Every method may be
// called from any thread that started COM.
class WINSTEPS_PLATFORM_EXPORT Firewall {
public:
    virtual ~Firewall();

    // CoCreateInstance(CLSID_NetFwMgr, no outer object, CLSCTX_INPROC_SERVER, IID_INetFwMgr):
    // CO_E_NOTINITIALIZED when the calling thread has not started COM, REGDB_E_CLASSNOTREG
    // where the system has no firewall. *manager is set on success only.
    virtual HRESULT createManager(std::shared_ptr<FwMgr>* manager) = 0;
};

// The firewall of this process's machine.
WINSTEPS_PLATFORM_EXPORT Firewall& firewall();

} // namespace winsteps::platform
