// The machines of the contract tests on the emulated backend: each case gets a machine of its
// own, made from the profile it names in a new folder below one temporary folder per program,
// which goes when the program ends.

#include "contract.h"

#include "platform/emulated/machinefolder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace contract {

namespace {

namespace fs = std::filesystem;

class MachinesFolder {
public:
    MachinesFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "winsteps-contract-XXXXXX").string();
        if (::mkdtemp(pattern.data()))
            m_path = pattern;
    }
    ~MachinesFolder()
    {
        std::error_code error;
        if (!m_path.empty())
            fs::remove_all(m_path, error);
    }
    // A path below the folder that no earlier call gave out (not made).
    std::string next() { return m_path.empty() ? std::string() : (m_path / ("m" + std::to_string(++m_count))).string(); }

private:
    fs::path m_path;
    int m_count = 0;
};

MachinesFolder& machinesFolder()
{
    static MachinesFolder folder;
    return folder;
}

} // namespace

bool freshMachine(const std::string& profile, bool administrator)
{
    const std::string folder = machinesFolder().next();
    REQUIRE_MESSAGE(!folder.empty(), "no temporary folder for the machines");
    namespace emulated = winsteps::platform::emulated;
    std::string source = profile.empty() ? emulated::defaultProfileName() : profile;
    if (!administrator) {
        std::ofstream(folder + ".json") << R"({"inherits": ")" << source << R"(", "administrator": false})";
        source = folder + ".json";
    }
    std::string error;
    REQUIRE_MESSAGE(emulated::openMachine(source, folder, &error), error);
    REQUIRE(platform::files().createDirectory(scratch()) == platform::ERROR_SUCCESS);
    return true;
}

bool behaves(Behaviour behaviour)
{
    if (behaviour == Behaviour::WholeExitCodes) {
        // A program the machine starts is a process of its host, whose exit status has 8 bits
        // (the machine's own tools and terminate() keep all 32).
        MESSAGE("left out on the emulated machine: a host program's exit status has 8 bits");
        return false;
    }
    return true;
}

std::string scratchService(int index)
{
    return "WinstepsContract" + std::to_string(index); // every case has a machine of its own
}

std::string scratch()
{
    return "C:\\Contract";
}

} // namespace contract
