// The registry as Windows keeps it: value types and sizes, names without regard to case, the
// too-small buffer, rights, delete rules, enumeration order and the WOW64 views.

#include "contract.h"

#include <iterator>
#include <map>

using namespace winsteps::platform;
using namespace contract;

namespace {

// The names of the sub-keys, or of the values, of key in the order they enumerate.
std::vector<std::string> names(HKEY key, bool values)
{
    std::vector<std::string> list;
    std::string name;
    for (std::uint32_t i = 0; (values ? registry().regEnumValue(key, i, &name, nullptr, nullptr)
                                      : registry().regEnumKeyEx(key, i, &name)) == ERROR_SUCCESS; ++i)
        list.push_back(name);
    return list;
}

std::uint32_t setValue(HKEY key, const std::string& name, std::uint32_t type, const std::vector<std::uint8_t>& data)
{
    return registry().regSetValueEx(key, name, type, data.data(), std::uint32_t(data.size()));
}

std::uint32_t openCode(HKEY root, const std::string& path, REGSAM sam)
{
    Key key;
    return registry().regOpenKeyEx(root, path, sam, key.out());
}

} // namespace

TEST_CASE("every value type keeps its type and bytes, and sizes count UTF-8 bytes with the NULs")
{
    CONTRACT_MACHINE();
    struct Row {
        const char* name;
        std::uint32_t type;
        std::vector<std::uint8_t> data;
    };
    const Row rows[] = {
        {"text", REG_SZ, bytes("text\0", 5)},
        {"non-ASCII text", REG_SZ, bytes("gr\xC3\xBC\xC3\x9F" "e\0", 8)},
        {"unexpanded", REG_EXPAND_SZ, bytes("%SystemRoot%\\x\0", 15)},
        {"list", REG_MULTI_SZ, bytes("a\0bc\0\0", 6)},
        {"number", REG_DWORD, {0x78, 0x56, 0x34, 0x12}},
        {"big number", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 0x80}},
        {"bytes with NULs", REG_BINARY, {0, 0xFF, 0, 7}},
        {"no bytes", REG_BINARY, {}},
        {"nothing", REG_NONE, {}},
    };
    Key key = createKey(HKEY_CURRENT_USER, scratchKey);
    for (const Row& row : rows)
        REQUIRE(setValue(key.get(), row.name, row.type, row.data) == ERROR_SUCCESS);
    // Enumeration hands out the same (its order is a case of its own), into buffers that still
    // hold the entry before.
    std::map<std::string, std::pair<std::uint32_t, std::vector<std::uint8_t>>> listed;
    std::string name;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    for (std::uint32_t i = 0; registry().regEnumValue(key.get(), i, &name, &type, &data) == ERROR_SUCCESS; ++i)
        listed[name] = {type, data};
    CHECK(listed.size() == std::size(rows));
    for (const Row& row : rows) {
        CAPTURE(row.name);
        std::uint32_t size = 12345;
        CHECK(registry().regQueryValueEx(key.get(), row.name, nullptr, nullptr, &size) == ERROR_SUCCESS);
        CHECK(size == row.data.size());
        const Value value = queryValue(key.get(), row.name);
        CHECK(value.code == ERROR_SUCCESS);
        CHECK(value.type == row.type);
        CHECK(value.data == row.data);
        CHECK(listed[row.name] == std::make_pair(row.type, row.data));
    }
}

TEST_CASE("a buffer too small gets ERROR_MORE_DATA and the size needed")
{
    CONTRACT_MACHINE();
    Key key = createKey(HKEY_CURRENT_USER, scratchKey);
    REQUIRE(setValue(key.get(), "text", REG_SZ, bytes("hello\0", 6)) == ERROR_SUCCESS);
    REQUIRE(setValue(key.get(), "number", REG_DWORD, {1, 0, 0, 0}) == ERROR_SUCCESS);
    struct Row {
        const char* name;
        std::uint32_t buffer, code, size;
    };
    for (const Row& row : {Row{"text", 0, ERROR_MORE_DATA, 6}, Row{"text", 5, ERROR_MORE_DATA, 6},
                           Row{"text", 6, ERROR_SUCCESS, 6}, Row{"text", 64, ERROR_SUCCESS, 6},
                           Row{"number", 3, ERROR_MORE_DATA, 4}, Row{"number", 4, ERROR_SUCCESS, 4}}) {
        CAPTURE(row.name);
        CAPTURE(row.buffer);
        std::vector<std::uint8_t> buffer(64, 0xAA);
        std::uint32_t size = row.buffer;
        std::uint32_t type = 99;
        CHECK(registry().regQueryValueEx(key.get(), row.name, &type, buffer.data(), &size) == row.code);
        CHECK(size == row.size);
        if (row.code == ERROR_SUCCESS)
            CHECK(buffer[0] == (type == REG_SZ ? 'h' : 1));
    }
}

