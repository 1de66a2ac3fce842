// The machine of the contract tests on the Windows backend: the running Windows itself. It is
// no machine of a named profile (those cases run on the emulated backend), and its user is
// what it is. Before each case the scratch folder (below the temporary folder) is emptied,
// the scratch services and the scratch keys (in both registry views) are deleted, and the
// restart work recorded for the scratch folder is dropped. This file also holds the test runner (see CMakeLists.txt).

#include "contract.h"

#include "platform/process.h"

#include <windows.h>

#include <filesystem>
#include <string>
#include <utility>

namespace contract {

namespace {

namespace fs = std::filesystem;

const fs::path& scratchFolder()
{
    static const fs::path folder = [] {
        wchar_t temp[MAX_PATH + 1] = {};
        const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
        REQUIRE_MESSAGE((length > 0 && length <= MAX_PATH), "no temporary folder");
        return fs::path(temp) / (L"winsteps-contract-" + std::to_wstring(::GetCurrentProcessId()));
    }();
    return folder;
}

std::wstring wide(const std::string& ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

void deleteScratchKeys()
{
    const std::wstring key = wide(scratchKey);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
    for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        HKEY software = nullptr;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_ALL_ACCESS | view, &software) == ERROR_SUCCESS) {
            ::RegDeleteTreeW(software, key.substr(key.find(L'\\') + 1).c_str());
            ::RegCloseKey(software);
        }
    }
}

// Drops the pending renames and removals whose source lies in the scratch folder.
void dropScratchRestartWork()
{
    HKEY session = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide(platform::SESSION_MANAGER_KEY).c_str(), 0,
                        KEY_QUERY_VALUE | KEY_SET_VALUE, &session) != ERROR_SUCCESS)
        return;
    const std::wstring value = wide(platform::PENDING_FILE_RENAME_OPERATIONS);
    DWORD type = 0, size = 0;
    if (::RegQueryValueExW(session, value.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
        ::RegQueryValueExW(session, value.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
        data.resize(size / sizeof(wchar_t));
        std::vector<std::wstring> strings;
        for (std::size_t start = 0; start < data.size();) {
            const std::size_t end = std::min(data.find(L'\0', start), data.size());
            strings.push_back(data.substr(start, end - start));
            start = end + 1;
        }
        const std::wstring ours = L"\\??\\" + scratchFolder().wstring();
        std::wstring kept;
        for (std::size_t i = 0; i + 1 < strings.size(); i += 2) {
            if (::_wcsnicmp(strings[i].c_str(), ours.c_str(), ours.size()) == 0 || strings[i].empty())
                continue;
            kept += strings[i] + L'\0' + strings[i + 1] + L'\0';
        }
        if (kept.empty()) {
            ::RegDeleteValueW(session, value.c_str());
        } else {
            kept += L'\0';
            ::RegSetValueExW(session, value.c_str(), 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.data()),
                             DWORD(kept.size() * sizeof(wchar_t)));
        }
    }
    ::RegCloseKey(session);
}

