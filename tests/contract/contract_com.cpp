// COM classes as Windows finds them: class texts, ProgIDs, and whether an object of a class
// can be created from its in-process server, in the process's registry view. The cases
// register classes of their own below HKEY_CLASSES_ROOT (removed before and after each case)
// with a server that serves any class: contract_comserver.dll on Windows, a component file
// on the emulated machine, which only asks that the server file exists.

#include "contract.h"

#include "platform/com.h"
#include "platform/system.h"

using namespace winsteps::platform;
using namespace contract;

namespace {

const std::string classA = "{5F0D1C2E-7A41-4B8E-9C3D-1E2F3A4B5C01}";
const std::string classB = "{5F0D1C2E-7A41-4B8E-9C3D-1E2F3A4B5C02}";
const std::string classC = "{5F0D1C2E-7A41-4B8E-9C3D-1E2F3A4B5C03}";
const std::string progId = "WinstepsContract.Com";
const std::string bareProgId = "WinstepsContract.NoClass"; // no CLSID key
const std::string badProgId = "WinstepsContract.BadClass"; // a CLSID value that is no class text

// Removes path below root with everything below it, in the view that view names.
void deleteTree(HKEY root, const std::string& path, REGSAM view)
{
    std::vector<std::string> children;
    {
        Key key;
        if (registry().regOpenKeyEx(root, path, KEY_READ | view, key.out()) != ERROR_SUCCESS)
            return;
        std::string name;
        for (std::uint32_t index = 0; registry().regEnumKeyEx(key.get(), index, &name) == ERROR_SUCCESS; ++index)
            children.push_back(name);
    }
    for (const std::string& child : children)
        deleteTree(root, path + "\\" + child, view);
    registry().regDeleteKeyEx(root, path, view);
}

// The cases' classes and ProgIDs, gone before the case and after it; COM started for the
// case's thread and ended with it (which unloads the servers).
class ComCase {
public:
    ComCase() { tidy(); }
    ~ComCase()
    {
        if (SUCCEEDED(m_started))
            system().coUninitialize();
        tidy();
    }
    HRESULT start() { return m_started = system().coInitialize(); }

private:
    static void tidy()
    {
        for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
            for (const std::string& clsid : {classA, classB, classC})
                deleteTree(HKEY_CLASSES_ROOT, "CLSID\\" + clsid, view);
            for (const std::string& name : {progId, bareProgId, badProgId})
                deleteTree(HKEY_CLASSES_ROOT, name, view);
        }
    }
    HRESULT m_started = E_FAIL;
};

void setString(const std::string& path, const std::string& value, std::uint32_t type = REG_SZ, REGSAM view = 0,
               const std::string& name = std::string())
{
    const Key key = createKey(HKEY_CLASSES_ROOT, path, KEY_ALL_ACCESS | view);
    REQUIRE(registry().regSetValueEx(key.get(), name, type, reinterpret_cast<const std::uint8_t*>(value.c_str()),
                                     std::uint32_t(value.size() + 1))
            == ERROR_SUCCESS);
}

// Registers clsid with server as its in-process server (REG_SZ or REG_EXPAND_SZ).
void registerClass(const std::string& clsid, const std::string& server, std::uint32_t type = REG_SZ, REGSAM view = 0)
{
    setString("CLSID\\" + clsid + "\\InprocServer32", server, type, view);
    setString("CLSID\\" + clsid + "\\InprocServer32", "Both", REG_SZ, view, "ThreadingModel");
}

// Copies the test server into the scratch folder: its path there.
std::string installServer()
{
    std::string source = CONTRACT_COM_SERVER;
    if (source.find_first_of("\\/") == std::string::npos) {
        // A bare name: the file beside this program.
        std::string program;
        REQUIRE(system().getModuleFileName(&program) == ERROR_SUCCESS);
        source = program.substr(0, program.find_last_of("\\/") + 1) + source;
    }
    const auto [code, bytes] = readFile(source);
    REQUIRE_MESSAGE(code == ERROR_SUCCESS, source);
    const std::string target = scratch() + "\\server.dll";
    REQUIRE(writeFile(target, bytes) == ERROR_SUCCESS);
    return target;
}

CLSID clsidOf(const std::string& text)
{
    CLSID clsid;
    REQUIRE(parseGuidText(text, &clsid));
    return clsid;
}

} // namespace

