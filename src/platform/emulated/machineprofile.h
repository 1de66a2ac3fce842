#pragma once

#include "platform/registry.h"
#include "platform/system.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

namespace winsteps::platform::emulated {

class ProfileReader;

// The description an emulated machine is made from: a JSON object. Built-in profiles are
// compiled in; a file on disk may be used instead. A profile may start from another one with
// "inherits": NAME-OR-FILE, whose objects it overrides key by key. A top-level key not in
// knownKeys() is refused; the tables of other subsystems ("credentials", "tools",
// "systemProcesses", "services", ...) are kept in json() for them to read.
//
//   "os": {"platformId", "major", "minor", "build", "servicePack", "servicePackMajor",
//          "servicePackMinor", "suiteMask", "productType", "extendedRecord"}
//   "wow64", "administrator", "shellFolderLibrary": booleans
//   "user", "computerName": strings
//   "layout": {"windows", "system", "profiles"}    folder names below drive C:
//   "environment": {NAME: "value" | null}          "C:\..." values map into drive_c
//   "shellFolders": {"CSIDL": "C:\\..." | null}    null: that query fails
//   "functions": {"IsWow64Process": bool}          exported by the emulated system or not
//   "failures": {"GetVersionEx"|"IsWow64Process"|"GetWindowsDirectory"|"GetSystemDirectory"|
//                "CoInitialize"|"CoInitializeSecurity": code}   calls that fail with code
//   "registryDefaults": boolean     false: start from empty hives instead of the keys that a
//                                   fresh Windows of the profile's family has
//   "registry": {"HKLM\\PATH": KEY | null}   initial registry content; null removes a key
//       KEY:   {VALUE NAME: VALUE | null, "@": default value, "@access": "full"|"read"|"denied"}
//       VALUE: "text" (REG_SZ), an integer (REG_DWORD), ["a", "b"] (REG_MULTI_SZ), or
//              {"type": "REG_SZ"|"REG_EXPAND_SZ"|"REG_MULTI_SZ"|"REG_DWORD"|"REG_QWORD"|
//                       "REG_BINARY"|"REG_NONE", "value": text | integer | list | "hex bytes"}
//   "installerVersion": "2.0" | null   the installer engine in the system folder (see systemfiles.h)
//   Hives are named in full (HKEY_LOCAL_MACHINE) or short (HKLM, HKCU, HKCR, HKU, HKCC, HKDD).
class WINSTEPS_PLATFORM_EXPORT MachineProfile {
public:
    enum class ProfileStyle { Win9x, DocumentsAndSettings, Users };

    // One value of the initial registry: data as the registry calls take it (UTF-8 text
    // with its NULs). remove: the value is taken away instead.
    struct SeedValue {
        QString name;
        bool remove = false;
        std::uint32_t type = 0;
        QByteArray data;
    };
    // One key of the initial registry below a hive (full hive name). remove: the key and
    // everything below it are taken away instead. access: -1 (as the machine grants),
    // 0 full, 1 read-only, 2 denied.
    struct SeedKey {
        QString hive;
        QStringList path;
        bool remove = false;
        int access = -1;
        QList<SeedValue> values;
    };

    // A built-in name or the path of a JSON file. False + error text when it cannot be used.
    bool load(const QString& nameOrFile, QString* error);
    // A profile from JSON text; source names it in error texts.
    bool parse(const QByteArray& json, const QString& source, QString* error);

    static QStringList builtinNames();
    // The top-level keys a profile may have.
    static QStringList knownKeys();
    static bool isBuiltin(const QString& name);

    QString name() const { return m_name; }
    QString description() const { return m_description; }
    const QJsonObject& json() const { return m_json; }

    const OsVersionInfoEx& version() const { return m_version; }
    bool extendedRecord() const { return m_extendedRecord; }
    bool isNt() const { return m_version.platformId == VER_PLATFORM_WIN32_NT; }
    bool wow64() const { return m_wow64; }
    bool administrator() const { return m_administrator; }
    bool shellFolderLibrary() const { return m_shellFolderLibrary; }
    bool hasIsWow64Process() const { return m_hasIsWow64Process; }
    QString user() const { return m_user; }
    QString computerName() const { return m_computerName; }

    QString windowsFolder() const { return m_windowsFolder; } // below drive C:
    QString systemFolder() const { return m_systemFolder; }   // below the Windows folder
    QString profilesFolder() const { return m_profilesFolder; }
    ProfileStyle profileStyle() const { return m_style; }

    // Shell folders as Windows paths ("C:\..."); a null string: the query fails.
    const QMap<int, QString>& shellFolders() const { return m_shellFolders; }
    // The Temp folder as a Windows path.
    QString tempFolder() const { return m_tempFolder; }
    // Environment as Windows text ("C:\..." paths); a null value: removed.
    const QMap<QString, QString>& environment() const { return m_environment; }

    // The error code configured for a function, or 0 when the call succeeds.
    std::uint32_t failure(const char* function) const;

    // The initial registry, in the order it is to be applied: first the removals, then
    // the keys and values (a parent before its children).
    const QList<SeedKey>& registrySeed() const { return m_registrySeed; }

    // The full names of the hives a machine of the profile has (HKEY_DYN_DATA belongs to the
    // 9x family).
    QStringList hives() const;

    // The full name of a hive given in full or short (case-insensitive); null when unknown.
    static QString hiveName(const QString& name);

private:
    bool read(const QJsonObject& json, const QString& source, QString* error);
    // The parts of read(), in its order; each stops at the first mistake.
    bool readVersion(const QJsonObject& json, ProfileReader& r);
    bool readAccount(const QJsonObject& json, ProfileReader& r);
    bool readLayout(const QJsonObject& json, ProfileReader& r);
    bool readFailures(const QJsonObject& json, ProfileReader& r);
    bool readShellFolders(const QJsonObject& json, ProfileReader& r);
    bool readEnvironment(const QJsonObject& json, ProfileReader& r);
    bool readRegistrySeed(const QJsonObject& json, const QString& source, QString* error);
    void fillDefaults();
    QJsonObject defaultRegistry() const;
    bool readRegistry(const QJsonObject& registry, const QString& source, QString* error);

    QString m_name;
    QString m_description;
    QJsonObject m_json;
    OsVersionInfoEx m_version;
    bool m_extendedRecord = true;
    bool m_wow64 = false;
    bool m_administrator = true;
    bool m_shellFolderLibrary = true;
    bool m_hasIsWow64Process = true;
    QString m_user;
    QString m_computerName;
    QString m_windowsFolder;
    QString m_systemFolder;
    QString m_profilesFolder;
    ProfileStyle m_style = ProfileStyle::DocumentsAndSettings;
    QMap<int, QString> m_shellFolders;
    QString m_tempFolder;
    QMap<QString, QString> m_environment;
    QMap<QString, std::uint32_t> m_failures;
    QList<SeedKey> m_registrySeed;
};

} // namespace winsteps::platform::emulated
