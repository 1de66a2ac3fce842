// The emulated machine's registry calls: handles, views, rights, one transaction per call.

#include "platform/emulated/emulatedregistry.h"

#include "platform/emulated/emulatedmachine.h"

namespace winsteps::platform::emulated {

namespace {

std::string toStd(const QString& text)
{
    return text.toStdString();
}

constexpr std::uint32_t ERROR_CHILD_MUST_BE_VOLATILE = 1021;
// Every right a key can grant.
constexpr REGSAM allRights = KEY_ALL_ACCESS | 0x00100000u /* SYNCHRONIZE */;
// Bits of a REGSAM that choose a registry view rather than ask for a right.
constexpr REGSAM viewBits = KEY_WOW64_64KEY | KEY_WOW64_32KEY;

bool isPredefined(HKEY key)
{
    return key >= HKEY_CLASSES_ROOT && key <= HKEY_DYN_DATA;
}

} // namespace

EmulatedRegistry::EmulatedRegistry(EmulatedMachine& machine)
    : m_machine(machine)
{
}

REGSAM EmulatedRegistry::allowedRights(int access, HKEY hive) const
{
    if (m_machine.systemAccess())
        return allRights;
    if (access == RegistryStore::AccessDefault) {
        // A user without administrator rights may only read the machine's part on NT, and
        // the classes, whose writes land in the machine's part there.
        const bool machinePart = hive == HKEY_LOCAL_MACHINE || hive == HKEY_CLASSES_ROOT;
        access = machinePart && m_machine.profile().isNt() && !m_machine.profile().administrator()
            ? RegistryStore::AccessRead : RegistryStore::AccessFull;
    }
    switch (access) {
    case RegistryStore::AccessFull:
        return allRights;
    case RegistryStore::AccessRead:
        return KEY_READ;
    default:
        return 0;
    }
}

namespace {

// The rights granted for sam out of allowed; false when sam asks for more.
bool grant(REGSAM sam, REGSAM allowed, REGSAM* granted)
{
    REGSAM asked = sam & ~viewBits;
    if (asked & MAXIMUM_ALLOWED) {
        asked &= ~MAXIMUM_ALLOWED;
        if ((asked & ~allowed) || allowed == 0)
            return false;
        *granted = allowed;
        return true;
    }
    if (asked & ~allowed)
        return false;
    *granted = asked;
    return true;
}

} // namespace

std::uint32_t EmulatedRegistry::resolve(HKEY key, KeyRef* out)
{
    if (isPredefined(key)) {
        const qint64 id = m_machine.rootRow(key);
        if (!id)
            return ERROR_INVALID_HANDLE;
        RegistryStore::Key root;
        if (!m_machine.store().key(id, &root))
            return m_machine.store().failed() ? ERROR_REGISTRY_IO_FAILED : ERROR_INVALID_HANDLE;
        out->id = id;
        out->hive = key;
        out->rights = allowedRights(root.access, key);
        return ERROR_SUCCESS;
    }
    const auto it = m_handles.find(key);
    if (it == m_handles.end())
        return ERROR_INVALID_HANDLE;
    if (!m_machine.store().keyExists(it->second.id))
        return m_machine.store().failed() ? ERROR_REGISTRY_IO_FAILED : ERROR_KEY_DELETED;
    *out = it->second;
    return ERROR_SUCCESS;
}

namespace {

// Key and value names as the registry calls take them (UTF-8). QString::fromStdString takes
// a leading U+FEFF for a byte-order mark and drops it: it is a character of the name here.
QString registryName(const std::string& name)
{
    const std::string mark = "\xEF\xBB\xBF";
    std::size_t marks = 0;
    while (name.compare(marks * mark.size(), mark.size(), mark) == 0)
        ++marks;
    const std::size_t rest = marks * mark.size();
    return QString(qsizetype(marks), QChar(0xFEFF)) + QString::fromUtf8(name.data() + rest, qsizetype(name.size() - rest));
}

} // namespace

std::uint32_t EmulatedRegistry::splitPath(const KeyRef& start, const std::string& subKey, REGSAM sam,
                                         QStringList* parts)
{
    QString path = registryName(subKey);
    if (path.startsWith(QLatin1Char('\\')))
        return ERROR_BAD_PATHNAME;
    if (path.endsWith(QLatin1Char('\\')))
        path.chop(1);
    *parts = path.isEmpty() ? QStringList() : path.split(QLatin1Char('\\'));
    for (const QString& part : std::as_const(*parts)) {
        if (part.isEmpty())
            return ERROR_BAD_PATHNAME;
    }
    // A 32-bit program on a 64-bit Windows sees HKLM\SOFTWARE\Wow6432Node as HKLM\SOFTWARE,
    // unless it asks for the 64-bit view.
    const qint64 hklm = m_machine.rootRow(HKEY_LOCAL_MACHINE);
    if (m_machine.profile().wow64() && !(sam & KEY_WOW64_64KEY) && hklm && start.id == hklm
        && !parts->isEmpty() && RegistryStore::fold(parts->at(0)) == QLatin1String("SOFTWARE")
        && !(parts->size() > 1 && RegistryStore::fold(parts->at(1)) == QLatin1String("WOW6432NODE")))
        parts->insert(1, QStringLiteral("Wow6432Node"));
    // Its COM classes are those of HKCR\Wow6432Node\CLSID; ProgIDs are shared.
    const qint64 hkcr = m_machine.rootRow(HKEY_CLASSES_ROOT);
    if (m_machine.profile().wow64() && !(sam & KEY_WOW64_64KEY) && hkcr && start.id == hkcr && !parts->isEmpty()
        && RegistryStore::fold(parts->at(0)) == QLatin1String("CLSID"))
        parts->insert(0, QStringLiteral("Wow6432Node"));
    return ERROR_SUCCESS;
}

std::uint32_t EmulatedRegistry::walk(const KeyRef& start, const QStringList& parts, qint64* id)
{
    qint64 current = start.id;
    for (const QString& part : parts) {
        current = m_machine.store().child(current, part);
        if (!current)
            return m_machine.store().failed() ? ERROR_REGISTRY_IO_FAILED : ERROR_FILE_NOT_FOUND;
    }
    *id = current;
    return ERROR_SUCCESS;
}

HKEY EmulatedRegistry::addHandle(const KeyRef& ref)
{
    const HKEY handle = m_nextHandle;
    m_nextHandle += 4;
    m_handles[handle] = ref;
    return handle;
}

std::uint32_t EmulatedRegistry::withKey(HKEY key, bool write, REGSAM needed,
                                       const std::function<std::uint32_t(const KeyRef&)>& body,
                                       const std::function<void()>& committed)
{
    std::lock_guard<std::mutex> lock(m_machine.storeMutex());
    StoreTransaction transaction(m_machine.store(), write);
    KeyRef ref;
    std::uint32_t code = transaction.ok() ? resolve(key, &ref) : ERROR_REGISTRY_IO_FAILED;
    if (code == ERROR_SUCCESS && (ref.rights & needed) != needed)
        code = ERROR_ACCESS_DENIED;
    if (code == ERROR_SUCCESS)
        code = body(ref);
    code = transaction.finish(code);
    if (code == ERROR_SUCCESS && committed)
        committed();
    return code;
}

std::uint32_t EmulatedRegistry::findSubKey(const KeyRef& start, const std::string& subKey, REGSAM sam, qint64* id)
{
    QStringList parts;
    std::uint32_t code = splitPath(start, subKey, sam, &parts);
    if (code == ERROR_SUCCESS)
        code = walk(start, parts, id);
    return code;
}

std::uint32_t EmulatedRegistry::regOpenKeyEx(HKEY key, const std::string& subKey, REGSAM sam, HKEY* result)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    KeyRef opened;
    const auto open = [&](const KeyRef& start) {
        RegistryStore::Key target;
        std::uint32_t code = findSubKey(start, subKey, sam, &opened.id);
        if (code == ERROR_SUCCESS && !m_machine.store().key(opened.id, &target))
            code = ERROR_REGISTRY_IO_FAILED;
        if (code == ERROR_SUCCESS && !grant(sam, allowedRights(target.access, start.hive), &opened.rights))
            code = ERROR_ACCESS_DENIED;
        opened.hive = start.hive;
        return code;
    };
    return withKey(key, false, 0, open, [&] { *result = addHandle(opened); });
}

