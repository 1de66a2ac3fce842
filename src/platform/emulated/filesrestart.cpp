// The renames and removals that wait for the next restart (MoveFileEx), kept where Windows
// keeps them, and the emulated restart that carries them out and runs RunOnce.

#include "platform/emulated/emulatedmachine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <filesystem>

namespace winsteps::platform::emulated {

namespace {

// The path of a pending-rename entry without its prefixes: "!" (the target may be replaced,
// said in *replace) and then the "\??\" of a native path.
QString pendingPath(const QString& entry, bool* replace)
{
    QString path = entry;
    *replace = path.startsWith(QLatin1Char('!'));
    if (*replace)
        path.remove(0, 1);
    if (path.startsWith(QLatin1String("\\??\\")))
        path.remove(0, 4);
    return path;
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
    auto strip = [](const QString& entry) {
        bool replace = false;
        const QString path = pendingPath(entry, &replace);
        return replace ? QLatin1Char('!') + path : path;
    };
    for (int i = 0; i + 1 < list.size(); i += 2)
        result.append({strip(list.at(i)), strip(list.at(i + 1))});
    return result;
}

// --- files -------------------------------------------------------------------------------

QString EmulatedMachine::hostPathOfPending(const QString& entry, bool* replace) const
{
    return hostPath(pendingPath(entry, replace));
}

std::uint32_t EmulatedMachine::moveFileEx(const std::string& existing, const std::string* newName, std::uint32_t flags)
{
    const bool delayed = flags & MOVEFILE_DELAY_UNTIL_REBOOT;
    const FileAccess access = delayed ? FileAccess::Read : FileAccess::Write;
    QString source, target;
    if (const std::uint32_t code = mapPath(existing, access, &source))
        return code;
    if (newName) {
        if (const std::uint32_t code = mapPath(*newName, access, &target))
            return code;
    }
    if (source == driveC() || (newName && target == driveC()))
        return ERROR_ACCESS_DENIED; // drive C: itself is neither moved nor removed
    const QString windowsSource = windowsPath(source);
    const QString windowsTarget = newName ? windowsPath(target) : QString();
    if (windowsSource.isEmpty() || (newName && windowsTarget.isEmpty()))
        return ERROR_PATH_NOT_FOUND; // not on this machine's drive C:

    if (!delayed) {
        if (!newName)
            return ERROR_INVALID_PARAMETER;
        const QFileInfo from(source);
        if (!from.exists() && !from.isSymLink())
            return ERROR_FILE_NOT_FOUND;
        const QFileInfo to(target);
        if (to.exists() || to.isSymLink()) {
            if (!(flags & MOVEFILE_REPLACE_EXISTING) || to.isDir())
                return ERROR_ALREADY_EXISTS;
            if (!to.isSymLink() && !(to.permissions() & QFileDevice::WriteOwner))
                return ERROR_ACCESS_DENIED; // a read-only file is never replaced
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
    const BootRecord record = [&](const QString& action, const QString& detail) {
        entries.append({action, detail});
        m_store->addBootEntry(boot, action, detail);
    };
    carryOutPendingFiles(hklm->second, record);
    // Volatile keys do not survive a restart.
    m_store->removeVolatileKeys();
    runOnceEntries(record);

    m_store->setMeta(QStringLiteral("boots"), QString::number(boot));
    if (transaction.finish(ERROR_SUCCESS) != ERROR_SUCCESS) {
        *error = QStringLiteral("the registry cannot be written: ") + m_store->lastError();
        return false;
    }
    *done = entries;
    return true;
}

// The renames and removals, in the order they were asked for; then the list is cleared.
void EmulatedMachine::carryOutPendingFiles(qint64 hklm, const BootRecord& record)
{
    const qint64 manager = sessionManager(*m_store, hklm, false);
    const QStringList pending = pendingList(*m_store, manager);
    for (int i = 0; i < pending.size(); i += 2) {
        // The list holds pairs; a last entry without its target is reported, never guessed at.
        if (i + 1 >= pending.size()) {
            bool ignored = false;
            const QString source = hostPathOfPending(pending.at(i), &ignored);
            const QString shown = windowsPath(source).isEmpty() ? pending.at(i) : windowsPath(source);
            record(QStringLiteral("not removed"), shown + QStringLiteral(": no target entry"));
            break;
        }
        carryOutPendingFile(pending.at(i), pending.at(i + 1), record);
    }
    if (manager)
        m_store->removeValue(manager, QLatin1String(PENDING_FILE_RENAME_OPERATIONS));
}

// One rename (or removal, when targetEntry is empty). It touches only the entry itself: a
// symbolic link is removed or renamed as a link, never followed.
void EmulatedMachine::carryOutPendingFile(const QString& sourceEntry, const QString& targetEntry,
                                          const BootRecord& record) const
{
    bool ignored = false;
    bool replace = false;
    const QString source = hostPathOfPending(sourceEntry, &ignored);
    const QString shown = windowsPath(source).isEmpty() ? sourceEntry : windowsPath(source);
    const bool removal = targetEntry.isEmpty();
    const QFileInfo info(source);
    if (!safeToTouch(source)) {
        record(removal ? QStringLiteral("not removed") : QStringLiteral("not renamed"),
               shown + (removal ? QString() : QStringLiteral(" -> ") + targetEntry) + QStringLiteral(": outside drive C:"));
        return;
    }
    if (!info.exists() && !info.isSymLink()) {
        record(removal ? QStringLiteral("not removed") : QStringLiteral("not renamed"), shown + QStringLiteral(": not found"));
        return;
    }
    if (removal) {
        const bool removed = info.isDir() && !info.isSymLink() ? QDir().rmdir(source) : QFile::remove(source);
        if (removed)
            record(QStringLiteral("removed"), shown);
        else
            record(QStringLiteral("not removed"),
                   shown + (info.isDir() && !info.isSymLink() ? QStringLiteral(": directory not empty")
                                                             : QStringLiteral(": cannot be removed")));
        return;
    }
    const QString target = hostPathOfPending(targetEntry, &replace);
    const QString targetShown = windowsPath(target).isEmpty() ? targetEntry : windowsPath(target);
    const QFileInfo to(target);
    if (!safeToTouch(target)) {
        record(QStringLiteral("not renamed"), shown + QStringLiteral(" -> ") + targetShown + QStringLiteral(": outside drive C:"));
        return;
    }
    if ((to.exists() || to.isSymLink()) && (!replace || to.isDir())) {
        record(QStringLiteral("not renamed"), shown + QStringLiteral(" -> ") + targetShown + QStringLiteral(": target exists"));
        return;
    }
    std::error_code failure;
    std::filesystem::rename(QFile::encodeName(source).toStdString(), QFile::encodeName(target).toStdString(), failure);
    record(failure ? QStringLiteral("not renamed") : QStringLiteral("renamed"),
           shown + QStringLiteral(" -> ") + targetShown
               + (failure ? QStringLiteral(": ") + QString::fromStdString(failure.message()) : QString()));
}

// RunOnce: each entry runs once, then goes. Only text entries are commands.
void EmulatedMachine::runOnceEntries(const BootRecord& record)
{
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
            if (id)
                runOnceKey(id, record);
        }
    }
}

// Runs and removes the text entries of one RunOnce key.
void EmulatedMachine::runOnceKey(qint64 id, const BootRecord& record)
{
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
        record(QStringLiteral("ran"), keyPath + QStringLiteral(": ") + (value.name.isEmpty() ? QStringLiteral("@") : value.name)
                                          + QStringLiteral(" = ") + QString::fromUtf8(command));
        names << value.name;
    }
    for (const QString& name : std::as_const(names))
        m_store->removeValue(id, name);
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
