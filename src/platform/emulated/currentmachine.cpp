#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/errortext.h"
#include "platform/emulated/machinefolder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

// The process-wide choice of machine. Machines are never destroyed: a reference taken from
// a subsystem accessor must stay valid even after openMachine() replaced the machine, and traces may
// reach the debugger channel during static destruction. Temporary folders go at exit.

namespace winsteps::platform {

System& system()
{
    return emulated::currentMachine().system();
}

Registry& registry()
{
    return emulated::currentMachine().registry();
}

Files& files()
{
    return emulated::currentMachine().files();
}

Processes& processes()
{
    return emulated::currentMachine().processes();
}

Services& services()
{
    return emulated::currentMachine().services();
}

Com& com()
{
    return emulated::currentMachine().com();
}

FileVersions& fileVersions()
{
    return emulated::currentMachine().fileVersions();
}

namespace emulated {

namespace {

struct Machines {
    std::mutex mutex;
    EmulatedMachine* current = nullptr;
    std::vector<EmulatedMachine*> all;
    std::vector<std::string> temporaryFolders;
    pid_t owner = 0; // the process that made the temporary folders
    bool capture = false;
};

Machines& machines()
{
    static Machines* instance = new Machines;
    return *instance;
}

void removeTemporaryFolders()
{
    Machines& m = machines();
    std::lock_guard<std::mutex> lock(m.mutex);
    // A forked child that exits must not take its parent's machine with it.
    if (m.owner != getpid())
        return;
    for (const std::string& folder : m.temporaryFolders) {
        std::error_code error;
        std::filesystem::remove_all(folder, error);
    }
    m.temporaryFolders.clear();
}

// A fresh, empty temporary folder, remembered for removal at exit. Caller holds the lock.
QString makeTemporaryFolder(Machines& m)
{
    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/winsteps-machine-XXXXXX"));
    if (!dir.isValid())
        return QString();
    dir.setAutoRemove(false);
    if (m.temporaryFolders.empty()) {
        m.owner = getpid();
        std::atexit(removeTemporaryFolders);
    }
    m.temporaryFolders.push_back(QFile::encodeName(dir.path()).toStdString());
    return dir.path();
}

void forgetTemporaryFolder(Machines& m, const QString& folder)
{
    const std::string path = QFile::encodeName(folder).toStdString();
    std::error_code error;
    std::filesystem::remove_all(path, error);
    m.temporaryFolders.erase(std::remove(m.temporaryFolders.begin(), m.temporaryFolders.end(), path),
                             m.temporaryFolders.end());
}

// Caller holds the lock.
void install(Machines& m, std::unique_ptr<EmulatedMachine> machine)
{
    if (m.capture)
        machine->setDebuggerCapture(true);
    m.current = machine.release();
    m.all.push_back(m.current);
}

// Opens a machine; caller holds the lock. An existing machine folder keeps the profile it
// was made from (profileName may be empty or name that profile); a new or temporary one is
// made from profileName, or from the default profile when it is empty.
bool openLocked(Machines& m, const QString& profileName, const QString& folder, QString* error)
{
    const bool temporary = folder.isEmpty();
    if (temporary) {
        // Check the profile before a folder is made for it.
        MachineProfile profile;
        if (!profile.load(profileName.isEmpty() ? QString::fromStdString(defaultProfileName()) : profileName, error))
            return false;
    }
    const QString dir = temporary ? makeTemporaryFolder(m) : folder;
    if (dir.isEmpty()) {
        setError(error, QStringLiteral("cannot create a temporary machine folder in \"%1\"").arg(QDir::tempPath()));
        return false;
    }
    std::unique_ptr<EmulatedMachine> machine = EmulatedMachine::openFolder(profileName, dir, error);
    if (!machine) {
        if (temporary)
            forgetTemporaryFolder(m, dir);
        return false;
    }
    install(m, std::move(machine));
    return true;
}

} // namespace

bool openMachine(const std::string& profile, const std::string& folder, std::string* error)
{
    Machines& m = machines();
    std::lock_guard<std::mutex> lock(m.mutex);
    QString message;
    if (openLocked(m, QString::fromStdString(profile), QString::fromStdString(folder), &message))
        return true;
    setError(error, message.toStdString());
    return false;
}

std::string currentProfileName()
{
    return currentMachine().profile().name().toStdString();
}

std::string currentMachineFolder()
{
    return currentMachine().folder().toStdString();
}

std::vector<std::string> builtinProfileNames()
{
    std::vector<std::string> names;
    const QStringList list = MachineProfile::builtinNames();
    for (const QString& name : list)
        names.push_back(name.toStdString());
    return names;
}

std::string defaultProfileName()
{
    return "winxp-sp2";
}

void setDebuggerCapture(bool on)
{
    Machines& m = machines();
    std::lock_guard<std::mutex> lock(m.mutex);
    m.capture = on;
    if (m.current)
        m.current->setDebuggerCapture(on);
}

EmulatedMachine& currentMachine()
{
    Machines& m = machines();
    std::lock_guard<std::mutex> lock(m.mutex);
    if (m.current)
        return *m.current;
    QString error;
    const QByteArray named = qgetenv("WINSTEPS_MACHINE");
    if (!named.isEmpty() && openLocked(m, QString(), QFile::decodeName(named), &error))
        return *m.current;
    if (openLocked(m, QString(), QString(), &error))
        return *m.current;
    // No folder can be made: a machine whose folder queries fail still answers the rest.
    MachineProfile profile;
    if (!profile.load(QString::fromStdString(defaultProfileName()), &error))
        profile.parse(R"({"os": {"platformId": 2, "major": 5, "minor": 1, "build": 2600}})", QString(), &error);
    install(m, EmulatedMachine::detached(profile, QDir::tempPath() + QStringLiteral("/winsteps-machine-unavailable")));
    return *m.current;
}

} // namespace emulated

} // namespace winsteps::platform
