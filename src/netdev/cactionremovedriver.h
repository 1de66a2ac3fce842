#pragma once

#include "actions/cthreadedaction.h"
#include "winsteps_export.h"

#include <QStringList>

// Removes every device node whose hardware identifier matches, for each entry of "hwIdMap"
// (enumerator name -> identifiers, in map order; "net": every network adapter), either
// through the device manager (CDMDevice) or by running devprep.exe ("useInfInstaller",
// "rootPath" + "infInstallerPath"). The first entry that does not give 0 ends the run.
//
// Result codes: 0 success; device-manager way 3 removing a matching device failed; tool way
// the tool's exit code, -1 when it could not be started. Event "success" or "failed".
class WINSTEPS_EXPORT CActionRemoveDriver : public CThreadedAction
{
    Q_OBJECT
public:
    enum Result { Success = 0, RemoveFailed = 3, NotStarted = -1 };

    CActionRemoveDriver(QObject* parent, const char* name, const QDomNode& element = QDomNode());
    ~CActionRemoveDriver() override;

    int execute() override;
    virtual int removeWork(const QString& enumerator, const QStringList& identifiers);
};
