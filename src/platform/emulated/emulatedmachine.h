#pragma once

#include "platform/emulated/emulatedcom.h"
#include "platform/emulated/emulateddevices.h"
#include "platform/emulated/emulateddrives.h"
#include "platform/emulated/emulatedfiles.h"
#include "platform/emulated/emulatedfirewall.h"
#include "platform/emulated/emulatedfileversion.h"
#include "platform/emulated/emulatednetsharing.h"
#include "platform/emulated/emulatedprocess.h"
#include "platform/emulated/emulatedregistry.h"
#include "platform/emulated/emulatedservices.h"
#include "platform/emulated/emulatedsystem.h"
#include "platform/emulated/machineprofile.h"
#include "platform/emulated/registrystore.h"
#include "winsteps_platform_export.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace winsteps::platform::emulated {

struct JournalEntry;

// An emulated Windows machine: the answers of a profile, with drive C: as a real directory
// "<folder>/drive_c" and the registry in "<folder>/machine.db" (see RegistryStore). It
// answers Windows paths ("C:\WINDOWS\system32"), as the profile's Windows would; the file
// calls map them onto drive_c at each access, and never write outside it.
//
// A machine folder records the profile it was made from, so it is opened again without
// naming one. Every registry call that changes something is one transaction: when the call
// returns, the change is on disk; several processes may use one folder at once.
//
// The machine holds what its subsystems share (profile, folder, store) and owns one
// implementation of each subsystem: system(), registry(), files(), processes() and
// services(). Itself it does what the owner of a machine folder does: open it, restart the
// machine, read its statistics and restart log.
class WINSTEPS_PLATFORM_EXPORT EmulatedMachine final {
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

    ~EmulatedMachine();
    EmulatedMachine(const EmulatedMachine&) = delete;
    EmulatedMachine& operator=(const EmulatedMachine&) = delete;

    // --- the subsystems -----------------------------------------------------------------

    EmulatedSystem& system() { return m_system; }
    EmulatedRegistry& registry() { return m_registry; }
    EmulatedFiles& files() { return m_files; }
    EmulatedProcesses& processes() { return m_processes; }
    EmulatedServices& services() { return m_services; }
    EmulatedCom& com() { return m_com; }
    EmulatedFileVersions& fileVersions() { return m_fileVersions; }
    EmulatedFirewall& firewall() { return m_firewall; }
    EmulatedNetSharing& netSharing() { return m_netSharing; }
    EmulatedDevices& devices() { return m_devices; }
    EmulatedDrives& drives() { return m_drives; }

    // --- folder and paths ---------------------------------------------------------------

    const MachineProfile& profile() const { return m_profile; }
    QString folder() const { return m_folder; }
    QString driveC() const { return m_folder + QStringLiteral("/drive_c"); }
    // "C:\a\b" (any case of the drive letter, "\" or "/") becomes "<drive_c>/a/b", each name
    // matched without regard to case against what exists, ".." stopping at drive C:'s root;
    // any other text comes back unchanged.
    QString hostPath(const QString& windowsPath) const;
    // The reverse: "C:\a\b" for a host path inside drive C:, a null string for any other.
    QString windowsPath(const QString& hostPath) const;
    // Whether the host path lies inside drive C:, by its name and by the real directory that
    // holds it (a symbolic link on the way must not lead out of the machine).
    bool insideDriveC(const QString& host) const;

    // Appends every debugger-channel text to "<folder>/debugview.log" while on.
    bool setDebuggerCapture(bool on) { return m_system.setDebuggerCapture(on); }
    QString debuggerLogPath() const { return m_folder + QStringLiteral("/debugview.log"); }

    // --- the machine's owner (tools, tests) ------------------------------------------

