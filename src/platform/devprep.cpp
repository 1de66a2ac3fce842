#include "platform/devprep.h"

#include "platform/devices.h"
#include "platform/dmdev.h"

#include <algorithm>
#include <cctype>
#include <functional>

namespace winsteps::platform {

namespace {

// Arguments come as the library writes them: directories inside double quotes.
std::string unquoted(const std::string& argument)
{
    if (argument.size() >= 2 && argument.front() == '"' && argument.back() == '"')
        return argument.substr(1, argument.size() - 2);
    return argument;
}

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string resultText(std::uint32_t result)
{
    return result == DMDEV_OK ? std::string("done") : "DMDEV error " + std::to_string(result);
}

// The nodes of an enumerator, "net" standing for the network adapters of every enumerator;
// present ones only when present is set.
std::uint32_t devicesOf(const std::string& enumerator, int present, std::vector<std::string>* ids)
{
    const bool net = lower(enumerator) == "net";
    const GUID* classGuid = net ? &GUID_DEVCLASS_NET : nullptr;
    std::uint16_t count = 0;
    std::uint32_t result = DMDEV_Enumerate(classGuid, nullptr, &count, present, net ? nullptr : enumerator.c_str());
    if (result != DMDEV_OK || count == 0)
        return result;
    std::vector<char> names(std::size_t(count) * DMDEV_SLOT_SIZE);
    result = DMDEV_Enumerate(classGuid, names.data(), &count, present, net ? nullptr : enumerator.c_str());
    for (std::uint16_t i = 0; result == DMDEV_OK && i < count; ++i)
        ids->emplace_back(names.data() + std::size_t(i) * DMDEV_SLOT_SIZE);
    return result;
}

std::string hardwareId(const std::string& instanceId)
{
    char buffer[DMDEV_SLOT_SIZE];
    std::uint32_t size = sizeof buffer;
    return DMDEV_GetHardwareID(instanceId.c_str(), buffer, &size) == DMDEV_OK ? std::string(buffer) : std::string();
}

// Runs work on every device of the enumerator whose first hardware id contains one of ids
// (once per matching id, as the driver steps do). The first failure's result, else 0.
std::uint32_t forMatching(const std::string& enumerator, int present, const std::vector<std::string>& ids,
                          const std::function<std::uint32_t(const std::string&)>& work, int* matched,
                          std::ostream& out)
{
    std::vector<std::string> devices;
    const std::uint32_t listed = devicesOf(enumerator, present, &devices);
    if (listed != DMDEV_OK)
        return listed;
    std::uint32_t result = DMDEV_OK;
    for (const std::string& device : devices) {
        const std::string hardware = lower(hardwareId(device));
        for (const std::string& id : ids) {
            if (id.empty() || hardware.find(lower(id)) == std::string::npos)
                continue;
            ++*matched;
            const std::uint32_t done = work(device);
            out << device << ": " << resultText(done) << '\n';
            if (result == DMDEV_OK)
                result = done;
        }
    }
    return result;
}

int exitCodeOf(std::uint32_t result, int failed)
{
    if (result == DMDEV_OK)
        return DevprepDone;
    return result == DMDEV_ERROR_ACCESS_DENIED ? DevprepAccessDenied : failed;
}

const char usage[] = "Usage: devprep -p \"DRIVERDIR\" \"DRIVERDIR/FILE.inf\"\n"
                     "       devprep -i \"DRIVERDIR\" ENUMERATOR HARDWAREID...\n"
                     "       devprep -r ENUMERATOR HARDWAREID...\n";

} // namespace

int runDevprep(const std::vector<std::string>& rawArguments, std::ostream& out)
{
    std::vector<std::string> arguments;
    for (const std::string& argument : rawArguments)
        arguments.push_back(unquoted(argument));
    const std::string option = arguments.empty() ? std::string() : lower(arguments.front());
    if (option == "-p" && arguments.size() == 3) {
        const std::uint32_t result = DMDEV_PreInstallDriver(arguments[2].c_str(), arguments[1].c_str());
        out << "pre-install " << arguments[2] << ": " << resultText(result) << '\n';
        return exitCodeOf(result, DevprepPreInstallFailed);
    }
    int matched = 0;
    if (option == "-i" && arguments.size() >= 4) {
        const std::string& folder = arguments[1];
        // A driver is installed on devices that are there.
        const std::uint32_t result = forMatching(
            arguments[2], 1, {arguments.begin() + 3, arguments.end()},
            [&](const std::string& device) { return DMDEV_InstallDriver(device.c_str(), folder.c_str()); }, &matched,
            out);
        out << matched << " matching device(s)\n";
        return exitCodeOf(result, DevprepInstallFailed);
    }
    if (option == "-r" && arguments.size() >= 3) {
        const std::uint32_t result = forMatching(
            arguments[1], 0, {arguments.begin() + 2, arguments.end()},
            [](const std::string& device) {
                // A device that went with its parent earlier in the list is removed all the same.
                const std::uint32_t removed = DMDEV_RemoveDevice(device.c_str());
                return removed == DMDEV_ERROR_NO_SUCH_DEVICE ? DMDEV_OK : removed;
            },
            &matched, out);
        out << matched << " matching device(s)\n";
        return exitCodeOf(result, DevprepRemoveFailed);
    }
    out << usage;
    return DevprepUsage;
}

} // namespace winsteps::platform
