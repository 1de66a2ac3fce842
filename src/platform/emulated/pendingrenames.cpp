// The list of renames and removals that wait for the next restart, where Windows keeps it.

#include "platform/emulated/pendingrenames.h"

#include "platform/files.h"

namespace winsteps::platform::emulated {

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

namespace {

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

} // namespace

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

} // namespace winsteps::platform::emulated
