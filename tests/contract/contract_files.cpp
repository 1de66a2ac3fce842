// Files as Windows keeps them: folders and listings, attributes, reading and writing, names
// without regard to case, deleting, renaming at once and at the next restart.

#include "contract.h"

using namespace winsteps::platform;
using namespace contract;

namespace {

std::vector<std::string> listed(const std::string& directory)
{
    std::vector<FindData> entries;
    REQUIRE(files().findFiles(directory, &entries) == ERROR_SUCCESS);
    std::vector<std::string> names;
    for (const FindData& entry : entries)
        names.push_back(entry.name);
    return names;
}

// (error code, attributes)
std::pair<std::uint32_t, std::uint32_t> attributesOf(const std::string& path)
{
    std::uint32_t attributes = 0;
    const std::uint32_t code = files().getFileAttributes(path, &attributes);
    return {code, attributes};
}

// The pending renames and removals as (source, target) pairs, lower case.
std::vector<std::pair<std::string, std::string>> pendingOperations()
{
    Key key;
    if (registry().regOpenKeyEx(HKEY_LOCAL_MACHINE, SESSION_MANAGER_KEY, KEY_READ, key.out()) != ERROR_SUCCESS)
        return {};
    const Value value = queryValue(key.get(), PENDING_FILE_RENAME_OPERATIONS);
    if (value.code != ERROR_SUCCESS)
        return {};
    CHECK(value.type == REG_MULTI_SZ);
    std::vector<std::string> strings;
    std::string current;
    for (const std::uint8_t byte : value.data) {
        if (byte == 0) {
            strings.push_back(folded(current));
            current.clear();
        } else {
            current += char(byte);
        }
    }
    std::vector<std::pair<std::string, std::string>> pairs;
    for (std::size_t i = 0; i + 1 < strings.size(); i += 2)
        pairs.emplace_back(strings[i], strings[i + 1]);
    return pairs;
}

} // namespace

TEST_CASE("folders are made one at a time, and listed with their entries' attributes and sizes")
{
    CONTRACT_MACHINE();
    const std::string s = scratch();
    REQUIRE(files().createDirectory(s + "\\sub") == ERROR_SUCCESS);
    REQUIRE(writeFile(s + "\\b.txt", "bb") == ERROR_SUCCESS);
    REQUIRE(writeFile(s + "\\A.txt", "a") == ERROR_SUCCESS);

    struct Made {
        const char* path;
        std::uint32_t code;
    };
    for (const Made& row : {Made{"\\sub", ERROR_ALREADY_EXISTS}, Made{"\\SUB", ERROR_ALREADY_EXISTS},
                            Made{"\\b.txt", ERROR_ALREADY_EXISTS}, Made{"\\no\\such", ERROR_PATH_NOT_FOUND}}) {
        CAPTURE(row.path);
        CHECK(files().createDirectory(s + row.path) == row.code);
    }

    std::vector<FindData> entries;
    REQUIRE(files().findFiles(s, &entries) == ERROR_SUCCESS);
    REQUIRE(entries.size() == 3);
    const char* names[] = {"A.txt", "b.txt", "sub"};
    const std::uint64_t sizes[] = {1, 2, 0};
    for (std::size_t i = 0; i < entries.size(); ++i) {
        CAPTURE(i);
        CHECK(entries[i].name == names[i]);
        CHECK(entries[i].size == sizes[i]);
        CHECK((entries[i].attributes & FILE_ATTRIBUTE_DIRECTORY) == (i == 2 ? FILE_ATTRIBUTE_DIRECTORY : 0));
        CHECK(attributesOf(s + "\\" + names[i]) == std::make_pair(ERROR_SUCCESS, entries[i].attributes));
    }
    CHECK(listed(s + "\\sub").empty());
    CHECK((attributesOf(s + "\\A.txt").second & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) == 0);

    struct Missing {
        const char* path;
        std::uint32_t attributes, listing; // the codes of both calls
    };
    for (const Missing& row : {Missing{"\\gone.txt", ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND},
                               Missing{"\\gone\\x.txt", ERROR_PATH_NOT_FOUND, ERROR_PATH_NOT_FOUND},
                               Missing{"\\A.txt", ERROR_SUCCESS, ERROR_DIRECTORY}}) {
        CAPTURE(row.path);
        CHECK(attributesOf(s + row.path).first == row.attributes);
        CHECK(files().findFiles(s + row.path, &entries) == row.listing);
    }
    // The machine has no drive Q:.
    if (behaves(Behaviour::MissingDriveIsPathNotFound))
        CHECK(files().createDirectory("Q:\\WinstepsContract") == ERROR_PATH_NOT_FOUND);
}

