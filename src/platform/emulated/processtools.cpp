// The emulated machine's system programs (tools) and its accounts: the administrator test,
// the credential prompt and the log-on check.

#include "platform/emulated/emulatedprocess.h"
#include "platform/emulated/errortext.h"

#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/machinefolder.h"

#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>
#include <climits>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

namespace winsteps::platform::emulated {

namespace {

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    return text;
}

// "DOMAIN\user" into its parts; a user principal name stays whole.
std::uint32_t splitUserName(const std::string& name, std::string* user, std::string* domain)
{
    const std::string::size_type backslash = name.find('\\');
    if (backslash != std::string::npos) {
        if (backslash == 0 || backslash + 1 == name.size() || name.find('\\', backslash + 1) != std::string::npos)
            return ERROR_INVALID_ACCOUNT_NAME;
        *domain = name.substr(0, backslash);
        *user = name.substr(backslash + 1);
        return ERROR_SUCCESS;
    }
    const std::string::size_type at = name.find('@');
    if (at != std::string::npos && at > 0 && at + 1 < name.size()) {
        *user = name;
        domain->clear();
        return ERROR_SUCCESS;
    }
    return ERROR_INVALID_ACCOUNT_NAME;
}

// Overwrites a temporary copy of secret text before it is freed.
void wipe(std::string& text)
{
    secureWipe(text.data(), text.size());
    text.clear();
}

void wipe(QByteArray& text)
{
    secureWipe(text.data(), std::size_t(text.size()));
    text.clear();
}

} // namespace

// --- tools ---------------------------------------------------------------------------------

const std::vector<ToolMapping>& builtinTools()
{
    static const std::vector<ToolMapping> tools = {
        {"ping.exe", "ping"},
        {"regsvr32.exe", "regsvr32"},
        {"instmsia.exe", "instmsia"},
        {"devprep.exe", "devprep"},
    };
    return tools;
}

std::string programFileName(const std::string& program)
{
    const std::string::size_type separator = program.find_last_of("/\\");
    return separator == std::string::npos ? program : program.substr(separator + 1);
}

std::string toolForProgram(const std::string& program)
{
    return toolForProgram(currentMachine().profile(), program);
}

std::string toolForProgram(const MachineProfile& profile, const std::string& program)
{
    const std::string name = lower(programFileName(program));
    if (name.empty())
        return std::string();
    const QJsonObject tools = profile.json().value(QLatin1String("tools")).toObject();
    for (auto it = tools.begin(); it != tools.end(); ++it) {
        if (lower(it.key().toStdString()) == name)
            return it.value().isString() ? it.value().toString().toStdString() : std::string();
    }
    for (const ToolMapping& mapping : builtinTools()) {
        if (name == mapping.fileName)
            return mapping.tool;
    }
    return std::string();
}

std::string toolHost()
{
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        self[n] = '\0';
        if (programFileName(self) == "winsteps")
            return self;
    }
    const char* named = std::getenv(toolHostVariable);
    return named && *named && ::access(named, X_OK) == 0 ? std::string(named) : std::string();
}

namespace {
int toolReportFd = -1; // set once, before any thread of the tool starts
} // namespace

bool openToolMachine(std::string* error)
{
    if (const char* fd = std::getenv(toolExitCodeVariable)) {
        char* end = nullptr;
        const long value = std::strtol(fd, &end, 10);
        if (end != fd && *end == '\0' && value >= 3 && value < INT_MAX && ::fcntl(int(value), F_GETFD) >= 0) {
            toolReportFd = int(value);
            // Programs that this tool starts in turn must not inherit the report pipe.
            ::fcntl(toolReportFd, F_SETFD, FD_CLOEXEC);
        }
        ::unsetenv(toolExitCodeVariable);
    }
    const char* folder = std::getenv(toolMachineVariable);
    const char* profile = std::getenv(toolProfileVariable);
    if (!folder || !*folder) {
        setError(error, std::string(toolMachineVariable) + " names no machine folder");
        return false;
    }
    // Without a profile named, an existing machine keeps the one it was made from.
    return openMachine(profile ? profile : "", folder, error);
}

void reportToolExitCode(std::uint32_t code)
{
    if (toolReportFd < 0)
        return;
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%u\n", unsigned(code));
    [[maybe_unused]] const ssize_t n = ::write(toolReportFd, text, std::size_t(length));
    ::close(toolReportFd);
    toolReportFd = -1;
}

// --- accounts ----------------------------------------------------------------------------

bool logonAccepted(const MachineProfile& profile, const char* user, const char* domain, const char* password)
{
    if (!user || !domain || !password)
        return false;
    // The machine's administrator accounts with their passwords.
    const QJsonValue declared = profile.json().value(QLatin1String("accounts"));
    QJsonObject accounts = declared.toObject();
    if (!declared.isObject())
        accounts.insert(profile.computerName() + QLatin1String("\\Administrator"), QString());
    bool accepted = false;
    for (auto it = accounts.begin(); it != accounts.end() && !accepted; ++it) {
        std::string knownUser, knownDomain;
        if (splitUserName(it.key().toStdString(), &knownUser, &knownDomain) != ERROR_SUCCESS
            || lower(knownUser) != lower(user) || lower(knownDomain) != lower(domain))
            continue;
        QByteArray knownPassword = it.value().toString().toUtf8();
        accepted = it.value().isString() && knownPassword == password;
        wipe(knownPassword);
    }
    return accepted;
}

bool EmulatedProcesses::isAdmin()
{
    return m_machine.system().isUserAnAdmin();
}

std::uint32_t EmulatedProcesses::promptForCredentials(const std::string&, const std::string&, std::uint32_t,
                                                      UserNameBuffer* userName, PasswordBuffer* password)
{
    userName->wipe();
    password->wipe();
    const QJsonValue value = m_machine.profile().json().value(QLatin1String("credentials"));
    if (!value.isObject())
        return ERROR_CANCELLED; // nobody types anything in
    const QJsonObject credentials = value.toObject();
    QByteArray user = credentials.value(QLatin1String("user")).toString().toUtf8();
    QByteArray secret = credentials.value(QLatin1String("password")).toString().toUtf8();
    const bool fits = userName->assign(user.constData(), std::size_t(user.size()))
                      && password->assign(secret.constData(), std::size_t(secret.size()));
    wipe(user);
    wipe(secret);
    if (!fits) {
        userName->wipe();
        password->wipe();
        return ERROR_INSUFFICIENT_BUFFER;
    }
    return ERROR_SUCCESS;
}

std::uint32_t EmulatedProcesses::parseUserName(const char* userName, UserNameBuffer* user, DomainBuffer* domain)
{
    user->wipe();
    domain->wipe();
    if (!userName)
        return ERROR_INVALID_ACCOUNT_NAME;
    std::string name = userName;
    std::string userPart, domainPart;
    std::uint32_t result = splitUserName(name, &userPart, &domainPart);
    if (result == ERROR_SUCCESS && (!user->assign(userPart.c_str()) || !domain->assign(domainPart.c_str())))
        result = ERROR_INSUFFICIENT_BUFFER;
    wipe(name);
    wipe(userPart);
    wipe(domainPart);
    return result;
}

} // namespace winsteps::platform::emulated
