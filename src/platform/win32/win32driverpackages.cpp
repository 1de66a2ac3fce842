// The driver packages of Windows: SetupCopyOEMInf, UpdateDriverForPlugAndPlayDevices (looked
// up in newdev.dll when first called), and the class-installer requests on one node.

#include "platform/driverpackages.h"

#include "platform/win32/win32util.h"

#include <setupapi.h>

#include <algorithm>
#include <cwctype>
#include <map>

namespace winsteps::platform {

namespace {

using win32::lastError;
using win32::narrow;
using win32::widen;

// A device information set holding one node, released when it goes.
class NodeSet {
public:
    explicit NodeSet(const std::string& instanceId)
    {
        m_set = ::SetupDiCreateDeviceInfoList(nullptr, nullptr);
        if (m_set == INVALID_HANDLE_VALUE) {
            m_error = lastError();
            return;
        }
        m_data.cbSize = sizeof m_data;
        if (!::SetupDiOpenDeviceInfoW(m_set, widen(instanceId).c_str(), nullptr, 0, &m_data))
            m_error = lastError();
    }
    ~NodeSet()
    {
        if (m_set != INVALID_HANDLE_VALUE)
            ::SetupDiDestroyDeviceInfoList(m_set);
    }
    NodeSet(const NodeSet&) = delete;
    NodeSet& operator=(const NodeSet&) = delete;

    std::uint32_t error() const { return m_error; }
    HDEVINFO set() const { return m_set; }
    SP_DEVINFO_DATA* data() { return &m_data; }

