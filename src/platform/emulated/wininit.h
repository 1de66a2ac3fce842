#pragma once

#include "winsteps_platform_export.h"

#include <QByteArray>
#include <QList>
#include <QString>

// WININIT.INI in the Windows folder: how the 95/98/ME family replaces files in use. Its
// [rename] section holds "DEST=SOURCE" lines, carried out in order at the next start (DEST,
// when there, is replaced by SOURCE; "NUL=SOURCE" deletes SOURCE); then the file is renamed
// WININIT.BAK. Wizards and installers write it, so it is read as any text: other sections,
// comments (";"), lines without "=" and empty sides are skipped, never refused.

namespace winsteps::platform::emulated {

class MachineProfile;

struct WininitRename {
    QString target; // "" for a removal (NUL)
    QString source;
};

// The largest WININIT.INI that is read; the start skips a larger one whole.
inline constexpr qsizetype maxWininitSize = 64 * 1024;

// The renames of a WININIT.INI text (UTF-8, any line ends), in order.
WINSTEPS_PLATFORM_EXPORT QList<WininitRename> wininitRenames(const QByteArray& text);
// The text with one more rename at the end of its first [rename] section (a section is
// added when there is none), in the file's CRLF line ends.
WINSTEPS_PLATFORM_EXPORT QByteArray withWininitRename(const QByteArray& text, const WininitRename& rename);
// "C:\WINDOWS\WININIT.INI" on a machine of the profile; the ".BAK" beside it.
WINSTEPS_PLATFORM_EXPORT QString wininitPath(const MachineProfile& profile);
WINSTEPS_PLATFORM_EXPORT QString wininitBackupPath(const MachineProfile& profile);

} // namespace winsteps::platform::emulated
