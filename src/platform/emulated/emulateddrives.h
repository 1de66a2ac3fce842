#pragma once

#include "platform/drives.h"
#include "winsteps_platform_export.h"

#include <QList>
#include <QString>

namespace winsteps::platform::emulated {

class EmulatedMachine;

// The drives of an emulated machine: the volumes of its device tree that are mounted as a
// letter (see devicestate.h). Drive C: is the machine's drive_c; the others hold no files.
class WINSTEPS_PLATFORM_EXPORT EmulatedDrives final : public Drives {
public:
    explicit EmulatedDrives(EmulatedMachine& machine);
    EmulatedDrives(const EmulatedDrives&) = delete;
    EmulatedDrives& operator=(const EmulatedDrives&) = delete;

    std::uint32_t logicalDriveStrings(std::vector<std::string>* roots) override;
    std::uint32_t driveType(const std::string& root) override;
    std::uint32_t volumeNameForMountPoint(const std::string& mountPoint, std::string* volumeName) override;
    std::uint32_t mediaPresent(const std::string& root, bool* present) override;

    // --- the machine's owner (machine show, tests) ---------------------------------------------

    struct Drive {
        QString root;   // "C:\"
        std::uint32_t type = DRIVE_FIXED;
        QString volume; // "\\?\Volume{...}\"
        bool media = true;
        QString instanceId; // the volume's node
    };
    // The drives mounted now, in letter order.
    QList<Drive> mounted();

private:
    EmulatedMachine& m_machine;
};

} // namespace winsteps::platform::emulated
