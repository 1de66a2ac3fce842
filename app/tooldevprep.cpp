// The emulated devprep.exe: stages driver packages, installs their drivers on matching
// devices and removes matching devices, through the device-manager module.

#include "emulatedtools.h"

#include "platform/devices.h"
#include "platform/dmdev.h"
#include "subcommand.h"

#include <functional>
#include <vector>

namespace winsteps::host {

namespace {

namespace platform = winsteps::platform;

// Arguments come as the library writes them: directories inside double quotes.
QString unquoted(const QString& argument)
{
    if (argument.size() >= 2 && argument.startsWith(QLatin1Char('"')) && argument.endsWith(QLatin1Char('"')))
        return argument.mid(1, argument.size() - 2);
    return argument;
}

QString resultText(std::uint32_t result)
{
    return QStringLiteral("DMDEV error %1").arg(result);
}

// The nodes of an enumerator, "net" standing for the network adapters of every enumerator;
// present ones only when present is set.
std::uint32_t devicesOf(const QString& enumerator, int present, QStringList* ids)
{
    const bool net = enumerator.compare(QLatin1String("net"), Qt::CaseInsensitive) == 0;
    const platform::GUID* classGuid = net ? &platform::GUID_DEVCLASS_NET : nullptr;
    const std::string name = enumerator.toStdString();
    std::uint16_t count = 0;
    std::uint32_t result = platform::DMDEV_Enumerate(classGuid, nullptr, &count, present, net ? nullptr : name.c_str());
    if (result != platform::DMDEV_OK || count == 0)
        return result;
    std::vector<char> names(std::size_t(count) * platform::DMDEV_SLOT_SIZE);
    result = platform::DMDEV_Enumerate(classGuid, names.data(), &count, present, net ? nullptr : name.c_str());
    for (std::uint16_t i = 0; result == platform::DMDEV_OK && i < count; ++i)
        ids->append(QString::fromUtf8(names.data() + std::size_t(i) * platform::DMDEV_SLOT_SIZE));
    return result;
}

QString hardwareId(const QString& instanceId)
{
    char buffer[platform::DMDEV_SLOT_SIZE];
    std::uint32_t size = sizeof buffer;
    const std::string id = instanceId.toStdString();
    return platform::DMDEV_GetHardwareID(id.c_str(), buffer, &size) == platform::DMDEV_OK ? QString::fromUtf8(buffer)
                                                                                          : QString();
}

// Runs work on every device of the enumerator whose first hardware id contains one of ids
// (once per matching id, as the driver steps do). The first failure's result, else 0.
std::uint32_t forMatching(const QString& enumerator, int present, const QStringList& ids,
                          const std::function<std::uint32_t(const std::string&)>& work, int* matched)
{
    QStringList devices;
    const std::uint32_t listed = devicesOf(enumerator, present, &devices);
    if (listed != platform::DMDEV_OK)
        return listed;
    std::uint32_t result = platform::DMDEV_OK;
    for (const QString& device : devices) {
        const QString hardware = hardwareId(device);
        for (const QString& id : ids) {
            if (id.isEmpty() || !hardware.contains(id, Qt::CaseInsensitive))
                continue;
            ++*matched;
            const std::uint32_t done = work(device.toStdString());
            cli::out(QStringLiteral("%1: %2\n").arg(device, done == 0 ? QStringLiteral("done") : resultText(done)));
            if (result == platform::DMDEV_OK)
                result = done;
        }
    }
    return result;
}

std::uint32_t exitCodeOf(std::uint32_t result, std::uint32_t failed)
{
    if (result == platform::DMDEV_OK)
        return DevprepDone;
    return result == platform::DMDEV_ERROR_ACCESS_DENIED ? DevprepAccessDenied : failed;
}

const char usage[] = "Usage: devprep -p \"DRIVERDIR\" \"DRIVERDIR/FILE.inf\"\n"
                     "       devprep -i \"DRIVERDIR\" ENUMERATOR HARDWAREID...\n"
                     "       devprep -r ENUMERATOR HARDWAREID...\n";

} // namespace

std::uint32_t devprepTool(const QStringList& rawArguments)
{
    QStringList arguments;
    for (const QString& argument : rawArguments)
        arguments << unquoted(argument);
    const QString option = arguments.value(0).toLower();
    if (option == QLatin1String("-p") && arguments.size() == 3) {
        const std::string folder = arguments.at(1).toStdString();
        const std::string file = arguments.at(2).toStdString();
        const std::uint32_t result = platform::DMDEV_PreInstallDriver(file.c_str(), folder.c_str());
        cli::out(QStringLiteral("pre-install %1: %2\n").arg(arguments.at(2), result == 0 ? QStringLiteral("done") : resultText(result)));
        return exitCodeOf(result, DevprepPreInstallFailed);
    }
    int matched = 0;
    if (option == QLatin1String("-i") && arguments.size() >= 4) {
        const std::string folder = arguments.at(1).toStdString();
        // A driver is installed on devices that are there.
        const std::uint32_t result = forMatching(arguments.at(2), 1, arguments.mid(3), [&](const std::string& device) {
            return platform::DMDEV_InstallDriver(device.c_str(), folder.c_str());
        }, &matched);
        cli::out(QStringLiteral("%1 matching device(s)\n").arg(matched));
        return exitCodeOf(result, DevprepInstallFailed);
    }
    if (option == QLatin1String("-r") && arguments.size() >= 3) {
        const std::uint32_t result = forMatching(arguments.at(1), 0, arguments.mid(2), [](const std::string& device) {
            // A device that went with its parent earlier in the list is removed all the same.
            const std::uint32_t removed = platform::DMDEV_RemoveDevice(device.c_str());
            return removed == platform::DMDEV_ERROR_NO_SUCH_DEVICE ? platform::DMDEV_OK : removed;
        }, &matched);
        cli::out(QStringLiteral("%1 matching device(s)\n").arg(matched));
        return exitCodeOf(result, DevprepRemoveFailed);
    }
    cli::out(QLatin1String(usage));
    return DevprepUsage;
}

} // namespace winsteps::host
