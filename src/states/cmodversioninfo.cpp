#include "states/cmodversioninfo.h"

#include "platform/system.h"

#include <QtGlobal>

#include <cstring>

namespace platform = winsteps::platform;

namespace {

// The source name the warnings give, whatever this file is called.
const char* const SourceName = "modversioninfo_win";

void reportMissing(const char* member, int line)
{
    qWarning("ASSERT: \"%s\" in %s (%d)", member, SourceName, line);
}

} // namespace

CModVersionInfo::CModVersionInfo(const QString& fileName)
    : m_fileName(fileName.isEmpty() ? runningModuleFile() : fileName)
{
    read();
}

QString CModVersionInfo::runningModuleFile()
{
    std::string path;
    if (platform::system().getModuleFileName(&path) != platform::ERROR_SUCCESS)
        return QString();
    return QString::fromStdString(path).left(moduleNameBufferSize - 1);
}

void CModVersionInfo::read()
{
    if (m_fileName.isEmpty())
        return;
    platform::FileVersions& versions = platform::fileVersions();
    const std::string path = m_fileName.toStdString();
    std::uint32_t size = 0;
    if (versions.getFileVersionInfoSize(path, &size) != platform::ERROR_SUCCESS || size == 0)
        return;
    m_pVersionInfoBlock.assign(size, 0);
    if (versions.getFileVersionInfo(path, size, m_pVersionInfoBlock.data()) != platform::ERROR_SUCCESS) {
        reportMissing("m_pVersionInfoBlock", __LINE__);
        m_pVersionInfoBlock.clear();
        return;
    }
    const void* record = nullptr;
    std::uint32_t length = 0;
    if (versions.verQueryValue(m_pVersionInfoBlock.data(), size, "\\", &record, &length) != platform::ERROR_SUCCESS
        || !record || length < sizeof(platform::FixedFileInfo)) {
        reportMissing("m_pFileVersionInfo", __LINE__);
        return;
    }
    m_pFileVersionInfo = record;
    // A copy: the record's place in the block need not suit the structure's alignment.
    std::memcpy(&m_fileVersionInfo, record, sizeof m_fileVersionInfo);
    m_valid = true;
}

int CModVersionInfo::majorVersion() const
{
    return m_valid ? int(m_fileVersionInfo.fileVersionMS >> 16) : 0;
}

int CModVersionInfo::minorVersion() const
{
    return m_valid ? int(m_fileVersionInfo.fileVersionMS & 0xFFFFu) : 0;
}
