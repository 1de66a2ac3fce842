#pragma once

#include "platform/common.h"
#include "platform/system.h" // CO_E_NOTINITIALIZED
#include "winsteps_platform_export.h"

#include <cstdint>
#include <string>

// The COM-classes subsystem of the Windows system interface: class identifiers, their text,
// and the look-ups COM makes before it creates an object of an in-process server. Plain C++
// only, like every interface header (see common.h).
//
// Windows keeps a class where COM finds it, below HKEY_CLASSES_ROOT:
//   CLSID\{...}                      the class (its default value: a readable name)
//   CLSID\{...}\InprocServer32       default value: the server file (REG_SZ, or REG_EXPAND_SZ
//                                    with %VARIABLES%); "ThreadingModel": Apartment, Both, ...
//   CLSID\{...}\ProgID               default value: the class's ProgID
//   PROGID\CLSID                     default value: the class's "{...}" text
// A 32-bit process on a 64-bit Windows (WOW64) finds classes in the 32-bit view,
// HKEY_CLASSES_ROOT\Wow6432Node\CLSID, which is where its own registry calls below
// HKEY_CLASSES_ROOT\CLSID land; ProgIDs are shared by both views.

namespace winsteps::platform {

// A GUID as Windows lays it out; a class identifier (CLSID) is one.
struct GUID {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::uint8_t data4[8] = {};
};
using CLSID = GUID;

inline bool operator==(const GUID& a, const GUID& b)
{
    if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3)
        return false;
    for (int i = 0; i < 8; ++i) {
        if (a.data4[i] != b.data4[i])
            return false;
    }
    return true;
}
inline bool operator!=(const GUID& a, const GUID& b)
{
    return !(a == b);
}

// HRESULTs of the COM look-ups.
inline constexpr HRESULT CO_E_CLASSSTRING = static_cast<HRESULT>(0x800401F3u);    // bad class text, unknown ProgID
inline constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u); // class not registered
inline constexpr HRESULT REGDB_E_READREGDB = static_cast<HRESULT>(0x80040150u);   // the registry cannot be read

// The server context of a creation: an in-process server (a DLL loaded into the caller).
inline constexpr std::uint32_t CLSCTX_INPROC_SERVER = 0x1;

// StringFromGUID2: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", hexadecimal digits in upper case.
WINSTEPS_PLATFORM_EXPORT std::string guidText(const GUID& guid);
// The reverse, as CLSIDFromString reads a class text: exactly 38 characters, braces and
// dashes in place, hexadecimal digits in either case. False for anything else (*guid untouched).
WINSTEPS_PLATFORM_EXPORT bool parseGuidText(const std::string& text, GUID* guid);

// The COM class look-ups of one Windows machine as seen from the running process. Every
// method may be called from any thread; every call answers an HRESULT as COM gives it.
class WINSTEPS_PLATFORM_EXPORT Com {
public:
    virtual ~Com();

    // CLSIDFromProgID: the class that HKEY_CLASSES_ROOT\progId\CLSID names. CO_E_CLASSSTRING
    // for an unknown ProgID, one without a CLSID key, or one whose value is no class text.
    // *clsid is set on success only.
    virtual HRESULT clsidFromProgID(const std::string& progId, CLSID* clsid) = 0;
    // CLSIDFromString: a class text ("{...}", see parseGuidText), else the text as a ProgID
    // (as clsidFromProgID); CO_E_CLASSSTRING when it is neither. *clsid is set on success only.
    virtual HRESULT clsidFromString(const std::string& text, CLSID* clsid) = 0;
    // CoCreateInstance(clsid, no outer object, CLSCTX_INPROC_SERVER, IID_IUnknown), the object
    // released at once: whether an object of the class can be created in this process.
    // CO_E_NOTINITIALIZED when the calling thread has not started COM; REGDB_E_CLASSNOTREG
    // when the class or its InprocServer32 key (or its server's name) is missing in the
    // process's view; HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND) when the server file does not
    // exist (a bare file name is looked for in the system folder, then the Windows folder).
    virtual HRESULT coCreateInstance(const CLSID& clsid) = 0;
};

// The COM classes of this process's machine.
WINSTEPS_PLATFORM_EXPORT Com& com();

} // namespace winsteps::platform