TEST_CASE("a class is named by its text, or by a ProgID whose CLSID key holds that text")
{
    CONTRACT_MACHINE();
    const ComCase tidy;
    setString(progId + "\\CLSID", classB);
    createKey(HKEY_CLASSES_ROOT, bareProgId);
    setString(badProgId + "\\CLSID", "not a class");
    const CLSID a{0x5F0D1C2E, 0x7A41, 0x4B8E, {0x9C, 0x3D, 0x1E, 0x2F, 0x3A, 0x4B, 0x5C, 0x01}};
    const CLSID b = clsidOf(classB);
    CHECK(guidText(a) == classA);
    struct Row {
        std::string text;
        HRESULT result;
        CLSID clsid;
        bool progId;
    };
    const Row rows[] = {
        {classA, S_OK, a, false},
        {"{5f0d1c2e-7a41-4b8e-9c3d-1e2f3a4b5c01}", S_OK, a, false}, // either case
        {"5F0D1C2E-7A41-4B8E-9C3D-1E2F3A4B5C01", CO_E_CLASSSTRING, {}, false},
        {"{5F0D1C2E-7A41-4B8E-9C3D-1E2F3A4B5C01", CO_E_CLASSSTRING, {}, false},
        {"{5F0D1C2E-7A41-4B8E-9C3D-1E2F3A4B5C01}x", CO_E_CLASSSTRING, {}, false},
        {"{5F0D1C2E-7A41-4B8E-9C3D-1E2F3A4B5CG1}", CO_E_CLASSSTRING, {}, false},
        {"{5F0D1C2E7-A41-4B8E-9C3D-1E2F3A4B5C01}", CO_E_CLASSSTRING, {}, false},
        {progId, S_OK, b, true},
        {"winstepscontract.COM", S_OK, b, true}, // names compare without regard to case
        {bareProgId, CO_E_CLASSSTRING, {}, true},
        {badProgId, CO_E_CLASSSTRING, {}, true},
        {"WinstepsContract.Unknown", CO_E_CLASSSTRING, {}, true},
    };
    for (const Row& row : rows) {
        CAPTURE(row.text);
        CLSID byText, byProgId;
        CHECK(com().clsidFromString(row.text, &byText) == row.result);
        CHECK(byText == row.clsid);
        CHECK(com().clsidFromProgID(row.text, &byProgId) == (row.progId ? row.result : CO_E_CLASSSTRING));
        CHECK(byProgId == (row.progId ? row.clsid : CLSID()));
    }
}

TEST_CASE("an object can be created when its class is registered and its server file exists")
{
    CONTRACT_MACHINE();
    ComCase started;
    // Not before the thread has started COM.
    CHECK(com().coCreateInstance(clsidOf(classA)) == CO_E_NOTINITIALIZED);
    REQUIRE(SUCCEEDED(started.start()));
    const std::string server = installServer();
    CHECK(com().coCreateInstance(clsidOf(classA)) == REGDB_E_CLASSNOTREG);
    // A class key without its server's key is not registered for this context.
    createKey(HKEY_CLASSES_ROOT, "CLSID\\" + classA);
    CHECK(com().coCreateInstance(clsidOf(classA)) == REGDB_E_CLASSNOTREG);
    registerClass(classA, server);
    CHECK(com().coCreateInstance(clsidOf(classA)) == S_OK);
    // A server file that is not there (where the system answers as Windows does; else a failure).
    const bool modNotFound = behaves(Behaviour::MissingServerIsModNotFound);
    const auto checkMissing = [&](const std::string& clsid) {
        const HRESULT result = com().coCreateInstance(clsidOf(clsid));
        CHECK(FAILED(result));
        if (modNotFound)
            CHECK(result == HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
    };
    registerClass(classB, scratch() + "\\missing.dll");
    checkMissing(classB);
    // An expandable server path is read with the process's environment.
    const std::string folder = scratch();
    REQUIRE(system().setEnvironmentVariable("WINSTEPS_CONTRACT_COM", &folder) == ERROR_SUCCESS);
    registerClass(classC, "%WINSTEPS_CONTRACT_COM%\\server.dll", REG_EXPAND_SZ);
    CHECK(com().coCreateInstance(clsidOf(classC)) == S_OK);
    registerClass(classC, "%WINSTEPS_CONTRACT_COM%\\server.dll", REG_SZ);
    checkMissing(classC);
    system().setEnvironmentVariable("WINSTEPS_CONTRACT_COM", nullptr);
}

TEST_CASE("a 32-bit program under WOW64 finds the classes of the 32-bit view and the shared ProgIDs")
{
    CONTRACT_MACHINE("vista-x64");
    ComCase started;
    REQUIRE(SUCCEEDED(started.start()));
    const std::string server = installServer();
    // Its own registrations land in the 32-bit view, where it finds them.
    registerClass(classA, server);
    CHECK(com().coCreateInstance(clsidOf(classA)) == S_OK);
    Key key;
    CHECK(registry().regOpenKeyEx(HKEY_CLASSES_ROOT, "Wow6432Node\\CLSID\\" + classA, KEY_READ | KEY_WOW64_64KEY,
                                  key.out())
          == ERROR_SUCCESS);
    CHECK(registry().regOpenKeyEx(HKEY_CLASSES_ROOT, "CLSID\\" + classA, KEY_READ | KEY_WOW64_64KEY, Key().out())
          == ERROR_FILE_NOT_FOUND);
    // A class of the 64-bit view only is not registered for it.
    registerClass(classB, server, REG_SZ, KEY_WOW64_64KEY);
    CHECK(com().coCreateInstance(clsidOf(classB)) == REGDB_E_CLASSNOTREG);
    // A ProgID is the same key in both views.
    setString(progId + "\\CLSID", classB, REG_SZ, KEY_WOW64_64KEY);
    CLSID clsid;
    CHECK(com().clsidFromProgID(progId, &clsid) == S_OK);
    CHECK(clsid == clsidOf(classB));
}
