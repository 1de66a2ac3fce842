// Driver packages as the setup calls give them: an INF staged as oemN.inf once however often
// it is staged, a malformed or missing INF refused, nodes that do not exist refused. Binding
// a driver changes a device of the machine, so that case runs on a machine of a profile only
// (the emulated backend): a package for the first network adapter's hardware id.

#include "contract.h"

#include "platform/devices.h"
#include "platform/driverpackages.h"

#include <algorithm>

using namespace winsteps::platform;
using namespace contract;

namespace {

std::string package(const std::string& hardwareId)
{
    return "; a test package\r\n[Version]\r\nSignature = \"$Windows NT$\"\r\nClass = Net\r\n"
           "ClassGuid = {4D36E972-E325-11CE-BFC1-08002BE10318}\r\nProvider = %Maker%\r\n"
           "DriverVer = 01/02/2006,1.0.0.0\r\n\r\n[Manufacturer]\r\n%Maker% = Models, NTx86, NTamd64\r\n\r\n"
           "[Models.NTx86]\r\n%Desc% = Inst, " + hardwareId + "\r\n[Models.NTamd64]\r\n%Desc% = Inst, " + hardwareId
        + "\r\n\r\n[Inst.NT]\r\n\r\n[Strings]\r\nMaker = \"Winsteps Contract\"\r\nDesc = \"Winsteps contract adapter\"\r\n";
}

} // namespace

TEST_CASE("an INF is staged once as oemN.inf; malformed and missing ones, and missing nodes, are refused")
{
    if (!freshMachine())
        return;
    const std::string inf = scratch() + "\\contract.inf";
    REQUIRE(writeFile(inf, package("WINSTEPS\\CONTRACT_DEVICE")) == ERROR_SUCCESS);
    std::string first, again, found;
    const bool oemNames = behaves(Behaviour::OemInfNames);
    if (oemNames)
        CHECK(driverPackages().copyOemInf(inf, scratch(), SP_COPY_OEMINF_CATALOG_ONLY, &found) == ERROR_FILE_NOT_FOUND);
    REQUIRE(driverPackages().copyOemInf(inf, scratch(), 0, &first) == ERROR_SUCCESS);
    CHECK(driverPackages().copyOemInf(inf, scratch(), 0, &again) == ERROR_SUCCESS);
    CHECK(folded(again) == folded(first));
    if (oemNames) {
        CHECK(folded(first).rfind("oem", 0) == 0);
        CHECK(driverPackages().copyOemInf(inf, "", SP_COPY_OEMINF_CATALOG_ONLY, &found) == ERROR_SUCCESS);
        CHECK(folded(found) == folded(first));
        std::vector<std::string> staged;
        CHECK(driverPackages().oemInfs(&staged) == ERROR_SUCCESS);
        CHECK(std::find(staged.begin(), staged.end(), folded(first)) != staged.end());
    }

    const std::string bad = scratch() + "\\bad.inf";
    REQUIRE(writeFile(bad, "[Version]\r\nSignature = \"$Windows 3.1$\"\r\n") == ERROR_SUCCESS);
    CHECK(driverPackages().copyOemInf(bad, scratch(), 0, nullptr) != ERROR_SUCCESS);
    CHECK(driverPackages().copyOemInf(scratch() + "\\none.inf", scratch(), 0, nullptr) == ERROR_FILE_NOT_FOUND);
    // A node that does not exist gets no driver and cannot be removed.
    CHECK(driverPackages().installOnNode("WINSTEPS\\NO_SUCH_DEVICE\\0", "", nullptr) == ERROR_NO_SUCH_DEVINST);
    CHECK(driverPackages().removeNode("WINSTEPS\\NO_SUCH_DEVICE\\0", nullptr) == ERROR_NO_SUCH_DEVINST);
}

TEST_CASE("a staged package binds its driver to the network adapter it has a model for")
{
    if (!freshMachine("winxp-sp2"))
        return;
    std::vector<std::string> adapters, ids;
    REQUIRE(devices().classDevices(&GUID_DEVCLASS_NET, "", DIGCF_PRESENT, &adapters) == ERROR_SUCCESS);
    REQUIRE(!adapters.empty());
    REQUIRE(devices().listProperty(adapters.front(), CM_DRP_HARDWAREID, &ids) == CR_SUCCESS);
    REQUIRE(!ids.empty());
    const std::string inf = scratch() + "\\adapter.inf";
    REQUIRE(writeFile(inf, package(ids.front())) == ERROR_SUCCESS);
    REQUIRE(driverPackages().installOnNode(adapters.front(), inf, nullptr) == ERROR_SUCCESS);
    std::uint32_t status = 0, problem = 1;
    std::string key, description;
    CHECK(devices().devNodeStatus(adapters.front(), &status, &problem) == CR_SUCCESS);
    CHECK(problem == 0);
    CHECK((status & DN_STARTED) != 0);
    CHECK(devices().textProperty(adapters.front(), CM_DRP_DRIVER, &key) == CR_SUCCESS);
    CHECK(folded(key).rfind("{4d36e972-e325-11ce-bfc1-08002be10318}\\", 0) == 0);
    CHECK(devices().textProperty(adapters.front(), CM_DRP_DEVICEDESC, &description) == CR_SUCCESS);
    CHECK(description == "Winsteps contract adapter");
    // Nothing in the package fits this id: the adapter is left as it is.
    REQUIRE(writeFile(inf, package("WINSTEPS\\OTHER")) == ERROR_SUCCESS);
    CHECK(driverPackages().installOnNode(adapters.front(), inf, nullptr) == ERROR_NO_COMPAT_DRIVERS);
    CHECK(devices().devNodeStatus(adapters.front(), &status, &problem) == CR_SUCCESS);
    CHECK(problem == 0);
}
