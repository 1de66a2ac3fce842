#pragma once

#include "platform/emulated/registrystore.h"

#include <QString>
#include <QStringList>

// The renames and removals that wait for the next restart (MoveFileEx with
// MOVEFILE_DELAY_UNTIL_REBOOT), kept where Windows keeps them: PendingFileRenameOperations
// below HKLM's Session Manager key, as pairs of "\??\C:\..." source and target. The caller
// holds the store's lock and a transaction.

namespace winsteps::platform::emulated {

// The path of a pending-rename entry without its prefixes: "!" (the target may be replaced,
// said in *replace) and then the "\??\" of a native path.
QString pendingPath(const QString& entry, bool* replace);

// The row of HKLM\<Session Manager> below the row hklm, made when missing and create is
// true; 0 when missing or on failure.
qint64 sessionManager(RegistryStore& store, qint64 hklm, bool create);

// The entries of the pending list below the key row (0: none), empty ones included.
QStringList pendingList(RegistryStore& store, qint64 key);

} // namespace winsteps::platform::emulated
