// The emulated restart: it carries out the renames and removals that wait for it (WININIT.INI
// on the 9x family, see wininit.h; then pendingrenames.h), drops the volatile keys and runs RunOnce; and its log.

#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/filejournal.h"
#include "platform/emulated/errortext.h"
#include "platform/emulated/machinepaths.h"
#include "platform/emulated/pendingrenames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <system_error>

namespace winsteps::platform::emulated {

QList<QPair<QString, QString>> EmulatedMachine::pendingFileOperations()
{
    std::lock_guard<std::mutex> lock(m_storeMutex);
    QList<QPair<QString, QString>> result = wininitOperations();
    StoreTransaction transaction(*m_store, false);
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

QString EmulatedMachine::hostPathOfPending(const QString& entry, bool* replace) const
{
    return hostPath(pendingPath(entry, replace));
}

bool EmulatedMachine::reboot(QList<BootEntry>* done, QString* error)
{
    std::lock_guard<std::mutex> lock(m_storeMutex);
    QString why;
    StoreTransaction transaction(*m_store, true, &why);
    const auto hklm = m_roots.find(HKEY_LOCAL_MACHINE);
    if (!transaction.ok() || hklm == m_roots.end()) {
        setError(error, QStringLiteral("the registry cannot be read: ") + why);
        return false;
    }
    QList<JournalEntry> changes;
    m_restartChanges = &changes;
    const qint64 boot = m_store->meta(QStringLiteral("boots")).toLongLong() + 1;
    QList<BootEntry> entries;
    const BootRecord record = [&](const QString& action, const QString& detail) {
        entries.append({action, detail});
        m_store->addBootEntry(boot, action, detail);
    };
    carryOutWininit(record);
    carryOutPendingFiles(hklm->second, record);
    // Volatile keys do not survive a restart.
    m_store->removeVolatileKeys();
    m_services.restarted();
    runOnceEntries(record);

    m_store->setMeta(QStringLiteral("boots"), QString::number(boot));
    m_restartChanges = nullptr;
    if (transaction.finish(ERROR_SUCCESS, &why) != ERROR_SUCCESS) {
        // The records of the restart's file changes went with its transaction (a full disk):
        // the files are put back, newest first, to agree with the pending list that stays.
        const FileJournal files(*this, FileJournal::Locking::InCallersTransaction);
        for (auto it = changes.crbegin(); it != changes.crend(); ++it) {
            files.undo(*it, nullptr);
            if (!it->copy.isEmpty())
                QFile::remove(m_folder + QStringLiteral("/journal/") + it->copy);
        }
        setError(error, QStringLiteral("the registry cannot be written: ") + why);
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
                                          const BootRecord& record)
{
    bool ignored = false;
    bool replace = false;
    const QString source = hostPathOfPending(sourceEntry, &ignored);
    const QString shown = windowsPath(source).isEmpty() ? sourceEntry : windowsPath(source);
    const bool removal = targetEntry.isEmpty();
    const QFileInfo info(source);
    if (!insideDriveC(source)) {
        record(removal ? QStringLiteral("not removed") : QStringLiteral("not renamed"),
               shown + (removal ? QString() : QStringLiteral(" -> ") + targetEntry) + QStringLiteral(": outside drive C:"));
        return;
    }
    if (!info.exists() && !info.isSymLink()) {
        record(removal ? QStringLiteral("not removed") : QStringLiteral("not renamed"), shown + QStringLiteral(": not found"));
        return;
    }
    if (removal) {
        const bool removed = FileJournal(*this, FileJournal::Locking::InCallersTransaction).removeEntry(source) == 0;
        if (removed)
            record(QStringLiteral("removed"), shown);
        else
            record(QStringLiteral("not removed"),
                   shown + (info.isDir() && !info.isSymLink() ? QStringLiteral(": directory not empty")
                                                             : QStringLiteral(": cannot be removed")));
        return;
    }
    QString target = hostPathOfPending(targetEntry, &replace);
    // Another spelling of the source's own name: the file takes that spelling.
    const bool respelt = target == source && windowsFileName(targetEntry) != info.fileName();
    if (respelt)
        target = info.path() + QLatin1Char('/') + windowsFileName(targetEntry);
    const QString targetShown = windowsPath(target).isEmpty() ? targetEntry : windowsPath(target);
    const QFileInfo to(target);
    if (!insideDriveC(target)) {
        record(QStringLiteral("not renamed"), shown + QStringLiteral(" -> ") + targetShown + QStringLiteral(": outside drive C:"));
        return;
    }
    if (!respelt && (to.exists() || to.isSymLink()) && (!replace || to.isDir())) {
        record(QStringLiteral("not renamed"), shown + QStringLiteral(" -> ") + targetShown + QStringLiteral(": target exists"));
        return;
    }
    const int error = FileJournal(*this, FileJournal::Locking::InCallersTransaction).rename(source, target);
    const std::error_code failure(error, std::generic_category());
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
    std::lock_guard<std::mutex> lock(m_storeMutex);
    QList<BootEntry> result;
    StoreTransaction transaction(*m_store, false);
    if (!transaction.ok())
        return result;
    for (const RegistryStore::BootEntry& entry : m_store->bootEntries(boot))
        result.append({entry.action, entry.detail});
    transaction.finish(ERROR_SUCCESS);
    return result;
}

} // namespace winsteps::platform::emulated
