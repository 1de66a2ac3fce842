#pragma once

#include <QChar>
#include <QString>

namespace winsteps::platform::emulated {

// "C:..." with the drive letter in any case, *drive set to it in upper case (a drive-relative
// "C:x" means "C:\x": the machine's current directory on C: is its root).
bool isDrivePath(const QString& path, QChar* drive);

// The last name of a Windows path as written, without the trailing dots and blanks that
// Windows drops from it ("" for a path that ends in a separator).
QString windowsFileName(const QString& path);

} // namespace winsteps::platform::emulated
