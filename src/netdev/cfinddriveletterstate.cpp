#include "netdev/cfinddriveletterstate.h"

#include "debug/debugoutput.h"
#include "fsm/eventnames.h"
#include "platform/devices.h"
#include "platform/drives.h"

#include <QList>
#include <QPair>

namespace platform = winsteps::platform;

namespace {

// The size of the buffers the volume names are read into, their zero included.
constexpr std::size_t volumeNameBufferSize = 1024;

// One removable drive of a walk: its letter and the volume mounted on it.
using DriveEntry = QPair<QChar, std::string>;

const char* driveTypeText(std::uint32_t type)
{
    static const char* const texts[] = {
        ": The drive type cannot be determined.",
        ": The root path is invalid.",
        ": The drive is a type that has removable media.",
        ": The drive is a type that cannot be removed.",
        ": The drive is a remote (network) drive.",
        ": The drive is a CD-ROM drive.",
        ": The drive is a RAM disk.",
    };
    return type < std::size(texts) ? texts[type] : nullptr;
}

bool volumeName(const std::string& mountPoint, std::string* name)
{
    return platform::drives().volumeNameForMountPoint(mountPoint, name) == platform::ERROR_SUCCESS
        && name->size() < volumeNameBufferSize;
}

// The removable drives that have a volume, in the order the system lists the drives.
QList<DriveEntry> removableDrives(const QString& prefix, QStringList* traces)
{
    QList<DriveEntry> table;
    std::vector<std::string> roots;
    if (platform::drives().logicalDriveStrings(&roots) != platform::ERROR_SUCCESS)
        roots.clear();
    for (const std::string& root : roots) {
        const QString rootText = QString::fromStdString(root);
        *traces << prefix + QLatin1String(": drive letter = ") + rootText;
        const std::uint32_t type = platform::drives().driveType(root);
        if (const char* text = driveTypeText(type))
            *traces << prefix + QLatin1String(text);
        std::string volume;
        if (type == platform::DRIVE_REMOVABLE && !rootText.isEmpty() && volumeName(root, &volume))
            table << DriveEntry(rootText.at(0), volume);
    }
    return table;
}

// The node two levels above instanceId (the volume's disk, then the disk's device).
std::string grandparent(const std::string& instanceId)
{
    std::string parent;
    std::string grandparent;
    if (platform::devices().parent(instanceId, &parent) != platform::CR_SUCCESS
        || platform::devices().parent(parent, &grandparent) != platform::CR_SUCCESS)
        return std::string();
    return grandparent;
}

} // namespace

CFindDriveLetterState::CFindDriveLetterState(QObject* parent, const char* name, const QDomNode& description)
    : CState(parent, name, description)
{
    addRequiredProperty(QStringLiteral("deviceId"));
    addEvent(winsteps::event::finished);
    addEvent(winsteps::event::failed);
    addResultProperty(QStringLiteral("driveLetter"));
    m_timer.setInterval(lookInterval);
    connect(&m_timer, &QTimer::timeout, this, &CFindDriveLetterState::look);
}

CFindDriveLetterState::~CFindDriveLetterState() = default;

QString CFindDriveLetterState::findDriveLetter(const QString& stateName, const QString& deviceId, QStringList* traces)
{
    const QString prefix = QLatin1String("--- State ") + stateName;
    const QList<DriveEntry> table = removableDrives(prefix, traces);
    std::vector<platform::DeviceInterface> volumes;
    if (platform::devices().deviceInterfaces(platform::GUID_DEVINTERFACE_VOLUME, platform::DIGCF_PRESENT, &volumes)
        != platform::ERROR_SUCCESS) {
        *traces << QStringLiteral("Error - SetupDiGetClassDevs failed");
        return QString();
    }
    // The system's spelling of the identifier, byte for byte.
    const std::string wanted = deviceId.toStdString();
    for (const platform::DeviceInterface& volume : volumes) {
        if (grandparent(volume.instanceId) != wanted)
            continue;
        std::string name;
        if (!volumeName(volume.devicePath + '\\', &name))
            continue;
        for (const DriveEntry& drive : table) {
            if (drive.second == name)
                return drive.first + QLatin1String(":\\");
        }
    }
    *traces << QStringLiteral("Error - No drives found in GetSpecificDrives");
    return QString();
}

void CFindDriveLetterState::execute()
{
    // A new entry starts a new wait, whatever an earlier one had reached.
    m_timer.stop();
    m_elapsed.start();
    look();
}

void CFindDriveLetterState::look()
{
    QStringList traces;
    const QString letter = findDriveLetter(objectName(), property("deviceId").toString(), &traces);
    const bool last = m_elapsed.elapsed() >= m_waitLimit;
    if (letter.isEmpty() && !last) {
        if (!m_timer.isActive())
            m_timer.start();
        return;
    }
    m_timer.stop();
    winsteps::TraceBatch batch;
    for (const QString& line : traces)
        winsteps::trace(winsteps::module::sysTasks, line + QLatin1Char('\n'));
    if (letter.isEmpty()) {
        setExitEvent(winsteps::event::failed);
    } else {
        winsteps::trace(winsteps::module::sysTasks, QLatin1String("--- State ") + objectName()
                                                        + QLatin1String(": The drive letter of the plugged devId : ")
                                                        + letter + QLatin1Char('\n'));
        setProperty("driveLetter", letter);
        setExitEvent(winsteps::event::finished);
    }
    leaveState();
}

void CFindDriveLetterState::onLeave()
{
    m_timer.stop();
    CState::onLeave();
}
