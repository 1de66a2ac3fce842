// The system queries as Windows answers them: version records, WOW64, the administrator,
// the program and user, the system folders and shell folders, the environment and COM.

#include "contract.h"

#include "platform/process.h"
#include "platform/system.h"

#include <thread>

using namespace winsteps::platform;
using namespace contract;

namespace {

std::string variable(const std::string& name)
{
    std::string value;
    return system().getEnvironmentVariable(name, &value) == ERROR_SUCCESS ? value : "(unset)";
}

std::string folder(int id)
{
    std::string path;
    return system().getFolderPath(id, &path) == S_OK ? path : "(failed)";
}

} // namespace

TEST_CASE("the version records of each family")
{
    struct Row {
        const char* profile;
        std::uint32_t platformId, major, minor, build;
        const char* servicePack;
        std::uint16_t servicePackMajor;
        std::uint8_t productType;
    };
    const Row rows[] = {
        // The 9x family repeats major and minor version in the build's high word.
        {"win98", VER_PLATFORM_WIN32_WINDOWS, 4, 10, 0x040A07CE, " ", 0, 0},
        {"winxp-sp2", VER_PLATFORM_WIN32_NT, 5, 1, 2600, "Service Pack 2", 2, VER_NT_WORKSTATION},
        {"win2003", VER_PLATFORM_WIN32_NT, 5, 2, 3790, "Service Pack 1", 1, VER_NT_SERVER},
    };
    for (const Row& row : rows) {
        CAPTURE(row.profile);
        if (!freshMachine(row.profile))
            continue; // this system is not that machine
        for (const std::uint32_t size : {OSVERSIONINFOEX_SIZE, OSVERSIONINFO_SIZE}) {
            CAPTURE(size);
            OsVersionInfoEx info;
            info.size = size;
            const bool extended = size == OSVERSIONINFOEX_SIZE;
            // The 9x family has no extended record.
            if (extended && row.platformId != VER_PLATFORM_WIN32_NT) {
                CHECK(system().getVersionEx(&info) != ERROR_SUCCESS);
                continue;
            }
            REQUIRE(system().getVersionEx(&info) == ERROR_SUCCESS);
            CHECK(info.size == size);
            CHECK(info.platformId == row.platformId);
            CHECK(info.majorVersion == row.major);
            CHECK(info.minorVersion == row.minor);
            CHECK(info.buildNumber == row.build);
            CHECK(info.servicePack == row.servicePack);
            // The basic record ends with the service pack's text.
            CHECK(info.servicePackMajor == (extended ? row.servicePackMajor : 0));
            CHECK(info.productType == (extended ? row.productType : 0));
        }
        OsVersionInfoEx info;
        info.size = OSVERSIONINFO_SIZE - 1;
        CHECK(system().getVersionEx(&info) == ERROR_INSUFFICIENT_BUFFER);
    }
}

TEST_CASE("a 32-bit program under WOW64 is told so and shown the 32-bit program folder")
{
    struct Row {
        const char* profile;
        std::uint32_t code; // IsWow64Process came with XP SP2
        bool wow64;
    };
    for (const Row& row : {Row{"win2000", ERROR_PROC_NOT_FOUND, false}, Row{"winxp-sp2", ERROR_SUCCESS, false},
                           Row{"vista-x64", ERROR_SUCCESS, true}}) {
        CAPTURE(row.profile);
        if (!freshMachine(row.profile))
            continue; // this system is not that machine
        bool wow64 = false;
        CHECK(system().isWow64Process(&wow64) == row.code);
        CHECK(wow64 == row.wow64);
        // The program folder agrees wherever it is asked for.
        const std::string programFiles = folder(csidl::PROGRAM_FILES);
        CHECK(folded(variable("ProgramFiles")) == folded(programFiles));
        Key key;
        REQUIRE(registry().regOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", KEY_READ,
                                        key.out()) == ERROR_SUCCESS);
        CHECK(folded(stringValue(key.get(), "ProgramFilesDir")) == folded(programFiles));
        const bool x86 = programFiles.size() > 6 && programFiles.compare(programFiles.size() - 6, 6, " (x86)") == 0;
        CHECK(x86 == row.wow64);
    }
}