// Wine runs Windows programs on another system; where it is known to answer otherwise than
// Windows, the checks of that behaviour are left out.
bool underWine()
{
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

// What Wine is known to answer otherwise than Windows, and how.
const std::pair<Behaviour, const char*> wineDeviations[] = {
    {Behaviour::ValuesEnumerateInOrderSet, "Wine enumerates a key's values sorted by name"},
    {Behaviour::ComSecurityRules, "Wine's CoInitializeSecurity succeeds before COM is started and when repeated"},
    {Behaviour::MissingDriveIsPathNotFound, "Wine answers ERROR_FILE_NOT_FOUND for a drive that does not exist"},
    {Behaviour::MoveNeedsTarget, "Wine's MoveFileEx without a target deletes the file"},
    {Behaviour::RenameChangesCase, "Wine keeps the old case when a rename changes only the case"},
    {Behaviour::EndedProcessStaysEnded, "Wine's TerminateProcess succeeds on a process that has ended"},
    {Behaviour::EndedProcessGoesWithHandles, "Wine still opens an ended process after its last handle is closed"},
    {Behaviour::MissingFolderIsPathNotFound,
     "Wine's CreateProcess answers ERROR_FILE_NOT_FOUND for a program in a missing folder"},
    {Behaviour::UserNameParsing, "Wine's CredUIParseUserName splits a UPN at the '@' and accepts a bare name"},
    {Behaviour::MarkedServiceRefusesOpen, "Wine's OpenService opens a service marked for deletion"},
    {Behaviour::FailedStartLeavesNoTrace,
     "once a start has failed, Wine's service manager refuses every later start with "
     "ERROR_SERVICE_DATABASE_LOCKED, also in later runs"},
    {Behaviour::MarkedServiceGoesWithHandles,
     "Wine removes a service marked for deletion only some time after its last handle is closed"},
    {Behaviour::ServiceDatabaseLockOnce,
     "Wine's LockServiceDatabase grants a second lock, and UnlockServiceDatabase releases one twice"},
    {Behaviour::MissingServerIsModNotFound,
     "Wine's CoCreateInstance answers E_ACCESSDENIED for a server file that cannot be loaded"},
    {Behaviour::VersionlessImageIsTypeNotFound,
     "Wine's GetFileVersionInfoSize answers ERROR_RESOURCE_DATA_NOT_FOUND for an image whose resources hold "
     "no version"},
    {Behaviour::CutImageIsRefused,
     "Wine's GetFileVersionInfoSize reads the version of an image cut short inside its version resource"},
    {Behaviour::FirewallListCalls,
     "Wine's firewall list is a stub: Item finds any path, Add and Remove succeed and change nothing"},
    {Behaviour::ConnectionSharing, "Wine has no connection-sharing manager (HNetCfg.HNetShare is no ProgID there)"},
    {Behaviour::OemInfNames, "Wine's SetupCopyOEMInf stores an INF under its own name, not as oemN.inf"},
    {Behaviour::VolumeInterfaces, "Wine's SetupDi lists no volume interfaces"},
    {Behaviour::DeviceTree, "Wine's configuration manager has no root node and gives no node a parent"},
};

// The number of the current case, which the names of its scratch services carry.
int& caseNumber()
{
    static int number = 0;
    return number;
}

// Deletes the services that the cases so far may have created (none of them is ever started
// here); the manager removes each once its last handle is closed.
void deleteScratchServices()
{
    const SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return;
    const int current = caseNumber();
    for (int number = 1; number <= current; ++number) {
        caseNumber() = number;
        for (int index = 0; index < 4; ++index) {
            if (const SC_HANDLE handle = ::OpenServiceW(manager, wide(scratchService(index)).c_str(), DELETE)) {
                ::DeleteService(handle);
                ::CloseServiceHandle(handle);
            }
        }
    }
    caseNumber() = current;
    ::CloseServiceHandle(manager);
}

void tidyScratch()
{
    deleteScratchServices();
    deleteScratchKeys();
    dropScratchRestartWork();
    std::error_code error;
    fs::remove_all(scratchFolder(), error);
}

} // namespace

bool behaves(Behaviour behaviour)
{
    static const bool wine = underWine();
    for (const auto& [which, deviation] : wineDeviations) {
        if (wine && which == behaviour) {
            MESSAGE("left out under Wine: " << std::string(deviation));
            return false;
        }
    }
    return true;
}

bool freshMachine(const std::string& profile, bool administrator)
{
    if (!profile.empty()) {
        MESSAGE("skipped on Windows: profile \"" << profile << "\" is a machine of the emulated backend only");
        return false;
    }
    if (platform::processes().isAdmin() != administrator) {
        MESSAGE("skipped on Windows: the user " << (administrator ? "is no" : "is an") << " administrator");
        return false;
    }
    // What the cases leave goes before each case, and when the program ends (the folder's
    // name is made first, so that it outlives the tidying at the end).
    scratchFolder();
    static const struct AtExit {
        ~AtExit() { tidyScratch(); }
    } atExit;
    tidyScratch();
    ++caseNumber();
    REQUIRE(platform::files().createDirectory(scratch()) == ERROR_SUCCESS);
    return true;
}

std::string scratchService(int index)
{
    return "WinstepsContract" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(caseNumber()) + "-"
        + std::to_string(index);
}

std::string scratch()
{
    return scratchFolder().u8string();
}

} // namespace contract

#define DOCTEST_CONFIG_IMPLEMENT
#define DOCTEST_CONFIG_IMPLEMENT_WITH_MAIN
#include <doctest/doctest.h>
