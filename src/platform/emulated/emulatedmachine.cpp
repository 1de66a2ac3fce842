#include "platform/emulated/emulatedmachine.h"

#include <QDir>
#include <QFileInfo>

#include <filesystem>

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

struct Hive {
    HKEY key;
    const char* name;
};

const Hive hives[] = {
    {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT"},   {HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"}, {HKEY_USERS, "HKEY_USERS"},
    {HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG"}, {HKEY_DYN_DATA, "HKEY_DYN_DATA"},
};

bool isPredefined(HKEY key)
{
    return key >= HKEY_CLASSES_ROOT && key <= HKEY_DYN_DATA;
}

} // namespace

EmulatedMachine::EmulatedMachine(const MachineProfile& profile, const QString& folder)
    : m_profile(profile)
    , m_folder(QDir::cleanPath(QDir(folder).absolutePath()))
{
    // Environment values are Windows text, as on Windows.
    const QMap<QString, QString>& env = m_profile.environment();
    for (auto it = env.begin(); it != env.end(); ++it) {
        if (!it.value().isNull())
            m_environment.insert(it.key(), it.value());
    }
}

EmulatedMachine::~EmulatedMachine()
{
    if (m_capture)
        std::fclose(m_capture);
}

bool EmulatedMachine::setDebuggerCapture(bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!on) {
        if (m_capture)
            std::fclose(m_capture);
        m_capture = nullptr;
        m_capturing.store(false, std::memory_order_release);
        return true;
    }
    if (!m_capture)
        m_capture = std::fopen(QFile::encodeName(debuggerLogPath()).constData(), "ab");
    m_capturing.store(m_capture != nullptr, std::memory_order_release);
    return m_capture != nullptr;
}

std::uint32_t EmulatedMachine::getVersionEx(OsVersionInfoEx* info)
{
    if (const std::uint32_t code = m_profile.failure("GetVersionEx"))
        return code;
    const std::uint32_t size = info->size;
    if (size != OSVERSIONINFO_SIZE && size != OSVERSIONINFOEX_SIZE)
        return ERROR_INSUFFICIENT_BUFFER;
    if (size == OSVERSIONINFOEX_SIZE && !m_profile.extendedRecord())
        return ERROR_INVALID_PARAMETER;
    *info = m_profile.version();
    info->size = size;
    if (!m_profile.isNt()) {
        // The 9x family repeats major and minor version in the high word of the build.
        info->buildNumber = (info->majorVersion << 24) | (info->minorVersion << 16) | (info->buildNumber & 0xFFFF);
    }
    if (size == OSVERSIONINFO_SIZE) {
        info->servicePackMajor = 0;
        info->servicePackMinor = 0;
        info->suiteMask = 0;
        info->productType = 0;
        info->reserved = 0;
    }
    return ERROR_SUCCESS;
}

std::uint32_t EmulatedMachine::isWow64Process(bool* wow64)
{
    if (!m_profile.hasIsWow64Process())
        return ERROR_PROC_NOT_FOUND;
    if (const std::uint32_t code = m_profile.failure("IsWow64Process"))
        return code;
    *wow64 = m_profile.wow64();
    return ERROR_SUCCESS;
}

bool EmulatedMachine::isUserAnAdmin()
{
    return m_profile.administrator();
}

std::uint32_t EmulatedMachine::getModuleFileName(std::string* path)
{
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return ERROR_FILE_NOT_FOUND;
    *path = exe.string();
    return ERROR_SUCCESS;
}

std::uint32_t EmulatedMachine::getUserName(std::string* name)
{
    *name = toStd(m_profile.user());
    return ERROR_SUCCESS;
}

std::uint32_t EmulatedMachine::getWindowsDirectory(std::string* path)
{
    if (const std::uint32_t code = m_profile.failure("GetWindowsDirectory"))
        return code;
    *path = toStd(QStringLiteral("C:\\") + m_profile.windowsFolder());
    return ERROR_SUCCESS;
}

std::uint32_t EmulatedMachine::getSystemDirectory(std::string* path)
{
    if (const std::uint32_t code = m_profile.failure("GetSystemDirectory"))
        return code;
    *path = toStd(QStringLiteral("C:\\") + m_profile.windowsFolder() + QLatin1Char('\\') + m_profile.systemFolder());
    return ERROR_SUCCESS;
}

