#pragma once

#include "platform/driverpackages.h"
#include "platform/emulated/infreader.h"
#include "winsteps_platform_export.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace winsteps::platform::emulated {

class EmulatedMachine;
class MachineProfile;

// The driver packages of an emulated machine. A staged package is the INF file itself in
// "<windows>\INF" (oemN.inf); nothing else is kept, so every process on the machine folder
// sees the same packages. Installing reads the staged packages (infreader.h, for the machine's
// platform), binds the best model's driver to the node through the machine's device tree
// (EmulatedDevices::bindDriver), writes its driver key below
// HKLM\SYSTEM\CurrentControlSet\Control\Class and creates the service the model names where
// it is missing (on Windows NT; the 9x family has no service control manager).
//
// Made per use: it holds nothing but its machine.
class WINSTEPS_PLATFORM_EXPORT EmulatedDriverPackages final : public DriverPackages {
public:
    explicit EmulatedDriverPackages(EmulatedMachine& machine) : m_machine(machine) {}

    std::uint32_t copyOemInf(const std::string& sourceInf, const std::string& mediaLocation,
                             std::uint32_t copyStyle, std::string* destinationName) override;
    std::uint32_t oemInfs(std::vector<std::string>* names) override;
    std::uint32_t updateDriverForPlugAndPlayDevices(const std::string& hardwareId, const std::string& fullInfPath,
                                                    std::uint32_t installFlags, bool* rebootRequired) override;
    std::uint32_t installOnNode(const std::string& instanceId, const std::string& infPath,
                                bool* rebootRequired) override;
    std::uint32_t removeNode(const std::string& instanceId, bool* rebootRequired) override;

    // --- the machine's owner (machine show, tests) ------------------------------------------

    // The platform a machine of the profile reads INF files for.
    static inf::Target target(const MachineProfile& profile);
    // "C:\WINDOWS\INF" on a machine of the profile.
    static QString infFolder(const MachineProfile& profile);

    // A staged package as machine show lists it.
    struct Staged {
        QString name;     // "oem0.inf"
        QString provider;
        QString classGuid;
        QString driverVersion;
        QStringList hardwareIds; // the first id of each model for this machine
    };
    // The staged packages in the order of their number; one that no longer reads is left out.
    QList<Staged> staged();

    // Reads the INF of a Windows path on the machine (drive C: only). ERROR_FILE_NOT_FOUND
    // when it is missing; the reader's code (and *error) when it does not read.
    std::uint32_t readInf(const QString& windowsPath, QByteArray* bytes, inf::Package* package,
                          inf::Error* error = nullptr);

private:
    struct Candidate {
        QString oemName;
        inf::Package package;
    };
    QList<Candidate> stagedPackages();
    std::uint32_t bind(const QString& instanceId, const Candidate& candidate, const inf::Model& model);
    std::uint32_t createService(const inf::Service& service);
    std::uint32_t writeDriverKey(const QString& key, const Candidate& candidate, const inf::Model& model,
                                 const QString& matchingId);

    EmulatedMachine& m_machine;
};

// Writes "<windows>\INF\DRVDATA.BIN" and "DRVIDX.BIN" on a Windows 98 or ME machine (the
// driver index files there); nothing on other systems. False + error when they cannot be
// written.
bool writeDriverIndexFiles(EmulatedMachine& machine, QString* error);

} // namespace winsteps::platform::emulated
