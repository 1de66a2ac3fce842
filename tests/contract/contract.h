#pragma once

// What every contract test program shares: the machine a case runs on, and small readers and
// writers built on the platform interface alone. Plain C++: the same sources run against
// each backend; only backend_*.cpp knows how a machine is had.

#include "platform/files.h"
#include "platform/registry.h"
#include "platform/system.h"

#include <doctest/doctest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace contract {

namespace platform = winsteps::platform;

// Makes this process's machine a fresh one of the given built-in profile ("winxp-sp2",
// "vista-x64", "win98", ...; empty: any machine), run by an administrator or not, with an
// empty scratch folder and no scratch key. False when this system cannot be that machine:
// the case is then skipped.
bool freshMachine(const std::string& profile = std::string(), bool administrator = true);

// The scratch folder of the current machine (a Windows path without a trailing separator).
std::string scratch();

// Behaviours of Windows that the system a backend runs on is known to get wrong (Wine, where
// the Windows backend runs in CI), or cannot have (the emulated machine, whose programs are
// programs of its host). Checks of such a behaviour run only where it holds.
enum class Behaviour {
    ValuesEnumerateInOrderSet,    // RegEnumValue: in the order the values were first set
    ComSecurityRules,             // CoInitializeSecurity: refused before COM, and once done
    MissingDriveIsPathNotFound,   // a drive that does not exist: ERROR_PATH_NOT_FOUND
    MoveNeedsTarget,              // MoveFileEx without a target or the restart flag: refused
    RenameChangesCase,            // a rename to another case of the name takes that case
    EndedProcessStaysEnded,       // TerminateProcess of an ended process: refused
    EndedProcessGoesWithHandles,  // OpenProcess of an ended process whose handles are closed
    MissingFolderIsPathNotFound,  // CreateProcess of a program in a missing folder
    UserNameParsing,              // CredUIParseUserName: a UPN stays whole, a bare name is refused
    WholeExitCodes,               // a program's exit code keeps all 32 bits
    MarkedServiceRefusesOpen,     // OpenService of a service marked for deletion: refused
    ServiceDatabaseLockOnce,      // LockServiceDatabase: one lock at a time, released once
    FailedStartLeavesNoTrace,     // a StartService that failed does not hold up later ones
    MarkedServiceGoesWithHandles, // a service marked for deletion goes with its last handle
    MissingServerIsModNotFound,   // CoCreateInstance of a class whose server file is missing
    VersionlessImageIsTypeNotFound, // an image with resources but no version: ERROR_RESOURCE_TYPE_NOT_FOUND
    CutImageIsRefused,            // an image cut short inside its version resource: ERROR_BAD_EXE_FORMAT
    FirewallListCalls,            // the firewall's authorised list: Item, Add and Remove do their work
    ConnectionSharing,            // the connection-sharing manager (HNetCfg.HNetShare) can be created
    VolumeInterfaces,             // SetupDi lists the volumes' device interfaces
    DeviceTree,                   // the configuration manager knows the root and each node's parent
    OemInfNames,                  // SetupCopyOEMInf: stored as oemN.inf; a look-up alone copies nothing
};

// True when this system behaves as Windows does in that respect; otherwise prints why the
// checks of it are left out and answers false.
bool behaves(Behaviour behaviour);

// The key below HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE that cases may fill.
inline const std::string scratchKey = "Software\\WinstepsContract";

// The name of the index-th service (0 to 3) that the current case may create: a name no
// earlier case used, so that a service another case deleted cannot be in the way.
std::string scratchService(int index = 0);

// Lower case of ASCII letters, for comparing names and paths without regard to case.
inline std::string folded(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return text;
}

// COM started for the case's thread, and ended with the case (release every object first).
class ComStarted {
public:
    ComStarted() { REQUIRE(platform::SUCCEEDED(platform::system().coInitialize())); }
    ~ComStarted() { platform::system().coUninitialize(); }
};

// The bytes of a literal with NULs: bytes("a\0b\0", 4).
inline std::vector<std::uint8_t> bytes(const char* text, std::size_t size)
{
    return {text, text + size};
}

