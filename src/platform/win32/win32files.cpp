// Files on the wide-character calls. Paths are passed to Windows as they are: Windows itself
// takes "\" and "/", any case, "." and "..", and the root of the current drive.

#include "platform/files.h"
#include "platform/win32/win32util.h"

#include <algorithm>

namespace winsteps::platform {

namespace {

using win32::narrow;
using win32::widen;

class Win32FileHandle final : public FileHandle {
public:
    explicit Win32FileHandle(win32::Handle handle) : m_handle(std::move(handle)) {}

    std::uint32_t read(void* buffer, std::uint32_t size, std::uint32_t* done) override
    {
        DWORD count = 0;
        const BOOL ok = ::ReadFile(m_handle.get(), buffer, size, &count, nullptr);
        *done = count;
        return ok ? ERROR_SUCCESS : win32::lastError();
    }

    std::uint32_t write(const void* buffer, std::uint32_t size, std::uint32_t* done) override
    {
        DWORD count = 0;
        const BOOL ok = ::WriteFile(m_handle.get(), buffer, size, &count, nullptr);
        *done = count;
        return ok ? ERROR_SUCCESS : win32::lastError();
    }

private:
    win32::Handle m_handle;
};

// What a symbolic link leads to: its target's attributes and size; false when it is gone.
bool followLink(const std::wstring& path, FindData* entry)
{
    win32::Handle target(::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!target.valid() || !::GetFileInformationByHandle(target.get(), &information))
        return false;
    entry->attributes = information.dwFileAttributes | FILE_ATTRIBUTE_REPARSE_POINT;
    entry->size = entry->attributes & FILE_ATTRIBUTE_DIRECTORY
                      ? 0
                      : (std::uint64_t(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
    return true;
}

class Win32Files final : public Files {
public:
    std::string localFilePath(const std::string& path) override { return path; }

    std::uint32_t getFileAttributes(const std::string& path, std::uint32_t* attributes) override
    {
        const DWORD found = ::GetFileAttributesW(widen(path).c_str());
        if (found == INVALID_FILE_ATTRIBUTES)
            return win32::lastError();
        *attributes = found;
        return ERROR_SUCCESS;
    }

    std::uint32_t findFiles(const std::string& directory, std::vector<FindData>* entries) override
    {
        entries->clear();
        std::wstring folder = widen(directory);
        if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/')
            folder += L'\\';
        struct Search {
            HANDLE handle;
            ~Search()
            {
                if (handle != INVALID_HANDLE_VALUE)
                    ::FindClose(handle);
            }
        };
        WIN32_FIND_DATAW data{};
        const Search search{::FindFirstFileW((folder + L"*").c_str(), &data)};
        if (search.handle == INVALID_HANDLE_VALUE) {
            const std::uint32_t code = win32::lastError();
            // Only a drive's empty root has no "." entry. A file is no directory to list,
            // whichever code the search gave for it.
            std::uint32_t attributes = 0;
            if (getFileAttributes(directory, &attributes) == ERROR_SUCCESS) {
                if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
                    return ERROR_DIRECTORY;
                if (code == ERROR_FILE_NOT_FOUND)
                    return ERROR_SUCCESS;
            }
            return code;
        }
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..")
                continue;
            FindData entry;
            entry.name = narrow(name);
            entry.attributes = data.dwFileAttributes;
            entry.size = data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY
                             ? 0
                             : (std::uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && !followLink(folder + name, &entry))
                continue;
            entries->push_back(std::move(entry));
        } while (::FindNextFileW(search.handle, &data));
        const DWORD ended = ::GetLastError();
        if (ended != ERROR_NO_MORE_FILES)
            return ended != 0 ? ended : ERROR_GEN_FAILURE;
        std::sort(entries->begin(), entries->end(), [](const FindData& a, const FindData& b) {
            return ::_wcsicmp(widen(a.name).c_str(), widen(b.name).c_str()) < 0;
        });
        return ERROR_SUCCESS;
    }

    std::uint32_t createDirectory(const std::string& path) override
    {
        return ::CreateDirectoryW(widen(path).c_str(), nullptr) ? ERROR_SUCCESS : win32::lastError();
    }

    std::uint32_t deleteFile(const std::string& path) override
    {
        return ::DeleteFileW(widen(path).c_str()) ? ERROR_SUCCESS : win32::lastError();
    }

    std::uint32_t createFile(const std::string& path, std::uint32_t access, std::uint32_t disposition,
                             FileHandlePtr* file) override
    {
        file->reset();
        // No sharing rules: other openers are never refused.
        win32::Handle handle(::CreateFileW(widen(path).c_str(), access,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!handle.valid())
            return win32::lastError();
        *file = std::make_unique<Win32FileHandle>(std::move(handle));
        return ERROR_SUCCESS;
    }

    std::uint32_t moveFileEx(const std::string& existing, const std::string* newName, std::uint32_t flags) override
    {
        const std::wstring target = newName ? widen(*newName) : std::wstring();
        return ::MoveFileExW(widen(existing).c_str(), newName ? target.c_str() : nullptr, flags) ? ERROR_SUCCESS
                                                                                                : win32::lastError();
    }
};

} // namespace

Files& files()
{
    static Win32Files instance;
    return instance;
}

} // namespace winsteps::platform
