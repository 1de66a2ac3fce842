#pragma once

#include "actions/cactionstate.h"
#include "winsteps_export.h"

// "installDriver": installs the driver package "infFile" from "rootPath" + "driverPath" on
// every device of "enumName" matching "hwidList" (CActionInstallDriverInf); leaves by
// "success" or "failed".
class WINSTEPS_EXPORT CInstallDriverInfState : public CActionState
{
    Q_OBJECT
public:
    CInstallDriverInfState(QObject* parent, const char* name, const QDomNode& description);
};

// "checkDriverInstallState": tells how far the driver of the devices of "enumName" matching
// "hwidList" is installed, changing nothing (CActionCheckDriverInstall); leaves by
// "nothingInstalled", "partlyInstalled", "allInstalled" or "failed".
class WINSTEPS_EXPORT CCheckInstallInfState : public CActionState
{
    Q_OBJECT
public:
    CCheckInstallInfState(QObject* parent, const char* name, const QDomNode& description);
};

// "removeDriver": removes the devices of "enumName" matching "hwidList", whose entries are
// separated by ";" (CActionRemoveDriver, given them as "hwIdMap"); leaves by "success" or
// "failed".
class WINSTEPS_EXPORT CRemoveDriverState : public CActionState
{
    Q_OBJECT
public:
    CRemoveDriverState(QObject* parent, const char* name, const QDomNode& description);
    void execute() override;
};
