#include "platform/emulated/emulateddrives.h"

#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/servicestate.h" // nowMs

#include <algorithm>

namespace winsteps::platform {

namespace emulated {

namespace {

// The letter of a drive root "E:\" or "E:" (any case); 0 for any other text.
char rootLetter(const std::string& root)
{
    if ((root.size() != 2 && root.size() != 3) || root[1] != ':' || (root.size() == 3 && root[2] != '\\'))
        return 0;
    const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(root[0])));
    return c >= 'A' && c <= 'Z' ? c : 0;
}

QString volumeName(const DeviceNodeRecord& node)
{
    return QStringLiteral("\\\\?\\Volume") + node.volumeGuid + QLatin1Char('\\');
}

} // namespace

EmulatedDrives::EmulatedDrives(EmulatedMachine& machine) : m_machine(machine) {}

QList<EmulatedDrives::Drive> EmulatedDrives::mounted()
{
    QList<Drive> drives;
    const qint64 now = nowMs();
    const QList<DeviceNodeRecord> nodes = m_machine.devices().nodes();
    for (const DeviceNodeRecord& n : nodes) {
        const QString letter = n.mountedLetter(now);
        if (!letter.isEmpty())
            drives << Drive{letter + QStringLiteral(":\\"), n.driveType, volumeName(n), n.media, n.instanceId};
    }
    std::sort(drives.begin(), drives.end(), [](const Drive& a, const Drive& b) { return a.root < b.root; });
    return drives;
}

std::uint32_t EmulatedDrives::logicalDriveStrings(std::vector<std::string>* roots)
{
    std::vector<std::string> out;
    for (const Drive& d : mounted())
        out.push_back(d.root.toStdString());
    if (roots)
        *roots = out;
    return ERROR_SUCCESS;
}

std::uint32_t EmulatedDrives::driveType(const std::string& root)
{
    const char letter = rootLetter(root);
    for (const Drive& d : mounted()) {
        if (letter && d.root.at(0) == QLatin1Char(letter))
            return d.type;
    }
    return DRIVE_NO_ROOT_DIR;
}

std::uint32_t EmulatedDrives::volumeNameForMountPoint(const std::string& mountPoint, std::string* volumeName)
{
    if (mountPoint.empty() || mountPoint.back() != '\\')
        return ERROR_INVALID_PARAMETER;
    const char letter = mountPoint.size() == 3 ? rootLetter(mountPoint) : 0;
    const QString path = QString::fromStdString(mountPoint.substr(0, mountPoint.size() - 1));
    const qint64 now = nowMs();
    const QList<DeviceNodeRecord> nodes = m_machine.devices().nodes();
    for (const DeviceNodeRecord& n : nodes) {
        if (!n.present || !n.isVolume())
            continue;
        const bool byLetter = letter && !n.mountedLetter(now).isEmpty() && n.letter.at(0) == QLatin1Char(letter);
        const bool byPath = !letter && n.devicePath(QString::fromStdString(guidText(GUID_DEVINTERFACE_VOLUME)))
                                               .compare(path, Qt::CaseInsensitive) == 0;
        if (!byLetter && !byPath)
            continue;
        if (!n.media)
            return ERROR_NOT_READY;
        if (volumeName)
            *volumeName = emulated::volumeName(n).toStdString();
        return ERROR_SUCCESS;
    }
    return ERROR_FILE_NOT_FOUND;
}

std::uint32_t EmulatedDrives::mediaPresent(const std::string& root, bool* present)
{
    const char letter = rootLetter(root);
    for (const Drive& d : mounted()) {
        if (letter && d.root.at(0) == QLatin1Char(letter)) {
            if (present)
                *present = d.media;
            return ERROR_SUCCESS;
        }
    }
    return ERROR_INVALID_DRIVE;
}

} // namespace emulated

Drives& drives()
{
    return emulated::currentMachine().drives();
}

} // namespace winsteps::platform
