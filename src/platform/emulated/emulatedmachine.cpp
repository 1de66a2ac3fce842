#include "platform/emulated/emulatedmachine.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>

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

// The hives a machine of the profile has: HKEY_DYN_DATA belongs to the 9x family.
QStringList hiveNamesFor(const MachineProfile& profile)
{
    QStringList names;
    for (const Hive& hive : hives) {
        if (hive.key != HKEY_DYN_DATA || !profile.isNt())
            names << QLatin1String(hive.name);
    }
    return names;
}

// Writes the profile's initial registry into a new store.
bool applySeed(RegistryStore& store, const MachineProfile& profile, QString* error)
{
    for (const MachineProfile::SeedKey& key : profile.registrySeed()) {
        qint64 id = store.root(key.hive);
        if (!id)
            continue; // a hive this system does not have
        if (key.remove) {
            for (const QString& part : key.path) {
                id = store.child(id, part);
                if (!id)
                    break;
            }
            if (id)
                store.removeTree(id);
            continue;
        }
        for (const QString& part : key.path) {
            qint64 child = store.child(id, part);
            if (!child)
                child = store.addChild(id, part, false);
            id = child;
            if (!id)
                break;
        }
        if (!id)
            break;
        if (key.access >= 0)
            store.setAccess(id, key.access);
        for (const MachineProfile::SeedValue& value : key.values) {
            if (value.remove)
                store.removeValue(id, value.name);
            else
                store.setValue(id, value.name, value.type, value.data);
        }
    }
    if (store.failed()) {
        *error = QStringLiteral("cannot write the initial registry: ") + store.lastError();
        return false;
    }
    return true;
}

// Profiles name the same thing when their names are equal or name the same file.
bool sameProfile(const QString& a, const QString& b)
{
    if (a == b)
        return true;
    if (MachineProfile::isBuiltin(a) || MachineProfile::isBuiltin(b))
        return false;
    return QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath();
}

// The strings of REG_MULTI_SZ data that may hold empty strings (as the pending-rename list
// does): each string ends with a NUL, and one more NUL closes the list.
QStringList multiStringsWithEmpty(const QByteArray& data)
{
    QByteArray bytes = data;
    if (bytes.endsWith(QByteArray("\0\0", 2)))
        bytes.chop(1);
    QStringList list;
    qsizetype start = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes.at(i) == '\0') {
            list << QString::fromUtf8(bytes.mid(start, i - start));
            start = i + 1;
        }
    }
    if (start < bytes.size())
        list << QString::fromUtf8(bytes.mid(start));
    return list;
}

QByteArray multiStringData(const QStringList& list)
{
    QByteArray data;
    for (const QString& item : list) {
        data.append(item.toUtf8());
        data.append('\0');
    }
    data.append('\0');
    return data;
}

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

} // namespace

EmulatedMachine::EmulatedMachine(const MachineProfile& profile, const QString& folder)
    : m_profile(profile)
    , m_folder(QDir::cleanPath(QDir(folder).absolutePath()))
{
    // Environment values hold host paths, like every other answer of the machine.
    const QMap<QString, QString>& env = m_profile.environment();
    for (auto it = env.begin(); it != env.end(); ++it) {
        if (it.value().isNull())
            continue;
        QStringList parts = it.value().split(QLatin1Char(';'));
        for (QString& part : parts)
            part = hostPath(part);
        m_environment.insert(it.key(), parts.join(QLatin1Char(';')));
    }
}

EmulatedMachine::~EmulatedMachine()
{
    if (m_capture)
        std::fclose(m_capture);
}

std::unique_ptr<EmulatedMachine> EmulatedMachine::open(const MachineProfile& profile, const QString& folder,
                                                       QString* error)
{
    return openWith(&profile, QString(), folder, OpenMode::CreateOrOpen, error);
}

std::unique_ptr<EmulatedMachine> EmulatedMachine::openFolder(const QString& profileName, const QString& folder,
                                                             QString* error)
{
    return openWith(nullptr, profileName, folder, OpenMode::CreateOrOpen, error);
}

std::unique_ptr<EmulatedMachine> EmulatedMachine::create(const QString& profileName, const QString& folder,
                                                         QString* error)
{
    return openWith(nullptr, profileName, folder, OpenMode::MustBeNew, error);
}

