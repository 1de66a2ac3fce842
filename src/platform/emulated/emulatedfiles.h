#pragma once

#include "platform/files.h"
#include "winsteps_platform_export.h"

#include <QString>

namespace winsteps::platform::emulated {

class EmulatedMachine;

// The file calls of an emulated machine: drive C: is the directory "<folder>/drive_c", and
// every path a caller names is mapped onto it here, once, before the file is touched. A
// rename delayed until the next restart is kept where Windows keeps it, in the registry; the
// machine's reboot() carries it out.
class WINSTEPS_PLATFORM_EXPORT EmulatedFiles final : public Files {
public:
    explicit EmulatedFiles(EmulatedMachine& machine);
    EmulatedFiles(const EmulatedFiles&) = delete;
    EmulatedFiles& operator=(const EmulatedFiles&) = delete;

    std::string localFilePath(const std::string& path) override;
    std::uint32_t getFileAttributes(const std::string& path, std::uint32_t* attributes) override;
    std::uint32_t findFiles(const std::string& directory, std::vector<FindData>* entries) override;
    std::uint32_t createDirectory(const std::string& path) override;
    std::uint32_t deleteFile(const std::string& path) override;
    std::uint32_t createFile(const std::string& path, std::uint32_t access, std::uint32_t disposition,
                             FileHandlePtr* file) override;
    std::uint32_t moveFileEx(const std::string& existing, const std::string* newName, std::uint32_t flags) override;

private:
    // What a caller's path names on this machine (see Files). Write: only inside drive C:,
    // by name and by the real directories on the way.
    enum class FileAccess { Read, Write };
    std::uint32_t mapPath(const std::string& path, FileAccess access, QString* host) const;
    // The part of moveFileEx that records a rename (or a removal: windowsTarget null) for
    // the next restart.
    std::uint32_t delayUntilReboot(const QString& windowsSource, const QString* windowsTarget, bool replace);

    EmulatedMachine& m_machine;
};

} // namespace winsteps::platform::emulated