TEST_CASE("a name reaches its file however its case and separators are written")
{
    CONTRACT_MACHINE();
    const std::string s = scratch();
    REQUIRE(files().createDirectory(s + "\\Sub") == ERROR_SUCCESS);
    REQUIRE(writeFile(s + "\\Sub\\MixedCase.txt", "first") == ERROR_SUCCESS);
    std::string slashes = s + "/Sub/MixedCase.txt";
    for (char& c : slashes)
        c = c == '\\' ? '/' : c;
    // The last name also loses its trailing dots and blanks: "name.txt." is "name.txt".
    for (const std::string& spelling :
         {folded(s) + "\\sub\\mixedcase.txt", s + "\\SUB\\MIXEDCASE.TXT", slashes, s + "\\Sub\\..\\Sub\\.\\MixedCase.txt",
          s + "\\Sub\\MixedCase.txt.", s + "\\Sub\\MixedCase.txt ", s + "\\Sub\\MixedCase.txt. ."}) {
        CAPTURE(spelling);
        CHECK(readFile(spelling) == std::make_pair(ERROR_SUCCESS, std::string("first")));
    }
    // Writing through another case rewrites the file, which keeps its name.
    REQUIRE(writeFile(s + "\\SUB\\mixedCASE.TXT", "second") == ERROR_SUCCESS);
    CHECK(listed(s + "\\sub") == std::vector<std::string>{"MixedCase.txt"});
    CHECK(readFile(s + "\\Sub\\MixedCase.txt").second == "second");
    // A new file has no attributes of its own, whatever its name begins with.
    REQUIRE(writeFile(s + "\\.settings", "x") == ERROR_SUCCESS);
    CHECK((attributesOf(s + "\\.settings").second & FILE_ATTRIBUTE_HIDDEN) == 0);
}

