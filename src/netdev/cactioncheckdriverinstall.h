#pragma once

#include "actions/cthreadedaction.h"
#include "winsteps_export.h"

// Tells how far a driver is installed, changing nothing: among the present devices of
// "enumName" ("net": every network adapter) whose hardware identifier matches an entry of
// "hwidList" (entries separated by ","), counts those that have a driver bound (a driver
// key, and no problem code); when "infFile" is given, the driver must come from that package
// ("rootPath" + "driverPath" + "/" + "infFile", as the install reads it). None of them (or no matching device at all) gives the event
// "nothingInstalled", some "partlyInstalled", all "allInstalled"; result 0 for each. A
// device list that cannot be read gives "failed" with the enumeration's result.
class WINSTEPS_EXPORT CActionCheckDriverInstall : public CThreadedAction
{
    Q_OBJECT
public:
    static constexpr QLatin1String nothingInstalled{"nothingInstalled"};
    static constexpr QLatin1String partlyInstalled{"partlyInstalled"};
    static constexpr QLatin1String allInstalled{"allInstalled"};

    CActionCheckDriverInstall(QObject* parent, const char* name, const QDomNode& element = QDomNode());
    ~CActionCheckDriverInstall() override;

    int execute() override;
};
