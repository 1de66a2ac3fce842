// The emulated InstMsiA.exe: the redistributable of installer engine 2.0 for the 95/98/ME
// family. It replaces the system folder's msiexec.exe with a 2.0 image; a 9x machine's engine
// is in use, so there the new image waits beside it for the restart (WININIT.INI).

#include "emulatedtools.h"

#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/systemfiles.h"
#include "platform/emulated/wininit.h"
#include "subcommand.h"


namespace winsteps::host {

namespace {

namespace platform = winsteps::platform;
namespace emulated = winsteps::platform::emulated;

// The Windows Installer's codes: a bad command line, a failed installation.
enum : std::uint32_t { Installed = 0, BadCommandLine = 1639, InstallFailed = 1603 };

const QString engineVersion = QStringLiteral("2.0");
constexpr std::uint32_t WriteFault = 29; // ERROR_WRITE_FAULT: a write that stopped short

std::uint32_t writeFile(emulated::EmulatedMachine& machine, const std::string& path, const QByteArray& bytes)
{
    platform::FileHandlePtr file;
    std::uint32_t done = 0;
    std::uint32_t code = machine.files().createFile(path, platform::GENERIC_WRITE, platform::CREATE_ALWAYS, &file);
    if (code == platform::ERROR_SUCCESS)
        code = file->write(bytes.constData(), std::uint32_t(bytes.size()), &done);
    return code == platform::ERROR_SUCCESS && done != std::uint32_t(bytes.size()) ? WriteFault : code;
}

// The text of a file; empty when there is none.
QByteArray readFile(emulated::EmulatedMachine& machine, const std::string& path)
{
    platform::FileHandlePtr file;
    QByteArray text;
    if (machine.files().createFile(path, platform::GENERIC_READ, platform::OPEN_EXISTING, &file) != platform::ERROR_SUCCESS)
        return text;
    char buffer[4096];
    std::uint32_t done = 0;
    while (text.size() <= emulated::maxWininitSize && file->read(buffer, sizeof buffer, &done) == platform::ERROR_SUCCESS && done > 0)
        text.append(buffer, qsizetype(done));
    return text;
}

// Records "engine=image" in WININIT.INI, once however often the tool runs before the restart.
std::uint32_t replaceAtRestart(emulated::EmulatedMachine& machine, const QString& engine, const QString& image)
{
    const std::string path = emulated::wininitPath(machine.profile()).toStdString();
    const QByteArray text = readFile(machine, path);
    for (const emulated::WininitRename& rename : emulated::wininitRenames(text)) {
        if (rename.target.compare(engine, Qt::CaseInsensitive) == 0 && rename.source.compare(image, Qt::CaseInsensitive) == 0)
            return platform::ERROR_SUCCESS;
    }
    return writeFile(machine, path, emulated::withWininitRename(text, {engine, image}));
}

// Installs the engine; *message is what the tool's dialog says.
std::uint32_t install(QString* message)
{
    emulated::EmulatedMachine& machine = emulated::currentMachine();
    const emulated::MachineProfile& profile = machine.profile();
    if (const std::uint32_t staged = emulated::redistributableExitCode(profile)) {
        *message = QStringLiteral("Windows Installer %1 could not be installed (error %2).").arg(engineVersion).arg(staged);
        return staged;
    }
    const QString engine = emulated::installerEnginePath(profile);
    const std::vector<std::uint8_t> bytes = emulated::installerEngineImage(engineVersion);
    const QString present = emulated::installedEngineVersion(machine);
    if (!emulated::olderEngineVersion(present, engineVersion)) {
        *message = QStringLiteral("A version of Windows Installer at least as new as %1 is already installed.").arg(engineVersion);
        return Installed;
    }
    // The new image goes beside the engine first, so that the engine is never half written.
    const QString image = engine.left(engine.lastIndexOf(QLatin1Char('\\')) + 1) + QStringLiteral("MSIEXEC.NEW");
    std::uint32_t code = writeFile(machine, image.toStdString(), QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())));
    std::uint32_t attributes = 0;
    const bool inUse = !profile.isNt() && machine.files().getFileAttributes(engine.toStdString(), &attributes) == platform::ERROR_SUCCESS;
    if (code == platform::ERROR_SUCCESS && inUse) {
        code = replaceAtRestart(machine, engine, image);
    } else if (code == platform::ERROR_SUCCESS) {
        const std::string target = engine.toStdString();
        code = machine.files().moveFileEx(image.toStdString(), &target, platform::MOVEFILE_REPLACE_EXISTING);
    }
    if (code != platform::ERROR_SUCCESS) {
        *message = QStringLiteral("Windows Installer %1 could not be installed (system error %2).").arg(engineVersion).arg(code);
        return InstallFailed;
    }
    *message = inUse ? QStringLiteral("Windows Installer %1 will be completed when Windows restarts.").arg(engineVersion)
                     : QStringLiteral("Windows Installer %1 has been installed.").arg(engineVersion);
    return Installed;
}

} // namespace

std::uint32_t instMsiTool(const QStringList& arguments)
{
    bool quiet = false;
    for (const QString& argument : arguments) {
        const QString option = argument.toUpper();
        if (option == QLatin1String("/Q") || option == QLatin1String("/Q:A") || option == QLatin1String("/Q:U")) {
            quiet = true;
        } else if (option != QLatin1String("/R:N") && !option.startsWith(QLatin1String("/T:"))) {
            cli::out(QStringLiteral("Command line options: /Q[:A|:U] quiet, /T:<folder> extraction folder, "
                                    "/R:N never restart (given: %1)\n")
                         .arg(argument));
            return BadCommandLine;
        }
    }
    QString message;
    const std::uint32_t code = install(&message);
    if (!quiet)
        cli::out(message + QLatin1Char('\n'));
    return code;
}

} // namespace winsteps::host