    // The request on the node; its error code.
    std::uint32_t call(DI_FUNCTION function)
    {
        return ::SetupDiCallClassInstaller(function, m_set, &m_data) ? ERROR_SUCCESS : lastError();
    }
    bool needsReboot()
    {
        SP_DEVINSTALL_PARAMS_W params = {};
        params.cbSize = sizeof params;
        return ::SetupDiGetDeviceInstallParamsW(m_set, &m_data, &params)
            && (params.Flags & (DI_NEEDREBOOT | DI_NEEDRESTART));
    }

private:
    HDEVINFO m_set = INVALID_HANDLE_VALUE;
    SP_DEVINFO_DATA m_data = {};
    std::uint32_t m_error = ERROR_SUCCESS;
};

bool isInfFile(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool endsWithInf(const std::string& path)
{
    if (path.size() < 4)
        return false;
    std::string end = path.substr(path.size() - 4);
    std::transform(end.begin(), end.end(), end.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return end == ".inf";
}

// The driver search of the node: one INF file, a folder, or the system's INF folder.
std::uint32_t selectSearch(NodeSet& node, const std::string& infPath)
{
    SP_DEVINSTALL_PARAMS_W params = {};
    params.cbSize = sizeof params;
    if (!::SetupDiGetDeviceInstallParamsW(node.set(), node.data(), &params))
        return lastError();
    const std::wstring path = widen(infPath);
    if (path.size() >= MAX_PATH)
        return ERROR_INVALID_PARAMETER;
    if (!path.empty()) {
        if (isInfFile(path))
            params.Flags |= DI_ENUMSINGLEINF;
        else if (endsWithInf(infPath))
            return ERROR_FILE_NOT_FOUND;
        wcsncpy(params.DriverPath, path.c_str(), MAX_PATH - 1);
    }
    params.Flags |= DI_QUIETINSTALL;
    return ::SetupDiSetDeviceInstallParamsW(node.set(), node.data(), &params) ? ERROR_SUCCESS : lastError();
}

class Win32DriverPackages final : public DriverPackages {
public:
    std::uint32_t copyOemInf(const std::string& sourceInf, const std::string& mediaLocation, std::uint32_t copyStyle,
                             std::string* destinationName) override
    {
        const std::wstring media = widen(mediaLocation);
        wchar_t destination[MAX_PATH] = {};
        wchar_t* filePart = nullptr;
        if (!::SetupCopyOEMInfW(widen(sourceInf).c_str(), media.empty() ? nullptr : media.c_str(),
                                media.empty() ? SPOST_NONE : SPOST_PATH, copyStyle, destination, MAX_PATH, nullptr,
                                &filePart))
            return lastError();
        if (destinationName)
            *destinationName = narrow(filePart ? filePart : destination);
        return ERROR_SUCCESS;
    }

    std::uint32_t oemInfs(std::vector<std::string>* names) override
    {
        if (!names)
            return ERROR_INVALID_PARAMETER;
        wchar_t windows[MAX_PATH];
        const UINT length = ::GetWindowsDirectoryW(windows, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            return lastError();
        std::map<unsigned long, std::string> found;
        WIN32_FIND_DATAW data;
        const HANDLE search = ::FindFirstFileW((std::wstring(windows) + L"\\inf\\oem*.inf").c_str(), &data);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                wchar_t* end = nullptr;
                const unsigned long number = std::wcstoul(data.cFileName + 3, &end, 10);
                if (end != data.cFileName + 3 && _wcsicmp(end, L".inf") == 0)
                    found.emplace(number, narrow(data.cFileName));
            } while (::FindNextFileW(search, &data));
            ::FindClose(search);
        }
        names->clear();
        for (const auto& [number, name] : found)
            names->push_back(name);
        return ERROR_SUCCESS;
    }

    std::uint32_t updateDriverForPlugAndPlayDevices(const std::string& hardwareId, const std::string& fullInfPath,
                                                    std::uint32_t installFlags, bool* rebootRequired) override
    {
        using Update = BOOL(WINAPI*)(HWND, LPCWSTR, LPCWSTR, DWORD, PBOOL);
        static const Update update = [] {
            const HMODULE module = ::LoadLibraryW(L"newdev.dll");
            return module ? reinterpret_cast<Update>(reinterpret_cast<void (*)()>(
                                ::GetProcAddress(module, "UpdateDriverForPlugAndPlayDevicesW")))
                          : nullptr;
        }();
        if (!update)
            return ERROR_PROC_NOT_FOUND;
        BOOL reboot = FALSE;
        const BOOL done = update(nullptr, widen(hardwareId).c_str(), widen(fullInfPath).c_str(), installFlags, &reboot);
        const std::uint32_t code = done ? ERROR_SUCCESS : lastError();
        if (rebootRequired)
            *rebootRequired = reboot != FALSE;
        return code;
    }

    std::uint32_t installOnNode(const std::string& instanceId, const std::string& infPath,
                                bool* rebootRequired) override
    {
        if (rebootRequired)
            *rebootRequired = false;
        NodeSet node(instanceId);
        if (node.error() != ERROR_SUCCESS)
            return node.error();
        std::uint32_t code = selectSearch(node, infPath);
        if (code == ERROR_SUCCESS && !::SetupDiBuildDriverInfoList(node.set(), node.data(), SPDIT_COMPATDRIVER))
            code = lastError();
        if (code == ERROR_SUCCESS)
            code = node.call(DIF_SELECTBESTCOMPATDRV);
        if (code == ERROR_SUCCESS)
            code = node.call(DIF_INSTALLDEVICE);
        if (code == ERROR_SUCCESS && rebootRequired)
            *rebootRequired = node.needsReboot();
        return code;
    }

    std::uint32_t removeNode(const std::string& instanceId, bool* rebootRequired) override
    {
        if (rebootRequired)
            *rebootRequired = false;
        NodeSet node(instanceId);
        if (node.error() != ERROR_SUCCESS)
            return node.error();
        const std::uint32_t code = node.call(DIF_REMOVE);
        if (code == ERROR_SUCCESS && rebootRequired)
            *rebootRequired = node.needsReboot();
        return code;
    }
};

} // namespace

DriverPackages& driverPackages()
{
    static Win32DriverPackages instance;
    return instance;
}

} // namespace winsteps::platform
