// winsteps machine show: what an emulated machine holds, as a summary for people or as one
// JSON object for scripts. Both forms are made from the same records.

#include "cwizardrunner.h"
#include "machineactions.h"
#include "platform/emulated/regfile.h"
#include "platform/emulated/systemfiles.h"
#include "subcommand.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace winsteps::host::machine {

namespace {

using platform::emulated::EmulatedMachine;
using platform::emulated::MachineProfile;

// The values of a key (64-bit view) as (name, text) for text values.
QList<QPair<QString, QString>> textValues(platform::Registry& machine, platform::HKEY root, const QString& path)
{
    QList<QPair<QString, QString>> result;
    platform::HKEY key = platform::HKEY_NULL;
    if (machine.regOpenKeyEx(root, path.toStdString(), platform::KEY_READ | platform::KEY_WOW64_64KEY, &key)
        != platform::ERROR_SUCCESS)
        return result;
    std::string name;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    for (std::uint32_t i = 0; machine.regEnumValue(key, i, &name, &type, &data) == platform::ERROR_SUCCESS; ++i) {
        if (type != platform::REG_SZ && type != platform::REG_EXPAND_SZ)
            continue;
        QByteArray bytes(reinterpret_cast<const char*>(data.data()), qsizetype(data.size()));
        const qsizetype nul = bytes.indexOf('\0');
        if (nul >= 0)
            bytes.truncate(nul);
        result.append({QString::fromStdString(name), QString::fromUtf8(bytes)});
    }
    machine.regCloseKey(key);
    return result;
}

QStringList subKeys(platform::Registry& machine, platform::HKEY root, const QString& path)
{
    QStringList result;
    platform::HKEY key = platform::HKEY_NULL;
    if (machine.regOpenKeyEx(root, path.toStdString(), platform::KEY_READ | platform::KEY_WOW64_64KEY, &key)
        != platform::ERROR_SUCCESS)
        return result;
    std::string name;
    for (std::uint32_t i = 0; machine.regEnumKeyEx(key, i, &name) == platform::ERROR_SUCCESS; ++i)
        result << QString::fromStdString(name);
    machine.regCloseKey(key);
    return result;
}

const QString Software = QStringLiteral("SOFTWARE\\");
const QString CurrentVersion = QStringLiteral("Microsoft\\Windows\\CurrentVersion\\");

// The machine-wide software keys: the native one and, on a 64-bit system, the 32-bit view.
QStringList softwareViews(const EmulatedMachine& machine)
{
    QStringList views = {Software};
    if (machine.profile().wow64())
        views << QStringLiteral("SOFTWARE\\Wow6432Node\\");
    return views;
}

// --- the records ---------------------------------------------------------------------------

struct StartupEntry {
    QString kind; // "Run" or "RunOnce"
    QString key;  // "HKEY_...\..."
    QString name;
    QString command;
};

struct Program {
    QString key;  // the Uninstall key, "HKEY_LOCAL_MACHINE\...\Uninstall\NAME"
    QString name; // NAME
    QString displayName;
    QString uninstallString;
};

struct ServiceRow {
    QString name;
    QString displayName;
    QString status;    // the words of the service states: "running", "continuePending", ...
    QString startType; // "boot", "system", "auto", "manual", "disabled"
    QString imagePath;
    bool marked = false; // marked for deletion
};

QList<StartupEntry> startupEntries(EmulatedMachine& machine)
{
    QList<StartupEntry> entries;
    for (const QString& kind : {QStringLiteral("Run"), QStringLiteral("RunOnce")}) {
        QList<QPair<platform::HKEY, QString>> places;
        for (const QString& view : softwareViews(machine))
            places.append({platform::HKEY_LOCAL_MACHINE, view + CurrentVersion + kind});
        places.append({platform::HKEY_CURRENT_USER, Software + CurrentVersion + kind});
        for (const auto& place : std::as_const(places)) {
            const QString key = QLatin1String(platform::hiveName(place.first)) + QLatin1Char('\\') + place.second;
            for (const auto& value : textValues(machine.registry(), place.first, place.second))
                entries.append({kind, key, value.first, value.second});
        }
    }
    return entries;
}

QList<Program> installedPrograms(EmulatedMachine& machine)
{
    QList<Program> programs;
    for (const QString& view : softwareViews(machine)) {
        const QString uninstall = view + CurrentVersion + QStringLiteral("Uninstall");
        for (const QString& name : subKeys(machine.registry(), platform::HKEY_LOCAL_MACHINE, uninstall)) {
            Program program{QStringLiteral("HKEY_LOCAL_MACHINE\\") + uninstall + QLatin1Char('\\') + name, name, name, {}};
            for (const auto& value : textValues(machine.registry(), platform::HKEY_LOCAL_MACHINE, uninstall + QLatin1Char('\\') + name)) {
                if (value.first.compare(QLatin1String("DisplayName"), Qt::CaseInsensitive) == 0)
                    program.displayName = value.second;
                else if (value.first.compare(QLatin1String("UninstallString"), Qt::CaseInsensitive) == 0)
                    program.uninstallString = value.second;
            }
            programs.append(program);
        }
    }
    return programs;
}

QString wordOf(std::uint32_t value, std::initializer_list<const char*> words, std::uint32_t first)
{
    return value >= first && value - first < words.size() ? QLatin1String(words.begin()[value - first])
                                                          : QStringLiteral("unknown");
}

// The services as any process on the machine sees them, through its service control manager:
// pending states have resolved by the clock. A service marked for deletion cannot be opened
// any more; its record is the manager's own list's.
QList<ServiceRow> serviceRows(EmulatedMachine& machine)
{
    using namespace platform;
    QList<ServiceRow> rows;
    Services& scm = machine.services();
    SC_HANDLE manager = SC_HANDLE_NULL;
    if (scm.openSCManager("", "", SC_MANAGER_CONNECT, &manager) != ERROR_SUCCESS)
        return rows; // the 9x family has none
    for (const platform::emulated::EmulatedServices::Entry& entry : machine.services().list()) {
        ServiceConfig config = entry.config;
        ServiceStatus status = entry.status;
        SC_HANDLE service = SC_HANDLE_NULL;
        const std::uint32_t code = scm.openService(manager, entry.name, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG, &service);
        if (code == ERROR_SERVICE_DOES_NOT_EXIST)
            continue; // a service marked for deletion that went once nothing held it
        if (code == ERROR_SUCCESS) {
            scm.queryServiceStatus(service, &status);
            std::uint32_t needed = 0;
            if (scm.queryServiceConfig(service, nullptr, 0, &needed) == ERROR_INSUFFICIENT_BUFFER)
                scm.queryServiceConfig(service, &config, needed, &needed);
            scm.closeServiceHandle(service);
        }
        rows.append({QString::fromStdString(entry.name), QString::fromStdString(config.displayName),
                     wordOf(status.currentState,
                            {"stopped", "starting", "stopping", "running", "continuePending", "pausePending", "paused"},
                            SERVICE_STOPPED),
                     wordOf(config.startType, {"boot", "system", "auto", "manual", "disabled"}, SERVICE_BOOT_START),
                     QString::fromStdString(config.binaryPathName), code == ERROR_SERVICE_MARKED_FOR_DELETE});
    }
    scm.closeServiceHandle(manager);
    return rows;
}

QString section(const QString& title, const QStringList& lines, const QString& none);

// The firewall's authorised list and the connections with their port mappings.
QString protocolWord(std::uint8_t protocol)
{
    return protocol == platform::NAT_PROTOCOL_TCP   ? QStringLiteral("tcp")
        : protocol == platform::NAT_PROTOCOL_UDP ? QStringLiteral("udp")
                                                 : QString::number(protocol);
}

QJsonObject firewallJson(EmulatedMachine& machine)
{
    QJsonArray applications;
    for (const auto& entry : machine.firewall().applications()) {
        applications.append(QJsonObject{{QStringLiteral("path"), entry.path}, {QStringLiteral("name"), entry.name},
                                        {QStringLiteral("enabled"), entry.enabled}, {QStringLiteral("scope"), entry.scope}});
    }
    return QJsonObject{{QStringLiteral("manager"), platform::emulated::hasFirewallManager(machine.profile())},
                       {QStringLiteral("enabled"), machine.firewall().firewallEnabled()},
                       {QStringLiteral("authorizedApplications"), applications}};
}

QJsonArray connectionsJson(EmulatedMachine& machine)
{
    QJsonArray connections;
    for (const platform::emulated::ConnectionRecord& c : machine.netSharing().connections()) {
        QJsonArray mappings;
        for (const platform::emulated::PortMappingRecord& m : c.mappings) {
            mappings.append(QJsonObject{
                {QStringLiteral("name"), m.name}, {QStringLiteral("protocol"), protocolWord(m.protocol)},
                {QStringLiteral("externalPort"), m.externalPort}, {QStringLiteral("internalPort"), m.internalPort},
                {QStringLiteral("target"), m.target},
                {QStringLiteral("targetType"), m.targetType == platform::ICSTT_NAME ? QStringLiteral("name") : QStringLiteral("ip")},
                {QStringLiteral("enabled"), m.enabled}});
        }
        connections.append(QJsonObject{
            {QStringLiteral("guid"), c.guid}, {QStringLiteral("name"), c.name}, {QStringLiteral("device"), c.device},
            {QStringLiteral("type"), platform::emulated::mediaWord(c)},
            {QStringLiteral("status"), platform::emulated::statusWord(c.status)},
            {QStringLiteral("firewall"), c.firewall}, {QStringLiteral("sharing"), c.sharing},
            {QStringLiteral("mappings"), mappings}});
    }
    return connections;
}

// The summary's lines of the firewall and the connections, made from their JSON records.
QString networkSummary(EmulatedMachine& machine)
{
    const QJsonObject firewall = firewallJson(machine);
    QString text = QStringLiteral("Firewall:  %1\n").arg(
        !firewall.value(QStringLiteral("manager")).toBool() ? QStringLiteral("none")
            : firewall.value(QStringLiteral("enabled")).toBool() ? QStringLiteral("on")
                                                                 : QStringLiteral("off"));
    QStringList lines;
    for (const QJsonValue& value : firewall.value(QStringLiteral("authorizedApplications")).toArray()) {
        const QJsonObject entry = value.toObject();
        lines << QStringLiteral("  %1 (%2): %3")
                     .arg(entry.value(QStringLiteral("path")).toString(), entry.value(QStringLiteral("name")).toString(),
                          entry.value(QStringLiteral("enabled")).toBool() ? QStringLiteral("enabled") : QStringLiteral("disabled"));
    }
    text += section(QStringLiteral("Authorised applications"), lines, QStringLiteral("none"));
    lines.clear();
    for (const QJsonValue& value : connectionsJson(machine)) {
        const QJsonObject c = value.toObject();
        lines << QStringLiteral("  %1 %2 (%3, %4%5%6) on %7")
                     .arg(c.value(QStringLiteral("guid")).toString(), c.value(QStringLiteral("name")).toString(),
                          c.value(QStringLiteral("type")).toString(), c.value(QStringLiteral("status")).toString(),
                          c.value(QStringLiteral("firewall")).toBool() ? QStringLiteral(", firewalled") : QString(),
                          c.value(QStringLiteral("sharing")).toBool() ? QStringLiteral(", shared") : QString(),
                          c.value(QStringLiteral("device")).toString());
        for (const QJsonValue& item : c.value(QStringLiteral("mappings")).toArray()) {
            const QJsonObject m = item.toObject();
            lines << QStringLiteral("    %1 %2 %3 -> %4:%5, %6")
                         .arg(m.value(QStringLiteral("name")).toString(), m.value(QStringLiteral("protocol")).toString())
                         .arg(m.value(QStringLiteral("externalPort")).toInt())
                         .arg(m.value(QStringLiteral("target")).toString())
                         .arg(m.value(QStringLiteral("internalPort")).toInt())
                         .arg(m.value(QStringLiteral("enabled")).toBool() ? QStringLiteral("enabled") : QStringLiteral("disabled"));
        }
    }
    return text + section(QStringLiteral("Connections"), lines, QStringLiteral("none"));
}

// A pending rename's target without its "!" mark; *replace when the mark says that it replaces
// a file that is there.
QString pendingTarget(const QString& target, bool* replace)
{
    *replace = target.startsWith(QLatin1Char('!'));
    return *replace ? target.mid(1) : target;
}

// --- the summary -----------------------------------------------------------------------------

// "TITLE:" with the lines below it, or "TITLE: none" when there are none.
QString section(const QString& title, const QStringList& lines, const QString& none)
{
    QString text = title + QLatin1Char(':') + (lines.isEmpty() ? QLatin1Char(' ') + none : QString()) + QLatin1Char('\n');
    for (const QString& line : lines)
        text += line + QLatin1Char('\n');
    return text;
}

QString summary(EmulatedMachine& machine)
{
    const EmulatedMachine::Statistics stats = machine.statistics();
    const MachineProfile& profile = machine.profile();
    const platform::OsVersionInfoEx& version = profile.version();
    const QString servicePack = QString::fromStdString(version.servicePack).trimmed();
    QString text;
    text += QStringLiteral("Machine:   %1\n").arg(machine.folder());
    text += QStringLiteral("Profile:   %1%2\n")
                .arg(profile.name(), profile.description().isEmpty() ? QString() : QStringLiteral(" (%1)").arg(profile.description()));
    text += QStringLiteral("System:    %1 %2.%3.%4%5, %6; user \"%7\"%8\n")
                .arg(profile.isNt() ? QStringLiteral("NT") : QStringLiteral("9x"))
                .arg(version.majorVersion)
                .arg(version.minorVersion)
                .arg(version.buildNumber)
                .arg(servicePack.isEmpty() ? QString() : QLatin1Char(' ') + servicePack,
                     profile.wow64() ? QStringLiteral("64-bit (the process runs under WOW64)") : QStringLiteral("32-bit"),
                     profile.user(), profile.administrator() ? QStringLiteral(", administrator") : QString());
    text += QStringLiteral("Drive C:   %1\n").arg(machine.driveC());
    text += QStringLiteral("Registry:  %1 keys, %2 values (machine.db schema %3, created %4)\n")
                .arg(stats.keys)
                .arg(stats.values)
                .arg(stats.schema)
                .arg(stats.created);
    text += QStringLiteral("Restarts:  %1\n").arg(stats.boots);
    const QString engine = platform::emulated::installedEngineVersion(machine);
    text += QStringLiteral("Installer: %1\n").arg(engine.isNull() ? QStringLiteral("none") : engine);

    QStringList lines;
    for (const StartupEntry& entry : startupEntries(machine))
        lines << QStringLiteral("  %1: \"%2\" = %3").arg(entry.key, entry.name, entry.command);
    text += section(QStringLiteral("Start-up entries"), lines, QStringLiteral("none"));
    lines.clear();
    for (const Program& program : installedPrograms(machine))
        lines << QStringLiteral("  %1 [%2]: %3").arg(program.displayName, program.name, program.uninstallString);
    text += section(QStringLiteral("Installed programs"), lines, QStringLiteral("none"));
    lines.clear();
    for (const ServiceRow& service : serviceRows(machine)) {
        lines << QStringLiteral("  %1 (%2): %3, %4%5")
                     .arg(service.name, service.displayName, service.status, service.startType,
                          service.marked ? QStringLiteral(", marked for deletion") : QString());
    }
    text += section(QStringLiteral("Services"), lines, QStringLiteral("none"));
    text += networkSummary(machine);
    text += devicesSummary(machine);
    text += driverPackagesSummary(machine);
    lines.clear();
    for (const auto& operation : machine.pendingFileOperations()) {
        bool replace = false;
        const QString target = pendingTarget(operation.second, &replace);
        if (target.isEmpty())
            lines << QStringLiteral("  remove %1").arg(operation.first);
        else
            lines << QStringLiteral("  rename %1 -> %2%3").arg(operation.first, target, replace ? QStringLiteral(" (replacing it)") : QString());
    }
    text += section(QStringLiteral("At the next restart"), lines, QStringLiteral("nothing"));
    if (stats.boots > 0) {
        text += QStringLiteral("Last restart (%1):\n").arg(stats.boots);
        const QList<EmulatedMachine::BootEntry> log = machine.bootLog(stats.boots);
        if (log.isEmpty())
            text += QStringLiteral("  nothing to do\n");
        for (const EmulatedMachine::BootEntry& entry : log)
            text += QStringLiteral("  %1 %2\n").arg(entry.action, entry.detail);
    }
    return text;
}

} // namespace

