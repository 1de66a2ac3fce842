// The service control manager on the wide-character calls: names and texts are UTF-8 at the
// interface, the configuration record is read whole and its size counted as the interface
// counts it (the ANSI record: UTF-8 bytes with their NULs).

#include "platform/services.h"
#include "platform/win32/win32util.h"

#include <cstring>

namespace winsteps::platform {

namespace {

using win32::lastError;
using win32::narrow;
using win32::widen;

::SC_HANDLE native(platform::SC_HANDLE handle)
{
    return reinterpret_cast<::SC_HANDLE>(handle);
}

std::uint32_t result(BOOL done)
{
    return done ? ERROR_SUCCESS : lastError();
}

// A wide text that may stand for NULL (a null pointer in, a null pointer out).
class OptionalWide {
public:
    explicit OptionalWide(const std::string* text) : m_null(text == nullptr), m_text(text ? widen(*text) : std::wstring()) {}
    // Empty text as NULL too.
    static OptionalWide emptyIsNull(const std::string& text) { return OptionalWide(text.empty() ? nullptr : &text); }
    const wchar_t* get() const { return m_null ? nullptr : m_text.c_str(); }

private:
    bool m_null;
    std::wstring m_text;
};

// A list as a double-NUL-terminated wide block (null for no list).
std::wstring multiString(const std::vector<std::string>& list)
{
    std::wstring block;
    for (const std::string& item : list) {
        block += widen(item);
        block += L'\0';
    }
    block += L'\0';
    return block;
}

std::vector<std::string> listOf(const wchar_t* block)
{
    std::vector<std::string> list;
    while (block && *block) {
        list.push_back(narrow(block));
        block += wcslen(block) + 1;
    }
    return list;
}

std::string textOf(const wchar_t* text)
{
    return text ? narrow(text) : std::string();
}

void copyStatus(const SERVICE_STATUS& from, ServiceStatus* to)
{
    to->serviceType = from.dwServiceType;
    to->currentState = from.dwCurrentState;
    to->controlsAccepted = from.dwControlsAccepted;
    to->win32ExitCode = from.dwWin32ExitCode;
    to->serviceSpecificExitCode = from.dwServiceSpecificExitCode;
    to->checkPoint = from.dwCheckPoint;
    to->waitHint = from.dwWaitHint;
}

class Win32Services final : public Services {
public:
    std::uint32_t openSCManager(const std::string& machineName, const std::string& databaseName,
                                std::uint32_t access, platform::SC_HANDLE* handle) override
    {
        const ::SC_HANDLE opened = ::OpenSCManagerW(OptionalWide::emptyIsNull(machineName).get(),
                                                    OptionalWide::emptyIsNull(databaseName).get(), access);
        *handle = reinterpret_cast<platform::SC_HANDLE>(opened);
        return result(opened != nullptr);
    }

    std::uint32_t openService(platform::SC_HANDLE manager, const std::string& serviceName, std::uint32_t access,
                              platform::SC_HANDLE* handle) override
    {
        const ::SC_HANDLE opened = ::OpenServiceW(native(manager), widen(serviceName).c_str(), access);
        *handle = reinterpret_cast<platform::SC_HANDLE>(opened);
        return result(opened != nullptr);
    }

    std::uint32_t createService(platform::SC_HANDLE manager, const std::string& serviceName,
                                const std::string& displayName, std::uint32_t access, std::uint32_t serviceType,
                                std::uint32_t startType, std::uint32_t errorControl,
                                const std::string& binaryPathName, const std::string& loadOrderGroup,
                                const std::vector<std::string>& dependencies, const std::string& serviceStartName,
                                const std::string& password, platform::SC_HANDLE* handle) override
    {
        const std::wstring depends = multiString(dependencies);
        const win32::SecretWide secret(password.empty() ? nullptr : password.c_str());
        const ::SC_HANDLE created = ::CreateServiceW(
            native(manager), widen(serviceName).c_str(), OptionalWide::emptyIsNull(displayName).get(), access,
            serviceType, startType, errorControl, widen(binaryPathName).c_str(),
            OptionalWide::emptyIsNull(loadOrderGroup).get(), nullptr, dependencies.empty() ? nullptr : depends.c_str(),
            OptionalWide::emptyIsNull(serviceStartName).get(), secret.get());
        *handle = reinterpret_cast<platform::SC_HANDLE>(created);
        return result(created != nullptr);
    }

    std::uint32_t deleteService(platform::SC_HANDLE service) override
    {
        return result(::DeleteService(native(service)));
    }

    std::uint32_t changeServiceConfig(platform::SC_HANDLE service, std::uint32_t serviceType,
                                      std::uint32_t startType, std::uint32_t errorControl,
                                      const std::string* binaryPathName, const std::string* loadOrderGroup,
                                      const std::vector<std::string>* dependencies,
                                      const std::string* serviceStartName, const std::string* password,
                                      const std::string* displayName) override
    {
        const std::wstring depends = dependencies ? multiString(*dependencies) : std::wstring();
        const win32::SecretWide secret(password ? password->c_str() : nullptr);
        return result(::ChangeServiceConfigW(native(service), serviceType, startType, errorControl,
                                             OptionalWide(binaryPathName).get(), OptionalWide(loadOrderGroup).get(),
                                             nullptr, dependencies ? depends.c_str() : nullptr,
                                             OptionalWide(serviceStartName).get(), secret.get(),
                                             OptionalWide(displayName).get()));
    }