TEST_CASE("files are written whole, emptied when made again, and read to their end")
{
    CONTRACT_MACHINE();
    const std::string file = scratch() + "\\data.bin";
    const std::string data("zero\0one\0", 9);
    REQUIRE(writeFile(file, "longer content that goes") == ERROR_SUCCESS);
    REQUIRE(writeFile(file, data) == ERROR_SUCCESS);
    for (const std::uint32_t chunk : {1u, 4u, 9u, 100u}) {
        CAPTURE(chunk);
        CHECK(readFile(file, chunk) == std::make_pair(ERROR_SUCCESS, data));
    }
    struct Row {
        const char* path;
        std::uint32_t read, write; // the codes of opening to read and of making
    };
    for (const Row& row : {Row{"", ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
                           Row{"\\missing.txt", ERROR_FILE_NOT_FOUND, ERROR_SUCCESS},
                           Row{"\\missing\\x.txt", ERROR_PATH_NOT_FOUND, ERROR_PATH_NOT_FOUND}}) {
        CAPTURE(row.path);
        FileHandlePtr handle;
        CHECK(files().createFile(scratch() + row.path, GENERIC_READ, OPEN_EXISTING, &handle) == row.read);
        CHECK(files().createFile(scratch() + row.path, GENERIC_WRITE, CREATE_ALWAYS, &handle) == row.write);
    }
}

TEST_CASE("only files are deleted")
{
    CONTRACT_MACHINE();
    const std::string s = scratch();
    REQUIRE(writeFile(s + "\\file.txt", "x") == ERROR_SUCCESS);
    REQUIRE(files().createDirectory(s + "\\folder") == ERROR_SUCCESS);
    struct Row {
        const char* path;
        std::uint32_t code;
    };
    for (const Row& row : {Row{"\\FILE.txt", ERROR_SUCCESS}, Row{"\\file.txt", ERROR_FILE_NOT_FOUND},
                           Row{"\\folder", ERROR_ACCESS_DENIED}, Row{"\\none\\file.txt", ERROR_PATH_NOT_FOUND}}) {
        CAPTURE(row.path);
        CHECK(files().deleteFile(s + row.path) == row.code);
    }
    CHECK(listed(s) == std::vector<std::string>{"folder"});
}

TEST_CASE("a rename at once replaces a target only when asked to, and may change only the case")
{
    CONTRACT_MACHINE();
    const std::string s = scratch();
    REQUIRE(writeFile(s + "\\a.txt", "a") == ERROR_SUCCESS);
    REQUIRE(writeFile(s + "\\b.txt", "b") == ERROR_SUCCESS);
    REQUIRE(files().createDirectory(s + "\\dir") == ERROR_SUCCESS);
    struct Row {
        const char* from;
        const char* to;
        std::uint32_t flags, code;
    };
    const Row rows[] = {
        {"\\a.txt", "\\b.txt", 0, ERROR_ALREADY_EXISTS},
        {"\\a.txt", "\\b.txt", MOVEFILE_REPLACE_EXISTING, ERROR_SUCCESS},
        {"\\a.txt", "\\c.txt", 0, ERROR_FILE_NOT_FOUND},
        {"\\b.txt", "\\dir\\moved.txt", 0, ERROR_SUCCESS},
        // The same file under another spelling: renamed, not refused as already there.
        {"\\dir\\moved.txt", "\\dir\\MOVED.TXT", 0, ERROR_SUCCESS},
        {"\\dir", "\\folder", 0, ERROR_SUCCESS},
    };
    for (const Row& row : rows) {
        CAPTURE(row.from);
        CAPTURE(row.to);
        const std::string target = s + row.to;
        CHECK(files().moveFileEx(s + row.from, &target, row.flags) == row.code);
    }
    CHECK(listed(s) == std::vector<std::string>{"folder"});
    if (behaves(Behaviour::RenameChangesCase))
        CHECK(listed(s + "\\folder") == std::vector<std::string>{"MOVED.TXT"});
    CHECK(readFile(s + "\\folder\\moved.txt").second == "a");
    if (behaves(Behaviour::MoveNeedsTarget))
        CHECK(files().moveFileEx(s + "\\folder\\moved.txt", nullptr, 0) == ERROR_INVALID_PARAMETER);
}

TEST_CASE("renames and removals at the next restart are recorded in order, the files left alone")
{
    CONTRACT_MACHINE();
    const std::string s = scratch();
    for (const char* name : {"\\old.txt", "\\b.txt", "\\gone.txt"})
        REQUIRE(writeFile(s + name, "x") == ERROR_SUCCESS);
    const std::string renamed = s + "\\new.txt";
    const std::string replaced = s + "\\c.txt";
    CHECK(files().moveFileEx(s + "\\old.txt", &renamed, MOVEFILE_DELAY_UNTIL_REBOOT) == ERROR_SUCCESS);
    CHECK(files().moveFileEx(s + "\\b.txt", &replaced, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING)
          == ERROR_SUCCESS);
    CHECK(files().moveFileEx(s + "\\gone.txt", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) == ERROR_SUCCESS);

    const std::string native = "\\??\\" + folded(s);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {native + "\\old.txt", native + "\\new.txt"},
        {native + "\\b.txt", "!" + native + "\\c.txt"},
        {native + "\\gone.txt", ""},
    };
    CHECK(pendingOperations() == expected);
    CHECK(listed(s) == std::vector<std::string>{"b.txt", "gone.txt", "old.txt"});
}

TEST_CASE("only an administrator may leave work for the next restart")
{
    CONTRACT_MACHINE("winxp-sp2", false);
    REQUIRE(writeFile(scratch() + "\\file.txt", "x") == ERROR_SUCCESS);
    CHECK(files().moveFileEx(scratch() + "\\file.txt", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) == ERROR_ACCESS_DENIED);
    CHECK(pendingOperations().empty());
}
