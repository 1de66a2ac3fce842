#include "states/registrykey.h"

#include "system/cosversion.h"

#include <QByteArray>

#include <algorithm>
#include <atomic>

namespace winsteps::registry {

struct RegistryKey::Record {
    platform::Registry* machine = nullptr;
    platform::HKEY handle = platform::HKEY_NULL;
    QString path;
    platform::REGSAM rights = 0;
    std::atomic<int> count{1};
};

namespace {

QString withoutLeadingBackslash(const QString& path)
{
    return path.startsWith(QLatin1Char('\\')) ? path.mid(1) : path;
}

// Characters of UTF-8 data as a code page of the system would hold them (one per UTF-16 unit).
qsizetype characterCount(const QByteArray& data)
{
    return QString::fromUtf8(data).size();
}

bool wow64()
{
    return COsVersion::runsUnderWow64(platform::system());
}

// The data of a value whose UTF-8 text, NULs included, is at most bufferSize characters
// long: the buffers stand for characters of an 8-bit code page, and the machine keeps text as
// UTF-8, where one character takes up to three bytes per UTF-16 unit. False when the value
// is missing, of another type than the ones accepted, or longer than the buffer.
bool readValue(const RegistryKey& key, const QString& name, std::initializer_list<std::uint32_t> types,
               std::uint32_t bufferSize, QByteArray* out)
{
    if (!key.isOpen())
        return false;
    platform::Registry& machine = *key.machine();
    const std::string valueName = name.toStdString();
    std::uint32_t type = platform::REG_NONE;
    std::uint32_t size = 0;
    if (machine.regQueryValueEx(key.handle(), valueName, &type, nullptr, &size) != platform::ERROR_SUCCESS)
        return false;
    if (std::find(types.begin(), types.end(), type) == types.end() || size > 3 * bufferSize)
        return false;
    QByteArray buffer(qsizetype(size), '\0');
    if (machine.regQueryValueEx(key.handle(), valueName, &type, reinterpret_cast<std::uint8_t*>(buffer.data()), &size)
        != platform::ERROR_SUCCESS)
        return false; // ERROR_MORE_DATA when it grew in between, among others
    if (std::find(types.begin(), types.end(), type) == types.end())
        return false;
    buffer.truncate(qsizetype(size));
    if (characterCount(buffer) > qsizetype(bufferSize))
        return false;
    *out = buffer;
    return true;
}

bool writeValue(const RegistryKey& key, const QString& name, std::uint32_t type, const QByteArray& data)
{
    if (!key.isOpen())
        return false;
    return key.machine()->regSetValueEx(key.handle(), name.toStdString(), type,
                                             reinterpret_cast<const std::uint8_t*>(data.constData()),
                                             std::uint32_t(data.size()))
        == platform::ERROR_SUCCESS;
}

} // namespace

platform::HKEY hiveKey(std::uint32_t hive)
{
    switch (hive) {
    case 0:
    case 5:
        return platform::HKEY_LOCAL_MACHINE;
    case 2:
        return platform::HKEY_CURRENT_CONFIG;
    case 3:
        return platform::HKEY_CLASSES_ROOT;
    case 4:
        return platform::HKEY_USERS;
    case 7:
    case 8:
        return platform::HKEY_DYN_DATA;
    default:
        return platform::HKEY_CURRENT_USER;
    }
}

std::uint32_t hiveOfScope(const QString& scope)
{
    return scope.toLower() == QLatin1String("global") ? GlobalHive : UserHive;
}

platform::REGSAM accessRights(int mode)
{
    platform::REGSAM rights = mode == ReadAccess ? platform::KEY_READ
        : mode == WriteAccess                    ? platform::KEY_WRITE
                                                 : platform::KEY_ALL_ACCESS;
    if (wow64())
        rights |= platform::KEY_WOW64_64KEY;
    return rights;
}

// --- RegistryKey -------------------------------------------------------------------------

RegistryKey::RegistryKey(platform::Registry* machine, platform::HKEY handle, const QString& path,
                         platform::REGSAM rights)
    : d(new Record)
{
    d->machine = machine;
    d->handle = handle;
    d->path = path;
    d->rights = rights;
}

RegistryKey::RegistryKey(const RegistryKey& other)
    : d(other.d)
{
    if (d)
        d->count.fetch_add(1);
}

RegistryKey& RegistryKey::operator=(const RegistryKey& other)
{
    if (other.d)
        other.d->count.fetch_add(1);
    release();
    d = other.d;
    return *this;
}

RegistryKey::~RegistryKey()
{
    release();
}

void RegistryKey::release()
{
    if (d && d->count.fetch_sub(1) == 1) {
        if (d->handle != platform::HKEY_NULL)
            d->machine->regCloseKey(d->handle);
        delete d;
    }
    d = nullptr;
}

bool RegistryKey::isOpen() const
{
    return d && d->handle != platform::HKEY_NULL;
}

platform::HKEY RegistryKey::handle() const
{
    return d ? d->handle : platform::HKEY_NULL;
}

QString RegistryKey::path() const
{
    return d ? d->path : QString();
}

platform::REGSAM RegistryKey::rights() const
{
    return d ? d->rights : 0;
}

platform::Registry* RegistryKey::machine() const
{
    return d ? d->machine : nullptr;
}

int RegistryKey::useCount() const
{
    return d ? d->count.load() : 0;
}

// --- keys ----------------------------------------------------------------------------------

RegistryKey openRegKey(std::uint32_t hive, const QString& path, int mode)
{
    platform::Registry& machine = platform::registry();
    const platform::REGSAM rights = accessRights(mode);
    platform::HKEY handle = platform::HKEY_NULL;
    if (machine.regOpenKeyEx(hiveKey(hive), path.toStdString(), rights, &handle) != platform::ERROR_SUCCESS)
        handle = platform::HKEY_NULL;
    return RegistryKey(&machine, handle, path, rights);
}

RegistryKey createRegKey(std::uint32_t hive, const QString& path, int mode)
{
    platform::Registry& machine = platform::registry();
    const platform::REGSAM rights = accessRights(mode);
    const QString subKey = withoutLeadingBackslash(path);
    platform::HKEY handle = platform::HKEY_NULL;
    if (machine.regCreateKeyEx(hiveKey(hive), subKey.toStdString(), platform::REG_OPTION_NON_VOLATILE, rights, &handle,
                               nullptr)
        != platform::ERROR_SUCCESS)
        handle = platform::HKEY_NULL;
    return RegistryKey(&machine, handle, subKey, rights);
}

bool regKeyExists(std::uint32_t hive, const QString& path)
{
    platform::Registry& machine = platform::registry();
    platform::HKEY handle = platform::HKEY_NULL;
    if (machine.regOpenKeyEx(hiveKey(hive), withoutLeadingBackslash(path).toStdString(), accessRights(ReadAccess),
                             &handle)
        != platform::ERROR_SUCCESS)
        return false;
    machine.regCloseKey(handle);
    return true;
}

bool deleteRegKey(std::uint32_t hive, const QString& path)
{
    if (!regKeyExists(hive, path))
        return true;
    // The view the key was found in: a 32-bit build under WOW64 would otherwise delete in
    // the other view and leave the key it saw.
    platform::Registry& machine = platform::registry();
    const platform::REGSAM view = wow64() ? platform::KEY_WOW64_64KEY : 0;
    return machine.regDeleteKeyEx(hiveKey(hive), withoutLeadingBackslash(path).toStdString(), view)
        == platform::ERROR_SUCCESS;
}

// --- values by key -------------------------------------------------------------------------

QString readRegString(const RegistryKey& key, const QString& name, const QString& defaultValue)
{
    QByteArray data;
    if (!readValue(key, name, {platform::REG_SZ, platform::REG_EXPAND_SZ}, StringBufferSize, &data))
        return defaultValue;
    const qsizetype nul = data.indexOf('\0');
    return QString::fromUtf8(nul >= 0 ? data.left(nul) : data);
}

QStringList readRegMultiString(const RegistryKey& key, const QString& name, const QStringList& defaultValue)
{
    QByteArray data;
    if (!readValue(key, name, {platform::REG_MULTI_SZ}, MultiStringBufferSize, &data))
        return defaultValue;
    QStringList list;
    qsizetype start = 0;
    while (start < data.size()) {
        qsizetype end = data.indexOf('\0', start);
        if (end < 0)
            end = data.size();
        if (end == start)
            break; // the empty string that ends the list
        list << QString::fromUtf8(data.mid(start, end - start));
        start = end + 1;
    }
    return list;
}

std::uint32_t readRegDword(const RegistryKey& key, const QString& name, std::uint32_t defaultValue)
{
    QByteArray data;
    if (!readValue(key, name, {platform::REG_DWORD}, 4, &data) || data.size() != 4)
        return defaultValue;
    return std::uint32_t(quint8(data[0])) | std::uint32_t(quint8(data[1])) << 8 | std::uint32_t(quint8(data[2])) << 16
        | std::uint32_t(quint8(data[3])) << 24;
}

bool readRegFlag(const RegistryKey& key, const QString& name, bool defaultValue)
{
    return readRegDword(key, name, defaultValue ? 1 : 0) != 0;
}

bool regValueExists(const RegistryKey& key, const QString& name)
{
    return key.isOpen()
        && key.machine()->regQueryValueEx(key.handle(), name.toStdString(), nullptr, nullptr, nullptr)
        == platform::ERROR_SUCCESS;
}

bool deleteRegValue(const RegistryKey& key, const QString& name)
{
    return key.isOpen() && key.machine()->regDeleteValue(key.handle(), name.toStdString()) == platform::ERROR_SUCCESS;
}

bool writeRegString(const RegistryKey& key, const QString& name, const QString& text)
{
    QByteArray data = text.toUtf8();
    data.append('\0');
    return writeValue(key, name, platform::REG_SZ, data);
}

bool writeRegMultiString(const RegistryKey& key, const QString& name, const QStringList& list)
{
    QByteArray data;
    qsizetype characters = 0;
    for (const QString& item : list) {
        // This string, its NUL and the NUL that closes the list must still fit the buffer
        // that readRegMultiString reads with (counted in characters, as it counts).
        characters += item.size() + 1;
        if (characters + 1 > qsizetype(MultiStringBufferSize))
            return false;
        data.append(item.toUtf8());
        data.append('\0');
    }
    data.append('\0');
    return writeValue(key, name, platform::REG_MULTI_SZ, data);
}

bool writeRegDword(const RegistryKey& key, const QString& name, std::uint32_t value)
{
    QByteArray data;
    for (int i = 0; i < 4; ++i)
        data.append(char((value >> (8 * i)) & 0xFF));
    return writeValue(key, name, platform::REG_DWORD, data);
}

// --- values by hive and path -----------------------------------------------------------------

QString readRegString(std::uint32_t hive, const QString& path, const QString& name, const QString& defaultValue)
{
    return readRegString(openRegKey(hive, path, FullAccess), name, defaultValue);
}

QStringList readRegMultiString(std::uint32_t hive, const QString& path, const QString& name,
                               const QStringList& defaultValue)
{
    return readRegMultiString(openRegKey(hive, path, FullAccess), name, defaultValue);
}

std::uint32_t readRegDword(std::uint32_t hive, const QString& path, const QString& name, std::uint32_t defaultValue)
{
    return readRegDword(openRegKey(hive, path, FullAccess), name, defaultValue);
}

bool writeRegString(std::uint32_t hive, const QString& path, const QString& name, const QString& text)
{
    return writeRegString(openRegKey(hive, path, FullAccess), name, text);
}

bool writeRegMultiString(std::uint32_t hive, const QString& path, const QString& name, const QStringList& list)
{
    return writeRegMultiString(openRegKey(hive, path, FullAccess), name, list);
}

bool writeRegDword(std::uint32_t hive, const QString& path, const QString& name, std::uint32_t value)
{
    return writeRegDword(openRegKey(hive, path, FullAccess), name, value);
}

} // namespace winsteps::registry
