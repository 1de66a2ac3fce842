#pragma once

// What the Windows backend's files share: UTF-8 <-> UTF-16 at the interface's boundary,
// owners for the handles Windows hands out, and functions looked up at run time.
//
// Include the interface headers before this one: <windows.h> defines many of their names as
// macros. Below it, write ::HKEY, ::HRESULT for the Windows types (the unqualified names in
// namespace winsteps::platform are the interface's).

#include "platform/common.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace winsteps::platform::win32 {

// UTF-8 to UTF-16 and back; NULs inside the text are kept. Invalid UTF-8 becomes U+FFFD.
std::wstring widen(const char* text, std::size_t size);
inline std::wstring widen(const std::string& text)
{
    return widen(text.data(), text.size());
}
std::string narrow(const wchar_t* text, std::size_t size);
inline std::string narrow(const std::wstring& text)
{
    return narrow(text.data(), text.size());
}
// A zero-terminated wide string.
inline std::string narrow(const wchar_t* text)
{
    return narrow(text, wcslen(text));
}

// A wide copy of secret UTF-8 text (user name, password) in one allocation that is never
// grown, wiped when it goes.
class SecretWide {
public:
    explicit SecretWide(const char* text);
    ~SecretWide();
    SecretWide(const SecretWide&) = delete;
    SecretWide& operator=(const SecretWide&) = delete;
    // Null when constructed from null.
    const wchar_t* get() const { return m_null ? nullptr : m_text.data(); }

private:
    std::vector<wchar_t> m_text;
    bool m_null = false;
};

// Wide text of a fixed-size buffer converted into a secret buffer of the interface, with
// no copy left anywhere but there. False when it does not fit.
template <typename Secret>
bool assignSecret(Secret* target, const wchar_t* text)
{
    char bytes[Secret::capacity];
    const int n = text[0] == L'\0' ? 0
                                   : ::WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, int(Secret::capacity), nullptr,
                                                           nullptr);
    const bool fits = text[0] == L'\0' || n > 0;
    const bool done = fits && target->assign(bytes, n > 0 ? std::size_t(n - 1) : 0);
    ::SecureZeroMemory(bytes, sizeof bytes);
    return done;
}

// A kernel handle (process, thread, file, snapshot), closed when it goes. Both null and
// INVALID_HANDLE_VALUE mean none.
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE handle) : m_handle(handle) {}
    Handle(Handle&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}
    Handle& operator=(Handle&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_handle = std::exchange(other.m_handle, nullptr);
        }
        return *this;
    }
    ~Handle() { reset(); }

    HANDLE get() const { return m_handle; }
    HANDLE* out()
    {
        reset();
        return &m_handle;
    }
    bool valid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }
    void reset()
    {
        if (valid())
            ::CloseHandle(m_handle);
        m_handle = nullptr;
    }

private:
    HANDLE m_handle = nullptr;
};

// A registry key this backend opened for itself, closed when it goes.
class OwnedKey {
public:
    OwnedKey() = default;
    OwnedKey(const OwnedKey&) = delete;
    OwnedKey& operator=(const OwnedKey&) = delete;
    ~OwnedKey()
    {
        if (m_key)
            ::RegCloseKey(m_key);
    }
    ::HKEY get() const { return m_key; }
    ::HKEY* out() { return &m_key; }

private:
    ::HKEY m_key = nullptr;
};

// A DLL loaded by name, freed when it goes; functions are looked up in it by name.
class Library {
public:
    explicit Library(const wchar_t* name) : m_module(::LoadLibraryW(name)) {}
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    ~Library()
    {
        if (m_module)
            ::FreeLibrary(m_module);
    }
    bool loaded() const { return m_module != nullptr; }
    template <typename Function>
    Function function(const char* name) const
    {
        return m_module ? reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(m_module, name)))
                        : nullptr;
    }

private:
    HMODULE m_module;
};

// A function of a DLL the process always has loaded (kernel32, advapi32, ...), looked up at
// run time because older Windows lack it; null when missing.
template <typename Function>
Function systemFunction(const wchar_t* module, const char* name)
{
    const HMODULE handle = ::GetModuleHandleW(module);
    return handle ? reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(handle, name))) : nullptr;
}

// GetLastError as the interface's error code, never ERROR_SUCCESS after a failed call.
std::uint32_t lastError();

} // namespace winsteps::platform::win32
