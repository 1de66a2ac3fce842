#pragma once

#include "netdev/cdmdevice.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class CAction;

// What the driver actions share: finding the devices of an enumerator, matching hardware
// identifiers, and running the INF-installer tool.
namespace winsteps::netdev {

using DeviceList = std::vector<std::unique_ptr<CDMDevice>>;

// The enumerator that stands for the network-adapter class, whatever the adapters'
// enumerators are.
inline constexpr QLatin1String networkEnumerator("net");

// Appends the local devices of enumerator ("net": the network-adapter class) to devices and
// returns CDMDevice::enumerate's result.
int findDevices(const QString& enumerator, DeviceList& devices, bool present);

// Whether hardwareId contains identifier, ignoring case; an empty identifier never matches.
bool matchesId(const QString& hardwareId, const QString& identifier);

// Traces text under the driver actions' module.
void traceDevprep(const QString& text);

// Runs program with arguments (each passed unchanged, quotes included) and waits until it
// ends, looking every 100 ms so that a stop of action is seen in time. Returns the exit
// status, or -1 when it could not be started (*started false) or the stop came first.
int runTool(const CAction& action, const QString& program, const QStringList& arguments, bool* started);

// The identifiers of a list: entries separated by separator, empty ones dropped.
QStringList identifiers(const QString& list, QChar separator);

} // namespace winsteps::netdev
