#pragma once

#include "platform/com.h"
#include "winsteps_platform_export.h"

#include <cstddef>
#include <string>
#include <vector>

namespace winsteps::platform::emulated {

// An emulated component: the stand-in for an in-process COM server (an .ocx or .dll) that a
// wizard ships for the emulated machine. It is a small text file; the machine's regsvr32.exe
// loads it and calls its registration entry points:
//
//   winsteps component
//   ; a line beginning with ";" or "#" is a comment, blank lines are skipped
//   class {6C5E3A10-0B5D-4D3A-9F1E-2B8C1D7E4F01}
//   name Demo Control                 the class key's default value
//   progid Demo.Control.1             HKCR\Demo.Control.1\CLSID names the class (repeatable)
//                                     (not CLSID, AppID, Interface, TypeLib, MIME, Record or
//                                     Wow6432Node: keys that hold the classes themselves)
//   threadingModel Apartment          Apartment, Free, Both or Neutral
//   class {...}                       the next class, with lines of its own
//   DllRegisterServer fails 0x80070005
//   DllUnregisterServer missing
//
// The first line marks the file as a component. Each line is a keyword (any case), blanks,
// and its value; "name", "progid" and "threadingModel" belong to the class above them. The
// two entry points are present and succeed unless a line says otherwise: "missing" (the
// module does not export it) or "fails HRESULT" (it returns that failure code, hexadecimal
// with 0x or decimal). A file of more than maxComponentFileSize bytes, a line of another
// form, or a value out of place is no component.
struct ComponentClass {
    CLSID clsid;
    std::string name;
    std::vector<std::string> progIds;
    std::string threadingModel;
};

// One registration entry point of a component.
struct ComponentEntry {
    bool present = true;
    HRESULT result = S_OK; // what it returns when called
};

struct WINSTEPS_PLATFORM_EXPORT ComponentFile {
    std::vector<ComponentClass> classes;
    ComponentEntry registerServer;   // DllRegisterServer
    ComponentEntry unregisterServer; // DllUnregisterServer

    // Reads a component from the text of a file. False when the text is no component, with
    // *why (may be null) saying where and why: "line 3: ..." (no line for the whole file).
    bool parse(const std::string& text, std::string* why);
};

inline constexpr std::size_t maxComponentFileSize = 64 * 1024;
// The first line of every component.
inline constexpr const char* componentSignature = "winsteps component";

} // namespace winsteps::platform::emulated
