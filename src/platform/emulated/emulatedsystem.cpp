// The emulated machine's system queries: version, folders, environment, COM, debugger channel.

#include "platform/emulated/emulatedsystem.h"
#include "platform/emulated/filejournal.h"

#include "platform/emulated/emulatedmachine.h"

#include <QDir>
#include <QFileInfo>

#include <filesystem>

namespace winsteps::platform::emulated {

namespace {

std::string toStd(const QString& text)
{
    return text.toStdString();
}

} // namespace

EmulatedSystem::EmulatedSystem(EmulatedMachine& machine)
    : m_machine(machine)
{
    // Environment values are Windows text, as on Windows.
    const QMap<QString, QString>& env = m_machine.profile().environment();
    for (auto it = env.begin(); it != env.end(); ++it) {
        if (!it.value().isNull())
            m_environment.insert(it.key(), it.value());
    }
}

EmulatedSystem::~EmulatedSystem()
{
    if (m_capture)
        std::fclose(m_capture);
}

bool EmulatedSystem::setDebuggerCapture(bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!on) {
        if (m_capture)
            std::fclose(m_capture);
        m_capture = nullptr;
        m_capturing.store(false, std::memory_order_release);
        return true;
    }
    if (!m_capture)
        m_capture = std::fopen(QFile::encodeName(m_machine.debuggerLogPath()).constData(), "ab");
    m_capturing.store(m_capture != nullptr, std::memory_order_release);
    return m_capture != nullptr;
}

std::uint32_t EmulatedSystem::getVersionEx(OsVersionInfoEx* info)
{
    if (const std::uint32_t code = m_machine.profile().failure("GetVersionEx"))
        return code;
    const std::uint32_t size = info->size;
    if (size != OSVERSIONINFO_SIZE && size != OSVERSIONINFOEX_SIZE)
        return ERROR_INSUFFICIENT_BUFFER;
    if (size == OSVERSIONINFOEX_SIZE && !m_machine.profile().extendedRecord())
        return ERROR_INVALID_PARAMETER;
    *info = m_machine.profile().version();
    info->size = size;
    if (!m_machine.profile().isNt()) {
        // The 9x family repeats major and minor version in the high word of the build.
        info->buildNumber = (info->majorVersion << 24) | (info->minorVersion << 16) | (info->buildNumber & 0xFFFF);
    }
    if (size == OSVERSIONINFO_SIZE) {
        info->servicePackMajor = 0;
        info->servicePackMinor = 0;
        info->suiteMask = 0;
        info->productType = 0;
        info->reserved = 0;
    }
    return ERROR_SUCCESS;
}

std::uint32_t EmulatedSystem::isWow64Process(bool* wow64)
{
    if (!m_machine.profile().hasIsWow64Process())
        return ERROR_PROC_NOT_FOUND;
    if (const std::uint32_t code = m_machine.profile().failure("IsWow64Process"))
        return code;
    *wow64 = m_machine.profile().wow64();
    return ERROR_SUCCESS;
}

bool EmulatedSystem::isUserAnAdmin()
{
    return m_machine.profile().administrator();
}

std::uint32_t EmulatedSystem::getModuleFileName(std::string* path)
{
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return ERROR_FILE_NOT_FOUND;
    *path = exe.string();
    return ERROR_SUCCESS;
}

std::uint32_t EmulatedSystem::getUserName(std::string* name)
{
    *name = toStd(m_machine.profile().user());
    return ERROR_SUCCESS;
}

std::uint32_t EmulatedSystem::getWindowsDirectory(std::string* path)
{
    if (const std::uint32_t code = m_machine.profile().failure("GetWindowsDirectory"))
        return code;
    *path = toStd(QStringLiteral("C:\\") + m_machine.profile().windowsFolder());
    return ERROR_SUCCESS;
}

std::uint32_t EmulatedSystem::getSystemDirectory(std::string* path)
{
    if (const std::uint32_t code = m_machine.profile().failure("GetSystemDirectory"))
        return code;
    *path = toStd(QStringLiteral("C:\\") + m_machine.profile().windowsFolder() + QLatin1Char('\\') + m_machine.profile().systemFolder());
    return ERROR_SUCCESS;
}

