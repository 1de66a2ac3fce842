#pragma once

// What the actions of `winsteps machine` share: their command-line handling, failure
// message and the opening of an existing machine folder (cmdmachine.cpp), and the actions
// kept in files of their own.

#include "platform/emulated/emulatedmachine.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <memory>

namespace winsteps::host::machine {

// The exit status of an action that failed.
enum { ExitError = 1 };

// Parses the arguments of one action: exactly `count` positional arguments (optional ones
// beyond `required` may be left out). Returns -1 to go on, else the exit status.
int parseAction(QCommandLineParser& parser, const QString& action, const QString& usage, const QString& description,
                const QStringList& arguments, int required, int count);
// "winsteps machine ACTION: message" on standard error; returns ExitError.
int failure(const QString& action, const QString& message);
// The machine in folder, with the system's access to every key; null after printing the
// failure into *status.
std::unique_ptr<platform::emulated::EmulatedMachine> openExisting(const QString& action, const QString& folder,
                                                                  int* status);

int showAction(const QStringList& arguments);         // machineshow.cpp
QString summary(platform::emulated::EmulatedMachine& machine); // machineshow.cpp: machine show's text and JSON
QJsonObject json(platform::emulated::EmulatedMachine& machine);
int stageServiceAction(const QStringList& arguments); // cmdmachineservice.cpp
// cmdmachinedevice.cpp: plug and unplug, and the device tree and drives of machine show.
int plugAction(const QStringList& arguments);
int unplugAction(const QStringList& arguments);
QJsonArray devicesJson(platform::emulated::EmulatedMachine& machine);
QJsonArray drivesJson(platform::emulated::EmulatedMachine& machine);
QString devicesSummary(platform::emulated::EmulatedMachine& machine);
// machinedriverpackages.cpp: the staged driver packages of machine show.
QJsonArray driverPackagesJson(platform::emulated::EmulatedMachine& machine);
QString driverPackagesSummary(platform::emulated::EmulatedMachine& machine);
// machinesnapshot.cpp: snapshots, their restore, and the differences between machines.
int snapshotAction(const QStringList& arguments);
int snapshotsAction(const QStringList& arguments);
int restoreAction(const QStringList& arguments);
int diffAction(const QStringList& arguments);
// cmdmachinejournal.cpp: the runs of the machine's journal, and their rollback.
int runsAction(const QStringList& arguments);
int rollbackAction(const QStringList& arguments);

} // namespace winsteps::host::machine