    // While on, registry calls ignore access marks and the user's rights, as the system's own
    // tools do (import, export, restart).
    void setSystemAccess(bool on) { m_systemAccess = on; }
    bool systemAccess() const { return m_systemAccess; }
    // Marks the existing key path (below a root key) with an access of RegistryStore::Access.
    std::uint32_t setKeyAccess(HKEY root, const std::string& path, int access)
    {
        return m_registry.setKeyAccess(root, path, access);
    }

    struct Statistics {
        qint64 keys = 0;
        qint64 values = 0;
        qint64 boots = 0;
        int schema = 0;
        QString created;
    };
    Statistics statistics();
    // The renames and removals waiting for the next restart: (source, target) as Windows
    // paths; an empty target is a removal, "!" in front means replace. On the 9x family those
    // of WININIT.INI (wininit.h) come first.
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
    // brings the services to their state after a start of the system (see
    // EmulatedServices::restarted), then runs and clears the RunOnce entries. False + error when
    // the registry fails.
    bool reboot(QList<BootEntry>* done, QString* error);
    // What the restart of the given number (1 for the first) did.
    QList<BootEntry> bootLog(qint64 boot);

private:
    // The subsystems that keep their state in the store.
    friend class EmulatedRegistry;
    friend class EmulatedFiles;
    friend class EmulatedServices;
    friend class EmulatedNetSharing;
    friend class EmulatedDevices;
    friend class MachineJournal;
    friend class FileJournal;

    // The registry database; every use holds storeMutex() and runs in a StoreTransaction.
    RegistryStore& store() { return *m_store; }
    std::mutex& storeMutex() { return m_storeMutex; }
    // The row of a predefined root key in the store; 0 when this machine lacks the hive.
    qint64 rootRow(HKEY root) const;

    enum class OpenMode { CreateOrOpen, MustBeNew, MustExist };

    EmulatedMachine(const MachineProfile& profile, const QString& folder);
    static std::unique_ptr<EmulatedMachine> openWith(const MachineProfile* given, const QString& profileName,
                                                     const QString& folder, OpenMode mode, QString* error);
    void adoptStore(std::unique_ptr<RegistryStore> store);
    bool makeTree(QString* error) const;

    // The phases of reboot(); the caller holds the store's lock and a write transaction.
    // record notes one thing the restart did.
    using BootRecord = std::function<void(const QString& action, const QString& detail)>;
    void carryOutPendingFiles(qint64 hklm, const BootRecord& record);
    void carryOutPendingFile(const QString& sourceEntry, const QString& targetEntry, const BootRecord& record);
    QString hostPathOfPending(const QString& entry, bool* replace) const;
    void runOnceEntries(const BootRecord& record);
    void runOnceKey(qint64 id, const BootRecord& record);
    // WININIT.INI on the 9x family (wininit.cpp).
    bool readWininit(QByteArray* text, bool* tooLarge) const;
    QList<QPair<QString, QString>> wininitOperations() const;
    void carryOutWininit(const BootRecord& record);

    const MachineProfile m_profile;
    const QString m_folder;

    std::mutex m_storeMutex; // guards the store, and the registry's handles
    std::unique_ptr<RegistryStore> m_store;
    std::map<HKEY, qint64> m_roots; // predefined key -> root row; set once when opened
    // While a restart runs: the file changes it made, put back when its transaction fails.
    QList<JournalEntry>* m_restartChanges = nullptr;
    std::atomic<bool> m_systemAccess{false};

    EmulatedSystem m_system;
    EmulatedRegistry m_registry;
    EmulatedFiles m_files;
    EmulatedProcesses m_processes;
    EmulatedServices m_services;
    EmulatedCom m_com;
    EmulatedFileVersions m_fileVersions;
    EmulatedFirewall m_firewall;
    EmulatedNetSharing m_netSharing;
    EmulatedDevices m_devices;
    EmulatedDrives m_drives;
};

// The process's current machine (see machinefolder.h).
WINSTEPS_PLATFORM_EXPORT EmulatedMachine& currentMachine();

} // namespace winsteps::platform::emulated
