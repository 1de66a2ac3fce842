// The firewall as its automation objects give it: the manager exists from Windows XP SP2 on,
// and its current profile's authorised list finds, adds and removes programs by path, without
// regard to case. The cases authorise programs of the scratch folder and remove them again.

#include "contract.h"

#include "platform/firewall.h"

using namespace winsteps::platform;
using namespace contract;

namespace {

const HRESULT notListed = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

// The authorised list of the current profile, which the case needs.
std::shared_ptr<FwAuthorizedApplications> authorizedList()
{
    std::shared_ptr<FwMgr> manager;
    std::shared_ptr<FwPolicy> policy;
    std::shared_ptr<FwProfile> profile;
    std::shared_ptr<FwAuthorizedApplications> list;
    REQUIRE(firewall().createManager(&manager) == S_OK);
    REQUIRE(manager->localPolicy(&policy) == S_OK);
    REQUIRE(policy->currentProfile(&profile) == S_OK);
    REQUIRE(profile->authorizedApplications(&list) == S_OK);
    return list;
}

// Item(path): (HRESULT, name, enabled).
struct Found {
    HRESULT result = E_FAIL;
    std::string path;
    std::string name;
    VARIANT_BOOL enabled = VARIANT_FALSE;
};

Found item(FwAuthorizedApplications& list, const std::string& path)
{
    Found found;
    std::shared_ptr<FwAuthorizedApplication> application;
    found.result = list.item(path, &application);
    if (found.result == S_OK) {
        CHECK(application->processImageFileName(&found.path) == S_OK);
        CHECK(application->name(&found.name) == S_OK);
        CHECK(application->enabled(&found.enabled) == S_OK);
    }
    return found;
}

} // namespace

TEST_CASE("the manager exists from Windows XP SP2 and Server 2003 SP1 on")
{
    const struct {
        const char* profile;
        HRESULT result;
    } rows[] = {
        {"win98", REGDB_E_CLASSNOTREG}, {"win2000", REGDB_E_CLASSNOTREG}, {"winxp-sp1", REGDB_E_CLASSNOTREG},
        {"winxp-sp2", S_OK},            {"win2003", S_OK},                {"vista-x64", S_OK},
    };
    for (const auto& row : rows) {
        CAPTURE(row.profile);
        if (!freshMachine(row.profile))
            continue; // not this system
        std::shared_ptr<FwMgr> manager;
        CHECK(firewall().createManager(&manager) == CO_E_NOTINITIALIZED);
        const ComStarted com;
        CHECK(firewall().createManager(&manager) == row.result);
        CHECK((manager != nullptr) == (row.result == S_OK));
    }
}

TEST_CASE("the manager's current profile has an authorised list that finds, adds and removes programs by path")
{
    CONTRACT_MACHINE();
    const ComStarted com;
    const std::shared_ptr<FwAuthorizedApplications> list = authorizedList();
    REQUIRE(list.get() != nullptr);
    if (!behaves(Behaviour::FirewallListCalls))
        return;
    const std::string app = scratch() + "\\Contract App.exe";
    const std::string other = scratch() + "\\other.exe";
    REQUIRE(writeFile(app, "program") == ERROR_SUCCESS);
    REQUIRE(writeFile(other, "program") == ERROR_SUCCESS);
    list->remove(app);
    list->remove(other);

    CHECK(item(*list, app).result == notListed);
    CHECK(list->remove(app) == notListed);
    REQUIRE(list->add(app, "Contract App") == S_OK);
    Found found = item(*list, app);
    CHECK(found.result == S_OK);
    CHECK(folded(found.path) == folded(app));
    CHECK(found.name == "Contract App");
    CHECK(found.enabled == VARIANT_TRUE);
    // Another case of the path is the same program; adding it again replaces the entry.
    CHECK(item(*list, folded(app)).result == S_OK);
    CHECK(list->add(folded(app), "Renamed") == S_OK);
    CHECK(item(*list, app).name == "Renamed");
    CHECK(item(*list, other).result == notListed);
    // Removing one program leaves the others.
    REQUIRE(list->add(other, "Other") == S_OK);
    CHECK(list->remove(folded(app)) == S_OK);
    CHECK(item(*list, app).result == notListed);
    CHECK(item(*list, other).result == S_OK);
    CHECK(list->remove(other) == S_OK);
    CHECK(list->remove(other) == notListed);
}
