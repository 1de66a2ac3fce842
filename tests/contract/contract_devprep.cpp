// devprep run in-process over the backend: its command lines, exit codes and output lines.
// On Windows the built devprep.exe is also started once, for its exit code.

#include "contract.h"

#include "platform/devprep.h"
#include "platform/process.h"

#include <sstream>

using namespace winsteps::platform;
using namespace contract;

namespace {

const char validInf[] =
    "[Version]\r\nSignature = \"$Windows NT$\"\r\nClass = Net\r\n"
    "ClassGuid = {4D36E972-E325-11CE-BFC1-08002BE10318}\r\nProvider = %Maker%\r\nDriverVer = 01/02/2006,1.0.0.0\r\n"
    "[Manufacturer]\r\n%Maker% = Models, NTx86, NTamd64\r\n[Models.NTx86]\r\n%Desc% = Inst, WINSTEPS\\DEVPREP\r\n"
    "[Models.NTamd64]\r\n%Desc% = Inst, WINSTEPS\\DEVPREP\r\n[Inst.NT]\r\n"
    "[Strings]\r\nMaker = \"Winsteps Contract\"\r\nDesc = \"Winsteps devprep adapter\"\r\n";

int devprep(const std::vector<std::string>& arguments, std::string* output = nullptr)
{
    std::ostringstream out;
    const int code = runDevprep(arguments, out);
    if (output)
        *output = out.str();
    return code;
}

} // namespace

TEST_CASE("a wrong command line prints the usage and exits with 1")
{
    if (!freshMachine())
        return;
    const std::vector<std::vector<std::string>> wrong = {
        {}, {"-x"}, {"-p", "\"dir\""}, {"-p", "a", "b", "c"}, {"-i", "dir", "net"}, {"-r", "ROOT"}, {"p", "a", "b"},
    };
    for (const auto& arguments : wrong) {
        std::string output;
        CAPTURE(arguments.size());
        CHECK(devprep(arguments, &output) == DevprepUsage);
        CHECK(output.rfind("Usage: devprep -p", 0) == 0);
    }
}

TEST_CASE("-p stages a valid INF and refuses a malformed or missing one, with quotes dropped")
{
    if (!freshMachine())
        return;
    const std::string good = scratch() + "\\devprep.inf", bad = scratch() + "\\bad.inf";
    REQUIRE(writeFile(good, validInf) == ERROR_SUCCESS);
    REQUIRE(writeFile(bad, "[Version]\r\nSignature = \"$Windows 3.1$\"\r\n") == ERROR_SUCCESS);
    struct Row { const char* option; std::string inf; int code; std::string line; };
    const Row rows[] = {
        {"-p", '"' + good + '"', DevprepDone, "pre-install " + good + ": done\n"},
        {"-P", good, DevprepDone, "pre-install " + good + ": done\n"}, // staged again under its first name
        {"-p", bad, DevprepPreInstallFailed, "pre-install " + bad + ": DMDEV error 9\n"},
        {"-p", scratch() + "\\none.inf", DevprepPreInstallFailed, ""},
    };
    for (const Row& row : rows) {
        CAPTURE(row.inf);
        std::string output;
        CHECK(devprep({row.option, '"' + scratch() + '"', row.inf}, &output) == row.code);
        if (!row.line.empty())
            CHECK(output == row.line);
    }
}

TEST_CASE("-r and -i of ids that match no device do nothing and succeed")
{
    if (!freshMachine())
        return;
    const std::vector<std::vector<std::string>> none = {
        {"-r", "ROOT", "WINSTEPS\\NO_SUCH_DEVICE"},
        {"-r", "net", "WINSTEPS\\NO_SUCH_DEVICE", "WINSTEPS\\NOR_THIS"},
        {"-i", '"' + scratch() + '"', "net", "WINSTEPS\\NO_SUCH_DEVICE"},
    };
    for (const auto& arguments : none) {
        CAPTURE(arguments[1]);
        std::string output;
        CHECK(devprep(arguments, &output) == DevprepDone);
        CHECK(output == "0 matching device(s)\n");
    }
}

#ifdef CONTRACT_DEVPREP
TEST_CASE("devprep.exe without arguments exits with 1")
{
    ProcessHandlePtr process;
    REQUIRE(processes().createProcess(buildCommandLine(CONTRACT_DEVPREP, {}), nullptr, &process) == ERROR_SUCCESS);
    REQUIRE(process);
    CHECK(process->wait(INFINITE) == WAIT_OBJECT_0);
    std::uint32_t code = 0;
    CHECK(process->getExitCode(&code) == ERROR_SUCCESS);
    CHECK(code == DevprepUsage);
}
#endif
