#pragma once

#include "platform/registry.h"
#include "winsteps_platform_export.h"

#include <QStringList>

#include <functional>
#include <map>

namespace winsteps::platform::emulated {

class EmulatedMachine;

// The registry calls of an emulated machine on its store: handles, the WOW64 view of a
// 64-bit profile, rights from access marks and the profile's user, one store transaction per
// call (when a call that changes something returns, the change is on disk).
class WINSTEPS_PLATFORM_EXPORT EmulatedRegistry final : public Registry {
public:
    explicit EmulatedRegistry(EmulatedMachine& machine);
    EmulatedRegistry(const EmulatedRegistry&) = delete;
    EmulatedRegistry& operator=(const EmulatedRegistry&) = delete;

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

    // Marks the existing key path (below a root key) with an access of RegistryStore::Access.
    std::uint32_t setKeyAccess(HKEY root, const std::string& path, int access);

private:
    // A key reached through a handle: its row, the hive it lies in, and the rights held.
    struct KeyRef {
        qint64 id = 0;
        HKEY hive = HKEY_NULL;
        REGSAM rights = 0;
    };

    // Runs body on the key a handle names, under the store's lock and in one store
    // transaction (a writing one when write is true), once the handle resolves and holds the
    // rights needed. The transaction commits when body returns ERROR_SUCCESS and rolls back on
    // any other code; committed then runs, still under the lock, to hand out what body found.
    std::uint32_t withKey(HKEY key, bool write, REGSAM needed, const std::function<std::uint32_t(const KeyRef&)>& body,
                          const std::function<void()>& committed = {});

    // Helpers; the caller holds the store's lock and a transaction.
    std::uint32_t resolve(HKEY key, KeyRef* out);
    std::uint32_t splitPath(const KeyRef& start, const std::string& subKey, REGSAM sam, QStringList* parts);
    REGSAM allowedRights(int access, HKEY hive) const;
    std::uint32_t walk(const KeyRef& start, const QStringList& parts, qint64* id);
    // splitPath, then walk: the existing key subKey names below start.
    std::uint32_t findSubKey(const KeyRef& start, const std::string& subKey, REGSAM sam, qint64* id);
    HKEY addHandle(const KeyRef& ref);

    EmulatedMachine& m_machine;
    std::map<HKEY, KeyRef> m_handles; // open handles, guarded by the store's lock
    HKEY m_nextHandle = 0x100;
};

} // namespace winsteps::platform::emulated
