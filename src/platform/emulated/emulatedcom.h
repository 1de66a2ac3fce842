#pragma once

#include "platform/com.h"
#include "platform/emulated/componentfile.h"
#include "platform/process.h" // ERROR_BAD_EXE_FORMAT
#include "winsteps_platform_export.h"

#include <string>

namespace winsteps::platform::emulated {

class EmulatedMachine;

// The COM class look-ups of an emulated machine. Classes are registered where Windows keeps
// them (see com.h): in the machine's HKEY_CLASSES_ROOT, read through its registry calls, so a
// class is staged by a profile's "registry", a .reg import, a wizard's registry steps or the
// machine's regsvr32.exe; on a WOW64 profile those calls see the 32-bit view of CLSID. An
// object can be created when the class names an InprocServer32 server file that exists on the
// machine: nothing is loaded, so any existing file serves.
//
// For the machine's regsvr32.exe it also loads emulated component files (componentfile.h)
// and runs their registration entry points.
class WINSTEPS_PLATFORM_EXPORT EmulatedCom final : public Com {
public:
    explicit EmulatedCom(EmulatedMachine& machine);
    EmulatedCom(const EmulatedCom&) = delete;
    EmulatedCom& operator=(const EmulatedCom&) = delete;

    HRESULT clsidFromProgID(const std::string& progId, CLSID* clsid) override;
    HRESULT clsidFromString(const std::string& text, CLSID* clsid) override;
    HRESULT coCreateInstance(const CLSID& clsid) override;

    // --- the machine's regsvr32.exe ---------------------------------------------------------

    // LoadLibrary of an emulated component: path is a machine path ("C:\..." or "C:/...") or a
    // path of this process; a bare file name is looked for in the system folder, then the
    // Windows folder. ERROR_SUCCESS with the component and *modulePath, the path the module
    // was loaded from as Windows names it ("C:\WINDOWS\system32\comp.ocx");
    // ERROR_MOD_NOT_FOUND when there is no such file; ERROR_BAD_EXE_FORMAT when it is no
    // component, with *why (may be null) telling why.
    std::uint32_t loadComponent(const std::string& path, ComponentFile* component, std::string* modulePath,
                                std::string* why);
    // What the component's DllRegisterServer (unregister: DllUnregisterServer) does, once
    // regsvr32 found it present: the failure the file stages, or the keys of each class
    // written below HKEY_CLASSES_ROOT (the class, its InprocServer32 with modulePath and the
    // threading model, its ProgIDs) or removed. A registry failure is its HRESULT.
    HRESULT callEntryPoint(const ComponentFile& component, const std::string& modulePath, bool unregister);

private:
    // The existing file a server or module name stands for, as a machine path; "" when none.
    std::string findModule(const std::string& name);
    // The text of a string value (REG_EXPAND_SZ expanded with the environment) below
    // HKEY_CLASSES_ROOT: ERROR_SUCCESS, ERROR_FILE_NOT_FOUND for a missing key or value,
    // or the registry's error.
    std::uint32_t readString(const std::string& key, const std::string& name, std::string* text);
    std::string expandEnvironment(const std::string& text);
    HRESULT writeClass(const ComponentClass& entry, const std::string& modulePath);
    HRESULT removeClass(const ComponentClass& entry);

    EmulatedMachine& m_machine;
};

} // namespace winsteps::platform::emulated