TEST_CASE("key and value names compare without regard to case and keep the case they were made with")
{
    CONTRACT_MACHINE();
    const std::string path = scratchKey + "\\MixedCase\\\xC3\x84pfel"; // "Äpfel"
    std::uint32_t disposition = 0;
    Key made;
    REQUIRE(registry().regCreateKeyEx(HKEY_CURRENT_USER, path, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, made.out(),
                                      &disposition) == ERROR_SUCCESS);
    CHECK(disposition == REG_CREATED_NEW_KEY);
    Key again;
    const std::string otherCase = "SOFTWARE\\winstepscontract\\MIXEDCASE\\\xC3\xA4PFEL"; // "äPFEL"
    REQUIRE(registry().regCreateKeyEx(HKEY_CURRENT_USER, otherCase, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                      again.out(), &disposition) == ERROR_SUCCESS);
    CHECK(disposition == REG_OPENED_EXISTING_KEY);
    CHECK(names(createKey(HKEY_CURRENT_USER, scratchKey).get(), false) == std::vector<std::string>{"MixedCase"});

    REQUIRE(setValue(made.get(), "ValueName", REG_SZ, bytes("one\0", 4)) == ERROR_SUCCESS);
    REQUIRE(setValue(again.get(), "VALUENAME", REG_SZ, bytes("two\0", 4)) == ERROR_SUCCESS);
    CHECK(names(made.get(), true) == std::vector<std::string>{"ValueName"});
    CHECK(stringValue(made.get(), "valuename") == "two");
    CHECK(registry().regDeleteValue(made.get(), "vALUEnAME") == ERROR_SUCCESS);
    CHECK(names(made.get(), true).empty());
}

TEST_CASE("sub-keys enumerate sorted without regard to case, values in the order first set")
{
    CONTRACT_MACHINE();
    Key key = createKey(HKEY_CURRENT_USER, scratchKey);
    for (const char* name : {"beta", "Alpha", "with/slash", "gamma", "ALPHA2", "Delta"})
        createKey(key.get(), name); // "/" is a character of a key's name
    CHECK(names(key.get(), false) == std::vector<std::string>{"Alpha", "ALPHA2", "beta", "Delta", "gamma", "with/slash"});
    for (const char* name : {"zeta", "Alpha", "mid", "ALPHA"})
        REQUIRE(setValue(key.get(), name, REG_DWORD, {1, 0, 0, 0}) == ERROR_SUCCESS);
    const bool inOrderSet = behaves(Behaviour::ValuesEnumerateInOrderSet);
    if (inOrderSet)
        CHECK(names(key.get(), true) == std::vector<std::string>{"zeta", "Alpha", "mid"});
    REQUIRE(registry().regDeleteValue(key.get(), "zeta") == ERROR_SUCCESS);
    if (inOrderSet)
        CHECK(names(key.get(), true) == std::vector<std::string>{"Alpha", "mid"});

    std::string name;
    CHECK(registry().regEnumKeyEx(key.get(), 6, &name) == ERROR_NO_MORE_ITEMS);
    CHECK(registry().regEnumValue(key.get(), 2, &name, nullptr, nullptr) == ERROR_NO_MORE_ITEMS);
    CHECK(registry().regEnumKeyEx(key.get(), 0, nullptr) == ERROR_INVALID_PARAMETER);
}