std::unique_ptr<EmulatedMachine> EmulatedMachine::openExisting(const QString& folder, QString* error)
{
    return openWith(nullptr, QString(), folder, OpenMode::MustExist, error);
}

bool EmulatedMachine::holdsMachine(const QString& folder)
{
    return QFileInfo(QDir(folder).filePath(databaseName())).isFile();
}

std::unique_ptr<EmulatedMachine> EmulatedMachine::openWith(const MachineProfile* given, const QString& profileName,
                                                           const QString& folder, OpenMode mode, QString* error)
{
    if (folder.isEmpty()) {
        *error = QStringLiteral("no machine folder given");
        return nullptr;
    }
    const QString dir = QDir::cleanPath(QDir(folder).absolutePath());
    const QFileInfo info(dir);
    if (info.exists() && !info.isDir()) {
        *error = QStringLiteral("machine folder \"%1\" is not a directory").arg(dir);
        return nullptr;
    }
    if (mode == OpenMode::MustExist && !holdsMachine(dir)) {
        *error = QStringLiteral("\"%1\" holds no machine").arg(dir);
        return nullptr;
    }
    // A profile that cannot be used leaves no folder behind.
    MachineProfile profile;
    QString message;
    const QString profileToLoad = profileName.isEmpty() ? QString::fromStdString(defaultProfileName()) : profileName;
    bool loaded = false;
    if (!given && mode != OpenMode::MustExist && !holdsMachine(dir)) {
        if (!profile.load(profileToLoad, error))
            return nullptr;
        loaded = true;
    }
    if (!QDir().mkpath(dir)) {
        *error = QStringLiteral("cannot create machine folder \"%1\"").arg(dir);
        return nullptr;
    }

    auto store = std::make_unique<RegistryStore>();
    if (!store->open(QDir(dir).filePath(databaseName()), &message)) {
        *error = QStringLiteral("machine folder \"%1\": %2").arg(dir, message);
        return nullptr;
    }
    // One write transaction decides between a new and an existing machine, so that two
    // processes opening a new folder at once make one machine.
    if (!store->begin(true)) {
        *error = QStringLiteral("machine folder \"%1\": %2").arg(dir, store->lastError());
        return nullptr;
    }
    const int version = store->fileVersion();
    if (version < 0) {
        *error = QStringLiteral("machine folder \"%1\": %2").arg(dir, store->lastError());
        store->rollback();
        return nullptr;
    }
    if (version == 0) {
        if (mode == OpenMode::MustExist) {
            store->rollback();
            *error = QStringLiteral("\"%1\" holds no machine").arg(dir);
            return nullptr;
        }
        if (given) {
            profile = *given;
        } else if (!loaded && !profile.load(profileToLoad, &message)) {
            store->rollback();
            *error = message;
            return nullptr;
        }
        if (!store->prepare(hiveNamesFor(profile), &message) || !applySeed(*store, profile, &message)) {
            store->rollback();
            *error = QStringLiteral("machine folder \"%1\": %2").arg(dir, message);
            return nullptr;
        }
        store->setMeta(QStringLiteral("profile"), profile.name());
        store->setMeta(QStringLiteral("profileJson"),
                       QString::fromUtf8(QJsonDocument(profile.json()).toJson(QJsonDocument::Compact)));
        store->setMeta(QStringLiteral("created"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
        store->setMeta(QStringLiteral("boots"), QStringLiteral("0"));
    } else {
        const QString recorded = store->meta(QStringLiteral("profile"));
        if (mode == OpenMode::MustBeNew) {
            store->rollback();
            *error = QStringLiteral("\"%1\" already holds a machine (profile \"%2\")").arg(dir, recorded);
            return nullptr;
        }
        if (!store->prepare(hiveNamesFor(profile), &message)) {
            store->rollback();
            *error = QStringLiteral("machine folder \"%1\" cannot be opened: %2").arg(dir, message);
            return nullptr;
        }
        const QString asked = given ? given->name() : profileName;
        if (!asked.isEmpty() && !sameProfile(asked, recorded)) {
            store->rollback();
            *error = QStringLiteral("machine folder \"%1\" was made from profile \"%2\", not \"%3\"")
                         .arg(dir, recorded, asked);
            return nullptr;
        }
        if (!profile.parse(store->meta(QStringLiteral("profileJson")).toUtf8(), recorded, &message)) {
            store->rollback();
            *error = QStringLiteral("machine folder \"%1\": its recorded profile is damaged: %2").arg(dir, message);
            return nullptr;
        }
    }
    if (!store->commit()) {
        *error = QStringLiteral("machine folder \"%1\": %2").arg(dir, store->lastError());
        return nullptr;
    }

    std::unique_ptr<EmulatedMachine> machine(new EmulatedMachine(profile, dir));
    machine->m_store = std::move(store);
    machine->loadRoots();
    if (!machine->makeTree(error))
        return nullptr;
    return machine;
}

std::unique_ptr<EmulatedMachine> EmulatedMachine::detached(const MachineProfile& profile, const QString& folder)
{
    std::unique_ptr<EmulatedMachine> machine(new EmulatedMachine(profile, folder));
    auto store = std::make_unique<RegistryStore>();
    QString error;
    if (store->open(QStringLiteral(":memory:"), &error) && store->begin(true)) {
        if (store->prepare(hiveNamesFor(profile), &error) && applySeed(*store, profile, &error))
            store->commit();
        else
            store->rollback();
    }
    machine->m_store = std::move(store);
    machine->loadRoots();
    return machine;
}

bool EmulatedMachine::makeTree(QString* error) const
{
    QFileInfo info(m_folder);
    if (info.exists() && !info.isDir()) {
        *error = QStringLiteral("machine folder \"%1\" is not a directory").arg(m_folder);
        return false;
    }
    QStringList folders;
    folders << driveC()
            << hostPath(QStringLiteral("C:\\") + m_profile.windowsFolder())
            << hostPath(QStringLiteral("C:\\") + m_profile.windowsFolder() + QLatin1Char('\\') + m_profile.systemFolder())
            << hostPath(QStringLiteral("C:\\Program Files"))
            << hostPath(m_profile.tempFolder());
    const QMap<int, QString>& shell = m_profile.shellFolders();
    for (const QString& path : shell) {
        if (!path.isNull())
            folders << hostPath(path);
    }
    for (const QString& path : std::as_const(folders)) {
        if (!QDir().mkpath(path)) {
            *error = QStringLiteral("cannot create \"%1\" in machine folder \"%2\"").arg(path, m_folder);
            return false;
        }
    }
    return true;
}

QString EmulatedMachine::hostPath(const QString& windowsPath) const
{
    if (windowsPath.size() < 2 || windowsPath.at(0).toUpper() != QLatin1Char('C')
        || windowsPath.at(1) != QLatin1Char(':'))
        return windowsPath;
    if (windowsPath.size() > 2 && windowsPath.at(2) != QLatin1Char('\\') && windowsPath.at(2) != QLatin1Char('/'))
        return windowsPath;
    QString rest = windowsPath.mid(2);
    rest.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (rest.endsWith(QLatin1Char('/')))
        rest.chop(1);
    return driveC() + rest;
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
    *path = toStd(hostPath(QStringLiteral("C:\\") + m_profile.windowsFolder()));
    return ERROR_SUCCESS;
}

std::uint32_t EmulatedMachine::getSystemDirectory(std::string* path)
{
    if (const std::uint32_t code = m_profile.failure("GetSystemDirectory"))
        return code;
    *path = toStd(hostPath(QStringLiteral("C:\\") + m_profile.windowsFolder() + QLatin1Char('\\')
                           + m_profile.systemFolder()));
    return ERROR_SUCCESS;
}

std::uint32_t EmulatedMachine::getSystemDrive(std::string* drive)
{
    // Derived from the system directory, as on Windows.
    if (const std::uint32_t code = m_profile.failure("GetSystemDirectory"))
        return code;
    *drive = toStd(driveC());
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
    const QString host = hostPath(it.value());
    if (!QFileInfo(host).isDir()) {
        if (!(csidl & csidl::FLAG_CREATE) || !QDir().mkpath(host))
            return E_FAIL;
    }
    *path = toStd(host);
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

QString EmulatedMachine::windowsPath(const QString& host) const
{
    const QString path = QDir::cleanPath(host);
    const QString root = driveC();
    if (path == root)
        return QStringLiteral("C:\\");
    if (!path.startsWith(root + QLatin1Char('/')))
        return QString();
    QString rest = path.mid(root.size());
    rest.replace(QLatin1Char('/'), QLatin1Char('\\'));
    return QStringLiteral("C:") + rest;
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

namespace {

// The row of HKLM\<Session Manager>, made when missing; 0 on failure.
qint64 sessionManager(RegistryStore& store, qint64 hklm, bool create)
{
    qint64 id = hklm;
    const QStringList parts = QString::fromLatin1(SESSION_MANAGER_KEY).split(QLatin1Char('\\'));
    for (const QString& part : parts) {
        qint64 child = store.child(id, part);
        if (!child && create)
            child = store.addChild(id, part, false);
        if (!child)
            return 0;
        id = child;
    }
    return id;
}

QStringList pendingList(RegistryStore& store, qint64 key)
{
    RegistryStore::Value value;
    if (!key || !store.value(key, QLatin1String(PENDING_FILE_RENAME_OPERATIONS), &value) || value.type != REG_MULTI_SZ)
        return QStringList();
    return multiStringsWithEmpty(value.data);
}

} // namespace

QList<QPair<QString, QString>> EmulatedMachine::pendingFileOperations()
{
    std::lock_guard<std::mutex> lock(m_registryMutex);
    QList<QPair<QString, QString>> result;
    Transaction transaction(*m_store, false);
    const auto hklm = m_roots.find(HKEY_LOCAL_MACHINE);
    if (!transaction.ok() || hklm == m_roots.end())
        return result;
    const QStringList list = pendingList(*m_store, sessionManager(*m_store, hklm->second, false));
    transaction.finish(ERROR_SUCCESS);
    auto strip = [](QString path) {
        const bool replace = path.startsWith(QLatin1Char('!'));
        if (replace)
            path.remove(0, 1);
        if (path.startsWith(QLatin1String("\\??\\")))
            path.remove(0, 4);
        return replace ? QLatin1Char('!') + path : path;
    };
    for (int i = 0; i + 1 < list.size(); i += 2)
        result.append({strip(list.at(i)), strip(list.at(i + 1))});
    return result;
}

// --- files -------------------------------------------------------------------------------

std::string EmulatedMachine::localFilePath(const std::string& path)
{
    QString text = QString::fromStdString(path);
    if (text.size() >= 2 && text.at(0).toUpper() == QLatin1Char('C') && text.at(1) == QLatin1Char(':'))
        return toStd(hostPath(text));
    text.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return toStd(text);
}

bool EmulatedMachine::safeToTouch(const QString& host) const
{
    // Inside drive C: by its name, and by the real directory that holds it: a symbolic link
    // on the way must not lead out of the machine.
    const QString root = QDir::cleanPath(driveC());
    const QString path = QDir::cleanPath(host);
    if (!path.startsWith(root + QLatin1Char('/')))
        return false;
    const QString realRoot = QFileInfo(root).canonicalFilePath();
    const QString realParent = QFileInfo(QFileInfo(path).absolutePath()).canonicalFilePath();
    return !realRoot.isEmpty() && !realParent.isEmpty()
        && (realParent == realRoot || realParent.startsWith(realRoot + QLatin1Char('/')));
}

QString EmulatedMachine::hostPathOfPending(const QString& entry, bool* replace) const
{
    QString path = entry;
    *replace = path.startsWith(QLatin1Char('!'));
    if (*replace)
        path.remove(0, 1);
    if (path.startsWith(QLatin1String("\\??\\")))
        path.remove(0, 4);
    return hostPath(path);
}

std::uint32_t EmulatedMachine::moveFileEx(const std::string& existing, const std::string* newName, std::uint32_t flags)
{
    const QString source = QDir::cleanPath(QString::fromStdString(localFilePath(existing)));
    const QString target = newName ? QDir::cleanPath(QString::fromStdString(localFilePath(*newName))) : QString();
    const QString windowsSource = windowsPath(source);
    const QString windowsTarget = newName ? windowsPath(target) : QString();
    if (windowsSource.isEmpty() || (newName && windowsTarget.isEmpty()))
        return ERROR_PATH_NOT_FOUND; // not on this machine's drive C:

    if (!(flags & MOVEFILE_DELAY_UNTIL_REBOOT)) {
        if (!newName)
            return ERROR_INVALID_PARAMETER;
        if (!safeToTouch(source) || !safeToTouch(target))
            return ERROR_ACCESS_DENIED;
        const QFileInfo from(source);
        if (!from.exists() && !from.isSymLink())
            return ERROR_FILE_NOT_FOUND;
        const QFileInfo to(target);
        if (to.exists() || to.isSymLink()) {
            if (!(flags & MOVEFILE_REPLACE_EXISTING) || to.isDir())
                return ERROR_ALREADY_EXISTS;
        }
        std::error_code error;
        std::filesystem::rename(QFile::encodeName(source).toStdString(), QFile::encodeName(target).toStdString(), error);
        return error ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
    }

    // The MOVEFILE_DELAY_UNTIL_REBOOT of the wide-character call does not exist on the 9x
    // family; elsewhere it writes below HKEY_LOCAL_MACHINE, which takes an administrator.
    if (!m_profile.isNt())
        return ERROR_CALL_NOT_IMPLEMENTED;
    if (!m_profile.administrator() && !m_systemAccess)
        return ERROR_ACCESS_DENIED;
    std::lock_guard<std::mutex> lock(m_registryMutex);
    Transaction transaction(*m_store, true);
    const auto hklm = m_roots.find(HKEY_LOCAL_MACHINE);
    if (!transaction.ok() || hklm == m_roots.end())
        return ERROR_REGISTRY_IO_FAILED;
    const qint64 key = sessionManager(*m_store, hklm->second, true);
    if (!key)
        return transaction.finish(ERROR_REGISTRY_IO_FAILED);
    QStringList list = pendingList(*m_store, key);
    list << QStringLiteral("\\??\\") + windowsSource;
    if (newName)
        list << ((flags & MOVEFILE_REPLACE_EXISTING) ? QStringLiteral("!\\??\\") : QStringLiteral("\\??\\")) + windowsTarget;
    else
        list << QString();
    m_store->setValue(key, QLatin1String(PENDING_FILE_RENAME_OPERATIONS), REG_MULTI_SZ, multiStringData(list));
    return transaction.finish(ERROR_SUCCESS);
}

// --- restart -----------------------------------------------------------------------------

bool EmulatedMachine::reboot(QList<BootEntry>* done, QString* error)
{
    std::lock_guard<std::mutex> lock(m_registryMutex);
    Transaction transaction(*m_store, true);
    const auto hklm = m_roots.find(HKEY_LOCAL_MACHINE);
    if (!transaction.ok() || hklm == m_roots.end()) {
        *error = QStringLiteral("the registry cannot be read: ") + m_store->lastError();
        return false;
    }
    const qint64 boot = m_store->meta(QStringLiteral("boots")).toLongLong() + 1;
    QList<BootEntry> entries;
    auto record = [&](const QString& action, const QString& detail) {
        entries.append({action, detail});
        m_store->addBootEntry(boot, action, detail);
    };

    // 1. The renames and removals, in the order they were asked for. Each touches only the
    //    entry itself: a symbolic link is removed as a link, never followed.
    const qint64 manager = sessionManager(*m_store, hklm->second, false);
    const QStringList pending = pendingList(*m_store, manager);
    for (int i = 0; i < pending.size(); i += 2) {
        bool ignored = false;
        bool replace = false;
        const QString source = hostPathOfPending(pending.at(i), &ignored);
        const QString shown = windowsPath(source).isEmpty() ? pending.at(i) : windowsPath(source);
        // The list holds pairs; a last entry without its target is reported, never guessed at.
        if (i + 1 >= pending.size()) {
            record(QStringLiteral("not removed"), shown + QStringLiteral(": no target entry"));
            break;
        }
        const bool removal = pending.at(i + 1).isEmpty();
        const QFileInfo info(source);
        if (!safeToTouch(source)) {
            record(removal ? QStringLiteral("not removed") : QStringLiteral("not renamed"),
                   shown + (removal ? QString() : QStringLiteral(" -> ") + pending.at(i + 1))
                       + QStringLiteral(": outside drive C:"));
            continue;
        }
        if (!info.exists() && !info.isSymLink()) {
            record(pending.at(i + 1).isEmpty() ? QStringLiteral("not removed") : QStringLiteral("not renamed"),
                   shown + QStringLiteral(": not found"));
            continue;
        }
        if (pending.at(i + 1).isEmpty()) {
            const bool removed = info.isDir() && !info.isSymLink() ? QDir().rmdir(source) : QFile::remove(source);
            if (removed)
                record(QStringLiteral("removed"), shown);
            else
                record(QStringLiteral("not removed"),
                       shown + (info.isDir() && !info.isSymLink() ? QStringLiteral(": directory not empty")
                                                                 : QStringLiteral(": cannot be removed")));
            continue;
        }
        const QString target = hostPathOfPending(pending.at(i + 1), &replace);
        const QString targetShown = windowsPath(target).isEmpty() ? pending.at(i + 1) : windowsPath(target);
        const QFileInfo to(target);
        if (!safeToTouch(target)) {
            record(QStringLiteral("not renamed"), shown + QStringLiteral(" -> ") + targetShown + QStringLiteral(": outside drive C:"));
            continue;
        }
        if ((to.exists() || to.isSymLink()) && (!replace || to.isDir())) {
            record(QStringLiteral("not renamed"), shown + QStringLiteral(" -> ") + targetShown + QStringLiteral(": target exists"));
            continue;
        }
        std::error_code failure;
        std::filesystem::rename(QFile::encodeName(source).toStdString(), QFile::encodeName(target).toStdString(), failure);
        record(failure ? QStringLiteral("not renamed") : QStringLiteral("renamed"),
               shown + QStringLiteral(" -> ") + targetShown
                   + (failure ? QStringLiteral(": ") + QString::fromStdString(failure.message()) : QString()));
    }
    if (manager)
        m_store->removeValue(manager, QLatin1String(PENDING_FILE_RENAME_OPERATIONS));

    // 2. Volatile keys do not survive a restart.
    m_store->removeVolatileKeys();

    // 3. RunOnce: each entry runs once, then goes. Only text entries are commands.
    QList<QPair<qint64, QStringList>> runOnce;
    QList<QStringList> paths = {{QStringLiteral("SOFTWARE"), QStringLiteral("Microsoft"), QStringLiteral("Windows"),
                                 QStringLiteral("CurrentVersion"), QStringLiteral("RunOnce")}};
    if (m_profile.wow64())
        paths << QStringList{QStringLiteral("SOFTWARE"), QStringLiteral("Wow6432Node"), QStringLiteral("Microsoft"),
                             QStringLiteral("Windows"), QStringLiteral("CurrentVersion"), QStringLiteral("RunOnce")};
    const QList<HKEY> roots = {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER};
    for (HKEY root : roots) {
        for (const QStringList& path : std::as_const(paths)) {
            if (root == HKEY_CURRENT_USER && path.contains(QStringLiteral("Wow6432Node")))
                continue;
            const auto it = m_roots.find(root);
            qint64 id = it == m_roots.end() ? 0 : it->second;
            for (const QString& part : path) {
                if (id)
                    id = m_store->child(id, part);
            }
            if (!id)
                continue;
            const QString keyPath = m_store->path(id);
            QStringList names;
            RegistryStore::Value value;
            for (qint64 index = 0; m_store->valueAt(id, index, &value); ++index) {
                if (value.type != REG_SZ && value.type != REG_EXPAND_SZ)
                    continue;
                QByteArray command = value.data;
                const qsizetype nul = command.indexOf('\0');
                if (nul >= 0)
                    command.truncate(nul);
                record(QStringLiteral("ran"), keyPath + QStringLiteral(": ")
                                                  + (value.name.isEmpty() ? QStringLiteral("@") : value.name)
                                                  + QStringLiteral(" = ") + QString::fromUtf8(command));
                names << value.name;
            }
            for (const QString& name : std::as_const(names))
                m_store->removeValue(id, name);
        }
    }

    m_store->setMeta(QStringLiteral("boots"), QString::number(boot));
    if (transaction.finish(ERROR_SUCCESS) != ERROR_SUCCESS) {
        *error = QStringLiteral("the registry cannot be written: ") + m_store->lastError();
        return false;
    }
    *done = entries;
    return true;
}

QList<EmulatedMachine::BootEntry> EmulatedMachine::bootLog(qint64 boot)
{
    std::lock_guard<std::mutex> lock(m_registryMutex);
    QList<BootEntry> result;
    Transaction transaction(*m_store, false);
    if (!transaction.ok())
        return result;
    for (const RegistryStore::BootEntry& entry : m_store->bootEntries(boot))
        result.append({entry.action, entry.detail});
    transaction.finish(ERROR_SUCCESS);
    return result;
}

} // namespace winsteps::platform::emulated
