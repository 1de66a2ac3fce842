#include "actions/cprocess.h"

#include "actions/cenumprocess.h"
#include "system/cosversion.h"
#include "debug/debugoutput.h"

#include <QRegExp>
#include <QThread>
#include <QTimer>

namespace platform = winsteps::platform;

namespace {

std::vector<std::string> toStd(const QStringList& list)
{
    std::vector<std::string> result;
    result.reserve(std::size_t(list.size()));
    for (const QString& text : list)
        result.push_back(text.toStdString());
    return result;
}

} // namespace

// The started process and the credentials of a log-on. The credential buffers are wiped
// after every launch that used them and when the launcher goes.
struct CProcess::Launcher
{
    platform::ProcessHandlePtr process; // absent while nothing runs
    bool exitCodeCollected = false;
    platform::UserNameBuffer user;
    platform::DomainBuffer domain;
    platform::PasswordBuffer password;
};

CProcess::CProcess(QObject* parent, const char* name)
    : QObject(parent)
    , d(std::make_unique<Launcher>())
    , m_timer(new QTimer(this))
{
    if (name)
        setObjectName(QString::fromUtf8(name));
    connect(m_timer, &QTimer::timeout, this, &CProcess::timeout);
}

CProcess::~CProcess() = default;

bool CProcess::isAdmin()
{
    return platform::processes().isAdmin();
}

void CProcess::setArguments(const QStringList& arguments)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_arguments = arguments;
}

void CProcess::addArgument(const QString& argument)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_arguments.append(argument);
}

QStringList CProcess::arguments() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_arguments;
}

void CProcess::clearArguments()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_arguments.clear();
}

QStringList CProcess::environmentBlock(const QStringList& environment)
{
    QStringList block;
    const QRegExp path(QStringLiteral("^PATH="));
    bool hasPath = false;
    for (const QString& entry : environment)
        hasPath = hasPath || path.indexIn(entry) >= 0;
    if (!hasPath && qEnvironmentVariableIsSet("PATH"))
        block << QLatin1String("PATH=") + qEnvironmentVariable("PATH");
    block << environment;
    return block;
}

bool CProcess::start(const QString& program, const QStringList& environment)
{
    return launch(program, environment, false, nullptr);
}

bool CProcess::start(const QString& program, const QStringList& environment, platform::ProcessHandlePtr* handle)
{
    return launch(program, environment, false, handle);
}

bool CProcess::startAsAdmin(const QString& program, const QStringList& environment)
{
    return launchAsAdmin(program, environment, nullptr);
}

bool CProcess::startAsAdmin(const QString& program, const QStringList& environment,
                            platform::ProcessHandlePtr* handle)
{
    return launchAsAdmin(program, environment, handle);
}

bool CProcess::launchAsAdmin(const QString& program, const QStringList& environment,
                             platform::ProcessHandlePtr* handle)
{
    const COsVersion os;
    if (os.isWinNt() && os.record().majorVersion >= 5 && !isAdmin()) {
        if (!promptForCredentials())
            return false;
        return launch(program, environment, true, handle);
    }
    return launch(program, environment, false, handle);
}

bool CProcess::promptForCredentials()
{
    // Only Windows XP offers the prompt for an administrator.
    if (!COsVersion().isWinXp())
        return false;
    platform::Processes& system = platform::processes();
    platform::UserNameBuffer typedUser; // wiped when they go
    platform::PasswordBuffer typedPassword;
    const std::uint32_t flags = platform::CREDUI_FLAGS_DO_NOT_PERSIST | platform::CREDUI_FLAGS_REQUEST_ADMINISTRATOR
                                | platform::CREDUI_FLAGS_USERNAME_TARGET_CREDENTIALS;
    if (system.promptForCredentials("Please provide the username and password of an account of the Administrators group.",
                                    "Administrator login", flags, &typedUser, &typedPassword)
        != platform::ERROR_SUCCESS)
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (system.parseUserName(typedUser.c_str(), &d->user, &d->domain) != platform::ERROR_SUCCESS
        || !d->password.assign(typedPassword.c_str(), typedPassword.size())) {
        d->user.wipe();
        d->domain.wipe();
        d->password.wipe();
        return false;
    }
    return true;
}

