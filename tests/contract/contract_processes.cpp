// Processes as Windows runs them: command lines built and split, starting, exit codes,
// waiting, ending, handle rights, the process list and user names.

#include "contract.h"

#include "platform/process.h"

using namespace winsteps::platform;
using namespace contract;

namespace {

const std::string child = CONTRACT_CHILD;

ProcessHandlePtr start(const std::vector<std::string>& arguments, const std::vector<std::string>* environment = nullptr)
{
    ProcessHandlePtr process;
    REQUIRE(processes().createProcess(buildCommandLine(child, arguments), environment, &process) == ERROR_SUCCESS);
    REQUIRE(process);
    return process;
}

std::uint32_t exitCodeOf(ProcessHandle& process)
{
    std::uint32_t code = 0xDEAD;
    CHECK(process.getExitCode(&code) == ERROR_SUCCESS);
    return code;
}

// The list's entry of the process, or an entry without a name.
ProcessEntry listEntry(std::uint32_t processId)
{
    std::vector<ProcessEntry> list;
    REQUIRE(processes().enumProcesses(&list) == ERROR_SUCCESS);
    for (const ProcessEntry& entry : list) {
        if (entry.processId == processId)
            return entry;
    }
    return ProcessEntry{};
}

// Ends the process at scope exit, should the case stop before it does.
struct Ender {
    ProcessHandlePtr handle;
    ~Ender()
    {
        if (handle && handle->terminate(1) == ERROR_SUCCESS)
            handle->wait(INFINITE);
    }
};

std::string fileName(const std::string& path)
{
    return path.substr(path.find_last_of("/\\") + 1);
}

} // namespace

TEST_CASE("a command line splits into the arguments a Windows program gets")
{
    struct Row {
        const char* line;
        std::vector<std::string> argv;
    };
    const Row rows[] = {
        {"prog a  b\tc", {"prog", "a", "b", "c"}},
        {"\"C:\\Program Files\\x.exe\" a", {"C:\\Program Files\\x.exe", "a"}},
        {"C:\\dir\\x.exe\\ \"a b\"", {"C:\\dir\\x.exe\\", "a b"}},
        {"\"C:\\dir\\\" a", {"C:\\dir\\", "a"}}, // no escapes in the program's name
        {"p a\\\\b a\\\"b a\\\\\\\"b", {"p", "a\\\\b", "a\"b", "a\\\"b"}},
        {"p \"a\\\\\" b", {"p", "a\\", "b"}},
        {"p \"\" x", {"p", "", "x"}},
        {"p a\"b c\"d", {"p", "ab cd"}},
        {"p \"a\"\"b\" c", {"p", "a\"b c"}}, // a doubled quote ends the quoted part
        {"p \"a\"\"\"b c\"", {"p", "a\"b c"}}, // a tripled one stays inside
    };
    for (const Row& row : rows) {
        CAPTURE(row.line);
        CHECK(commandLineToArgv(row.line) == row.argv);
    }
}

TEST_CASE("a command line quotes only a program path with blanks, and splits back")
{
    struct Row {
        const char* program;
        std::vector<std::string> arguments;
        const char* line;
        std::vector<std::string> argv;
    };
    const Row rows[] = {
        {"C:\\Program Files\\x.exe", {"/s", "\"a b\""}, "\"C:\\Program Files\\x.exe\" /s \"a b\"",
         {"C:\\Program Files\\x.exe", "/s", "a b"}},
        {"\"C:\\Program Files\\x.exe\"", {}, "\"C:\\Program Files\\x.exe\"", {"C:\\Program Files\\x.exe"}},
        {"C:\\x.exe", {"a", "b\\"}, "C:\\x.exe a b\\", {"C:\\x.exe", "a", "b\\"}},
    };
    for (const Row& row : rows) {
        CAPTURE(row.program);
        const std::string line = buildCommandLine(row.program, row.arguments);
        CHECK(line == row.line);
        CHECK(commandLineToArgv(line) == row.argv);
    }
}

TEST_CASE("a program's exit code comes back with all its 32 bits once it has ended")
{
    CONTRACT_MACHINE();
    const bool whole = behaves(Behaviour::WholeExitCodes);
    for (const std::uint32_t code : {0u, 1u, 7u, 255u, 70000u}) {
        CAPTURE(code);
        ProcessHandlePtr process = start({"exit", std::to_string(code)});
        CHECK(process->wait(INFINITE) == WAIT_OBJECT_0);
        if (code <= 255 || whole)
            CHECK(exitCodeOf(*process) == code);
    }
}

