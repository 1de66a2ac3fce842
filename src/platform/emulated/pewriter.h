#pragma once

#include "platform/fileversion.h"
#include "winsteps_platform_export.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Writes small, valid Windows program images that carry a version resource: the system files
// of the emulated machine that callers ask the version of (the installer engine), and what
// the machine's tools put in their place. The image is a 32-bit program (PE32, i386) with no
// code and one section, ".rsrc", holding the resource tree RT_VERSION / 1 / language 0x0409
// and the version block: the fixed record, a StringFileInfo table 040904B0 with the given
// texts, and the VarFileInfo translation 0x0409 / 1200. Windows reads its version like that
// of any program.

namespace winsteps::platform::emulated::pe {

struct VersionInfo {
    // Four numbers each, most significant first: {1, 10, 1029, 0} is 1.10.1029.0.
    std::uint16_t fileVersion[4] = {0, 0, 0, 0};
    std::uint16_t productVersion[4] = {0, 0, 0, 0};
    std::uint32_t fileOS = VOS_NT_WINDOWS32;
    std::uint32_t fileType = VFT_APP;
    // The StringFileInfo texts in order, such as {"FileVersion", "1.10.1029.0"}, in UTF-8.
    std::vector<std::pair<std::string, std::string>> strings;
};

// The fixed record of a version.
WINSTEPS_PLATFORM_EXPORT FixedFileInfo fixedFileInfo(const VersionInfo& version);
// The version block (VS_VERSIONINFO) alone, as a version resource holds it.
WINSTEPS_PLATFORM_EXPORT std::vector<std::uint8_t> versionBlock(const VersionInfo& version);
// A whole program image with that version resource.
WINSTEPS_PLATFORM_EXPORT std::vector<std::uint8_t> programImage(const VersionInfo& version);

} // namespace winsteps::platform::emulated::pe