bool CProcess::launch(const QString& program, const QStringList& environment, bool logon,
                      platform::ProcessHandlePtr* handle)
{
    if (handle)
        handle->reset();
    std::unique_lock<std::mutex> lock(m_mutex);
    d->process.reset();
    d->exitCodeCollected = false;
    m_exitStatus = 0;
    m_normalExit = false;

    const std::string commandLine = platform::buildCommandLine(program.toStdString(), toStd(m_arguments));
    const std::vector<std::string> block = toStd(environmentBlock(environment));
    const std::vector<std::string>* env = environment.isEmpty() ? nullptr : &block;
    platform::ProcessHandlePtr process;
    std::uint32_t error;
    if (logon) {
        error = platform::processes().createProcessWithLogon(d->user.c_str(), d->domain.c_str(), d->password.c_str(),
                                                             commandLine, env, &process);
        // Whether or not the log-on worked, the credentials are not kept.
        d->user.wipe();
        d->domain.wipe();
        d->password.wipe();
    } else {
        error = platform::processes().createProcess(commandLine, env, &process);
    }
    if (error != platform::ERROR_SUCCESS || !process)
        return false;
    if (handle)
        *handle = process->duplicate();
    d->process = std::move(process);

    // The timer belongs to this object's thread. From a worker the start is posted as a plain
    // queued slot call (no functor object whose ownership would cross threads), made and
    // posted under the lock that event() takes before the call is read.
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, "startPoll", Qt::QueuedConnection);
        return true;
    }
    lock.unlock();
    startPoll();
    return true;
}

bool CProcess::event(QEvent* e)
{
    {
        // Pairs with the lock under which a worker made and posted the call: the toolkit's
        // own queue lock is not one that thread checkers know.
        std::lock_guard<std::mutex> lock(m_mutex);
    }
    return QObject::event(e);
}

void CProcess::startPoll()
{
    m_timer->start(pollInterval);
}

bool CProcess::isRunningLocked()
{
    if (!d->process)
        return false;
    if (d->process->wait(0) != platform::WAIT_OBJECT_0)
        return true;
    if (!d->exitCodeCollected) {
        std::uint32_t code = 0;
        if (d->process->getExitCode(&code) == platform::ERROR_SUCCESS && code != platform::STILL_ACTIVE) {
            m_exitStatus = code;
            m_normalExit = code != killExitCode;
        }
        d->exitCodeCollected = true;
    }
    d->process.reset();
    return false;
}

bool CProcess::isRunning()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return isRunningLocked();
}

quint32 CProcess::exitStatus() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_exitStatus;
}

bool CProcess::normalExit() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_normalExit;
}

quint32 CProcess::processIdentifier() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return d->process ? d->process->processId() : 0;
}

void CProcess::tryTerminate()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (d->process)
        platform::processes().postCloseToWindows(d->process->processId());
}

void CProcess::kill()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (d->process)
        d->process->terminate(killExitCode);
}

void CProcess::timeout()
{
    if (isRunning())
        return;
    m_timer->stop();
    Q_EMIT processExited();
}

quint32 CProcess::findProcess(const QString& fileName)
{
    CEnumProcess list;
    CEnumProcess::Entry entry;
    for (bool more = list.first(&entry); more; more = list.next(&entry)) {
        if (entry.fileName.compare(fileName, Qt::CaseInsensitive) == 0)
            return entry.processId;
    }
    return 0;
}

platform::ProcessHandlePtr CProcess::openProcess(const QString& fileName, bool withTerminate)
{
    const quint32 id = findProcess(fileName);
    if (id == 0)
        return nullptr;
    const std::uint32_t access = platform::PROCESS_SYNCHRONIZE | platform::PROCESS_QUERY_INFORMATION
                                 | (withTerminate ? platform::PROCESS_TERMINATE : 0);
    platform::ProcessHandlePtr process;
    const std::uint32_t error = platform::processes().openProcess(access, id, &process);
    if (error != platform::ERROR_SUCCESS) {
        winsteps::trace(winsteps::module::startprocessaction,
                        QLatin1String("Unable to open process, GetLastError = ") + QString::number(error)
                            + QLatin1Char('\n'));
        return nullptr;
    }
    return process;
}