TEST_CASE("what may be deleted, and the codes for what is missing")
{
    CONTRACT_MACHINE();
    const std::string parent = scratchKey + "\\Parent";
    Key child = createKey(HKEY_CURRENT_USER, parent + "\\Child");
    Key key = createKey(HKEY_CURRENT_USER, parent);

    // NT deletes one key at a time.
    CHECK(registry().regDeleteKeyEx(HKEY_CURRENT_USER, parent, 0) == ERROR_ACCESS_DENIED);
    CHECK(openCode(HKEY_CURRENT_USER, parent + "\\Child", KEY_READ) == ERROR_SUCCESS);
    CHECK(registry().regDeleteKeyEx(key.get(), "Child", 0) == ERROR_SUCCESS);
    // A handle to a deleted key answers that it is gone.
    CHECK(registry().regSetValueEx(child.get(), "x", REG_NONE, nullptr, 0) == ERROR_KEY_DELETED);
    CHECK(queryValue(child.get(), "x").code == ERROR_KEY_DELETED);
    CHECK(registry().regDeleteKeyEx(HKEY_CURRENT_USER, parent, 0) == ERROR_SUCCESS);

    struct Row {
        const char* subKey;
        std::uint32_t code;
    };
    Key base = createKey(HKEY_CURRENT_USER, scratchKey);
    for (const Row& row : {Row{"Parent", ERROR_FILE_NOT_FOUND}, Row{"No\\Such\\Key", ERROR_FILE_NOT_FOUND},
                           Row{"\\Parent", ERROR_BAD_PATHNAME}}) {
        CAPTURE(row.subKey);
        CHECK(registry().regDeleteKeyEx(base.get(), row.subKey, 0) == row.code);
        CHECK(openCode(base.get(), row.subKey, KEY_READ) == row.code);
    }

    // The default value (the empty name) exists only once it is set.
    CHECK(queryValue(base.get(), "").code == ERROR_FILE_NOT_FOUND);
    CHECK(registry().regDeleteValue(base.get(), "") == ERROR_FILE_NOT_FOUND);
    REQUIRE(setValue(base.get(), "", REG_SZ, bytes("default\0", 8)) == ERROR_SUCCESS);
    CHECK(stringValue(base.get(), "") == "default");
    CHECK(registry().regDeleteValue(base.get(), "") == ERROR_SUCCESS);
    CHECK(queryValue(base.get(), "").code == ERROR_FILE_NOT_FOUND);
    CHECK(registry().regDeleteValue(base.get(), "never set") == ERROR_FILE_NOT_FOUND);

    // Closing: a root key always succeeds, a handle only once.
    CHECK(registry().regCloseKey(HKEY_LOCAL_MACHINE) == ERROR_SUCCESS);
    const HKEY handle = base.release();
    CHECK(registry().regCloseKey(handle) == ERROR_SUCCESS);
    CHECK(registry().regCloseKey(handle) == ERROR_INVALID_HANDLE);
}

TEST_CASE("the 9x family deletes a key with all its sub-keys")
{
    CONTRACT_MACHINE("win98");
    createKey(HKEY_CURRENT_USER, scratchKey + "\\Parent\\Child\\Grandchild");
    CHECK(registry().regDeleteKeyEx(HKEY_CURRENT_USER, scratchKey + "\\Parent", 0) == ERROR_SUCCESS);
    CHECK(openCode(HKEY_CURRENT_USER, scratchKey + "\\Parent", KEY_READ) == ERROR_FILE_NOT_FOUND);
}