TEST_CASE("the system folders agree with the shell folders, the variables, and the disk; the program knows its file")
{
    CONTRACT_MACHINE();
    std::string windows, systemDir, drive;
    REQUIRE(system().getWindowsDirectory(&windows) == ERROR_SUCCESS);
    REQUIRE(system().getSystemDirectory(&systemDir) == ERROR_SUCCESS);
    REQUIRE(system().getSystemDrive(&drive) == ERROR_SUCCESS);
    CHECK(drive == systemDir.substr(0, 2));
    CHECK(windows.back() != '\\');
    CHECK(folded(systemDir).rfind(folded(windows) + "\\", 0) == 0);
    CHECK(folded(folder(csidl::WINDOWS)) == folded(windows));
    CHECK(folded(folder(csidl::SYSTEM)) == folded(systemDir));
    CHECK(folded(variable("SYSTEMROOT")) == folded(windows));
    CHECK(folded(variable("windir")) == folded(windows));
    CHECK(folded(variable("systemdrive")) == folded(drive));

    std::string user;
    REQUIRE(system().getUserName(&user) == ERROR_SUCCESS);
    CHECK(!user.empty());
    CHECK(folded(variable("UserName")) == folded(user));

    CHECK(system().shellFolderApiAvailable());
    for (const int id : {csidl::WINDOWS, csidl::SYSTEM, csidl::PROGRAM_FILES, csidl::APPDATA, csidl::COMMON_APPDATA,
                         csidl::PERSONAL, csidl::DESKTOPDIRECTORY, csidl::FONTS, csidl::PROGRAMS}) {
        CAPTURE(id);
        std::uint32_t attributes = 0;
        CHECK(files().getFileAttributes(folder(id | csidl::FLAG_CREATE), &attributes) == ERROR_SUCCESS);
        CHECK((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
    }
    std::string path;
    CHECK(system().getFolderPath(0x7E, &path) == E_INVALIDARG);
    REQUIRE(system().getModuleFileName(&path) == ERROR_SUCCESS);
    CHECK(folded(path.substr(path.find_last_of("/\\") + 1)).rfind("contract_system", 0) == 0);
}

TEST_CASE("environment variables are named without regard to case")
{
    CONTRACT_MACHINE();
    const std::string one = "1", two = "two words";
    CHECK(variable("Contract_Variable") == "(unset)");
    REQUIRE(system().setEnvironmentVariable("Contract_Variable", &one) == ERROR_SUCCESS);
    CHECK(variable("CONTRACT_VARIABLE") == "1");
    REQUIRE(system().setEnvironmentVariable("contract_variable", &two) == ERROR_SUCCESS);
    CHECK(variable("Contract_Variable") == "two words");
    std::size_t listed = 0;
    for (const auto& [name, value] : system().environmentStrings()) {
        if (folded(name) == "contract_variable") {
            ++listed;
            CHECK(value == "two words");
        }
    }
    CHECK(listed == 1);

    REQUIRE(system().setEnvironmentVariable("CONTRACT_variable", nullptr) == ERROR_SUCCESS);
    std::string value;
    CHECK(system().getEnvironmentVariable("Contract_Variable", &value) == ERROR_ENVVAR_NOT_FOUND);
    for (const auto& entry : system().environmentStrings())
        CHECK(folded(entry.first) != "contract_variable");
}

TEST_CASE("both administrator tests tell whether the user is one")
{
    for (const bool administrator : {true, false}) {
        CAPTURE(administrator);
        if (!freshMachine("", administrator))
            continue;
        CHECK(processes().isAdmin() == administrator);
        CHECK(system().isUserAnAdmin() == administrator);
    }
}

TEST_CASE("COM starts once per thread, its security once per process")
{
    CONTRACT_MACHINE();
    HRESULT early = S_OK;
    std::thread([&early] {
        early = system().coInitializeSecurity(RPC_C_AUTHN_DEFAULT, RPC_C_AUTHN_LEVEL_PKT, RPC_C_IMP_LEVEL_IMPERSONATE,
                                              EOAC_NONE);
    }).join();
    const bool securityRules = behaves(Behaviour::ComSecurityRules);
    if (securityRules)
        CHECK(early == CO_E_NOTINITIALIZED);

    CHECK(system().coInitialize() == S_OK);
    CHECK(system().coInitialize() == S_FALSE);
    HRESULT other = E_FAIL;
    std::thread([&other] {
        other = system().coInitialize();
        system().coUninitialize();
    }).join();
    CHECK(other == S_OK);
    CHECK(system().coInitializeSecurity(RPC_C_AUTHN_DEFAULT, RPC_C_AUTHN_LEVEL_PKT, RPC_C_IMP_LEVEL_IMPERSONATE, EOAC_NONE)
          == S_OK);
    if (securityRules)
        CHECK(system().coInitializeSecurity(RPC_C_AUTHN_DEFAULT, RPC_C_AUTHN_LEVEL_PKT, RPC_C_IMP_LEVEL_IMPERSONATE,
                                            EOAC_NONE) == RPC_E_TOO_LATE);
    system().coUninitialize();
    system().coUninitialize();
    // Balanced: the thread starts afresh.
    CHECK(system().coInitialize() == S_OK);
    system().coUninitialize();
}
