#include "states/ccomponentstates.h"

#include "actions/cactioncopyfiles.h"
#include "actions/cactionstartapp.h"
#include "debug/debugoutput.h"
#include "fsm/eventnames.h"
#include "platform/com.h"
#include "platform/files.h"
#include "states/cmodversioninfo.h"
#include "states/statevalues.h"
#include "system/cosversion.h"

namespace platform = winsteps::platform;
using namespace winsteps;

namespace {

const QLatin1String NeedReboot("needReboot");
const QLatin1String Timeout("timeout");
const QLatin1String Installed("installed");
const QLatin1String NotInstalled("notInstalled");
const QString Identifier = QStringLiteral("identifier");
const QString ReturnCode = QStringLiteral("returnCode");

// Seconds the redistributable and regsvr32.exe are waited for.
constexpr int ProgramTimeout = 10;
// Copy results up to this one (copied, or a destination not written) let the registration go on.
constexpr int LastTolerableCopyResult = 2;

void traceLine(const QString& text)
{
    trace(module::systemCheck, text + QLatin1Char('\n'));
}

// COM started on the calling thread for the guard's lifetime, as an automation object starts
// it for itself, on every Windows (unlike CComInit, which leaves the 9x family alone).
class ComApartment
{
public:
    ComApartment()
        : m_started(platform::SUCCEEDED(platform::system().coInitialize()))
    {
    }
    ~ComApartment()
    {
        if (m_started)
            platform::system().coUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool m_started;
};

// Whether an object of the class that identifier names (class text or ProgID) can be created.
bool canCreate(const QString& identifier)
{
    ComApartment com;
    platform::CLSID clsid;
    return platform::SUCCEEDED(platform::com().clsidFromString(identifier.toStdString(), &clsid))
           && platform::SUCCEEDED(platform::com().coCreateInstance(clsid));
}

bool isFile(const QString& path)
{
    std::uint32_t attributes = 0;
    return platform::files().getFileAttributes(path.toStdString(), &attributes) == platform::ERROR_SUCCESS
           && !(attributes & platform::FILE_ATTRIBUTE_DIRECTORY);
}

// Runs the program through the state's action, with no exit code from before. A state whose
// action was taken away (reset) has nothing to run it with and leaves by "failed".
void startProgram(CActionState* state, const QString& command, const QStringList& arguments)
{
    CAction* action = state->action();
    if (!action) {
        state->setExitEvent(event::failed);
        state->leaveState();
        return;
    }
    action->setProperty(QStringLiteral("command"), command);
    action->setProperty(QStringLiteral("argumentList"), arguments);
    action->setProperty(QStringLiteral("timeout"), ProgramTimeout);
    action->setProperty(ReturnCode, 0);
    state->CActionState::execute();
}

// Whether the program did not do its work: it could not run or timed out (a result above 0),
// or it ended with an exit code other than 0 (the action's own "returnCode", not the state's).
bool programFailed(const CAction* action, int result)
{
    return result > 0 || (action && action->CPropertyObject::property(ReturnCode).toLongLong() != 0);
}

} // namespace

// --- systemCheck_installMSI -----------------------------------------------------------------

CInstallMsiState::CInstallMsiState(QObject* parent, const char* name, const QDomNode& description)
    : CActionState(parent, name, description)
{
    addEvent(event::finished);
    addEvent(event::failed);
    addEvent(NeedReboot);
    addRequiredProperty(QStringLiteral("msiPath"));
    setAction(new CActionStartApp(this, "actionInstallMSI", QDomNode()));
}

void CInstallMsiState::execute()
{
    setExitEvent(event::finished);
    if (!COsVersion().isWin9x()) {
        leaveState();
        return;
    }
    init();
    const QString engine = expand(QStringLiteral("%WINSYSDIR%\\msiexec.exe"));
    if (isFile(engine)) {
        const CModVersionInfo version(engine);
        traceLine(QStringLiteral("Microsoft Installer version %1.%2 detected.")
                      .arg(version.majorVersion())
                      .arg(version.minorVersion()));
        if (version.majorVersion() >= 2) {
            leaveState();
            return;
        }
        setExitEvent(NeedReboot);
    } else {
        traceLine(QStringLiteral("Microsoft Installer not found."));
    }
    if (states::flagValue(property("forceReboot")))
        setExitEvent(NeedReboot);
    startProgram(this, property("msiPath").toString() + QLatin1String("\\InstMsiA.exe"), {QStringLiteral("/Q")});
}

void CInstallMsiState::slot_actionFinished(int result)
{
    traceLine(QLatin1String("--- State ") + objectName() + QLatin1String(": actionFinished - result = ")
              + QString::number(result));
    if (programFailed(action(), result))
        setExitEvent(event::failed);
    leaveState();
}

// --- installAxComponent ---------------------------------------------------------------------

CInstallAxComponentState::CInstallAxComponentState(QObject* parent, const char* name, const QDomNode& description)
    : CActionState(parent, name, description)
{
    addEvent(event::success);
    addEvent(event::failed);
    addEvent(Timeout);
    addRequiredProperty(Identifier);
    addRequiredProperty(QStringLiteral("pluginPath"));
    setAction(new CActionStartApp(this, "actionRegisterComponent", QDomNode()));
}

void CInstallAxComponentState::execute()
{
    setExitEvent(event::success);
    if (canCreate(property(Identifier).toString())) {
        traceLine(QStringLiteral("Component exists."));
        leaveState();
        return;
    }
    traceLine(QStringLiteral("installing component..."));
    init();
    const QString source = expand(property("pluginPath").toString());
    const QString destination = expand(QStringLiteral("%WINSYSDIR%"));
    int copied = 0;
    {
        // Built for this one copy and run here, on the event thread.
        CActionCopyFiles copy(this, "actionCopyComponent");
        copy.addFile(source, destination);
        copied = copy.execute();
    }
    if (copied > LastTolerableCopyResult) {
        setExitEvent(event::failed);
        leaveState();
        return;
    }
    const QString fileName = source.section(QLatin1Char('/'), -1);
    startProgram(this, QStringLiteral("regsvr32.exe"), {QStringLiteral("/s"), destination + QLatin1Char('/') + fileName});
}

void CInstallAxComponentState::slot_actionFinished(int result)
{
    // A registration that regsvr32.exe reports as failed is no success.
    if (action() && programFailed(action(), result))
        action()->setResultEvent(event::failed);
    CActionState::slot_actionFinished(result);
}

// --- checkAxComponent -----------------------------------------------------------------------

CCheckAxComponentState::CCheckAxComponentState(QObject* parent, const char* name, const QDomNode& description)
    : CState(parent, name, description)
{
    addEvent(Installed);
    addEvent(NotInstalled);
    addRequiredProperty(Identifier);
}

void CCheckAxComponentState::execute()
{
    setExitEvent(canCreate(property(Identifier).toString()) ? QString(Installed) : QString(NotInstalled));
    leaveState();
}
