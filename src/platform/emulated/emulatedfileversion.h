#pragma once

#include "platform/fileversion.h"
#include "winsteps_platform_export.h"

#include <vector>

namespace winsteps::platform::emulated {

class EmulatedMachine;

// The version calls of an emulated machine: the file is found through the machine's files
// (so paths, missing files and folders answer as there) and its version resource is read by
// the strict PE reader of pereader.h, so a real Windows program copied onto the machine
// reports its real version. The block handed out is the version resource as the image holds
// it; its size is the block's own length.
class WINSTEPS_PLATFORM_EXPORT EmulatedFileVersions final : public FileVersions {
public:
    explicit EmulatedFileVersions(EmulatedMachine& machine) : m_machine(machine) {}
    EmulatedFileVersions(const EmulatedFileVersions&) = delete;
    EmulatedFileVersions& operator=(const EmulatedFileVersions&) = delete;

    std::uint32_t getFileVersionInfoSize(const std::string& path, std::uint32_t* size) override;
    std::uint32_t getFileVersionInfo(const std::string& path, std::uint32_t size, void* data) override;
    std::uint32_t verQueryValue(const void* block, std::uint32_t size, const std::string& subBlock,
                                const void** value, std::uint32_t* length) override;

private:
    // The version block of the file at path (a machine path).
    std::uint32_t readBlock(const std::string& path, std::vector<std::uint8_t>* block);

    EmulatedMachine& m_machine;
};

} // namespace winsteps::platform::emulated