TEST_CASE("a running process is listed, waited for with a time-out, and ended with the code given")
{
    CONTRACT_MACHINE();
    ProcessHandlePtr process = start({"sleep", "60000"});
    Ender ender{process->duplicate()};
    const std::uint32_t id = process->processId();
    CHECK(exitCodeOf(*process) == STILL_ACTIVE);
    CHECK(process->wait(0) == WAIT_TIMEOUT);
    CHECK(process->wait(50) == WAIT_TIMEOUT);
    CHECK(folded(listEntry(id).exeFile) == folded(fileName(child)));

    // Another handle holds only the rights asked for.
    ProcessHandlePtr query, synchronize;
    REQUIRE(processes().openProcess(PROCESS_QUERY_INFORMATION, id, &query) == ERROR_SUCCESS);
    REQUIRE(processes().openProcess(PROCESS_SYNCHRONIZE, id, &synchronize) == ERROR_SUCCESS);
    CHECK(query->processId() == id);
    CHECK(exitCodeOf(*query) == STILL_ACTIVE);
    CHECK(query->wait(0) == WAIT_FAILED);
    CHECK(query->terminate(1) == ERROR_ACCESS_DENIED);
    std::uint32_t code = 0;
    CHECK(synchronize->getExitCode(&code) == ERROR_ACCESS_DENIED);
    CHECK(synchronize->wait(0) == WAIT_TIMEOUT);

    ProcessHandlePtr copy = process->duplicate();
    CHECK(process->terminate(42) == ERROR_SUCCESS);
    CHECK(process->wait(10000) == WAIT_OBJECT_0);
    CHECK(exitCodeOf(*process) == 42);
    if (behaves(Behaviour::EndedProcessStaysEnded))
        CHECK(process->terminate(43) == ERROR_ACCESS_DENIED);
    // The process object lives on while any handle is open.
    process.reset();
    CHECK(copy->wait(0) == WAIT_OBJECT_0);
    CHECK(exitCodeOf(*copy) == 42);
    CHECK(synchronize->wait(INFINITE) == WAIT_OBJECT_0);
    CHECK(exitCodeOf(*query) == 42);
    ProcessHandlePtr again;
    CHECK(processes().openProcess(PROCESS_QUERY_INFORMATION, id, &again) == ERROR_SUCCESS);

    // With its last handle the ended process goes.
    for (ProcessHandlePtr* handle : {&again, &copy, &query, &synchronize, &ender.handle})
        handle->reset();
    CHECK(listEntry(id).exeFile.empty());
    if (behaves(Behaviour::EndedProcessGoesWithHandles))
        CHECK(processes().openProcess(PROCESS_QUERY_INFORMATION, id, &again) == ERROR_INVALID_PARAMETER);
    CHECK(processes().openProcess(PROCESS_QUERY_INFORMATION, 0, &again) == ERROR_INVALID_PARAMETER);
}

TEST_CASE("a program gets its arguments and the environment it is given")
{
    CONTRACT_MACHINE();
    const std::string report = scratch() + "\\report.txt";
    const std::string local = files().localFilePath(report);
    const std::vector<std::string> arguments = {"plain", "\"two words\"", "back\\slash", "quote\\\"d", "\"end\\\\\""};
    const std::string expected = "plain\ntwo words\nback\\slash\nquote\"d\nend\\\n";

    std::vector<std::string> line = {"report", '"' + local + '"'};
    line.insert(line.end(), arguments.begin(), arguments.end());
    const std::vector<std::string> environment = {"CONTRACT_VALUE=given value"};
    ProcessHandlePtr process = start(line, &environment);
    REQUIRE(process->wait(10000) == WAIT_OBJECT_0);
    CHECK(exitCodeOf(*process) == 0);
    CHECK(readFile(report) == std::make_pair(ERROR_SUCCESS, expected + "given value\n"));
}

TEST_CASE("a program that cannot be started says why")
{
    // A file that is no program is refused with ERROR_BAD_EXE_FORMAT, not as a file the
    // caller may not run.
    CONTRACT_MACHINE();
    REQUIRE(writeFile(scratch() + "\\text.exe", "just text") == ERROR_SUCCESS);
    struct Row {
        const char* program;
        std::uint32_t code;
        bool holds; // false: this system is known to answer otherwise (see behaves())
    };
    const Row rows[] = {
        {"\\missing.exe", ERROR_FILE_NOT_FOUND, true},
        {"\\text.exe", ERROR_BAD_EXE_FORMAT, true},
        {"\\missing\\x.exe", ERROR_PATH_NOT_FOUND, behaves(Behaviour::MissingFolderIsPathNotFound)},
    };
    for (const Row& row : rows) {
        CAPTURE(row.program);
        ProcessHandlePtr process;
        const std::uint32_t code = processes().createProcess(buildCommandLine(scratch() + row.program, {}), nullptr,
                                                             &process);
        if (row.holds)
            CHECK(code == row.code);
        CHECK(!process);
    }
}

TEST_CASE("a user name splits into user and domain")
{
    struct Row {
        const char* name;
        std::uint32_t code;
        const char* user;
        const char* domain;
    };
    const Row rows[] = {
        {"OFFICE\\anna", ERROR_SUCCESS, "anna", "OFFICE"},
        {"anna@office.example", ERROR_SUCCESS, "anna@office.example", ""},
        {"anna", ERROR_INVALID_ACCOUNT_NAME, "", ""},
    };
    const bool parsing = behaves(Behaviour::UserNameParsing);
    for (const Row& row : rows) {
        CAPTURE(row.name);
        if (!parsing && row.domain[0] == '\0')
            continue; // the rows without a domain are the ones that behaviour decides
        UserNameBuffer user;
        DomainBuffer domain;
        CHECK(processes().parseUserName(row.name, &user, &domain) == row.code);
        if (row.code == ERROR_SUCCESS) {
            CHECK(std::string(user.c_str()) == row.user);
            CHECK(std::string(domain.c_str()) == row.domain);
        }
    }
}
