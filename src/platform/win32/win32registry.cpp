// The registry on the wide-character calls: names and string data are UTF-8 at the interface
// and UTF-16 in the registry, so string values are converted both ways and their sizes are
// those of the UTF-8 bytes.

#include "platform/registry.h"
#include "platform/win32/win32util.h"

#include <algorithm>
#include <cstring>

namespace winsteps::platform {

namespace {

using win32::narrow;
using win32::widen;

constexpr std::uintptr_t firstRoot = 0x80000000u;
constexpr std::uintptr_t lastRoot = 0x80000006u;

// The interface writes the predefined keys as 32-bit numbers; Windows sign-extends them.
::HKEY native(platform::HKEY key)
{
    if (key >= firstRoot && key <= lastRoot)
        return reinterpret_cast<::HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(static_cast<std::uint32_t>(key))));
    return reinterpret_cast<::HKEY>(key);
}

platform::HKEY handed(::HKEY key)
{
    const auto value = reinterpret_cast<ULONG_PTR>(key);
    const auto low = static_cast<std::uint32_t>(value);
    if (static_cast<LONG>(low) == static_cast<LONG_PTR>(value) && low >= firstRoot && low <= lastRoot)
        return low;
    return value;
}

bool isString(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// The interface's bytes of a value: string data as UTF-8 (an odd last byte dropped).
std::vector<std::uint8_t> interfaceBytes(DWORD type, const std::vector<BYTE>& raw)
{
    if (!isString(type))
        return std::vector<std::uint8_t>(raw.begin(), raw.end());
    std::wstring wide(raw.size() / sizeof(wchar_t), L'\0');
    std::memcpy(wide.data(), raw.data(), wide.size() * sizeof(wchar_t));
    const std::string text = narrow(wide);
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

// The whole data of a value (RegQueryValueExW until the buffer fits).
LONG readValue(::HKEY key, const std::wstring& name, DWORD* type, std::vector<BYTE>* raw)
{
    DWORD size = 0;
    LONG code = ::RegQueryValueExW(key, name.c_str(), nullptr, type, nullptr, &size);
    while (code == ERROR_SUCCESS || code == ERROR_MORE_DATA) {
        raw->resize(size);
        code = ::RegQueryValueExW(key, name.c_str(), nullptr, type, raw->data(), &size);
        if (code == ERROR_SUCCESS) {
            raw->resize(size);
            break;
        }
    }
    return code;
}

class Win32Registry final : public Registry {
public:
    std::uint32_t regOpenKeyEx(platform::HKEY key, const std::string& subKey, REGSAM sam, platform::HKEY* result) override
    {
        ::HKEY opened = nullptr;
        const LONG code = ::RegOpenKeyExW(native(key), widen(subKey).c_str(), 0, sam, &opened);
        *result = code == ERROR_SUCCESS ? handed(opened) : HKEY_NULL;
        return std::uint32_t(code);
    }

    std::uint32_t regCreateKeyEx(platform::HKEY key, const std::string& subKey, std::uint32_t options, REGSAM sam,
                                 platform::HKEY* result, std::uint32_t* disposition) override
    {
        ::HKEY created = nullptr;
        DWORD how = 0;
        const LONG code = ::RegCreateKeyExW(native(key), widen(subKey).c_str(), 0, nullptr, options, sam, nullptr,
                                            &created, &how);
        *result = code == ERROR_SUCCESS ? handed(created) : HKEY_NULL;
        if (disposition && code == ERROR_SUCCESS)
            *disposition = how;
        return std::uint32_t(code);
    }

    std::uint32_t regCloseKey(platform::HKEY key) override
    {
        if (key >= firstRoot && key <= lastRoot)
            return ERROR_SUCCESS;
        return std::uint32_t(::RegCloseKey(native(key)));
    }

    std::uint32_t regDeleteKeyEx(platform::HKEY key, const std::string& subKey, REGSAM sam) override
    {
        // RegDeleteKeyExW came with 64-bit Windows; without it there is only one view.
        using DeleteKeyEx = LONG(WINAPI*)(::HKEY, LPCWSTR, REGSAM, DWORD);
        static const auto deleteKeyEx = win32::systemFunction<DeleteKeyEx>(L"advapi32.dll", "RegDeleteKeyExW");
        const std::wstring name = widen(subKey);
        const REGSAM view = sam & (KEY_WOW64_32KEY | KEY_WOW64_64KEY);
        if (view != 0 && deleteKeyEx)
            return std::uint32_t(deleteKeyEx(native(key), name.c_str(), view, 0));
        return std::uint32_t(::RegDeleteKeyW(native(key), name.c_str()));
    }

    std::uint32_t regQueryValueEx(platform::HKEY key, const std::string& name, std::uint32_t* type, std::uint8_t* data,
                                  std::uint32_t* size) override
    {
        if (data && !size)
            return ERROR_INVALID_PARAMETER;
        DWORD valueType = REG_NONE;
        std::vector<BYTE> raw;
        const LONG code = readValue(native(key), widen(name), &valueType, &raw);
        if (code != ERROR_SUCCESS)
            return std::uint32_t(code);
        const std::vector<std::uint8_t> bytes = interfaceBytes(valueType, raw);
        if (type)
            *type = valueType;
        if (!size)
            return ERROR_SUCCESS;
        const auto needed = std::uint32_t(bytes.size());
        const bool fits = *size >= needed;
        *size = needed;
        if (!data)
            return ERROR_SUCCESS;
        if (!fits)
            return ERROR_MORE_DATA;
        if (needed > 0)
            std::memcpy(data, bytes.data(), needed);
        return ERROR_SUCCESS;
    }

    std::uint32_t regSetValueEx(platform::HKEY key, const std::string& name, std::uint32_t type,
                                const std::uint8_t* data, std::uint32_t size) override
    {
        const std::wstring wideName = widen(name);
        if (isString(type)) {
            const std::wstring text = data ? widen(reinterpret_cast<const char*>(data), size) : std::wstring();
            return std::uint32_t(::RegSetValueExW(native(key), wideName.c_str(), 0, type,
                                                  reinterpret_cast<const BYTE*>(text.data()),
                                                  DWORD(text.size() * sizeof(wchar_t))));
        }
        return std::uint32_t(::RegSetValueExW(native(key), wideName.c_str(), 0, type, data, size));
    }

    std::uint32_t regDeleteValue(platform::HKEY key, const std::string& name) override
    {
        return std::uint32_t(::RegDeleteValueW(native(key), widen(name).c_str()));
    }

    std::uint32_t regEnumKeyEx(platform::HKEY key, std::uint32_t index, std::string* name) override
    {
        if (!name)
            return ERROR_INVALID_PARAMETER;
        std::vector<wchar_t> buffer(256); // the longest key name, and its NUL
        for (;;) {
            DWORD length = DWORD(buffer.size());
            const LONG code =
                ::RegEnumKeyExW(native(key), index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
            if (code == ERROR_MORE_DATA && buffer.size() < 65536) {
                buffer.resize(buffer.size() * 2);
                continue;
            }
            if (code == ERROR_SUCCESS)
                *name = narrow(buffer.data(), length);
            return std::uint32_t(code);
        }
    }

    std::uint32_t regEnumValue(platform::HKEY key, std::uint32_t index, std::string* name, std::uint32_t* type,
                               std::vector<std::uint8_t>* data) override
    {
        DWORD nameMax = 0, dataMax = 0;
        ::RegQueryInfoKeyW(native(key), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &nameMax,
                           &dataMax, nullptr, nullptr);
        std::vector<wchar_t> nameBuffer(std::max<DWORD>(nameMax + 1, 256));
        std::vector<BYTE> raw(std::max<DWORD>(dataMax, 16));
        for (;;) {
            DWORD nameLength = DWORD(nameBuffer.size());
            DWORD size = DWORD(raw.size());
            DWORD valueType = REG_NONE;
            const LONG code = ::RegEnumValueW(native(key), index, nameBuffer.data(), &nameLength, nullptr, &valueType,
                                              data ? raw.data() : nullptr, data ? &size : nullptr);
            if (code == ERROR_MORE_DATA && nameBuffer.size() < 65536) {
                // Either buffer may be the short one; the value changed since it was measured.
                nameBuffer.resize(nameBuffer.size() * 2);
                raw.resize(std::max<std::size_t>(raw.size() * 2, size));
                continue;
            }
            if (code != ERROR_SUCCESS)
                return std::uint32_t(code);
            if (name)
                *name = narrow(nameBuffer.data(), nameLength);
            if (type)
                *type = valueType;
            if (data) {
                raw.resize(size);
                *data = interfaceBytes(valueType, raw);
            }
            return ERROR_SUCCESS;
        }
    }
};

} // namespace

Registry& registry()
{
    static Win32Registry instance;
    return instance;
}

} // namespace winsteps::platform
