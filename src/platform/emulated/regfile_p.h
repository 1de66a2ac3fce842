// What the registry-editor text writer and reader share: header, hives, limits, error texts.

#pragma once

#include "platform/registry.h"

#include <QByteArrayView>
#include <QString>

#include <string>

namespace winsteps::platform::regfile {

inline const QString Header5 = QStringLiteral("Windows Registry Editor Version 5.00");
// Keys reach at most this many levels below their hive; a deeper tree is not followed, and
// a file that names a deeper key is refused.
constexpr int maxDepth = 512;
constexpr REGSAM readView = KEY_READ | KEY_WOW64_64KEY;

struct HiveEntry {
    HKEY key;
    const char* name;
    const char* shortName;
};

inline constexpr HiveEntry hiveTable[] = {
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", "HKLM"}, {HKEY_CURRENT_USER, "HKEY_CURRENT_USER", "HKCU"},
    {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT", "HKCR"},   {HKEY_USERS, "HKEY_USERS", "HKU"},
    {HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG", "HKCC"}, {HKEY_DYN_DATA, "HKEY_DYN_DATA", "HKDD"},
};

// Names and texts of the registry as QString. QString::fromUtf8 would drop a leading U+FEFF
// as a byte-order mark, and with it the first character of a name that begins with one.
QString fromUtf8(QByteArrayView utf8);
QString fromUtf8(const std::string& utf8);

// A registry error code as the messages of import and export show it.
QString errorText(std::uint32_t code);

} // namespace winsteps::platform::regfile