std::uint32_t EmulatedSystem::getSystemDrive(std::string* drive)
{
    // Derived from the system directory, as on Windows.
    if (const std::uint32_t code = m_machine.profile().failure("GetSystemDirectory"))
        return code;
    *drive = "C:";
    return ERROR_SUCCESS;
}

QString EmulatedSystem::findVariable(const QString& name) const
{
    for (auto it = m_environment.begin(); it != m_environment.end(); ++it) {
        if (it.key().compare(name, Qt::CaseInsensitive) == 0)
            return it.key();
    }
    return QString();
}

std::uint32_t EmulatedSystem::getEnvironmentVariable(const std::string& name, std::string* value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const QString key = findVariable(QString::fromStdString(name));
    if (key.isNull())
        return ERROR_ENVVAR_NOT_FOUND;
    *value = toStd(m_environment.value(key));
    return ERROR_SUCCESS;
}

std::uint32_t EmulatedSystem::setEnvironmentVariable(const std::string& name, const std::string* value)
{
    const QString qname = QString::fromStdString(name);
    if (qname.isEmpty() || qname.contains(QLatin1Char('=')))
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(m_mutex);
    const QString key = findVariable(qname);
    if (!value) {
        if (key.isNull())
            return ERROR_ENVVAR_NOT_FOUND;
        m_environment.remove(key);
        return ERROR_SUCCESS;
    }
    m_environment.insert(key.isNull() ? qname : key, QString::fromStdString(*value));
    return ERROR_SUCCESS;
}

std::vector<std::pair<std::string, std::string>> EmulatedSystem::environmentStrings()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::pair<std::string, std::string>> result;
    for (auto it = m_environment.begin(); it != m_environment.end(); ++it)
        result.emplace_back(toStd(it.key()), toStd(it.value()));
    return result;
}

bool EmulatedSystem::shellFolderApiAvailable()
{
    return m_machine.profile().shellFolderLibrary();
}

HRESULT EmulatedSystem::getFolderPath(int csidl, std::string* path)
{
    if (!m_machine.profile().shellFolderLibrary())
        return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    const int id = csidl & ~csidl::FLAG_MASK;
    const QMap<int, QString>& folders = m_machine.profile().shellFolders();
    const auto it = folders.find(id);
    if (it == folders.end())
        return E_INVALIDARG;
    if (it.value().isNull())
        return E_FAIL;
    // Answered as Windows answers it; the folder must exist, or be made when asked for.
    const QString host = m_machine.hostPath(it.value());
    if (!QFileInfo(host).isDir()) {
        if (!(csidl & csidl::FLAG_CREATE) || !m_machine.insideDriveC(host) || FileJournal(m_machine).makePath(host) != 0)
            return E_FAIL;
    }
    *path = toStd(it.value());
    return S_OK;
}

HRESULT EmulatedSystem::coInitialize()
{
    if (const std::uint32_t code = m_machine.profile().failure("CoInitialize"))
        return static_cast<HRESULT>(code);
    std::lock_guard<std::mutex> lock(m_mutex);
    int& count = m_comThreads[std::this_thread::get_id()];
    return count++ == 0 ? S_OK : S_FALSE;
}

HRESULT EmulatedSystem::coInitializeSecurity(std::int32_t, std::uint32_t, std::uint32_t, std::uint32_t)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_comThreads.find(std::this_thread::get_id()) == m_comThreads.end())
        return CO_E_NOTINITIALIZED;
    if (m_comSecurity)
        return RPC_E_TOO_LATE;
    if (const std::uint32_t code = m_machine.profile().failure("CoInitializeSecurity"))
        return static_cast<HRESULT>(code);
    m_comSecurity = true;
    return S_OK;
}

void EmulatedSystem::coUninitialize()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_comThreads.find(std::this_thread::get_id());
    if (it != m_comThreads.end() && --it->second <= 0)
        m_comThreads.erase(it);
}

bool EmulatedSystem::comInitialized()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_comThreads.find(std::this_thread::get_id()) != m_comThreads.end();
}

void EmulatedSystem::outputDebugString(const std::string& text)
{
    // Every trace piece comes here: without a listener, no lock is taken.
    if (text.empty() || !m_capturing.load(std::memory_order_acquire))
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_capture || text.empty())
        return;
    std::fwrite(text.data(), 1, text.size(), m_capture);
    std::fflush(m_capture);
}

} // namespace winsteps::platform::emulated
