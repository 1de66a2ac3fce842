#pragma once

#include "actions/cthreadedaction.h"
#include "system/istandardpaths.h"
#include "winsteps_export.h"

#include <QDomNode>
#include <QStringList>

class CActionCopyFiles;

// Pre-installs a driver package from an INF file and installs it on every present device
// whose hardware identifier matches, either through the device manager (CDMDevice) or by
// running the INF-installer tool devprep.exe ("useInfInstaller").
//
// Properties (normally the owning state's): "infFile" (relative to the driver directory),
// "driverPath" (appended to "rootPath" as it is), "rootPath", "enumName" ("net": every
// network adapter), "hwidList" (identifiers separated by ","), "useInfInstaller",
// "infInstallerPath" (the tool, relative to "rootPath"). On Windows 98 and ME the system's
// driver index files are deleted first; on the 9x family a successful install is followed
// by the copy orders of the same configuration (an owned CActionCopyFiles).
//
// Result codes: 0 success; device-manager way 1 pre-install failed, 2 installing on a
// matching device failed; tool way the tool's exit code, -1 when it could not be started;
// 4 the 9x copy of driver files ended with a code above 2. Event "success" or "failed".
class WINSTEPS_EXPORT CActionInstallDriverInf : public CThreadedAction, private IStandardPaths
{
    Q_OBJECT
public:
    enum Result { Success = 0, PreInstallFailed = 1, InstallFailed = 2, CopyFailed = 4, NotStarted = -1 };

    CActionInstallDriverInf(QObject* parent, const char* name, const QDomNode& element = QDomNode());
    ~CActionInstallDriverInf() override;

    // Starts a run; a copy action that an earlier run used (and stopped) is made anew first.
    void start() override;
    int execute() override;
    virtual int installWork(const QString& infFile, const QString& driverDirectory, const QString& enumerator,
                            const QStringList& identifiers);

    CActionCopyFiles* copyAction() const { return m_copy; }

protected:
    // Runs the copy orders of the configuration on this thread; the copy's result.
    virtual int copyDriverFiles();

private:
    bool useInfInstaller() const;
    int installWithDeviceManager(const QString& infPath, const QString& driverDirectory, const QString& enumerator,
                                 const QStringList& identifiers);
    int installWithTool(const QString& infFile, const QString& driverDirectory, const QString& enumerator,
                        const QStringList& identifiers);
    void clearDriverIndex();

    QDomNode m_element;
    CActionCopyFiles* m_copy = nullptr; // child of the same parent; deleted with this action
    bool m_copyUsed = false;            // written by the worker, read after it has ended
};
