// The services that a freshly installed system of a profile's family has, with their usual
// start types and whether they run from the start.

#include "platform/emulated/machineprofile.h"
#include "platform/emulated/servicestate.h"

namespace winsteps::platform::emulated {

namespace {

struct FreshService {
    const char* name;
    const char* displayName;
    const char* image; // below the system folder
    std::uint32_t type;
    std::uint32_t start;
    bool runs;
    std::uint32_t fromMajor; // the first NT major version that has it
    std::uint32_t untilMajor; // the last one
};

const FreshService freshServices[] = {
    {"Eventlog", "Event Log", "services.exe", SERVICE_WIN32_SHARE_PROCESS, SERVICE_AUTO_START, true, 4, 99},
    {"RpcSs", "Remote Procedure Call (RPC)", "svchost.exe -k rpcss", SERVICE_WIN32_SHARE_PROCESS,
     SERVICE_AUTO_START, true, 4, 99},
    {"Spooler", "Print Spooler", "spoolsv.exe", SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, true, 4, 99},
    {"Schedule", "Task Scheduler", "svchost.exe -k netsvcs", SERVICE_WIN32_SHARE_PROCESS, SERVICE_AUTO_START,
     true, 5, 99},
    {"W32Time", "Windows Time", "svchost.exe -k netsvcs", SERVICE_WIN32_SHARE_PROCESS, SERVICE_AUTO_START, true,
     5, 99},
    {"MSIServer", "Windows Installer", "msiexec.exe /V", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, false,
     5, 99},
    {"Messenger", "Messenger", "svchost.exe -k netsvcs", SERVICE_WIN32_SHARE_PROCESS, SERVICE_DISABLED, false, 5, 5},
    {"TlntSvr", "Telnet", "tlntsvr.exe", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, false, 5, 5},
};

bool hasService(const MachineProfile& profile, const FreshService& service)
{
    const std::uint32_t major = profile.version().majorVersion;
    return profile.isNt() && major >= service.fromMajor && major <= service.untilMajor;
}

} // namespace

void addFreshServices(const MachineProfile& profile, QJsonObject* registry)
{
    const QString system = QStringLiteral("%SystemRoot%\\") + profile.systemFolder() + QLatin1Char('\\');
    for (const FreshService& service : freshServices) {
        if (!hasService(profile, service))
            continue;
        registry->insert(
            QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\") + QLatin1String(service.name),
            QJsonObject{
                {QStringLiteral("Type"), int(service.type)},
                {QStringLiteral("Start"), int(service.start)},
                {QStringLiteral("ErrorControl"), int(SERVICE_ERROR_NORMAL)},
                {QStringLiteral("ImagePath"),
                 QJsonObject{{QStringLiteral("type"), QStringLiteral("REG_EXPAND_SZ")},
                             {QStringLiteral("value"), QString(system + QLatin1String(service.image))}}},
                {QStringLiteral("DisplayName"), QString(QLatin1String(service.displayName))},
                {QStringLiteral("ObjectName"), QStringLiteral("LocalSystem")},
            });
    }
}

bool isFreshService(const MachineProfile& profile, const QString& name)
{
    for (const FreshService& service : freshServices) {
        if (name.compare(QLatin1String(service.name), Qt::CaseInsensitive) == 0)
            return hasService(profile, service);
    }
    return false;
}

bool freshServiceRuns(const MachineProfile& profile, const QString& name)
{
    for (const FreshService& service : freshServices) {
        if (name.compare(QLatin1String(service.name), Qt::CaseInsensitive) == 0)
            return service.runs && hasService(profile, service);
    }
    return false;
}

} // namespace winsteps::platform::emulated
