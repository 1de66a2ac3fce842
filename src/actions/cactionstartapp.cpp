#include "actions/cactionstartapp.h"

#include "actions/actionvalues.h"
#include "actions/cprocess.h"
#include "debug/debugoutput.h"
#include "fsm/eventnames.h"

namespace platform = winsteps::platform;

namespace {

const QString ArgumentList = QStringLiteral("argumentList");
const QString ReturnCode = QStringLiteral("returnCode");

void traceLine(const QString& text)
{
    winsteps::trace(winsteps::module::startprocessaction, text + QLatin1Char('\n'));
}

// The last component of a program path; Windows paths use either separator.
QString fileNameOf(const QString& program)
{
    const qsizetype separator = qMax(program.lastIndexOf(QLatin1Char('/')), program.lastIndexOf(QLatin1Char('\\')));
    return program.mid(separator + 1);
}

} // namespace

CActionStartApp::CActionStartApp(QObject* parent, const char* name, const QDomNode& element)
    : CThreadedAction(parent, name, element)
    , m_process(std::make_unique<CProcess>(nullptr, "process"))
{
    init();
}

CActionStartApp::~CActionStartApp()
{
    stopAndWait(); // the worker uses m_process, which goes after this
}

int CActionStartApp::maxProgress() const
{
    const int timeout = winsteps::actionvalues::toInt(property(QStringLiteral("timeout")));
    return timeout >= 1 ? timeout : CAction::maxProgress();
}

QStringList CActionStartApp::configuredArguments()
{
    const bool own = CPropertyObject::hasProperty(ArgumentList);
    const QVariant ownValue = own ? CPropertyObject::property(ArgumentList) : QVariant();
    if (own && !m_writtenArguments.isEmpty() && winsteps::actionvalues::toArguments(ownValue) == m_writtenArguments) {
        // The list is the one the last run stored: run with what was configured before it,
        // not with the command once more in front of the arguments.
        if (m_configuredArguments.isValid())
            return winsteps::actionvalues::toArguments(m_configuredArguments);
        const CPropertyObject* owner = parentProperties();
        return owner ? winsteps::actionvalues::toArguments(owner->CPropertyObject::property(ArgumentList)) : QStringList();
    }
    m_configuredArguments = ownValue;
    return winsteps::actionvalues::toArguments(property(ArgumentList));
}

int CActionStartApp::execute()
{
    const bool undo = hasProperty(QStringLiteral("undo")) && winsteps::actionvalues::toBool(property(QStringLiteral("undo")));
    const int timeout = winsteps::actionvalues::toInt(property(QStringLiteral("timeout")));
    QStringList list(expand(property(QStringLiteral("command")).toString()));
    const QStringList arguments = configuredArguments();
    for (const QString& argument : arguments)
        list << expand(argument);
    m_writtenArguments = list;
    setResultProperty(ArgumentList, list);

    quint32 exitCode = 0;
    int result;
    if (undo) {
        result = stopProcess(list, timeout, &exitCode);
        setResultProperty(ReturnCode, qlonglong(exitCode));
    } else {
        const platform::ProcessHandlePtr process = startProcess(list, winsteps::actionvalues::toBool(property(QStringLiteral("admin"))));
        if (!process) {
            result = StartFailed;
        } else if (timeout == 0) {
            result = Success;
        } else {
            result = waitForProcess(*process, timeout, &exitCode);
            if (result == Success)
                setResultProperty(ReturnCode, qlonglong(exitCode));
        }
    }
    setResultEvent(result == Success ? winsteps::event::success : winsteps::event::failed);
    return result;
}

platform::ProcessHandlePtr CActionStartApp::startProcess(const QStringList& list, bool admin)
{
    const QString program = list.value(0);
    const QString fileName = fileNameOf(program);
    if (!fileName.isEmpty() && CProcess::findProcess(fileName) != 0) {
        // Wait for the instance that is there rather than start a second one.
        traceLine(QStringLiteral("startProcess() process already running"));
        return CProcess::openProcess(fileName, false);
    }
    m_process->setArguments(list.mid(1));
    // The handle comes out of the launch itself: a program that ends at once is still waited
    // for (and its exit code read) however soon the process object's poll lets go of it.
    platform::ProcessHandlePtr handle;
    const bool started = admin ? m_process->startAsAdmin(program, QStringList(), &handle)
                               : m_process->start(program, QStringList(), &handle);
    if (!started || !handle) {
        traceLine(QStringLiteral("startProcess() start failed"));
        return nullptr;
    }
    traceLine(QStringLiteral("startProcess() start success"));
    return handle;
}

int CActionStartApp::waitForProcess(platform::ProcessHandle& process, int timeout, quint32* exitCode)
{
    // One-second waits, each made of 100 ms slices so that a stop is seen in time.
    for (int waits = 0; timeout == -1 || waits < timeout; ++waits) {
        bool ended = false;
        for (int slice = 0; slice < 10 && !ended; ++slice) {
            if (isStopRequested()) {
                traceLine(QStringLiteral("Process wait stopped"));
                return TimedOut;
            }
            ended = process.wait(100) == platform::WAIT_OBJECT_0;
        }
        if (ended) {
            std::uint32_t code = 0;
            if (process.getExitCode(&code) == platform::ERROR_SUCCESS) {
                *exitCode = code;
                traceLine(QLatin1String("Process finished, return code = ") + QString::number(code));
            } else {
                traceLine(QStringLiteral("Process finished, failed to get return code."));
            }
            return Success;
        }
        stepProgress();
    }
    traceLine(QStringLiteral("Process timeout"));
    return TimedOut;
}

int CActionStartApp::stopProcess(const QStringList& list, int timeout, quint32* exitCode)
{
    const QString fileName = fileNameOf(list.value(0));
    const platform::ProcessHandlePtr process = fileName.isEmpty() ? nullptr : CProcess::openProcess(fileName, true);
    if (process && process->terminate(0) == platform::ERROR_SUCCESS)
        return timeout != 0 ? waitForProcess(*process, timeout, exitCode) : Success;
    traceLine(QStringLiteral("Process not stopped"));
    return StartFailed;
}
