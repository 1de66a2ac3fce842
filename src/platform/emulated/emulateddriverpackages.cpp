#include "platform/emulated/emulateddriverpackages.h"

#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/filejournal.h"
#include "platform/registry.h"
#include "platform/services.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <map>

namespace winsteps::platform {

DriverPackages& driverPackages()
{
    // Stateless: each call works on the process's current machine.
    static struct Current final : DriverPackages {
        std::uint32_t copyOemInf(const std::string& source, const std::string& media, std::uint32_t style,
                                 std::string* name) override
        {
            return emulated::EmulatedDriverPackages(emulated::currentMachine()).copyOemInf(source, media, style, name);
        }
        std::uint32_t oemInfs(std::vector<std::string>* names) override
        {
            return emulated::EmulatedDriverPackages(emulated::currentMachine()).oemInfs(names);
        }
        std::uint32_t updateDriverForPlugAndPlayDevices(const std::string& id, const std::string& inf,
                                                        std::uint32_t flags, bool* reboot) override
        {
            return emulated::EmulatedDriverPackages(emulated::currentMachine())
                .updateDriverForPlugAndPlayDevices(id, inf, flags, reboot);
        }
        std::uint32_t installOnNode(const std::string& id, const std::string& inf, bool* reboot) override
        {
            return emulated::EmulatedDriverPackages(emulated::currentMachine()).installOnNode(id, inf, reboot);
        }
        std::uint32_t removeNode(const std::string& id, bool* reboot) override
        {
            return emulated::EmulatedDriverPackages(emulated::currentMachine()).removeNode(id, reboot);
        }
    } instance;
    return instance;
}

namespace emulated {

namespace {

const char classKeyPath[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\";
// AddService: the service is the node's function driver.
constexpr std::uint32_t SPSVCINST_ASSOCSERVICE = 0x2;

// The number N of "oemN.inf"; -1 for any other name.
int oemNumber(const QString& fileName)
{
    static const QRegularExpression pattern(QStringLiteral("^oem(\\d{1,5})\\.inf$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(fileName);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

// The staged files by number.
std::map<int, QString> oemFiles(const QString& folder)
{
    std::map<int, QString> files;
    const QStringList names = QDir(folder).entryList(QDir::Files);
    for (const QString& name : names) {
        const int number = oemNumber(name);
        if (number >= 0)
            files.emplace(number, name);
    }
    return files;
}

bool readLimited(const QString& hostPath, QByteArray* bytes)
{
    QFile file(hostPath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *bytes = file.read(inf::maxFileSize + 1);
    return true;
}

void setReboot(bool* rebootRequired)
{
    if (rebootRequired)
        *rebootRequired = false;
}

std::uint32_t setString(Registry& registry, HKEY key, const std::string& name, const QString& value)
{
    const QByteArray data = value.toUtf8();
    return registry.regSetValueEx(key, name, REG_SZ, reinterpret_cast<const std::uint8_t*>(data.constData()),
                                  std::uint32_t(data.size() + 1));
}

// ImagePath of a driver service, as Windows writes it: relative to the Windows folder.
QString imagePath(const inf::Service& service)
{
    QString binary = service.serviceBinary;
    const std::pair<const char*, const char*> dirids[] = {{"%12%\\", "system32\\DRIVERS\\"}, {"%11%\\", "system32\\"},
                                                          {"%10%\\", ""}};
    for (const auto& [dirid, folder] : dirids) {
        if (binary.startsWith(QLatin1String(dirid)))
            return QLatin1String(folder) + binary.mid(int(qstrlen(dirid)));
    }
    if (binary.isEmpty())
        binary = QStringLiteral("system32\\DRIVERS\\") + service.name + QStringLiteral(".sys");
    return binary;
}

} // namespace

inf::Target EmulatedDriverPackages::target(const MachineProfile& profile)
{
    return inf::Target{profile.isNt(), profile.wow64(), int(profile.version().majorVersion),
                       int(profile.version().minorVersion)};
}

QString EmulatedDriverPackages::infFolder(const MachineProfile& profile)
{
    return QStringLiteral("C:\\") + profile.windowsFolder() + QStringLiteral("\\INF");
}

std::uint32_t EmulatedDriverPackages::readInf(const QString& windowsPath, QByteArray* bytes, inf::Package* package,
                                              inf::Error* error)
{
    const QString host = m_machine.hostPath(windowsPath);
    if (windowsPath.isEmpty() || !m_machine.insideDriveC(host) || !QFileInfo(host).isFile() || !readLimited(host, bytes))
        return ERROR_FILE_NOT_FOUND;
    inf::Error failure;
    if (!inf::read(*bytes, target(m_machine.profile()), package, &failure)) {
        if (error)
            *error = failure;
        return failure.code;
    }
    return ERROR_SUCCESS;
}

std::uint32_t EmulatedDriverPackages::copyOemInf(const std::string& sourceInf, const std::string& mediaLocation,
                                                 std::uint32_t copyStyle, std::string* destinationName)
{
    Q_UNUSED(mediaLocation);
    QByteArray bytes;
    inf::Package package;
    const std::uint32_t read = readInf(QString::fromStdString(sourceInf), &bytes, &package);
    if (read != ERROR_SUCCESS)
        return read;
    const QString folder = m_machine.hostPath(infFolder(m_machine.profile()));
    const std::map<int, QString> files = oemFiles(folder);
    for (const auto& [number, name] : files) {
        QByteArray staged;
        if (readLimited(folder + QLatin1Char('/') + name, &staged) && staged == bytes) {
            if (destinationName)
                *destinationName = name.toStdString();
            return ERROR_SUCCESS;
        }
    }
    if (copyStyle & SP_COPY_OEMINF_CATALOG_ONLY)
        return ERROR_FILE_NOT_FOUND;
    if (!m_machine.profile().administrator())
        return ERROR_ACCESS_DENIED;
    FileJournal journal(m_machine);
    if (journal.makePath(folder) != 0)
        return ERROR_ACCESS_DENIED;
    // New files only: another process staging at the same time takes the next number.
    for (int number = 0; number < 100000; ++number) {
        if (files.count(number))
            continue;
        const QString name = QStringLiteral("oem%1.inf").arg(number);
        const int written = journal.writeNewFile(folder + QLatin1Char('/') + name, bytes);
        if (written == EEXIST)
            continue;
        if (written != 0)
            return ERROR_ACCESS_DENIED;
        if (destinationName)
            *destinationName = name.toStdString();
        return ERROR_SUCCESS;
    }
    return ERROR_ACCESS_DENIED;
}

std::uint32_t EmulatedDriverPackages::oemInfs(std::vector<std::string>* names)
{
    if (!names)
        return ERROR_INVALID_PARAMETER;
    names->clear();
    for (const auto& [number, name] : oemFiles(m_machine.hostPath(infFolder(m_machine.profile()))))
        names->push_back(name.toLower().toStdString());
    return ERROR_SUCCESS;
}

QList<EmulatedDriverPackages::Candidate> EmulatedDriverPackages::stagedPackages()
{
    QList<Candidate> candidates;
    const QString folder = infFolder(m_machine.profile());
    for (const auto& [number, name] : oemFiles(m_machine.hostPath(folder))) {
        Candidate candidate{name.toLower(), {}};
        QByteArray bytes;
        if (readInf(folder + QLatin1Char('\\') + name, &bytes, &candidate.package) == ERROR_SUCCESS)
            candidates.append(candidate);
    }
    return candidates;
}

QList<EmulatedDriverPackages::Staged> EmulatedDriverPackages::staged()
{
    QList<Staged> list;
    for (const Candidate& candidate : stagedPackages()) {
        Staged entry{candidate.oemName, candidate.package.provider, candidate.package.classGuid,
                     candidate.package.driverVersion, {}};
        for (const inf::Model& model : candidate.package.models)
            entry.hardwareIds.append(model.ids.first());
        list.append(entry);
    }
    return list;
}

std::uint32_t EmulatedDriverPackages::installOnNode(const std::string& instanceId, const std::string& infPath,
                                                    bool* rebootRequired)
{
    setReboot(rebootRequired);
    DeviceNodeRecord node;
    const QString id = QString::fromStdString(instanceId);
    if (m_machine.devices().node(id, &node) != CR_SUCCESS || !node.present)
        return ERROR_NO_SUCH_DEVINST;
    if (!m_machine.profile().administrator())
        return ERROR_ACCESS_DENIED;
    QList<Candidate> candidates;
    const QString path = QString::fromStdString(infPath);
    const QString host = m_machine.hostPath(path);
    if (!path.isEmpty() && QFileInfo(host).isFile() && m_machine.insideDriveC(host)) {
        std::string oemName;
        const std::uint32_t staged = copyOemInf(infPath, std::string(), 0, &oemName);
        if (staged != ERROR_SUCCESS)
            return staged;
        for (const Candidate& candidate : stagedPackages()) {
            if (candidate.oemName == QString::fromStdString(oemName).toLower())
                candidates.append(candidate);
        }
    } else if (path.endsWith(QLatin1String(".inf"), Qt::CaseInsensitive)) {
        return ERROR_FILE_NOT_FOUND;
    } else {
        candidates = stagedPackages();
    }
    // The best rank wins; among equals the package staged last, and in it the first model.
    const Candidate* best = nullptr;
    const inf::Model* bestModel = nullptr;
    int bestRank = -1;
    for (const Candidate& candidate : candidates) {
        for (const inf::Model& model : candidate.package.models) {
            const int rank = inf::matchRank(model, node.hardwareIds, node.compatibleIds);
            if (rank >= 0 && (bestRank < 0 || rank < bestRank || (rank == bestRank && best != &candidate))) {
                best = &candidate;
                bestModel = &model;
                bestRank = rank;
            }
        }
    }
    if (!best) {
        // A node that works keeps its driver; one without a working driver shows the failure.
        if (node.problem == 0 && node.driver.isEmpty())
            m_machine.devices().setStatus(id, node.status & ~(DN_STARTED | DN_DRIVER_LOADED), CM_PROB_FAILED_INSTALL);
        return ERROR_NO_COMPAT_DRIVERS;
    }
    return bind(node.instanceId, *best, *bestModel);
}

std::uint32_t EmulatedDriverPackages::bind(const QString& instanceId, const Candidate& candidate,
                                           const inf::Model& model)
{
    DeviceNodeRecord node;
    if (m_machine.devices().node(instanceId, &node) != CR_SUCCESS)
        return ERROR_NO_SUCH_DEVINST;
    QString service;
    for (const inf::Service& entry : model.services) {
        if (service.isEmpty() || (entry.flags & SPSVCINST_ASSOCSERVICE))
            service = entry.name;
    }
    for (const inf::Service& entry : model.services) {
        const std::uint32_t created = createService(entry);
        if (created != ERROR_SUCCESS)
            return created;
    }
    const QString& classGuid = candidate.package.classGuid;
    const QString reuse = node.driver.startsWith(classGuid + QLatin1Char('\\'), Qt::CaseInsensitive) ? node.driver : QString();
    QString key;
    const CONFIGRET bound = m_machine.devices().bindDriver(instanceId, classGuid, candidate.package.className,
                                                           model.description, service, reuse, &key);
    if (bound != CR_SUCCESS)
        return bound == CR_NO_SUCH_DEVNODE ? ERROR_NO_SUCH_DEVINST : ERROR_ACCESS_DENIED;
    QString matching;
    for (const QString& id : node.hardwareIds + node.compatibleIds) {
        if (matching.isEmpty() && model.ids.contains(id, Qt::CaseInsensitive))
            matching = id.toLower();
    }
    return writeDriverKey(key, candidate, model, matching);
}

std::uint32_t EmulatedDriverPackages::createService(const inf::Service& service)
{
    if (!m_machine.profile().isNt())
        return ERROR_SUCCESS;
    Services& services = m_machine.services();
    SC_HANDLE manager = SC_HANDLE_NULL;
    std::uint32_t code = services.openSCManager("", "", SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE, &manager);
    if (code != ERROR_SUCCESS)
        return code;
    SC_HANDLE handle = SC_HANDLE_NULL;
    code = services.openService(manager, service.name.toStdString(), SERVICE_QUERY_STATUS, &handle);
    if (code == ERROR_SERVICE_DOES_NOT_EXIST) {
        code = services.createService(manager, service.name.toStdString(), service.displayName.toStdString(),
                                      SERVICE_QUERY_STATUS, service.serviceType, service.startType,
                                      service.errorControl, imagePath(service).toStdString(),
                                      service.loadOrderGroup.toStdString(), {}, std::string(), std::string(), &handle);
    }
    if (handle != SC_HANDLE_NULL)
        services.closeServiceHandle(handle);
    services.closeServiceHandle(manager);
    return code;
}

std::uint32_t EmulatedDriverPackages::writeDriverKey(const QString& key, const Candidate& candidate,
                                                     const inf::Model& model, const QString& matchingId)
{
    Registry& registry = m_machine.registry();
    const inf::Package& package = candidate.package;
    HKEY classKey = 0;
    std::uint32_t code = registry.regCreateKeyEx(HKEY_LOCAL_MACHINE, classKeyPath + package.classGuid.toStdString(), 0,
                                                 KEY_ALL_ACCESS, &classKey, nullptr);
    if (code != ERROR_SUCCESS)
        return code;
    if (!package.className.isEmpty())
        setString(registry, classKey, "Class", package.className);
    registry.regCloseKey(classKey);
    HKEY driverKey = 0;
    code = registry.regCreateKeyEx(HKEY_LOCAL_MACHINE, classKeyPath + key.toStdString(), 0, KEY_ALL_ACCESS, &driverKey,
                                   nullptr);
    if (code != ERROR_SUCCESS)
        return code;
    const std::pair<const char*, QString> values[] = {
        {"InfPath", candidate.oemName},     {"InfSection", model.installSection}, {"MatchingDeviceId", matchingId},
        {"DriverDesc", model.description},  {"ProviderName", package.provider},   {"DriverVersion", package.driverVersion},
        {"DriverDate", package.driverDate}};
    for (const auto& [name, value] : values) {
        if (code == ERROR_SUCCESS)
            code = setString(registry, driverKey, name, value);
    }
    registry.regCloseKey(driverKey);
    return code;
}

std::uint32_t EmulatedDriverPackages::updateDriverForPlugAndPlayDevices(const std::string& hardwareId,
                                                                        const std::string& fullInfPath,
                                                                        std::uint32_t installFlags,
                                                                        bool* rebootRequired)
{
    setReboot(rebootRequired);
    if (installFlags & ~(INSTALLFLAG_FORCE | INSTALLFLAG_READONLY | INSTALLFLAG_NONINTERACTIVE))
        return ERROR_INVALID_FLAGS;
    if (m_machine.profile().wow64())
        return ERROR_IN_WOW64;
    if (hardwareId.empty())
        return ERROR_INVALID_PARAMETER;
    QByteArray bytes;
    inf::Package package;
    const std::uint32_t read = readInf(QString::fromStdString(fullInfPath), &bytes, &package);
    if (read != ERROR_SUCCESS)
        return read;
    const QString id = QString::fromStdString(hardwareId);
    std::uint32_t result = ERROR_NO_SUCH_DEVINST;
    for (const DeviceNodeRecord& node : m_machine.devices().nodes()) {
        if (!node.present || !(node.hardwareIds + node.compatibleIds).contains(id, Qt::CaseInsensitive))
            continue;
        const std::uint32_t installed = installOnNode(node.instanceId.toStdString(), fullInfPath, nullptr);
        if (result == ERROR_NO_SUCH_DEVINST || result == ERROR_SUCCESS)
            result = installed;
    }
    return result;
}

std::uint32_t EmulatedDriverPackages::removeNode(const std::string& instanceId, bool* rebootRequired)
{
    setReboot(rebootRequired);
    const QString id = QString::fromStdString(instanceId);
    DeviceNodeRecord node;
    if (m_machine.devices().node(id, &node) != CR_SUCCESS)
        return ERROR_NO_SUCH_DEVINST;
    if (!m_machine.profile().administrator())
        return ERROR_ACCESS_DENIED;
    // The driver keys of the subtree, read before the nodes go.
    QStringList keys;
    m_machine.devices().access(false, [&](DeviceState& state) {
        for (const QString& gone : state.subtree(node.instanceId)) {
            if (const DeviceNodeRecord* record = state.node(gone); record && !record->driver.isEmpty())
                keys.append(record->driver);
        }
        return CR_SUCCESS;
    });
    const CONFIGRET removed = m_machine.devices().removeNode(node.instanceId);
    if (removed == CR_REMOVE_VETOED)
        return ERROR_CANT_REMOVE_DEVINST;
    if (removed != CR_SUCCESS)
        return removed == CR_NO_SUCH_DEVNODE ? ERROR_NO_SUCH_DEVINST : ERROR_ACCESS_DENIED;
    for (const QString& key : keys)
        m_machine.registry().regDeleteKeyEx(HKEY_LOCAL_MACHINE, classKeyPath + key.toStdString(), 0);
    return ERROR_SUCCESS;
}

bool writeDriverIndexFiles(EmulatedMachine& machine, QString* error)
{
    const MachineProfile& profile = machine.profile();
    const bool indexed = !profile.isNt() && profile.version().majorVersion == 4 && profile.version().minorVersion >= 10;
    if (!indexed)
        return true;
    const QString folder = machine.hostPath(EmulatedDriverPackages::infFolder(profile));
    QDir().mkpath(folder);
    // Placeholders: what matters is that they are there until a driver install deletes them.
    for (const char* name : {"DRVDATA.BIN", "DRVIDX.BIN"}) {
        QFile file(folder + QLatin1Char('/') + QLatin1String(name));
        if (!file.open(QIODevice::WriteOnly) || file.write("driver index\r\n") < 0) {
            if (error)
                *error = QStringLiteral("cannot write \"%1\"").arg(file.fileName());
            return false;
        }
    }
    return true;
}

} // namespace emulated

} // namespace winsteps::platform
