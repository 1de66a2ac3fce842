#pragma once

#include "platform/emulated/machineprofile.h"
#include "platform/emulated/registrystore.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/system.h"

#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

#include <atomic>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace winsteps::platform::emulated {

// An emulated Windows machine: the answers of a profile, with drive C: as a real directory
// "<folder>/drive_c" and the registry in "<folder>/machine.db" (see RegistryStore). It
// answers Windows paths ("C:\WINDOWS\system32"), as the profile's Windows would; the file
// calls map them onto drive_c at each access, and never write outside it.
//
// A machine folder records the profile it was made from, so it is opened again without
// naming one. Every registry call that changes something is one transaction: when the call
// returns, the change is on disk; several processes may use one folder at once.
//
// Each subsystem has its own interface and its own files: the system calls in
// emulatedmachine.cpp, the registry in machineregistry.cpp, the files in files.cpp and
// filesrestart.cpp (the processes are a class of their own, EmulatedProcesses).
class WINSTEPS_EXPORT EmulatedMachine final : public System, public Registry, public Files {
public:
    // The name of the database file in a machine folder.
    static QString databaseName() { return QStringLiteral("machine.db"); }
    // The file that openers of a machine folder lock while they set it up.
    static QString lockName() { return QStringLiteral("machine.lock"); }

    // The machine of a profile in folder. A new folder (or one without a machine) is made
    // from the profile; an existing machine must have been made from the same profile, and
    // keeps the profile as it was recorded then. Null + error text on failure.
    static std::unique_ptr<EmulatedMachine> open(const MachineProfile& profile, const QString& folder,
                                                 QString* error);
    // The machine in folder: an existing one with its recorded profile (profileName empty or
    // naming that same profile), else a new one from profileName (the default when empty).
    static std::unique_ptr<EmulatedMachine> openFolder(const QString& profileName, const QString& folder,
                                                       QString* error);
    // A new machine only: fails when folder already holds one.
    static std::unique_ptr<EmulatedMachine> create(const QString& profileName, const QString& folder,
                                                   QString* error);
    // An existing machine only: fails when folder holds none (and then leaves it untouched).
    static std::unique_ptr<EmulatedMachine> openExisting(const QString& folder, QString* error);
    static bool holdsMachine(const QString& folder);
    // The same machine without touching the disk: its folder queries fail where the folders
    // are missing, and its registry lives in memory.
    static std::unique_ptr<EmulatedMachine> detached(const MachineProfile& profile, const QString& folder);

    ~EmulatedMachine() override;

    const MachineProfile& profile() const { return m_profile; }
    QString folder() const { return m_folder; }
    QString driveC() const { return m_folder + QStringLiteral("/drive_c"); }
    // "C:\a\b" (any case of the drive letter, "\" or "/") becomes "<drive_c>/a/b", each name
    // matched without regard to case against what exists, ".." stopping at drive C:'s root;
    // any other text comes back unchanged.
    QString hostPath(const QString& windowsPath) const;
    // The reverse: "C:\a\b" for a host path inside drive C:, a null string for any other.
    QString windowsPath(const QString& hostPath) const;

    // Appends every debugger-channel text to "<folder>/debugview.log" while on.
    bool setDebuggerCapture(bool on);
    QString debuggerLogPath() const { return m_folder + QStringLiteral("/debugview.log"); }

    // --- the machine's owner (tools, tests) ------------------------------------------

    // While on, registry calls ignore access marks and the user's rights, as the system's own
    // tools do (import, export, restart).
    void setSystemAccess(bool on) { m_systemAccess = on; }
    // Marks the existing key path (below a root key) with an access of RegistryStore::Access.
    std::uint32_t setKeyAccess(HKEY root, const std::string& path, int access);

    struct Statistics {
        qint64 keys = 0;
        qint64 values = 0;
        qint64 boots = 0;
        int schema = 0;
        QString created;
    };
    Statistics statistics();
    // The renames and removals waiting for the next restart: (source, target) as Windows
    // paths; an empty target is a removal, "!" in front means replace.
    QList<QPair<QString, QString>> pendingFileOperations();
    // "ok" when machine.db is sound.
    QString integrityCheck();

    // One thing an emulated restart did: action "removed", "not removed", "renamed",
    // "not renamed" or "ran", and what it concerned.
    struct BootEntry {
        QString action;
        QString detail;
    };
    // Restarts the machine: carries out the pending renames and removals in order (never
    // outside drive C:, never through a symbolic link), clears them, removes volatile keys,
    // then runs and clears the RunOnce entries. False + error when the registry fails.
    bool reboot(QList<BootEntry>* done, QString* error);
    // What the restart of the given number (1 for the first) did.
    QList<BootEntry> bootLog(qint64 boot);

    // --- System -------------------------------------------------------------------------

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

    // --- Registry -----------------------------------------------------------------------

    std::uint32_t regOpenKeyEx(HKEY key, const std::string& subKey, REGSAM sam, HKEY* result) override;
    std::uint32_t regCreateKeyEx(HKEY key, const std::string& subKey, std::uint32_t options, REGSAM sam,
                                 HKEY* result, std::uint32_t* disposition) override;
    std::uint32_t regCloseKey(HKEY key) override;
    std::uint32_t regDeleteKeyEx(HKEY key, const std::string& subKey, REGSAM sam) override;
    std::uint32_t regQueryValueEx(HKEY key, const std::string& name, std::uint32_t* type, std::uint8_t* data,
                                  std::uint32_t* size) override;
    std::uint32_t regSetValueEx(HKEY key, const std::string& name, std::uint32_t type, const std::uint8_t* data,
                                std::uint32_t size) override;
    std::uint32_t regDeleteValue(HKEY key, const std::string& name) override;
    std::uint32_t regEnumKeyEx(HKEY key, std::uint32_t index, std::string* name) override;
    std::uint32_t regEnumValue(HKEY key, std::uint32_t index, std::string* name, std::uint32_t* type,
                               std::vector<std::uint8_t>* data) override;