// An open handle (a registry key, a service), closed with closeHandle when it goes.
template <std::uint32_t (*closeHandle)(std::uintptr_t)>
class Closing {
public:
    Closing() = default;
    Closing(Closing&& other) noexcept : m_handle(std::exchange(other.m_handle, 0)) {}
    ~Closing() { close(); }
    std::uintptr_t get() const { return m_handle; }
    std::uintptr_t* out() { return &m_handle; }
    std::uintptr_t release() { return std::exchange(m_handle, 0); } // to close by hand
    std::uint32_t close() { return m_handle == 0 ? platform::ERROR_SUCCESS : closeHandle(release()); }

private:
    std::uintptr_t m_handle = 0;
};

inline std::uint32_t closeKey(platform::HKEY key)
{
    return platform::registry().regCloseKey(key);
}
using Key = Closing<closeKey>;

// A key created (or opened) below root, which the case needs: a failure ends it.
inline Key createKey(platform::HKEY root, const std::string& path, platform::REGSAM sam = platform::KEY_ALL_ACCESS)
{
    Key key;
    REQUIRE(platform::registry().regCreateKeyEx(root, path, platform::REG_OPTION_NON_VOLATILE, sam, key.out(), nullptr)
            == platform::ERROR_SUCCESS);
    return key;
}

// A value read the way callers read one: its size first, then its data.
struct Value {
    std::uint32_t code = 0;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
};

inline Value queryValue(platform::HKEY key, const std::string& name)
{
    Value value;
    std::uint32_t size = 0;
    value.code = platform::registry().regQueryValueEx(key, name, &value.type, nullptr, &size);
    if (value.code != platform::ERROR_SUCCESS)
        return value;
    value.data.resize(size);
    value.code = platform::registry().regQueryValueEx(key, name, &value.type, value.data.data(), &size);
    value.data.resize(size);
    return value;
}

// The text of a string value without its closing NUL; "" when it cannot be read.
inline std::string stringValue(platform::HKEY key, const std::string& name)
{
    const Value value = queryValue(key, name);
    if (value.code != platform::ERROR_SUCCESS)
        return std::string();
    std::string text(value.data.begin(), value.data.end());
    while (!text.empty() && text.back() == '\0')
        text.pop_back();
    return text;
}

// A whole file written (made or emptied first): the error code of the first call that fails.
inline std::uint32_t writeFile(const std::string& path, const std::string& content)
{
    platform::FileHandlePtr file;
    std::uint32_t code = platform::files().createFile(path, platform::GENERIC_WRITE, platform::CREATE_ALWAYS, &file);
    std::uint32_t done = 0;
    if (code == platform::ERROR_SUCCESS) {
        code = file->write(content.data(), std::uint32_t(content.size()), &done);
        if (code == platform::ERROR_SUCCESS)
            CHECK(done == content.size()); // a write succeeds whole
    }
    return code;
}

// A whole file read in pieces of chunk bytes: (error code, content).
inline std::pair<std::uint32_t, std::string> readFile(const std::string& path, std::uint32_t chunk = 4096)
{
    platform::FileHandlePtr file;
    std::uint32_t code = platform::files().createFile(path, platform::GENERIC_READ, platform::OPEN_EXISTING, &file);
    std::string content;
    std::vector<char> buffer(chunk);
    std::uint32_t done = 1;
    while (code == platform::ERROR_SUCCESS && done > 0) {
        code = file->read(buffer.data(), chunk, &done);
        content.append(buffer.data(), done);
    }
    return {code, content};
}

} // namespace contract

// Runs the case on a fresh machine as freshMachine() describes, or skips it with a note.
#define CONTRACT_MACHINE(...)                                                                    \
    do {                                                                                         \
        if (!contract::freshMachine(__VA_ARGS__)) {                                              \
            MESSAGE("skipped: this system is not the machine " #__VA_ARGS__);                    \
            return;                                                                              \
        }                                                                                        \
    } while (0)
