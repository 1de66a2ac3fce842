#pragma once

#include "platform/emulated/machineprofile.h"
#include "platform/platform.h"

#include <QMap>
#include <QString>

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace winsteps::platform::emulated {

// An emulated Windows machine: the answers of a profile, with drive C: as a real directory
// "<folder>/drive_c". Paths handed out are real host paths without a trailing slash, so the
// files behind them can be read and written.
class WINSTEPS_EXPORT EmulatedMachine final : public Platform {
public:
    // The machine of a profile in folder, whose tree is created where missing (existing files
    // are kept). Null + error text when the folder cannot be made.
    static std::unique_ptr<EmulatedMachine> open(const MachineProfile& profile, const QString& folder,
                                                 QString* error);
    // The same machine without touching the disk (its folder queries fail where the folders
    // are missing).
    static std::unique_ptr<EmulatedMachine> detached(const MachineProfile& profile, const QString& folder);

    ~EmulatedMachine() override;

    const MachineProfile& profile() const { return m_profile; }
    QString folder() const { return m_folder; }
    QString driveC() const { return m_folder + QStringLiteral("/drive_c"); }
    // "C:\a\b" (any case of the drive letter, "\" or "/") becomes "<drive_c>/a/b"; any other
    // text comes back unchanged.
    QString hostPath(const QString& windowsPath) const;

    // Appends every debugger-channel text to "<folder>/debugview.log" while on.
    bool setDebuggerCapture(bool on);
    QString debuggerLogPath() const { return m_folder + QStringLiteral("/debugview.log"); }

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

private:
    EmulatedMachine(const MachineProfile& profile, const QString& folder);
    bool makeTree(QString* error) const;
    // The environment key naming the variable (case-insensitive), or a null string.
    QString findVariable(const QString& name) const;

    const MachineProfile m_profile;
    const QString m_folder;

    std::mutex m_mutex; // guards everything below
    QMap<QString, QString> m_environment;
    std::map<std::thread::id, int> m_comThreads; // CoInitialize count per thread
    bool m_comSecurity = false;
    std::FILE* m_capture = nullptr;
};

// The process's current machine (see platform::current()).
WINSTEPS_EXPORT EmulatedMachine& currentMachine();

} // namespace winsteps::platform::emulated