std::uint32_t EmulatedMachine::getSystemDrive(std::string* drive)
{
    // Derived from the system directory, as on Windows.
    if (const std::uint32_t code = m_profile.failure("GetSystemDirectory"))
        return code;
    *drive = "C:";
    return ERROR_SUCCESS;
}

QString EmulatedMachine::findVariable(const QString& name) const
{
    for (auto it = m_environment.begin(); it != m_environment.end(); ++it) {
        if (it.key().compare(name, Qt::CaseInsensitive) == 0)
            return it.key();
    }
    return QString();
}

std::uint32_t EmulatedMachine::getEnvironmentVariable(const std::string& name, std::string* value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const QString key = findVariable(QString::fromStdString(name));
    if (key.isNull())
        return ERROR_ENVVAR_NOT_FOUND;
    *value = toStd(m_environment.value(key));
    return ERROR_SUCCESS;
}

std::uint32_t EmulatedMachine::setEnvironmentVariable(const std::string& name, const std::string* value)
{
    const QString qname = QString::fromStdString(name);
    if (qname.isEmpty() || qname.contains(QLatin1Char('=')))
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(m_mutex);
    const QString key = findVariable(qname);
    if (!value) {
        if (key.isNull())
            return ERROR_ENVVAR_NOT_FOUND;
        m_environment.remove(key);
        return ERROR_SUCCESS;
    }
    m_environment.insert(key.isNull() ? qname : key, QString::fromStdString(*value));
    return ERROR_SUCCESS;
}

std::vector<std::pair<std::string, std::string>> EmulatedMachine::environmentStrings()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::pair<std::string, std::string>> result;
    for (auto it = m_environment.begin(); it != m_environment.end(); ++it)
        result.emplace_back(toStd(it.key()), toStd(it.value()));
    return result;
}

bool EmulatedMachine::shellFolderApiAvailable()
{
    return m_profile.shellFolderLibrary();
}

HRESULT EmulatedMachine::getFolderPath(int csidl, std::string* path)
{
    if (!m_profile.shellFolderLibrary())
        return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    const int id = csidl & ~csidl::FLAG_MASK;
    const QMap<int, QString>& folders = m_profile.shellFolders();
    const auto it = folders.find(id);
    if (it == folders.end())
        return E_INVALIDARG;
    if (it.value().isNull())
        return E_FAIL;
    // Answered as Windows answers it; the folder must exist, or be made when asked for.
    const QString host = hostPath(it.value());
    if (!QFileInfo(host).isDir()) {
        if (!(csidl & csidl::FLAG_CREATE) || !safeToTouch(host) || !QDir().mkpath(host))
            return E_FAIL;
    }
    *path = toStd(it.value());
    return S_OK;
}

HRESULT EmulatedMachine::coInitialize()
{
    if (const std::uint32_t code = m_profile.failure("CoInitialize"))
        return static_cast<HRESULT>(code);
    std::lock_guard<std::mutex> lock(m_mutex);
    int& count = m_comThreads[std::this_thread::get_id()];
    return count++ == 0 ? S_OK : S_FALSE;
}

HRESULT EmulatedMachine::coInitializeSecurity(std::int32_t, std::uint32_t, std::uint32_t, std::uint32_t)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_comThreads.find(std::this_thread::get_id()) == m_comThreads.end())
        return CO_E_NOTINITIALIZED;
    if (m_comSecurity)
        return RPC_E_TOO_LATE;
    if (const std::uint32_t code = m_profile.failure("CoInitializeSecurity"))
        return static_cast<HRESULT>(code);
    m_comSecurity = true;
    return S_OK;
}

void EmulatedMachine::coUninitialize()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_comThreads.find(std::this_thread::get_id());
    if (it != m_comThreads.end() && --it->second <= 0)
        m_comThreads.erase(it);
}

void EmulatedMachine::outputDebugString(const std::string& text)
{
    // Every trace piece comes here: without a listener, no lock is taken.
    if (text.empty() || !m_capturing.load(std::memory_order_acquire))
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_capture || text.empty())
        return;
    std::fwrite(text.data(), 1, text.size(), m_capture);
    std::fflush(m_capture);
}