// --- the JSON form -----------------------------------------------------------------------------

QJsonObject json(EmulatedMachine& machine)
{
    const EmulatedMachine::Statistics stats = machine.statistics();
    const MachineProfile& profile = machine.profile();
    const platform::OsVersionInfoEx& version = profile.version();
    const QJsonObject system{
        {QStringLiteral("family"), profile.isNt() ? QStringLiteral("NT") : QStringLiteral("9x")},
        {QStringLiteral("platformId"), double(version.platformId)},
        {QStringLiteral("majorVersion"), double(version.majorVersion)},
        {QStringLiteral("minorVersion"), double(version.minorVersion)},
        {QStringLiteral("buildNumber"), double(version.buildNumber)},
        {QStringLiteral("servicePack"), QString::fromStdString(version.servicePack)},
        {QStringLiteral("servicePackMajor"), version.servicePackMajor},
        {QStringLiteral("servicePackMinor"), version.servicePackMinor},
        {QStringLiteral("suiteMask"), version.suiteMask},
        {QStringLiteral("productType"), version.productType},
        {QStringLiteral("wow64"), profile.wow64()},
        {QStringLiteral("administrator"), profile.administrator()},
        {QStringLiteral("user"), profile.user()},
        {QStringLiteral("computer"), profile.computerName()},
    };
    QJsonArray startup;
    for (const StartupEntry& entry : startupEntries(machine)) {
        startup.append(QJsonObject{{QStringLiteral("kind"), entry.kind}, {QStringLiteral("key"), entry.key},
                                   {QStringLiteral("name"), entry.name}, {QStringLiteral("command"), entry.command}});
    }
    QJsonArray programs;
    for (const Program& program : installedPrograms(machine)) {
        programs.append(QJsonObject{{QStringLiteral("key"), program.key}, {QStringLiteral("name"), program.name},
                                    {QStringLiteral("displayName"), program.displayName},
                                    {QStringLiteral("uninstallString"), program.uninstallString}});
    }
    QJsonArray serviceList;
    for (const ServiceRow& service : serviceRows(machine)) {
        serviceList.append(QJsonObject{{QStringLiteral("name"), service.name},
                                       {QStringLiteral("displayName"), service.displayName},
                                       {QStringLiteral("status"), service.status},
                                       {QStringLiteral("startType"), service.startType},
                                       {QStringLiteral("imagePath"), service.imagePath},
                                       {QStringLiteral("markedForDeletion"), service.marked}});
    }
    const QString engine = platform::emulated::installedEngineVersion(machine);
    QJsonArray pending;
    for (const auto& operation : machine.pendingFileOperations()) {
        bool replace = false;
        const QString target = pendingTarget(operation.second, &replace);
        pending.append(QJsonObject{
            {QStringLiteral("operation"), target.isEmpty() ? QStringLiteral("remove") : QStringLiteral("rename")},
            {QStringLiteral("source"), operation.first},
            {QStringLiteral("target"), target},
            {QStringLiteral("replace"), replace}});
    }
    QJsonArray last;
    for (const EmulatedMachine::BootEntry& entry : machine.bootLog(stats.boots))
        last.append(QJsonObject{{QStringLiteral("action"), entry.action}, {QStringLiteral("detail"), entry.detail}});
    QJsonArray processes;
    std::vector<platform::ProcessEntry> entries;
    if (machine.processes().enumProcesses(&entries) == platform::ERROR_SUCCESS) {
        for (const platform::ProcessEntry& entry : entries) {
            processes.append(QJsonObject{{QStringLiteral("processId"), double(entry.processId)},
                                         {QStringLiteral("exeFile"), QString::fromStdString(entry.exeFile)}});
        }
    }
    return QJsonObject{
        {QStringLiteral("schemaVersion"), 1},
        {QStringLiteral("machine"), machine.folder()},
        {QStringLiteral("profile"), profile.name()},
        {QStringLiteral("description"), profile.description()},
        {QStringLiteral("system"), system},
        {QStringLiteral("driveC"), machine.driveC()},
        {QStringLiteral("installerVersion"), engine.isNull() ? QJsonValue() : QJsonValue(engine)},
        {QStringLiteral("registry"),
         QJsonObject{{QStringLiteral("keys"), double(stats.keys)}, {QStringLiteral("values"), double(stats.values)},
                     {QStringLiteral("schema"), stats.schema}, {QStringLiteral("created"), stats.created}}},
        {QStringLiteral("startup"), startup},
        {QStringLiteral("programs"), programs},
        {QStringLiteral("services"), serviceList},
        {QStringLiteral("pendingRemovals"), pending},
        {QStringLiteral("restarts"), QJsonObject{{QStringLiteral("count"), double(stats.boots)}, {QStringLiteral("last"), last}}},
        {QStringLiteral("processes"), processes},
        {QStringLiteral("firewall"), firewallJson(machine)},
        {QStringLiteral("connections"), connectionsJson(machine)},
        {QStringLiteral("devices"), devicesJson(machine)},
        {QStringLiteral("drives"), drivesJson(machine)},
        {QStringLiteral("driverPackages"), driverPackagesJson(machine)},
    };
}

int showAction(const QStringList& arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption jsonOption(QStringLiteral("json"), QStringLiteral("Everything as one JSON object (UTF-8)."));
    parser.addOption(jsonOption);
    if (const int status = parseAction(parser, QStringLiteral("show"), QStringLiteral("DIR [--json]"),
                                       QStringLiteral("Shows a summary of the machine in DIR: its system, registry, "
                                                      "start-up entries,\ninstalled programs, services, pending removals and "
                                                      "last restart,\nthe firewall's authorised applications, the connections and their port mappings,\n"
                                                      "the devices, the drives and the staged driver packages;\n"
                                                      "with --json also its processes, as one JSON object."),
                                       arguments, 1, 1);
        status >= 0)
        return status;
    int status = ExitOk;
    std::unique_ptr<EmulatedMachine> machine = openExisting(QStringLiteral("show"), parser.positionalArguments().first(), &status);
    if (!machine)
        return status;
    if (parser.isSet(jsonOption))
        cli::out(QString::fromUtf8(QJsonDocument(json(*machine)).toJson(QJsonDocument::Indented)));
    else
        cli::out(summary(*machine));
    return ExitOk;
}

} // namespace winsteps::host::machine
