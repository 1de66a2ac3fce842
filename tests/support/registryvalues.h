#pragma once

// Registry values for tests: data as the registry stores it (text with its NUL, a dword in
// little-endian order), written with the key made on the way, and read back whole.

#include "platform/registry.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <string>

namespace testsupport {

inline QByteArray sz(const QString& text)
{
    QByteArray data = text.toUtf8();
    data.append('\0');
    return data;
}

inline QByteArray dword(quint32 value)
{
    QByteArray data;
    for (int i = 0; i < 4; ++i)
        data.append(char((value >> (8 * i)) & 0xFF));
    return data;
}

// Creates the key (with sam) and sets the value; the first error code, else ERROR_SUCCESS.
inline std::uint32_t setValue(winsteps::platform::Registry& m, winsteps::platform::HKEY root, const std::string& path,
                              const std::string& name, std::uint32_t type, const QByteArray& data,
                              winsteps::platform::REGSAM sam = winsteps::platform::KEY_ALL_ACCESS)
{
    using namespace winsteps::platform;
    HKEY key = HKEY_NULL;
    std::uint32_t code = m.regCreateKeyEx(root, path, REG_OPTION_NON_VOLATILE, sam, &key, nullptr);
    if (code != ERROR_SUCCESS)
        return code;
    code = m.regSetValueEx(key, name, type, reinterpret_cast<const std::uint8_t*>(data.constData()), std::uint32_t(data.size()));
    m.regCloseKey(key);
    return code;
}

// The value's data (empty but not null for no data), or a null array when it cannot be read.
inline QByteArray value(winsteps::platform::Registry& m, winsteps::platform::HKEY root, const std::string& path,
                        const std::string& name, std::uint32_t* type = nullptr,
                        winsteps::platform::REGSAM sam = winsteps::platform::KEY_READ)
{
    using namespace winsteps::platform;
    HKEY key = HKEY_NULL;
    if (m.regOpenKeyEx(root, path, sam, &key) != ERROR_SUCCESS)
        return QByteArray();
    std::uint32_t size = 0;
    QByteArray data;
    if (m.regQueryValueEx(key, name, type, nullptr, &size) == ERROR_SUCCESS) {
        data.resize(size);
        if (m.regQueryValueEx(key, name, type, reinterpret_cast<std::uint8_t*>(data.data()), &size) != ERROR_SUCCESS)
            data = QByteArray();
        else if (data.isNull())
            data = QByteArray("");
    }
    m.regCloseKey(key);
    return data;
}

inline bool keyExists(winsteps::platform::Registry& m, winsteps::platform::HKEY root, const std::string& path,
                      winsteps::platform::REGSAM sam = winsteps::platform::KEY_READ)
{
    winsteps::platform::HKEY key = winsteps::platform::HKEY_NULL;
    if (m.regOpenKeyEx(root, path, sam, &key) != winsteps::platform::ERROR_SUCCESS)
        return false;
    m.regCloseKey(key);
    return true;
}

} // namespace testsupport
