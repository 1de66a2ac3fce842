#include "platform/win32/win32util.h"

#include <climits>
#include <cstring>

namespace winsteps::platform::win32 {

std::wstring widen(const char* text, std::size_t size)
{
    if (size == 0 || size > std::size_t(INT_MAX))
        return std::wstring();
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text, int(size), nullptr, 0);
    std::wstring wide(std::size_t(n > 0 ? n : 0), L'\0');
    if (n > 0)
        ::MultiByteToWideChar(CP_UTF8, 0, text, int(size), wide.data(), n);
    return wide;
}

std::string narrow(const wchar_t* text, std::size_t size)
{
    if (size == 0 || size > std::size_t(INT_MAX))
        return std::string();
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, int(size), nullptr, 0, nullptr, nullptr);
    std::string bytes(std::size_t(n > 0 ? n : 0), '\0');
    if (n > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, text, int(size), bytes.data(), n, nullptr, nullptr);
    return bytes;
}

SecretWide::SecretWide(const char* text)
{
    if (!text) {
        m_null = true;
        m_text.assign(1, L'\0');
        return;
    }
    const int size = int(strlen(text));
    const int n = size == 0 ? 0 : ::MultiByteToWideChar(CP_UTF8, 0, text, size, nullptr, 0);
    m_text.assign(std::size_t(n > 0 ? n : 0) + 1, L'\0');
    if (n > 0)
        ::MultiByteToWideChar(CP_UTF8, 0, text, size, m_text.data(), n);
}

SecretWide::~SecretWide()
{
    ::SecureZeroMemory(m_text.data(), m_text.size() * sizeof(wchar_t));
}

std::uint32_t lastError()
{
    const DWORD error = ::GetLastError();
    return error != 0 ? error : ERROR_GEN_FAILURE;
}

} // namespace winsteps::platform::win32
