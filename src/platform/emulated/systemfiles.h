#pragma once

#include "platform/emulated/pewriter.h"
#include "winsteps_platform_export.h"

#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <vector>

// The system files of an emulated machine that carry a version resource: the installer engine
// "msiexec.exe" in the system folder, written as a small program image (pewriter.h) when the
// machine is made. Which version a machine has follows its Windows, as each shipped it:
//
//   win95                  none
//   win98, win98se         1.10.1029.0
//   winme                  1.20.1827.0
//   win2000                2.0.2600.2     (Service Pack 3 brought 2.0)
//   winxp (no SP), -sp1    2.0.2600.0, 2.0.2600.1106
//   winxp-sp2, win2003     3.1.4000.2435
//   vista, vista-x64       4.0.6000.16386 (4.0.6001.18000 with Service Pack 1)
//
// A profile's "installerVersion" overrides it: a version text of two to four numbers ("2.0",
// "3.1.4000.2435"; two numbers take the build that shipped with that version where one is
// known) or null for no engine.

namespace winsteps::platform::emulated {

class EmulatedMachine;
class MachineProfile;

// The version resource of the engine of a version text; false when the text is no version.
WINSTEPS_PLATFORM_EXPORT bool installerEngineVersion(const QString& version, pe::VersionInfo* info);
// The engine's image for a version text, for a tool that replaces the engine; empty when the
// text is no version.
WINSTEPS_PLATFORM_EXPORT std::vector<std::uint8_t> installerEngineImage(const QString& version);
// The version text of the engine a machine of the profile starts with; null: none.
WINSTEPS_PLATFORM_EXPORT QString installerVersionOf(const MachineProfile& profile);
// The engine's Windows path on a machine of the profile ("C:\WINDOWS\SYSTEM\msiexec.exe").
WINSTEPS_PLATFORM_EXPORT QString installerEnginePath(const MachineProfile& profile);

// The version of the engine the machine has now (read from its file, as any program reads
// it): "2.0.2600.2", or a null string when there is none or it carries no version.
WINSTEPS_PLATFORM_EXPORT QString installedEngineVersion(EmulatedMachine& machine);
// Whether version text a is older than b (both versions as installerEngineVersion takes them;
// a null a, no engine, is older than any).
WINSTEPS_PLATFORM_EXPORT bool olderEngineVersion(const QString& a, const QString& b);
// What the machine's engine redistributable (InstMsiA.exe) exits with instead of installing:
// the profile's "installerRedistributable": {"exitCode": N}; 0 (it installs) when not staged.
WINSTEPS_PLATFORM_EXPORT std::uint32_t redistributableExitCode(const MachineProfile& profile);
// Refuses an "installerRedistributable" that is not such an object, naming the key.
bool checkInstallerRedistributable(const QJsonObject& profile, const QString& source, QString* error);
// Refuses an "installerVersion" that is neither null nor a version text, naming the key.
bool checkInstallerVersion(const QJsonObject& profile, const QString& source, QString* error);
// Writes the system files of a machine just made. False + error text when one cannot be
// written.
bool writeSystemFiles(EmulatedMachine& machine, QString* error);

} // namespace winsteps::platform::emulated