// --- registry ----------------------------------------------------------------------------

void EmulatedMachine::loadRoots()
{
    std::lock_guard<std::mutex> lock(m_registryMutex);
    m_roots.clear();
    if (!m_store || !m_store->begin(false))
        return;
    for (const Hive& hive : hives) {
        if (const qint64 id = m_store->root(QLatin1String(hive.name)))
            m_roots[hive.key] = id;
    }
    m_store->commit();
}

REGSAM EmulatedMachine::allowedRights(int access, HKEY hive) const
{
    if (m_systemAccess)
        return allRights;
    if (access == RegistryStore::AccessDefault) {
        // A user without administrator rights may only read the machine's part on NT.
        access = hive == HKEY_LOCAL_MACHINE && m_profile.isNt() && !m_profile.administrator()
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

std::uint32_t EmulatedMachine::resolve(HKEY key, KeyRef* out)
{
    if (isPredefined(key)) {
        const auto it = m_roots.find(key);
        if (it == m_roots.end())
            return ERROR_INVALID_HANDLE;
        RegistryStore::Key root;
        if (!m_store->key(it->second, &root))
            return m_store->failed() ? ERROR_REGISTRY_IO_FAILED : ERROR_INVALID_HANDLE;
        out->id = it->second;
        out->hive = key;
        out->rights = allowedRights(root.access, key);
        return ERROR_SUCCESS;
    }
    const auto it = m_handles.find(key);
    if (it == m_handles.end())
        return ERROR_INVALID_HANDLE;
    if (!m_store->keyExists(it->second.id))
        return m_store->failed() ? ERROR_REGISTRY_IO_FAILED : ERROR_KEY_DELETED;
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

std::uint32_t EmulatedMachine::splitPath(const KeyRef& start, const std::string& subKey, REGSAM sam,
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
    const auto hklm = m_roots.find(HKEY_LOCAL_MACHINE);
    if (m_profile.wow64() && !(sam & KEY_WOW64_64KEY) && hklm != m_roots.end() && start.id == hklm->second
        && !parts->isEmpty() && RegistryStore::fold(parts->at(0)) == QLatin1String("SOFTWARE")
        && !(parts->size() > 1 && RegistryStore::fold(parts->at(1)) == QLatin1String("WOW6432NODE")))
        parts->insert(1, QStringLiteral("Wow6432Node"));
    return ERROR_SUCCESS;
}

std::uint32_t EmulatedMachine::walk(const KeyRef& start, const QStringList& parts, qint64* id)
{
    qint64 current = start.id;
    for (const QString& part : parts) {
        current = m_store->child(current, part);
        if (!current)
            return m_store->failed() ? ERROR_REGISTRY_IO_FAILED : ERROR_FILE_NOT_FOUND;
    }
    *id = current;
    return ERROR_SUCCESS;
}

HKEY EmulatedMachine::addHandle(const KeyRef& ref)
{
    const HKEY handle = m_nextHandle;
    m_nextHandle += 4;
    m_handles[handle] = ref;
    return handle;
}

std::uint32_t EmulatedMachine::regOpenKeyEx(HKEY key, const std::string& subKey, REGSAM sam, HKEY* result)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(m_registryMutex);
    Transaction transaction(*m_store, false);
    KeyRef start;
    QStringList parts;
    qint64 id = 0;
    RegistryStore::Key target;
    REGSAM granted = 0;
    std::uint32_t code = transaction.ok() ? resolve(key, &start) : ERROR_REGISTRY_IO_FAILED;
    if (code == ERROR_SUCCESS)
        code = splitPath(start, subKey, sam, &parts);
    if (code == ERROR_SUCCESS)
        code = walk(start, parts, &id);
    if (code == ERROR_SUCCESS && !m_store->key(id, &target))
        code = ERROR_REGISTRY_IO_FAILED;
    if (code == ERROR_SUCCESS && !grant(sam, allowedRights(target.access, start.hive), &granted))
        code = ERROR_ACCESS_DENIED;
    code = transaction.finish(code);
    if (code == ERROR_SUCCESS)
        *result = addHandle({id, start.hive, granted});
    return code;
}

std::uint32_t EmulatedMachine::regCreateKeyEx(HKEY key, const std::string& subKey, std::uint32_t options,
                                              REGSAM sam, HKEY* result, std::uint32_t* disposition)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(m_registryMutex);
    Transaction transaction(*m_store, true);
    KeyRef start;
    QStringList parts;
    std::uint32_t code = transaction.ok() ? resolve(key, &start) : ERROR_REGISTRY_IO_FAILED;
    if (code == ERROR_SUCCESS)
        code = splitPath(start, subKey, sam, &parts);
    const bool isVolatile = options & REG_OPTION_VOLATILE;
    bool created = false;
    RegistryStore::Key current;
    if (code == ERROR_SUCCESS && !m_store->key(start.id, &current))
        code = ERROR_REGISTRY_IO_FAILED;
    for (int i = 0; code == ERROR_SUCCESS && i < parts.size(); ++i) {
        qint64 child = m_store->child(current.id, parts.at(i));
        if (!child) {
            if (m_store->failed()) {
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
            child = m_store->addChild(current.id, parts.at(i), isVolatile);
            created = true;
        }
        if (!child || !m_store->key(child, &current))
            code = ERROR_REGISTRY_IO_FAILED;
    }
    REGSAM granted = 0;
    if (code == ERROR_SUCCESS && !grant(sam, allowedRights(current.access, start.hive), &granted))
        code = ERROR_ACCESS_DENIED;
    code = transaction.finish(code);
    if (code == ERROR_SUCCESS) {
        *result = addHandle({current.id, start.hive, granted});
        if (disposition)
            *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    }
    return code;
}

std::uint32_t EmulatedMachine::regCloseKey(HKEY key)
{
    if (isPredefined(key))
        return ERROR_SUCCESS;
    std::lock_guard<std::mutex> lock(m_registryMutex);
    return m_handles.erase(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

std::uint32_t EmulatedMachine::regDeleteKeyEx(HKEY key, const std::string& subKey, REGSAM sam)
{
    std::lock_guard<std::mutex> lock(m_registryMutex);
    Transaction transaction(*m_store, true);
    KeyRef start;
    QStringList parts;
    qint64 id = 0;
    RegistryStore::Key target;
    std::uint32_t code = transaction.ok() ? resolve(key, &start) : ERROR_REGISTRY_IO_FAILED;
    if (code == ERROR_SUCCESS)
        code = splitPath(start, subKey, sam, &parts);
    if (code == ERROR_SUCCESS)
        code = walk(start, parts, &id);
    if (code == ERROR_SUCCESS && !m_store->key(id, &target))
        code = ERROR_REGISTRY_IO_FAILED;
    if (code == ERROR_SUCCESS) {
        if (target.parent == 0 || !(allowedRights(target.access, start.hive) & DELETE))
            code = ERROR_ACCESS_DENIED; // a hive's root, or no right to delete
        else if (m_profile.isNt() && m_store->hasChildren(id))
            code = ERROR_ACCESS_DENIED; // NT removes one key at a time
        else
            m_store->removeTree(id);
    }
    return transaction.finish(code);
}

std::uint32_t EmulatedMachine::regQueryValueEx(HKEY key, const std::string& name, std::uint32_t* type,
                                               std::uint8_t* data, std::uint32_t* size)
{
    if (data && !size)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(m_registryMutex);
    Transaction transaction(*m_store, false);
    KeyRef ref;
    RegistryStore::Value value;
    std::uint32_t code = transaction.ok() ? resolve(key, &ref) : ERROR_REGISTRY_IO_FAILED;
    if (code == ERROR_SUCCESS && !(ref.rights & KEY_QUERY_VALUE))
        code = ERROR_ACCESS_DENIED;
    if (code == ERROR_SUCCESS && !m_store->value(ref.id, registryName(name), &value))
        code = m_store->failed() ? ERROR_REGISTRY_IO_FAILED : ERROR_FILE_NOT_FOUND;
    code = transaction.finish(code);
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

std::uint32_t EmulatedMachine::regSetValueEx(HKEY key, const std::string& name, std::uint32_t type,
                                             const std::uint8_t* data, std::uint32_t size)
{
    if (!data && size)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(m_registryMutex);
    Transaction transaction(*m_store, true);
    KeyRef ref;
    std::uint32_t code = transaction.ok() ? resolve(key, &ref) : ERROR_REGISTRY_IO_FAILED;
    if (code == ERROR_SUCCESS && !(ref.rights & KEY_SET_VALUE))
        code = ERROR_ACCESS_DENIED;
    if (code == ERROR_SUCCESS)
        m_store->setValue(ref.id, registryName(name), type,
                          QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    return transaction.finish(code);
}

std::uint32_t EmulatedMachine::regDeleteValue(HKEY key, const std::string& name)
{
    std::lock_guard<std::mutex> lock(m_registryMutex);
    Transaction transaction(*m_store, true);
    KeyRef ref;
    std::uint32_t code = transaction.ok() ? resolve(key, &ref) : ERROR_REGISTRY_IO_FAILED;
    if (code == ERROR_SUCCESS && !(ref.rights & KEY_SET_VALUE))
        code = ERROR_ACCESS_DENIED;
    if (code == ERROR_SUCCESS && !m_store->removeValue(ref.id, registryName(name)))
        code = ERROR_FILE_NOT_FOUND;
    return transaction.finish(code);
}

std::uint32_t EmulatedMachine::regEnumKeyEx(HKEY key, std::uint32_t index, std::string* name)
{
    std::lock_guard<std::mutex> lock(m_registryMutex);
    Transaction transaction(*m_store, false);
    KeyRef ref;
    RegistryStore::Key child;
    std::uint32_t code = transaction.ok() ? resolve(key, &ref) : ERROR_REGISTRY_IO_FAILED;
    if (code == ERROR_SUCCESS && !(ref.rights & KEY_ENUMERATE_SUB_KEYS))
        code = ERROR_ACCESS_DENIED;
    if (code == ERROR_SUCCESS && !m_store->childAt(ref.id, index, &child))
        code = ERROR_NO_MORE_ITEMS;
    code = transaction.finish(code);
    if (code == ERROR_SUCCESS)
        *name = toStd(child.name);
    return code;
}

std::uint32_t EmulatedMachine::regEnumValue(HKEY key, std::uint32_t index, std::string* name, std::uint32_t* type,
                                            std::vector<std::uint8_t>* data)
{
    std::lock_guard<std::mutex> lock(m_registryMutex);
    Transaction transaction(*m_store, false);
    KeyRef ref;
    RegistryStore::Value value;
    std::uint32_t code = transaction.ok() ? resolve(key, &ref) : ERROR_REGISTRY_IO_FAILED;
    if (code == ERROR_SUCCESS && !(ref.rights & KEY_QUERY_VALUE))
        code = ERROR_ACCESS_DENIED;
    if (code == ERROR_SUCCESS && !m_store->valueAt(ref.id, index, &value))
        code = ERROR_NO_MORE_ITEMS;
    code = transaction.finish(code);
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

std::uint32_t EmulatedMachine::setKeyAccess(HKEY root, const std::string& path, int access)
{
    std::lock_guard<std::mutex> lock(m_registryMutex);
    Transaction transaction(*m_store, true);
    KeyRef start;
    QStringList parts;
    qint64 id = 0;
    std::uint32_t code = transaction.ok() ? resolve(root, &start) : ERROR_REGISTRY_IO_FAILED;
    if (code == ERROR_SUCCESS)
        code = splitPath(start, path, KEY_WOW64_64KEY, &parts);
    if (code == ERROR_SUCCESS)
        code = walk(start, parts, &id);
    if (code == ERROR_SUCCESS)
        m_store->setAccess(id, access);
    return transaction.finish(code);
}

EmulatedMachine::Statistics EmulatedMachine::statistics()
{
    std::lock_guard<std::mutex> lock(m_registryMutex);
    Statistics result;
    Transaction transaction(*m_store, false);
    if (!transaction.ok())
        return result;
    result.keys = m_store->keyCount();
    result.values = m_store->valueCount();
    result.boots = m_store->meta(QStringLiteral("boots")).toLongLong();
    result.schema = m_store->fileVersion();
    result.created = m_store->meta(QStringLiteral("created"));
    transaction.finish(ERROR_SUCCESS);
    return result;
}

QString EmulatedMachine::integrityCheck()
{
    std::lock_guard<std::mutex> lock(m_registryMutex);
    return m_store->integrityCheck();
}

} // namespace winsteps::platform::emulated
