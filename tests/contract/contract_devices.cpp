// The device tree and the drives as the setup, configuration-manager and volume calls give
// them: whatever the machine holds, its nodes hang together, answer their status and
// properties, and its volumes lead to the drives mounted from them.

#include "contract.h"

#include "platform/devices.h"
#include "platform/drives.h"

#include <algorithm>

using namespace winsteps::platform;
using namespace contract;

namespace {

std::vector<std::string> listed(const GUID* classGuid, const std::string& enumerator, std::uint32_t flags)
{
    std::vector<std::string> ids{"stale"};
    REQUIRE(devices().classDevices(classGuid, enumerator, flags, &ids) == ERROR_SUCCESS);
    return ids;
}

bool startsWith(const std::string& text, const std::string& prefix)
{
    return folded(text.substr(0, prefix.size())) == folded(prefix);
}

} // namespace

TEST_CASE("every present node is found again, answers its status and hangs below a node")
{
    CONTRACT_MACHINE();
    const bool tree = behaves(Behaviour::DeviceTree);
    std::string root;
    if (tree) {
        REQUIRE(devices().locateDevNode("", CM_LOCATE_DEVNODE_NORMAL, &root) == CR_SUCCESS);
        CHECK(devices().parent("", nullptr) == CR_NO_SUCH_DEVNODE);
    }
    for (const std::string& id : listed(nullptr, "", DIGCF_PRESENT)) {
        CAPTURE(id);
        std::string found;
        CHECK(devices().locateDevNode(folded(id), CM_LOCATE_DEVNODE_NORMAL, &found) == CR_SUCCESS);
        CHECK(found == id);
        std::uint32_t status = 0, problem = 0xFFFF;
        REQUIRE(devices().devNodeStatus(id, &status, &problem) == CR_SUCCESS);
        CHECK(((status & DN_HAS_PROBLEM) != 0) == (problem != 0));
        std::vector<std::string> hardwareIds;
        const CONFIGRET listedIds = devices().listProperty(id, CM_DRP_HARDWAREID, &hardwareIds);
        CHECK((listedIds == CR_SUCCESS || listedIds == CR_NO_SUCH_VALUE));
        CHECK((listedIds != CR_SUCCESS || !hardwareIds.empty()));
        if (!tree || id == root)
            continue;
        std::string parentId;
        REQUIRE(devices().parent(id, &parentId) == CR_SUCCESS);
        std::vector<std::string> siblings;
        CHECK(devices().children(parentId, &siblings) == CR_SUCCESS);
        CHECK(std::count(siblings.begin(), siblings.end(), id) == 1);
    }
}

TEST_CASE("a class, an enumerator and the flags narrow the list")
{
    CONTRACT_MACHINE();
    for (const std::string& id : listed(&GUID_DEVCLASS_NET, "", DIGCF_PRESENT)) {
        CAPTURE(id);
        std::string classGuid;
        REQUIRE(devices().textProperty(id, CM_DRP_CLASSGUID, &classGuid) == CR_SUCCESS);
        CHECK(folded(classGuid) == folded(guidText(GUID_DEVCLASS_NET)));
    }
    for (const char* enumerator : {"ROOT", "pci", "USB"}) {
        for (const std::string& id : listed(nullptr, enumerator, DIGCF_PRESENT)) {
            CAPTURE(id);
            CHECK(startsWith(id, std::string(enumerator) + "\\"));
        }
    }
    CHECK(listed(nullptr, "WINSTEPSNOENUMERATOR", DIGCF_PRESENT).empty());
    CHECK(listed(nullptr, "", DIGCF_PRESENT).size() <= listed(nullptr, "", DIGCF_ALLCLASSES).size());
    std::vector<std::string> untouched{"kept"};
    CHECK(devices().classDevices(nullptr, "", DIGCF_DEVICEINTERFACE, &untouched) == ERROR_INVALID_FLAGS);
    CHECK(untouched == std::vector<std::string>{"kept"});
}

