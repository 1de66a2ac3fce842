#pragma once

#include "platform/registry.h"
#include "winsteps_platform_export.h"

#include <cstdint>
#include <string>
#include <vector>

// The text format of the Windows registry editor ("Windows Registry Editor Version 5.00"),
// used by the emulated machine's export and import (it reads its text with Qt Core),
// written and read through the registry calls of a Registry, so that it works on any
// backend. Keys are read and written in the 64-bit view (KEY_WOW64_64KEY): an export of a
// 64-bit Windows shows Wow6432Node where it really is.
//
// Values are written as the editor writes them: "name"="text" for REG_SZ, dword:0000002a
// for a 4-byte REG_DWORD, hex: for REG_BINARY, hex(2): and hex(7): (UTF-16LE bytes) for
// expandable strings and multi-strings, hex(N): for anything else; @ is the default value.

namespace winsteps::platform {

// "HKEY_LOCAL_MACHINE" for HKEY_LOCAL_MACHINE, ...; nullptr for a key that is no root.
WINSTEPS_PLATFORM_EXPORT const char* hiveName(HKEY root);
// The root key named in full or short ("HKLM", "HKCU", "HKCR", "HKU", "HKCC", "HKDD"),
// without regard to case; HKEY_NULL for any other name.
WINSTEPS_PLATFORM_EXPORT HKEY hiveByName(const std::string& name);
// Splits "HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo" into its root key and sub-key path; false
// when the text does not begin with a hive.
WINSTEPS_PLATFORM_EXPORT bool splitRegistryPath(const std::string& path, HKEY* root, std::string* subKey);

// The registry, or the key path and everything below it, as registry-editor text (UTF-8,
// CRLF line ends). Keys that cannot be read are left out and listed in *skipped (may be
// null). False + error when the key path names no existing key.
WINSTEPS_PLATFORM_EXPORT bool exportRegistry(Registry& platform, const std::string& keyPath, std::string* text,
                                    std::vector<std::string>* skipped, std::string* error);

// Reads registry-editor text (UTF-8, with or without a byte-order mark, or the editor's
// own UTF-16 files; "REGEDIT4" files too) and applies it: [KEY] creates a key, [-KEY]
// removes it with everything below, "name"=- removes a value. The whole text is checked
// before anything is written; false + "line N: ..." for the first mistake, or for the
// first change the registry refuses.
WINSTEPS_PLATFORM_EXPORT bool importRegistry(Registry& platform, const std::vector<std::uint8_t>& bytes, std::string* error);

} // namespace winsteps::platform
