// The emulated regsvr32.exe: registers and unregisters emulated component files.

#include "emulatedtools.h"

#include "platform/emulated/emulatedmachine.h"
#include "subcommand.h"

namespace winsteps::host {

namespace {

namespace platform = winsteps::platform;

// The exit codes of regsvr32.
enum : std::uint32_t { Registered = 0, BadArguments = 1, ComFailed = 2, NotLoaded = 3, NoEntryPoint = 4, Failed = 5 };

// An option is "/" or "-" with one letter; "/media/cd/comp.ocx" is a path.
bool isOption(const QString& argument)
{
    return argument.size() == 2 && (argument.startsWith(QLatin1Char('/')) || argument.startsWith(QLatin1Char('-')));
}

QString hresultText(platform::HRESULT result)
{
    return QStringLiteral("0x%1").arg(std::uint32_t(result), 8, 16, QLatin1Char('0'));
}

// Loads one component and calls its entry point; *message is what the tool's dialog says.
std::uint32_t registerOne(const QString& file, bool unregister, QString* message)
{
    platform::emulated::EmulatedCom& com = platform::emulated::currentMachine().com();
    platform::emulated::ComponentFile component;
    std::string modulePath, why;
    const std::uint32_t loaded = com.loadComponent(file.toStdString(), &component, &modulePath, &why);
    if (loaded != platform::ERROR_SUCCESS) {
        const QString reason = loaded == platform::ERROR_MOD_NOT_FOUND ? QStringLiteral("The specified module could not be found.")
            : loaded == platform::ERROR_BAD_EXE_FORMAT
                ? QStringLiteral("The file is no component (%1).").arg(QString::fromStdString(why))
                : QStringLiteral("Error %1.").arg(loaded);
        *message = QStringLiteral("LoadLibrary(\"%1\") failed - %2").arg(file, reason);
        return NotLoaded;
    }
    const QString entryName = unregister ? QStringLiteral("DllUnregisterServer") : QStringLiteral("DllRegisterServer");
    if (!(unregister ? component.unregisterServer : component.registerServer).present) {
        *message = QStringLiteral("%1 was loaded, but the %2 entry point was not found.").arg(file, entryName);
        return NoEntryPoint;
    }
    const platform::HRESULT result = com.callEntryPoint(component, modulePath, unregister);
    if (platform::FAILED(result)) {
        *message = QStringLiteral("%1 in %2 failed. Return code was: %3").arg(entryName, file, hresultText(result));
        return Failed;
    }
    *message = QStringLiteral("%1 in %2 succeeded.").arg(entryName, file);
    return Registered;
}

} // namespace

std::uint32_t regsvr32Tool(const QStringList& arguments)
{
    bool silent = false;
    bool unregister = false;
    QStringList files;
    QString message;
    for (const QString& argument : arguments) {
        const QString option = argument.toLower();
        if (!isOption(argument))
            files << argument;
        else if (option.endsWith(QLatin1Char('s')))
            silent = true;
        else if (option.endsWith(QLatin1Char('u')))
            unregister = true;
        else if (message.isEmpty())
            message = QStringLiteral("Unrecognized flag: %1").arg(argument);
    }
    if (message.isEmpty() && files.isEmpty())
        message = QStringLiteral("No DLL name specified.");
    std::uint32_t code = message.isEmpty() ? Registered : BadArguments;
    // The modules are loaded with COM started, as regsvr32 does before it loads any.
    const bool com = code == Registered && platform::SUCCEEDED(platform::system().coInitialize());
    if (code == Registered && !com) {
        message = QStringLiteral("OleInitialize failed.");
        code = ComFailed;
    }
    for (const QString& file : std::as_const(files)) {
        if (code != Registered)
            break;
        code = registerOne(file, unregister, &message);
        if (!silent && code == Registered)
            cli::out(message + QLatin1Char('\n'));
    }
    if (com)
        platform::system().coUninitialize();
    if (!silent && code != Registered)
        cli::out(message + QLatin1Char('\n'));
    return code;
}

} // namespace winsteps::host
