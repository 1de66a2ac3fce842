#include "netdev/cactioninstalldriverinf.h"

#include "actions/actionvalues.h"
#include "actions/cactioncopyfiles.h"
#include "fsm/eventnames.h"
#include "netdev/driverwork.h"
#include "platform/files.h"
#include "system/cosversion.h"

using namespace winsteps::netdev;

namespace {

// Copy codes up to this one (copied, access denied, ...) count as a successful copy.
constexpr int LastTolerableCopyResult = 2;

QString quoted(const QString& text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

} // namespace

CActionInstallDriverInf::CActionInstallDriverInf(QObject* parent, const char* name, const QDomNode& element)
    : CThreadedAction(parent, name, element)
    , m_element(element)
    , m_copy(new CActionCopyFiles(parent, name, element))
{
    init();
}

CActionInstallDriverInf::~CActionInstallDriverInf()
{
    stopAndWait(); // the worker uses m_copy
    delete m_copy;
}

void CActionInstallDriverInf::start()
{
    if (m_copyUsed && !isWorkerRunning()) {
        // A copy action that has been stopped stays stopped: the next copy needs a new one.
        const QByteArray name = m_copy->objectName().toUtf8();
        delete m_copy;
        m_copy = new CActionCopyFiles(parent(), name.constData(), m_element);
        m_copyUsed = false;
    }
    CThreadedAction::start();
}

int CActionInstallDriverInf::execute()
{
    setResultEvent(winsteps::event::failed);
    const auto text = [this](const char* name) { return property(QLatin1String(name)).toString(); };
    const QString infFile = text("infFile");
    const QString driverPath = text("driverPath");
    const QString enumerator = text("enumName");
    const QString hwidList = text("hwidList");
    const QString rootPath = text("rootPath");
    traceDevprep(QStringLiteral("properties:"));
    traceDevprep(QLatin1String("   infFile: ") + infFile);
    traceDevprep(QLatin1String("   driverPath: ") + driverPath);
    traceDevprep(QLatin1String("   enumName: ") + enumerator);
    traceDevprep(QLatin1String("   hwidList: ") + hwidList);
    traceDevprep(QLatin1String("   rootPath: ") + rootPath);
    traceDevprep(QLatin1String("   infInstallerPath: ") + text("infInstallerPath"));

    QString driverDirectory = rootPath;
    if (!driverPath.isEmpty()) {
        driverDirectory += driverPath;
        traceDevprep(QLatin1String("full driver path: ") + driverDirectory);
    }
    int result = installWork(infFile, driverDirectory, enumerator, identifiers(hwidList, QLatin1Char(',')));
    if (result != Success)
        return result;
    if (COsVersion().isWin9x()) {
        const int copied = copyDriverFiles();
        if (copied > LastTolerableCopyResult)
            return CopyFailed;
    }
    setResultEvent(winsteps::event::success);
    return result;
}

int CActionInstallDriverInf::copyDriverFiles()
{
    traceDevprep(QStringLiteral("Copy driver files for Windows9x."));
    m_copyUsed = true;
    m_copy->resetProgress();
    const int copied = m_copy->execute();
    traceDevprep(QLatin1String("   result = ") + QString::number(copied));
    m_copy->stop();
    return copied;
}

int CActionInstallDriverInf::installWork(const QString& infFile, const QString& driverDirectory,
                                         const QString& enumerator, const QStringList& identifiers)
{
    const COsVersion os;
    if (os.isWin98x() || os.isWinMe())
        clearDriverIndex();
    const int result = useInfInstaller()
        ? installWithTool(infFile, driverDirectory, enumerator, identifiers)
        : installWithDeviceManager(driverDirectory + QLatin1Char('/') + infFile, driverDirectory, enumerator, identifiers);
    traceDevprep(QLatin1String("install finished - result = ") + QString::number(result));
    return result;
}

void CActionInstallDriverInf::clearDriverIndex()
{
    traceDevprep(QStringLiteral("   Clear registry database for Windows 98 and Windows ME"));
    // The system builds both index files anew; a file that is not there is no error.
    for (const char* file : {"%WINDIR%\\INF\\DRVDATA.BIN", "%WINDIR%\\INF\\DRVIDX.BIN"})
        winsteps::platform::files().deleteFile(expand(QLatin1String(file)).toStdString());
}

bool CActionInstallDriverInf::useInfInstaller() const
{
    return winsteps::actionvalues::toBool(property(QStringLiteral("useInfInstaller")));
}

int CActionInstallDriverInf::installWithDeviceManager(const QString& infPath, const QString& driverDirectory,
                                                      const QString& enumerator, const QStringList& identifiers)
{
    traceDevprep(QStringLiteral("install using CDMDevice"));
    const bool preInstalled = CDMDevice::preInstallDriver(infPath, driverDirectory);
    traceDevprep(QLatin1String("   preInstallDriver result = ") + (preInstalled ? QLatin1String("true") : QLatin1String("false")));
    stepProgress();
    if (!preInstalled)
        return PreInstallFailed;
    int result = Success;
    DeviceList devices;
    findDevices(enumerator, devices, false);
    for (const auto& device : devices) {
        const QString hardwareId = device->hardwareId();
        for (const QString& identifier : identifiers) {
            if (!matchesId(hardwareId, identifier))
                continue;
            startProgressTimer();
            // The package was pre-installed from the driver directory; the node is given that.
            if (!device->installDriver(driverDirectory))
                result = InstallFailed;
            stopProgressTimer();
        }
    }
    return result;
}

int CActionInstallDriverInf::installWithTool(const QString& infFile, const QString& driverDirectory,
                                             const QString& enumerator, const QStringList& identifiers)
{
    traceDevprep(QStringLiteral("install using devprep.exe"));
    const QString location = property(QStringLiteral("rootPath")).toString() + property(QStringLiteral("infInstallerPath")).toString();
    traceDevprep(QLatin1String("  location = ") + location);
    bool started = false;
    int result = runTool(*this, location,
                         {QStringLiteral("-p"), quoted(driverDirectory), quoted(driverDirectory + QLatin1Char('/') + infFile)},
                         &started);
    if (!started) {
        traceDevprep(QStringLiteral("   devprep.exe not started"));
        return NotStarted;
    }
    traceDevprep(QLatin1String("   pre-install result = ") + QString::number(result));
    stepProgress();
    if (result != Success)
        return result;
    QStringList arguments{QStringLiteral("-i"), quoted(driverDirectory), enumerator};
    arguments << identifiers;
    result = runTool(*this, location, arguments, &started);
    traceDevprep(started ? QLatin1String("   install result = ") + QString::number(result)
                         : QStringLiteral("   devprep.exe not started"));
    return result;
}
