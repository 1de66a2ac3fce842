// The version calls of the emulated machine (see EmulatedFileVersions).

#include "platform/emulated/emulatedfileversion.h"

#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/pereader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace winsteps::platform::emulated {

namespace {

// A file of this process, read at any offset.
class FileSource final : public pe::Source {
public:
    explicit FileSource(const std::string& path) : m_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC))
    {
        struct stat info;
        if (m_fd >= 0 && ::fstat(m_fd, &info) == 0 && S_ISREG(info.st_mode))
            m_size = std::uint64_t(info.st_size);
    }
    ~FileSource() override
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    // ERROR_SUCCESS when the file is open for reading.
    std::uint32_t opened() const
    {
        if (m_fd >= 0)
            return ERROR_SUCCESS;
        return errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED;
    }
    std::uint64_t size() const override { return m_size; }
    bool read(std::uint64_t offset, void* buffer, std::size_t count) const override
    {
        if (offset > m_size || count > m_size - offset)
            return false;
        auto* out = static_cast<char*>(buffer);
        while (count > 0) {
            const ssize_t done = ::pread(m_fd, out, count, off_t(offset));
            if (done < 0 && errno == EINTR)
                continue;
            if (done <= 0)
                return false; // the file shrank, or cannot be read
            out += done;
            offset += std::uint64_t(done);
            count -= std::size_t(done);
        }
        return true;
    }

private:
    int m_fd;
    std::uint64_t m_size = 0;
};

} // namespace

std::uint32_t EmulatedFileVersions::readBlock(const std::string& path, std::vector<std::uint8_t>* block)
{
    Files& files = m_machine.files();
    std::uint32_t attributes = 0;
    if (const std::uint32_t code = files.getFileAttributes(path, &attributes))
        return code;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return ERROR_ACCESS_DENIED;
    const FileSource image(files.localFilePath(path));
    if (const std::uint32_t code = image.opened())
        return code;
    return pe::readVersionBlock(image, block);
}

std::uint32_t EmulatedFileVersions::getFileVersionInfoSize(const std::string& path, std::uint32_t* size)
{
    std::vector<std::uint8_t> block;
    const std::uint32_t code = readBlock(path, &block);
    *size = code == ERROR_SUCCESS ? std::uint32_t(block.size()) : 0;
    return code;
}

std::uint32_t EmulatedFileVersions::getFileVersionInfo(const std::string& path, std::uint32_t size, void* data)
{
    if (!data)
        return ERROR_INVALID_PARAMETER;
    std::vector<std::uint8_t> block;
    const std::uint32_t code = readBlock(path, &block);
    if (code == ERROR_SUCCESS && !block.empty())
        std::memcpy(data, block.data(), std::min<std::size_t>(size, block.size()));
    return code;
}

std::uint32_t EmulatedFileVersions::verQueryValue(const void* block, std::uint32_t size, const std::string& subBlock,
                                                  const void** value, std::uint32_t* length)
{
    const auto* bytes = static_cast<const std::uint8_t*>(block);
    std::size_t offset = 0;
    std::uint32_t found = 0;
    const std::uint32_t code = pe::queryValue(bytes, size, subBlock, &offset, &found);
    if (code == ERROR_SUCCESS) {
        *value = bytes + offset;
        *length = found;
    }
    return code;
}

} // namespace winsteps::platform::emulated