    std::uint32_t changeServiceConfig2(platform::SC_HANDLE service, std::uint32_t infoLevel,
                                       const std::string& description) override
    {
        if (infoLevel != SERVICE_CONFIG_DESCRIPTION)
            return ERROR_INVALID_PARAMETER;
        std::wstring text = widen(description);
        SERVICE_DESCRIPTIONW info{text.data()};
        return result(::ChangeServiceConfig2W(native(service), SERVICE_CONFIG_DESCRIPTION, &info));
    }

    std::uint32_t queryServiceConfig2(platform::SC_HANDLE service, std::uint32_t infoLevel,
                                      std::string* description) override
    {
        if (infoLevel != SERVICE_CONFIG_DESCRIPTION || !description)
            return ERROR_INVALID_PARAMETER;
        DWORD needed = 0;
        ::QueryServiceConfig2W(native(service), SERVICE_CONFIG_DESCRIPTION, nullptr, 0, &needed);
        std::vector<BYTE> buffer(std::max<DWORD>(needed, sizeof(SERVICE_DESCRIPTIONW)));
        if (!::QueryServiceConfig2W(native(service), SERVICE_CONFIG_DESCRIPTION, buffer.data(), DWORD(buffer.size()),
                                    &needed))
            return lastError();
        *description = textOf(reinterpret_cast<SERVICE_DESCRIPTIONW*>(buffer.data())->lpDescription);
        return ERROR_SUCCESS;
    }

    std::uint32_t queryServiceConfig(platform::SC_HANDLE service, ServiceConfig* config,
                                     std::uint32_t bufferSize, std::uint32_t* bytesNeeded) override
    {
        if (!bytesNeeded)
            return ERROR_INVALID_PARAMETER;
        // The whole wide record first; the interface's size is counted from it.
        DWORD needed = 0;
        if (!::QueryServiceConfigW(native(service), nullptr, 0, &needed) && ::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return lastError();
        std::vector<BYTE> buffer(std::max<DWORD>(needed, sizeof(QUERY_SERVICE_CONFIGW)));
        auto* wide = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
        if (!::QueryServiceConfigW(native(service), wide, DWORD(buffer.size()), &needed))
            return lastError();
        ServiceConfig read;
        read.serviceType = wide->dwServiceType;
        read.startType = wide->dwStartType;
        read.errorControl = wide->dwErrorControl;
        read.binaryPathName = textOf(wide->lpBinaryPathName);
        read.loadOrderGroup = textOf(wide->lpLoadOrderGroup);
        read.tagId = wide->dwTagId;
        read.dependencies = listOf(wide->lpDependencies);
        read.serviceStartName = textOf(wide->lpServiceStartName);
        read.displayName = textOf(wide->lpDisplayName);
        *bytesNeeded = serviceConfigBytes(read);
        if (!config || bufferSize < *bytesNeeded)
            return ERROR_INSUFFICIENT_BUFFER;
        *config = read;
        return ERROR_SUCCESS;
    }

    std::uint32_t queryServiceStatus(platform::SC_HANDLE service, ServiceStatus* status) override
    {
        SERVICE_STATUS native_{};
        if (!::QueryServiceStatus(native(service), &native_))
            return lastError();
        if (!status)
            return ERROR_INVALID_PARAMETER;
        copyStatus(native_, status);
        return ERROR_SUCCESS;
    }

    std::uint32_t startService(platform::SC_HANDLE service, const std::vector<std::string>& arguments) override
    {
        std::vector<std::wstring> wide;
        for (const std::string& argument : arguments)
            wide.push_back(widen(argument));
        std::vector<const wchar_t*> pointers;
        for (const std::wstring& argument : wide)
            pointers.push_back(argument.c_str());
        return result(::StartServiceW(native(service), DWORD(pointers.size()), pointers.empty() ? nullptr : pointers.data()));
    }

    std::uint32_t controlService(platform::SC_HANDLE service, std::uint32_t control, ServiceStatus* status) override
    {
        SERVICE_STATUS native_{};
        const BOOL done = ::ControlService(native(service), control, &native_);
        if (done && status)
            copyStatus(native_, status);
        return result(done);
    }

    std::uint32_t lockServiceDatabase(platform::SC_HANDLE manager, platform::SC_LOCK* lock) override
    {
        const ::SC_LOCK taken = ::LockServiceDatabase(native(manager));
        *lock = reinterpret_cast<platform::SC_LOCK>(taken);
        return result(taken != nullptr);
    }

    std::uint32_t unlockServiceDatabase(platform::SC_LOCK lock) override
    {
        return result(::UnlockServiceDatabase(reinterpret_cast<::SC_LOCK>(lock)));
    }

    std::uint32_t closeServiceHandle(platform::SC_HANDLE handle) override
    {
        return result(::CloseServiceHandle(native(handle)));
    }
};

} // namespace

Services& services()
{
    static Win32Services instance;
    return instance;
}

} // namespace winsteps::platform