TEST_CASE("a node that is not there, and questions a node cannot answer")
{
    CONTRACT_MACHINE();
    const std::string missing = "ROOT\\WINSTEPS_CONTRACT\\0000";
    CHECK(devices().locateDevNode(missing, CM_LOCATE_DEVNODE_PHANTOM, nullptr) == CR_NO_SUCH_DEVNODE);
    std::uint32_t status = 7, problem = 7;
    CHECK(devices().devNodeStatus(missing, &status, &problem) == CR_NO_SUCH_DEVNODE);
    CHECK((status == 7 && problem == 7));
    std::string text = "kept";
    CHECK(devices().textProperty(missing, CM_DRP_DEVICEDESC, &text) == CR_NO_SUCH_DEVNODE);
    CHECK(text == "kept");
    const std::vector<std::string> ids = listed(nullptr, "", DIGCF_PRESENT);
    if (ids.empty())
        return;
    CHECK(devices().textProperty(ids.front(), CM_DRP_HARDWAREID, &text) == CR_INVALID_PROPERTY);
    std::vector<std::string> list;
    CHECK(devices().listProperty(ids.front(), CM_DRP_DEVICEDESC, &list) == CR_INVALID_PROPERTY);
}

TEST_CASE("the drives: their roots, types, volumes and media")
{
    CONTRACT_MACHINE();
    std::vector<std::string> roots;
    REQUIRE(drives().logicalDriveStrings(&roots) == ERROR_SUCCESS);
    REQUIRE(std::find(roots.begin(), roots.end(), "C:\\") != roots.end());
    CHECK(std::is_sorted(roots.begin(), roots.end()));
    for (const std::string& root : roots) {
        CAPTURE(root);
        CHECK((root.size() == 3 && root[0] >= 'A' && root[0] <= 'Z' && root.substr(1) == ":\\"));
        CHECK(drives().driveType(root) >= DRIVE_REMOVABLE);
    }
    CHECK(drives().driveType("c:") == DRIVE_FIXED);
    bool media = false;
    CHECK(drives().mediaPresent("C:\\", &media) == ERROR_SUCCESS);
    CHECK(media);
    std::string volume;
    REQUIRE(drives().volumeNameForMountPoint("C:\\", &volume) == ERROR_SUCCESS);
    CHECK(startsWith(volume, "\\\\?\\Volume{"));
    CHECK(volume.back() == '\\');
    std::string untouched = "kept";
    CHECK(drives().volumeNameForMountPoint("C:", &untouched) == ERROR_INVALID_PARAMETER);
    CHECK(untouched == "kept");
    // A letter no drive has.
    for (char letter = 'Z'; letter > 'C'; --letter) {
        const std::string root = std::string(1, letter) + ":\\";
        if (std::find(roots.begin(), roots.end(), root) != roots.end())
            continue;
        CHECK(drives().driveType(root) == DRIVE_NO_ROOT_DIR);
        CHECK(drives().volumeNameForMountPoint(root, &untouched) != ERROR_SUCCESS);
        CHECK(drives().mediaPresent(root, &media) != ERROR_SUCCESS);
        CHECK(untouched == "kept");
        break;
    }
}

TEST_CASE("a volume interface leads to its node and to the volume of a drive")
{
    CONTRACT_MACHINE();
    if (!behaves(Behaviour::VolumeInterfaces))
        return;
    std::vector<DeviceInterface> volumes;
    REQUIRE(devices().deviceInterfaces(GUID_DEVINTERFACE_VOLUME, DIGCF_PRESENT, &volumes) == ERROR_SUCCESS);
    std::string systemVolume;
    REQUIRE(drives().volumeNameForMountPoint("C:\\", &systemVolume) == ERROR_SUCCESS);
    int drivesFound = 0;
    for (const DeviceInterface& item : volumes) {
        CAPTURE(item.devicePath);
        CHECK(startsWith(item.devicePath, "\\\\?\\"));
        CHECK(devices().locateDevNode(item.instanceId, CM_LOCATE_DEVNODE_NORMAL, nullptr) == CR_SUCCESS);
        std::string volume;
        if (drives().volumeNameForMountPoint(item.devicePath + "\\", &volume) == ERROR_SUCCESS)
            drivesFound += volume == systemVolume ? 1 : 0;
    }
    CHECK(drivesFound == 1);
}
