#pragma once

#include <QChar>
#include <QString>

namespace winsteps::platform::emulated {

// "C:..." with the drive letter in any case, *drive set to it in upper case (a drive-relative
// "C:x" means "C:\x": the machine's current directory on C: is its root).
bool isDrivePath(const QString& path, QChar* drive);

} // namespace winsteps::platform::emulated