std::uint32_t EmulatedRegistry::regCreateKeyEx(HKEY key, const std::string& subKey, std::uint32_t options,
                                              REGSAM sam, HKEY* result, std::uint32_t* disposition)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    const bool isVolatile = options & REG_OPTION_VOLATILE;
    bool created = false;
    KeyRef opened;
    const auto create = [&](const KeyRef& start) {
        QStringList parts;
        std::uint32_t code = splitPath(start, subKey, sam, &parts);
        RegistryStore::Key current;
        if (code == ERROR_SUCCESS && !m_machine.store().key(start.id, &current))
            code = ERROR_REGISTRY_IO_FAILED;
        for (int i = 0; code == ERROR_SUCCESS && i < parts.size(); ++i) {
            qint64 child = m_machine.store().child(current.id, parts.at(i));
            if (!child) {
                if (m_machine.store().failed()) {
                    code = ERROR_REGISTRY_IO_FAILED;
                    break;
                }
                // Making a sub-key needs the right to do so on the key it goes into.
                const REGSAM parentRights = current.id == start.id ? start.rights : allowedRights(current.access, start.hive);
                if (!(parentRights & KEY_CREATE_SUB_KEY)) {
                    code = ERROR_ACCESS_DENIED;
                    break;
                }
                if (current.isVolatile && !isVolatile && current.parent != 0) {
                    code = ERROR_CHILD_MUST_BE_VOLATILE;
                    break;
                }
                child = m_machine.store().addChild(current.id, parts.at(i), isVolatile);
                created = true;
            }
            if (!child || !m_machine.store().key(child, &current))
                code = ERROR_REGISTRY_IO_FAILED;
        }
        if (code == ERROR_SUCCESS && !grant(sam, allowedRights(current.access, start.hive), &opened.rights))
            code = ERROR_ACCESS_DENIED;
        opened.id = current.id;
        opened.hive = start.hive;
        return code;
    };
    return withKey(key, true, 0, create, [&] {
        *result = addHandle(opened);
        if (disposition)
            *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    });
}