    // --- Files --------------------------------------------------------------------------

    std::string localFilePath(const std::string& path) override;
    std::uint32_t getFileAttributes(const std::string& path, std::uint32_t* attributes) override;
    std::uint32_t findFiles(const std::string& directory, std::vector<FindData>* entries) override;
    std::uint32_t createDirectory(const std::string& path) override;
    std::uint32_t deleteFile(const std::string& path) override;
    std::uint32_t createFile(const std::string& path, std::uint32_t access, std::uint32_t disposition,
                             FileHandlePtr* file) override;
    std::uint32_t moveFileEx(const std::string& existing, const std::string* newName, std::uint32_t flags) override;

private:
    // Commits or rolls back the transaction of one registry call.
    class Transaction {
    public:
        Transaction(RegistryStore& store, bool write)
            : m_store(store)
            , m_open(store.begin(write))
        {
        }
        ~Transaction()
        {
            if (m_open)
                m_store.rollback();
        }
        bool ok() const { return m_open; }
        // result when it is a failure (the changes are dropped) or when the commit succeeds.
        std::uint32_t finish(std::uint32_t result)
        {
            if (!m_open)
                return ERROR_REGISTRY_IO_FAILED;
            m_open = false;
            if (result != ERROR_SUCCESS) {
                m_store.rollback();
                return m_store.failed() ? ERROR_REGISTRY_IO_FAILED : result;
            }
            return m_store.commit() ? ERROR_SUCCESS : ERROR_REGISTRY_IO_FAILED;
        }

    private:
        RegistryStore& m_store;
        bool m_open;
    };

    enum class OpenMode { CreateOrOpen, MustBeNew, MustExist };
    // A key reached through a handle: its row, the hive it lies in, and the rights held.
    struct KeyRef {
        qint64 id = 0;
        HKEY hive = HKEY_NULL;
        REGSAM rights = 0;
    };

    EmulatedMachine(const MachineProfile& profile, const QString& folder);
    static std::unique_ptr<EmulatedMachine> openWith(const MachineProfile* given, const QString& profileName,
                                                     const QString& folder, OpenMode mode, QString* error);
    bool makeTree(QString* error) const;
    // The environment key naming the variable (case-insensitive), or a null string.
    QString findVariable(const QString& name) const;

    // Runs body on the key a handle names, under m_registryMutex and in one store transaction
    // (a writing one when write is true), once the handle resolves and holds the rights
    // needed. The transaction commits when body returns ERROR_SUCCESS and rolls back on any
    // other code; committed then runs, still under the lock, to hand out what body found.
    std::uint32_t withKey(HKEY key, bool write, REGSAM needed, const std::function<std::uint32_t(const KeyRef&)>& body,
                          const std::function<void()>& committed = {});

    // Registry helpers; the caller holds m_registryMutex and a transaction.
    void loadRoots();
    std::uint32_t resolve(HKEY key, KeyRef* out);
    std::uint32_t splitPath(const KeyRef& start, const std::string& subKey, REGSAM sam, QStringList* parts);
    REGSAM allowedRights(int access, HKEY hive) const;
    std::uint32_t walk(const KeyRef& start, const QStringList& parts, qint64* id);
    // splitPath, then walk: the existing key subKey names below start.
    std::uint32_t findSubKey(const KeyRef& start, const std::string& subKey, REGSAM sam, qint64* id);
    HKEY addHandle(const KeyRef& ref);
    QString hostPathOfPending(const QString& entry, bool* replace) const;

    // The phases of reboot(); the caller holds m_registryMutex and a write transaction.
    // record notes one thing the restart did.
    using BootRecord = std::function<void(const QString& action, const QString& detail)>;
    void carryOutPendingFiles(qint64 hklm, const BootRecord& record);
    void carryOutPendingFile(const QString& sourceEntry, const QString& targetEntry, const BootRecord& record) const;
    void runOnceEntries(const BootRecord& record);
    void runOnceKey(qint64 id, const BootRecord& record);

    // Files: what a caller's path names on this machine (see Files). Write: only inside
    // drive C:, by name and by the real directories on the way.
    enum class FileAccess { Read, Write };
    std::uint32_t mapPath(const std::string& path, FileAccess access, QString* host) const;
    bool safeToTouch(const QString& host) const;

    const MachineProfile m_profile;
    const QString m_folder;

    std::mutex m_mutex; // guards the environment, COM and capture state below
    QMap<QString, QString> m_environment;
    std::map<std::thread::id, int> m_comThreads; // CoInitialize count per thread
    bool m_comSecurity = false;
    std::FILE* m_capture = nullptr;
    std::atomic<bool> m_capturing{false}; // m_capture is open (read without the lock)

    std::mutex m_registryMutex; // guards the store and the handles
    std::unique_ptr<RegistryStore> m_store;
    std::map<HKEY, qint64> m_roots;  // predefined key -> root row
    std::map<HKEY, KeyRef> m_handles; // open handles
    HKEY m_nextHandle = 0x100;
    std::atomic<bool> m_systemAccess{false};
};

// The process's current machine (see machinefolder.h).
WINSTEPS_EXPORT EmulatedMachine& currentMachine();

} // namespace winsteps::platform::emulated
