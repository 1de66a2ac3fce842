// The drives on the volume calls of kernel32 (wide-character calls).

#include "platform/drives.h"
#include "platform/win32/win32util.h"

namespace winsteps::platform {

namespace {

using win32::lastError;
using win32::narrow;
using win32::widen;

// "E:" is read as the root "E:\".
std::wstring rootOf(const std::string& root)
{
    std::wstring text = widen(root);
    if (text.size() == 2 && text[1] == L':')
        text += L'\\';
    return text;
}

class Win32Drives final : public Drives {
public:
    std::uint32_t logicalDriveStrings(std::vector<std::string>* roots) override
    {
        wchar_t buffer[27 * 4 + 1] = {};
        const DWORD length = ::GetLogicalDriveStringsW(DWORD(std::size(buffer) - 1), buffer);
        if (length == 0 || length >= std::size(buffer))
            return length == 0 ? lastError() : ERROR_INSUFFICIENT_BUFFER;
        std::vector<std::string> list;
        for (const wchar_t* root = buffer; *root; root += wcslen(root) + 1) {
            std::string text = narrow(root);
            if (!text.empty() && text[0] >= 'a' && text[0] <= 'z')
                text[0] = char(text[0] - 'a' + 'A');
            list.push_back(text);
        }
        if (roots)
            *roots = list;
        return ERROR_SUCCESS;
    }

    std::uint32_t driveType(const std::string& root) override { return ::GetDriveTypeW(rootOf(root).c_str()); }

    std::uint32_t volumeNameForMountPoint(const std::string& mountPoint, std::string* volumeName) override
    {
        if (mountPoint.empty() || mountPoint.back() != '\\')
            return ERROR_INVALID_PARAMETER;
        wchar_t name[MAX_PATH + 1] = {};
        if (!::GetVolumeNameForVolumeMountPointW(widen(mountPoint).c_str(), name, MAX_PATH))
            return lastError();
        if (volumeName)
            *volumeName = narrow(name);
        return ERROR_SUCCESS;
    }

    std::uint32_t mediaPresent(const std::string& root, bool* present) override
    {
        const std::wstring path = rootOf(root);
        const UINT type = ::GetDriveTypeW(path.c_str());
        if (type == DRIVE_NO_ROOT_DIR)
            return ERROR_INVALID_DRIVE;
        // No "insert a disk" box for an empty drive.
        const UINT previous = ::SetErrorMode(SEM_FAILCRITICALERRORS);
        const BOOL done = ::GetVolumeInformationW(path.c_str(), nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0);
        const std::uint32_t error = done ? ERROR_SUCCESS : lastError();
        ::SetErrorMode(previous);
        if (error != ERROR_SUCCESS && error != ERROR_NOT_READY)
            return error;
        if (present)
            *present = error == ERROR_SUCCESS;
        return ERROR_SUCCESS;
    }
};

} // namespace

Drives& drives()
{
    static Win32Drives instance;
    return instance;
}

} // namespace winsteps::platform