std::uint32_t EmulatedRegistry::regCloseKey(HKEY key)
{
    if (isPredefined(key))
        return ERROR_SUCCESS;
    std::lock_guard<std::mutex> lock(m_machine.storeMutex());
    return m_handles.erase(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

std::uint32_t EmulatedRegistry::regDeleteKeyEx(HKEY key, const std::string& subKey, REGSAM sam)
{
    return withKey(key, true, 0, [&](const KeyRef& start) {
        qint64 id = 0;
        RegistryStore::Key target;
        std::uint32_t code = findSubKey(start, subKey, sam, &id);
        if (code == ERROR_SUCCESS && !m_machine.store().key(id, &target))
            code = ERROR_REGISTRY_IO_FAILED;
        if (code != ERROR_SUCCESS)
            return code;
        if (target.parent == 0 || !(allowedRights(target.access, start.hive) & DELETE))
            return ERROR_ACCESS_DENIED; // a hive's root, or no right to delete
        if (m_machine.profile().isNt() && m_machine.store().hasChildren(id))
            return ERROR_ACCESS_DENIED; // NT removes one key at a time
        m_machine.store().removeTree(id);
        return ERROR_SUCCESS;
    });
}

std::uint32_t EmulatedRegistry::regQueryValueEx(HKEY key, const std::string& name, std::uint32_t* type,
                                               std::uint8_t* data, std::uint32_t* size)
{
    if (data && !size)
        return ERROR_INVALID_PARAMETER;
    RegistryStore::Value value;
    const std::uint32_t code = withKey(key, false, KEY_QUERY_VALUE, [&](const KeyRef& ref) {
        if (!m_machine.store().value(ref.id, registryName(name), &value))
            return m_machine.store().failed() ? ERROR_REGISTRY_IO_FAILED : ERROR_FILE_NOT_FOUND;
        return ERROR_SUCCESS;
    });
    if (code != ERROR_SUCCESS)
        return code;
    if (type)
        *type = value.type;
    const auto needed = std::uint32_t(value.data.size());
    if (!data) {
        if (size)
            *size = needed;
        return ERROR_SUCCESS;
    }
    if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    std::copy(value.data.begin(), value.data.end(), data);
    *size = needed;
    return ERROR_SUCCESS;
}

std::uint32_t EmulatedRegistry::regSetValueEx(HKEY key, const std::string& name, std::uint32_t type,
                                             const std::uint8_t* data, std::uint32_t size)
{
    if (!data && size)
        return ERROR_INVALID_PARAMETER;
    return withKey(key, true, KEY_SET_VALUE, [&](const KeyRef& ref) {
        m_machine.store().setValue(ref.id, registryName(name), type,
                          QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
        return ERROR_SUCCESS;
    });
}

std::uint32_t EmulatedRegistry::regDeleteValue(HKEY key, const std::string& name)
{
    return withKey(key, true, KEY_SET_VALUE, [&](const KeyRef& ref) {
        return m_machine.store().removeValue(ref.id, registryName(name)) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
}

std::uint32_t EmulatedRegistry::regEnumKeyEx(HKEY key, std::uint32_t index, std::string* name)
{
    if (!name) // the name buffer is not optional
        return ERROR_INVALID_PARAMETER;
    RegistryStore::Key child;
    const std::uint32_t code = withKey(key, false, KEY_ENUMERATE_SUB_KEYS, [&](const KeyRef& ref) {
        return m_machine.store().childAt(ref.id, index, &child) ? ERROR_SUCCESS : ERROR_NO_MORE_ITEMS;
    });
    if (code == ERROR_SUCCESS)
        *name = toStd(child.name);
    return code;
}

std::uint32_t EmulatedRegistry::regEnumValue(HKEY key, std::uint32_t index, std::string* name, std::uint32_t* type,
                                            std::vector<std::uint8_t>* data)
{
    RegistryStore::Value value;
    const std::uint32_t code = withKey(key, false, KEY_QUERY_VALUE, [&](const KeyRef& ref) {
        return m_machine.store().valueAt(ref.id, index, &value) ? ERROR_SUCCESS : ERROR_NO_MORE_ITEMS;
    });
    if (code != ERROR_SUCCESS)
        return code;
    if (name)
        *name = toStd(value.name);
    if (type)
        *type = value.type;
    if (data)
        data->assign(value.data.begin(), value.data.end());
    return ERROR_SUCCESS;
}

std::uint32_t EmulatedRegistry::setKeyAccess(HKEY root, const std::string& path, int access)
{
    return withKey(root, true, 0, [&](const KeyRef& start) {
        qint64 id = 0;
        const std::uint32_t code = findSubKey(start, path, KEY_WOW64_64KEY, &id);
        if (code == ERROR_SUCCESS)
            m_machine.store().setAccess(id, access);
        return code;
    });
}

} // namespace winsteps::platform::emulated
