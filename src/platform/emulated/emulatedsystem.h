#pragma once

#include "platform/system.h"
#include "winsteps_platform_export.h"

#include <QMap>
#include <QString>

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>

namespace winsteps::platform::emulated {

class EmulatedMachine;

// The system calls of an emulated machine: its profile's version, user, rights and folders,
// an environment of its own (starting as the profile's), COM as a per-thread count, and the
// debugger channel, which goes to the machine's debugview.log while captured.
class WINSTEPS_PLATFORM_EXPORT EmulatedSystem final : public System {
public:
    explicit EmulatedSystem(EmulatedMachine& machine);
    ~EmulatedSystem() override;
    EmulatedSystem(const EmulatedSystem&) = delete;
    EmulatedSystem& operator=(const EmulatedSystem&) = delete;

    std::uint32_t getVersionEx(OsVersionInfoEx* info) override;
    std::uint32_t isWow64Process(bool* wow64) override;
    bool isUserAnAdmin() override;
    std::uint32_t getModuleFileName(std::string* path) override;
    std::uint32_t getUserName(std::string* name) override;
    std::uint32_t getWindowsDirectory(std::string* path) override;
    std::uint32_t getSystemDirectory(std::string* path) override;
    std::uint32_t getSystemDrive(std::string* drive) override;
    std::uint32_t getEnvironmentVariable(const std::string& name, std::string* value) override;
    std::uint32_t setEnvironmentVariable(const std::string& name, const std::string* value) override;
    std::vector<std::pair<std::string, std::string>> environmentStrings() override;
    bool shellFolderApiAvailable() override;
    HRESULT getFolderPath(int csidl, std::string* path) override;
    HRESULT coInitialize() override;
    HRESULT coInitializeSecurity(std::int32_t authnServices, std::uint32_t authnLevel,
                                 std::uint32_t impLevel, std::uint32_t capabilities) override;
    void coUninitialize() override;
    void outputDebugString(const std::string& text) override;

    // Appends every debugger-channel text to the machine's debugger log while on.
    bool setDebuggerCapture(bool on);
    // Whether the calling thread has started COM (and not ended it).
    bool comInitialized();

private:
    // The environment key naming the variable (case-insensitive), or a null string.
    QString findVariable(const QString& name) const;

    EmulatedMachine& m_machine;
    std::mutex m_mutex; // guards the environment, COM and capture state below
    QMap<QString, QString> m_environment;
    std::map<std::thread::id, int> m_comThreads; // CoInitialize count per thread
    bool m_comSecurity = false;
    std::FILE* m_capture = nullptr;
    std::atomic<bool> m_capturing{false}; // m_capture is open (read without the lock)
};

} // namespace winsteps::platform::emulated