TEST_CASE("a handle does only what its rights allow")
{
    CONTRACT_MACHINE();
    createKey(HKEY_CURRENT_USER, scratchKey + "\\Sub");
    struct Row {
        REGSAM sam;
        std::uint32_t query, set, enumerate;
    };
    REQUIRE(setValue(createKey(HKEY_CURRENT_USER, scratchKey).get(), "v", REG_DWORD, {1, 0, 0, 0}) == ERROR_SUCCESS);
    for (const Row& row : {Row{KEY_READ, ERROR_SUCCESS, ERROR_ACCESS_DENIED, ERROR_SUCCESS},
                           Row{KEY_QUERY_VALUE, ERROR_SUCCESS, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
                           Row{KEY_SET_VALUE, ERROR_ACCESS_DENIED, ERROR_SUCCESS, ERROR_ACCESS_DENIED},
                           Row{KEY_ALL_ACCESS, ERROR_SUCCESS, ERROR_SUCCESS, ERROR_SUCCESS}}) {
        CAPTURE(row.sam);
        Key key;
        REQUIRE(registry().regOpenKeyEx(HKEY_CURRENT_USER, scratchKey, row.sam, key.out()) == ERROR_SUCCESS);
        CHECK(queryValue(key.get(), "v").code == row.query);
        CHECK(setValue(key.get(), "v", REG_DWORD, {2, 0, 0, 0}) == row.set);
        std::string name;
        CHECK(registry().regEnumKeyEx(key.get(), 0, &name) == row.enumerate);
    }
}

TEST_CASE("a user who is no administrator may only read the machine's keys")
{
    CONTRACT_MACHINE("winxp-sp2", false);
    const char* key = SESSION_MANAGER_KEY;
    CHECK(openCode(HKEY_LOCAL_MACHINE, key, KEY_READ) == ERROR_SUCCESS);
    CHECK(openCode(HKEY_LOCAL_MACHINE, key, KEY_SET_VALUE) == ERROR_ACCESS_DENIED);
    CHECK(openCode(HKEY_LOCAL_MACHINE, key, KEY_ALL_ACCESS) == ERROR_ACCESS_DENIED);
    Key created;
    CHECK(registry().regCreateKeyEx(HKEY_LOCAL_MACHINE, std::string(key) + "\\WinstepsContract", REG_OPTION_NON_VOLATILE,
                                    KEY_ALL_ACCESS, created.out(), nullptr) == ERROR_ACCESS_DENIED);
    // The most a user may have is reading.
    Key most;
    REQUIRE(registry().regOpenKeyEx(HKEY_LOCAL_MACHINE, key, MAXIMUM_ALLOWED, most.out()) == ERROR_SUCCESS);
    CHECK(queryValue(most.get(), "never set").code == ERROR_FILE_NOT_FOUND);
    CHECK(setValue(most.get(), "x", REG_DWORD, {1, 0, 0, 0}) == ERROR_ACCESS_DENIED);
    // The user's own keys stay writable.
    createKey(HKEY_CURRENT_USER, scratchKey);
}

TEST_CASE("a 32-bit program on 64-bit Windows sees the 32-bit software keys unless it asks for the other view")
{
    CONTRACT_MACHINE("vista-x64");
    const std::string currentVersion = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
    struct View {
        REGSAM sam;
        const char* programFiles;
    };
    for (const View& view : {View{0, "C:\\Program Files (x86)"}, View{KEY_WOW64_32KEY, "C:\\Program Files (x86)"},
                             View{KEY_WOW64_64KEY, "C:\\Program Files"}}) {
        CAPTURE(view.sam);
        Key key;
        REQUIRE(registry().regOpenKeyEx(HKEY_LOCAL_MACHINE, currentVersion, KEY_READ | view.sam, key.out())
                == ERROR_SUCCESS);
        CHECK(folded(stringValue(key.get(), "ProgramFilesDir")) == folded(view.programFiles));
    }

    const std::string& ours = scratchKey;
    createKey(HKEY_LOCAL_MACHINE, ours);
    CHECK(openCode(HKEY_LOCAL_MACHINE, ours, KEY_READ | KEY_WOW64_32KEY) == ERROR_SUCCESS);
    CHECK(openCode(HKEY_LOCAL_MACHINE, ours, KEY_READ | KEY_WOW64_64KEY) == ERROR_FILE_NOT_FOUND);
    CHECK(openCode(HKEY_LOCAL_MACHINE, "SOFTWARE\\Wow6432Node\\WinstepsContract", KEY_READ | KEY_WOW64_64KEY)
          == ERROR_SUCCESS);
    // Each view deletes its own key.
    createKey(HKEY_LOCAL_MACHINE, ours, KEY_ALL_ACCESS | KEY_WOW64_64KEY);
    CHECK(registry().regDeleteKeyEx(HKEY_LOCAL_MACHINE, ours, KEY_WOW64_64KEY) == ERROR_SUCCESS);
    CHECK(registry().regDeleteKeyEx(HKEY_LOCAL_MACHINE, ours, KEY_WOW64_64KEY) == ERROR_FILE_NOT_FOUND);
    CHECK(openCode(HKEY_LOCAL_MACHINE, ours, KEY_READ) == ERROR_SUCCESS);
    // The user's keys have one view only.
    createKey(HKEY_CURRENT_USER, scratchKey, KEY_ALL_ACCESS | KEY_WOW64_64KEY);
    CHECK(openCode(HKEY_CURRENT_USER, scratchKey, KEY_READ | KEY_WOW64_32KEY) == ERROR_SUCCESS);
}

TEST_CASE("a 32-bit Windows ignores the view flags")
{
    CONTRACT_MACHINE("winxp-sp2");
    createKey(HKEY_LOCAL_MACHINE, scratchKey, KEY_ALL_ACCESS | KEY_WOW64_32KEY);
    CHECK(openCode(HKEY_LOCAL_MACHINE, scratchKey, KEY_READ | KEY_WOW64_64KEY) == ERROR_SUCCESS);
    CHECK(openCode(HKEY_LOCAL_MACHINE, "SOFTWARE\\Wow6432Node", KEY_READ) == ERROR_FILE_NOT_FOUND);
}
