#pragma once

#include "platform/registry.h"
#include "winsteps_export.h"

#include <QString>
#include <QStringList>

#include <cstdint>

// The registry access layer of the configuration states: a hive index chooses the root key,
// an access mode the rights, and typed reads and writes work on a key by hive and path or on
// a key that is already open. Reads fall back to a default; writes answer true or false.
// Texts are UTF-8 on their way to and from the registry, so nothing outside Latin-1 is lost.
//
// Under WOW64 every call works in the 64-bit registry view (KEY_WOW64_64KEY), so that a
// 32-bit build reaches the same keys as the system's own programs.

namespace winsteps::registry {

// Hive indexes: 0 and 5 HKEY_LOCAL_MACHINE, 2 HKEY_CURRENT_CONFIG, 3 HKEY_CLASSES_ROOT,
// 4 HKEY_USERS, 7 and 8 HKEY_DYN_DATA, any other HKEY_CURRENT_USER.
inline constexpr std::uint32_t GlobalHive = 5; // the states' "scope" "global"
inline constexpr std::uint32_t UserHive = 6;   // any other "scope"
WINSTEPS_EXPORT platform::HKEY hiveKey(std::uint32_t hive);
// GlobalHive for "global" (in any case), UserHive for anything else.
WINSTEPS_EXPORT std::uint32_t hiveOfScope(const QString& scope);

// Access modes: 0 KEY_READ, 1 KEY_WRITE, any other KEY_ALL_ACCESS.
enum AccessMode { ReadAccess = 0, WriteAccess = 1, FullAccess = 2 };
// The rights of a mode, with KEY_WOW64_64KEY when the process runs under WOW64.
WINSTEPS_EXPORT platform::REGSAM accessRights(int mode);

// Buffer sizes of the typed reads, in characters of text with its NULs (stored as UTF-8,
// where a character may take several bytes).
inline constexpr std::uint32_t StringBufferSize = 255;
inline constexpr std::uint32_t MultiStringBufferSize = 1024;

// A shared handle to an open key. Copies share one record; the key is closed when the last
// copy goes (the count changes atomically, so copies may live on several threads). A key
// whose opening failed is not open: reads through it give their defaults and writes fail.
class WINSTEPS_EXPORT RegistryKey
{
public:
    RegistryKey() = default;
    RegistryKey(const RegistryKey& other);
    RegistryKey& operator=(const RegistryKey& other);
    ~RegistryKey();

    bool isOpen() const;
    platform::HKEY handle() const;
    // The sub-key path below the root key, as it was asked for.
    QString path() const;
    // The rights the key was asked with.
    platform::REGSAM rights() const;
    // The machine the key was opened on (null for a default-constructed key).
    platform::Registry* machine() const;
    // How many RegistryKey objects share the record (0 for a default-constructed key).
    int useCount() const;

private:
    struct Record;
    friend RegistryKey openRegKey(std::uint32_t, const QString&, int);
    friend RegistryKey createRegKey(std::uint32_t, const QString&, int);
    RegistryKey(platform::Registry* machine, platform::HKEY handle, const QString& path, platform::REGSAM rights);
    void release();

    Record* d = nullptr;
};

// RegOpenKeyEx with the rights of mode; the path is used as given.
WINSTEPS_EXPORT RegistryKey openRegKey(std::uint32_t hive, const QString& path, int mode);
// RegCreateKeyEx (non-volatile) with the rights of mode; a leading backslash is skipped.
WINSTEPS_EXPORT RegistryKey createRegKey(std::uint32_t hive, const QString& path, int mode);
// The key can be opened for reading (a leading backslash is skipped).
WINSTEPS_EXPORT bool regKeyExists(std::uint32_t hive, const QString& path);
// True when the key does not exist; otherwise whether RegDeleteKey removed it (a leading
// backslash is skipped).
WINSTEPS_EXPORT bool deleteRegKey(std::uint32_t hive, const QString& path);

// REG_SZ or REG_EXPAND_SZ (unexpanded) of at most StringBufferSize characters with its NUL; else
// defaultValue.
WINSTEPS_EXPORT QString readRegString(const RegistryKey& key, const QString& name, const QString& defaultValue);
// REG_MULTI_SZ of at most MultiStringBufferSize characters: its strings up to the empty one that
// ends the list; else defaultValue.
WINSTEPS_EXPORT QStringList readRegMultiString(const RegistryKey& key, const QString& name,
                                               const QStringList& defaultValue);
// A 4-byte REG_DWORD; else defaultValue.
WINSTEPS_EXPORT std::uint32_t readRegDword(const RegistryKey& key, const QString& name, std::uint32_t defaultValue);
// readRegDword is not 0.
WINSTEPS_EXPORT bool readRegFlag(const RegistryKey& key, const QString& name, bool defaultValue);
WINSTEPS_EXPORT bool regValueExists(const RegistryKey& key, const QString& name);
WINSTEPS_EXPORT bool deleteRegValue(const RegistryKey& key, const QString& name);
// REG_SZ: the text and its closing NUL.
WINSTEPS_EXPORT bool writeRegString(const RegistryKey& key, const QString& name, const QString& text);
// REG_MULTI_SZ: each string and its NUL, then one more NUL. A list that needs more than
// MultiStringBufferSize characters in all is not written (false), so whatever is written can be
// read back.
WINSTEPS_EXPORT bool writeRegMultiString(const RegistryKey& key, const QString& name, const QStringList& list);
// REG_DWORD, 4 bytes.
WINSTEPS_EXPORT bool writeRegDword(const RegistryKey& key, const QString& name, std::uint32_t value);

// The same by hive and path: each opens the existing key with full access (never creates
// it); a key that cannot be opened makes a read give its default and a write fail.
WINSTEPS_EXPORT QString readRegString(std::uint32_t hive, const QString& path, const QString& name,
                                      const QString& defaultValue);
WINSTEPS_EXPORT QStringList readRegMultiString(std::uint32_t hive, const QString& path, const QString& name,
                                               const QStringList& defaultValue);
WINSTEPS_EXPORT std::uint32_t readRegDword(std::uint32_t hive, const QString& path, const QString& name,
                                           std::uint32_t defaultValue);
WINSTEPS_EXPORT bool writeRegString(std::uint32_t hive, const QString& path, const QString& name, const QString& text);
WINSTEPS_EXPORT bool writeRegMultiString(std::uint32_t hive, const QString& path, const QString& name,
                                         const QStringList& list);
WINSTEPS_EXPORT bool writeRegDword(std::uint32_t hive, const QString& path, const QString& name, std::uint32_t value);

} // namespace winsteps::registry
