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

TEST_CASE("-p stages a valid INF and refuses a malformed or missing one; -r and -i of no device do nothing")
{
    if (!freshMachine())
        return;
    const std::string folder = '"' + scratch() + '"', good = scratch() + "\\devprep.inf", bad = scratch() + "\\bad.inf";
    REQUIRE(writeFile(good, validInf) == ERROR_SUCCESS);
    REQUIRE(writeFile(bad, "[Version]\r\nSignature = \"$Windows 3.1$\"\r\n") == ERROR_SUCCESS);
    struct Row {
        std::vector<std::string> arguments;
        int code;
        std::string output; // empty: not checked
    };
    const Row rows[] = {
        {{"-p", folder, '"' + good + '"'}, DevprepDone, "pre-install " + good + ": done\n"}, // quotes dropped
        {{"-P", folder, good}, DevprepDone, "pre-install " + good + ": done\n"}, // staged again under its first name
        {{"-p", folder, bad}, DevprepPreInstallFailed, "pre-install " + bad + ": DMDEV error 9\n"},
        {{"-p", folder, scratch() + "\\none.inf"}, DevprepPreInstallFailed, ""},
        {{"-r", "ROOT", "WINSTEPS\\NO_SUCH_DEVICE"}, DevprepDone, "0 matching device(s)\n"},
        {{"-r", "net", "WINSTEPS\\NO_SUCH_DEVICE", "WINSTEPS\\NOR_THIS"}, DevprepDone, "0 matching device(s)\n"},
        {{"-i", folder, "net", "WINSTEPS\\NO_SUCH_DEVICE"}, DevprepDone, "0 matching device(s)\n"},
    };
    for (const Row& row : rows) {
        CAPTURE(row.arguments.back());
        std::string output;
        CHECK(devprep(row.arguments, &output) == row.code);
        if (!row.output.empty())
            CHECK(output == row.output);
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
