// The emulated machine itself: opening machine folders (a new one is set up from its
// profile, an existing one keeps the profile it was made from), its subsystems, and what it
// tells about itself.

#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/errortext.h"
#include "platform/emulated/machinefolder.h"
#include "platform/emulated/systemfiles.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace winsteps::platform::emulated {

namespace {

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
    QString why;
    if (store.failed(&why)) {
        setError(error, QStringLiteral("cannot write the initial registry: ") + why);
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

// An exclusive lock on a file (made when missing) while the object lives; it waits for the
// holder in any other process or thread.
class FolderLock {
public:
    explicit FolderLock(const QString& file)
        : m_fd(::open(QFile::encodeName(file).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644))
    {
        if (m_fd < 0)
            return;
        int result;
        do {
            result = ::flock(m_fd, LOCK_EX);
        } while (result != 0 && errno == EINTR);
        if (result != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~FolderLock()
    {
        if (m_fd >= 0)
            ::close(m_fd); // releases the lock
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool held() const { return m_fd >= 0; }

private:
    int m_fd;
};

// The clean absolute path of a machine folder that may be used; mustHoldMachine: it must
// hold a machine already.
bool checkFolder(const QString& folder, bool mustHoldMachine, QString* dir, QString* error)
{
    if (folder.isEmpty()) {
        setError(error, QStringLiteral("no machine folder given"));
        return false;
    }
    *dir = QDir::cleanPath(QDir(folder).absolutePath());
    const QFileInfo info(*dir);
    if (info.exists() && !info.isDir()) {
        setError(error, QStringLiteral("machine folder \"%1\" is not a directory").arg(*dir));
        return false;
    }
    if (mustHoldMachine && !EmulatedMachine::holdsMachine(*dir)) {
        setError(error, QStringLiteral("\"%1\" holds no machine").arg(*dir));
        return false;
    }
    return true;
}

// The store of the machine in dir with a write transaction begun; *version is its file
// version (0: nothing set up yet). Null + error text on failure.
std::unique_ptr<RegistryStore> beginStore(const QString& dir, int* version, QString* error)
{
    auto store = std::make_unique<RegistryStore>();
    QString message;
    if (!store->open(QDir(dir).filePath(EmulatedMachine::databaseName()), &message)) {
        setError(error, QStringLiteral("machine folder \"%1\": %2").arg(dir, message));
        return nullptr;
    }
    if (!store->begin(true, &message)) {
        setError(error, QStringLiteral("machine folder \"%1\": %2").arg(dir, message));
        return nullptr;
    }
    *version = store->fileVersion(&message);
    if (*version < 0) {
        setError(error, QStringLiteral("machine folder \"%1\": %2").arg(dir, message));
        store->rollback();
        return nullptr;
    }
    return store;
}

// The profile of a new machine: the one given, the one loaded before the folder was made,
// or else profileName loaded now.
bool newProfile(const MachineProfile* given, bool loaded, const QString& profileName, MachineProfile* profile,
                QString* error)
{
    QString message;
    if (given) {
        *profile = *given;
    } else if (!loaded && !profile->load(profileName, &message)) {
        setError(error, message);
        return false;
    }
    return true;
}

// Sets a new machine up in store: the profile's hives and initial registry, and the record of
// the profile it was made from.
bool setUpNew(RegistryStore& store, const MachineProfile& profile, const QString& dir, QString* error)
{
    QString message;
    if (!store.prepare(profile.hives(), &message) || !applySeed(store, profile, &message)) {
        setError(error, QStringLiteral("machine folder \"%1\": %2").arg(dir, message));
        return false;
    }
    store.setMeta(QStringLiteral("profile"), profile.name());
    store.setMeta(QStringLiteral("profileJson"),
                  QString::fromUtf8(QJsonDocument(profile.json()).toJson(QJsonDocument::Compact)));
    store.setMeta(QStringLiteral("created"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    store.setMeta(QStringLiteral("boots"), QStringLiteral("0"));
    return true;
}

// Checks the machine already in store against the profile asked for (none: any), and reads
// the profile it was made from into *profile.
bool readExisting(RegistryStore& store, const QString& asked, bool mustBeNew, const QString& dir,
                  MachineProfile* profile, QString* error)
{
    const QString recorded = store.meta(QStringLiteral("profile"));
    if (mustBeNew) {
        setError(error, QStringLiteral("\"%1\" already holds a machine (profile \"%2\")").arg(dir, recorded));
        return false;
    }
    QString message;
    if (!store.prepare(profile->hives(), &message)) {
        setError(error, QStringLiteral("machine folder \"%1\" cannot be opened: %2").arg(dir, message));
        return false;
    }
    if (!asked.isEmpty() && !sameProfile(asked, recorded)) {
        setError(error, QStringLiteral("machine folder \"%1\" was made from profile \"%2\", not \"%3\"")
                     .arg(dir, recorded, asked));
        return false;
    }
    if (!profile->parse(store.meta(QStringLiteral("profileJson")).toUtf8(), recorded, &message)) {
        setError(error, QStringLiteral("machine folder \"%1\": its recorded profile is damaged: %2").arg(dir, message));
        return false;
    }
    return true;
}

} // namespace

namespace {

struct Hive {
    HKEY key;
    const char* name;
};

const Hive hives[] = {
    {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT"},   {HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"}, {HKEY_USERS, "HKEY_USERS"},
    {HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG"}, {HKEY_DYN_DATA, "HKEY_DYN_DATA"},
};

} // namespace

EmulatedMachine::EmulatedMachine(const MachineProfile& profile, const QString& folder)
    : m_profile(profile)
    , m_folder(QDir::cleanPath(QDir(folder).absolutePath()))
    , m_system(*this)
    , m_registry(*this)
    , m_files(*this)
    , m_processes(*this)
    , m_services(*this)
    , m_com(*this)
    , m_fileVersions(*this)
    , m_firewall(*this)
    , m_netSharing(*this)
    , m_devices(*this)
    , m_drives(*this)
{
}

EmulatedMachine::~EmulatedMachine() = default;

// Takes the store and reads the rows of the root keys this machine has.
void EmulatedMachine::adoptStore(std::unique_ptr<RegistryStore> store)
{
    std::lock_guard<std::mutex> lock(m_storeMutex);
    m_store = std::move(store);
    m_roots.clear();
    if (!m_store->begin(false))
        return;
    for (const Hive& hive : hives) {
        if (const qint64 id = m_store->root(QLatin1String(hive.name)))
            m_roots[hive.key] = id;
    }
    m_store->commit();
}

qint64 EmulatedMachine::rootRow(HKEY root) const
{
    const auto it = m_roots.find(root);
    return it == m_roots.end() ? 0 : it->second;
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
    QString dir;
    if (!checkFolder(folder, mode == OpenMode::MustExist, &dir, error))
        return nullptr;
    // A profile that cannot be used leaves no folder behind.
    MachineProfile profile;
    const QString profileToLoad = profileName.isEmpty() ? QString::fromStdString(defaultProfileName()) : profileName;
    bool loaded = false;
    if (!given && mode != OpenMode::MustExist && !holdsMachine(dir)) {
        if (!profile.load(profileToLoad, error))
            return nullptr;
        loaded = true;
    }
    if (!QDir().mkpath(dir)) {
        setError(error, QStringLiteral("cannot create machine folder \"%1\"").arg(dir));
        return nullptr;
    }
    // One opener at a time sets the database up (journal mode, schema, first content):
    // SQLite's own locking does not cover its switch to WAL on a fresh file.
    const FolderLock lock(QDir(dir).filePath(lockName()));
    if (!lock.held()) {
        setError(error, QStringLiteral("machine folder \"%1\": cannot lock \"%2\"").arg(dir, lockName()));
        return nullptr;
    }

    // One write transaction decides between a new and an existing machine, so that two
    // processes opening a new folder at once make one machine.
    int version = 0;
    std::unique_ptr<RegistryStore> store = beginStore(dir, &version, error);
    if (!store)
        return nullptr;
    bool ready = false;
    if (version != 0) {
        ready = readExisting(*store, given ? given->name() : profileName, mode == OpenMode::MustBeNew, dir,
                             &profile, error);
    } else if (mode == OpenMode::MustExist) {
        setError(error, QStringLiteral("\"%1\" holds no machine").arg(dir));
    } else {
        ready = newProfile(given, loaded, profileToLoad, &profile, error) && setUpNew(*store, profile, dir, error);
    }
    if (!ready) {
        store->rollback();
        return nullptr;
    }
    QString why;
    if (!store->commit(&why)) {
        setError(error, QStringLiteral("machine folder \"%1\": %2").arg(dir, why));
        return nullptr;
    }

    std::unique_ptr<EmulatedMachine> machine(new EmulatedMachine(profile, dir));
    machine->adoptStore(std::move(store));
    if (!machine->makeTree(error))
        return nullptr;
    // Still under the folder's lock: nobody uses the new machine before its system files exist.
    if (version == 0 && !writeSystemFiles(*machine, error))
        return nullptr;
    machine->m_store->setJournaling(true); // a new machine's first state is set up
    return machine;
}

std::unique_ptr<EmulatedMachine> EmulatedMachine::detached(const MachineProfile& profile, const QString& folder)
{
    std::unique_ptr<EmulatedMachine> machine(new EmulatedMachine(profile, folder));
    auto store = std::make_unique<RegistryStore>();
    QString error;
    if (store->open(QStringLiteral(":memory:"), &error) && store->begin(true)) {
        if (store->prepare(profile.hives(), &error) && applySeed(*store, profile, &error))
            store->commit();
        else
            store->rollback();
    }
    machine->adoptStore(std::move(store));
    return machine;
}

bool EmulatedMachine::makeTree(QString* error) const
{
    QFileInfo info(m_folder);
    if (info.exists() && !info.isDir()) {
        setError(error, QStringLiteral("machine folder \"%1\" is not a directory").arg(m_folder));
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
            setError(error, QStringLiteral("cannot create \"%1\" in machine folder \"%2\"").arg(path, m_folder));
            return false;
        }
    }
    return true;
}

EmulatedMachine::Statistics EmulatedMachine::statistics()
{
    std::lock_guard<std::mutex> lock(m_storeMutex);
    Statistics result;
    StoreTransaction transaction(*m_store, false);
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
    std::lock_guard<std::mutex> lock(m_storeMutex);
    return m_store->integrityCheck();
}

} // namespace winsteps::platform::emulated

