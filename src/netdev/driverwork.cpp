#include "netdev/driverwork.h"

#include "actions/caction.h"
#include "debug/debugoutput.h"
#include "platform/process.h"

namespace winsteps::netdev {

int findDevices(const QString& enumerator, DeviceList& devices, bool present)
{
    if (enumerator == networkEnumerator)
        return CDMDevice::enumerate(CGUID::networkAdapterClass(), devices, present, QString(), QString());
    return CDMDevice::enumerate(CGUID::null(), devices, present, QString(), enumerator);
}

bool matchesId(const QString& hardwareId, const QString& identifier)
{
    return !identifier.isEmpty() && hardwareId.contains(identifier, Qt::CaseInsensitive);
}

void traceDevprep(const QString& text)
{
    winsteps::trace(winsteps::module::devprep, text + QLatin1Char('\n'));
}

int runTool(const CAction& action, const QString& program, const QStringList& arguments, bool* started)
{
    std::vector<std::string> args;
    for (const QString& argument : arguments)
        args.push_back(argument.toStdString());
    platform::ProcessHandlePtr process;
    *started = platform::processes().createProcess(platform::buildCommandLine(program.toStdString(), args), nullptr,
                                                   &process)
            == platform::ERROR_SUCCESS
        && process;
    if (!*started)
        return -1;
    while (process->wait(100) != platform::WAIT_OBJECT_0) {
        if (action.isStopRequested())
            return -1;
    }
    std::uint32_t code = 0;
    if (process->getExitCode(&code) != platform::ERROR_SUCCESS)
        return -1;
    return int(code);
}

QStringList identifiers(const QString& list, QChar separator)
{
    return list.split(separator, Qt::SkipEmptyParts);
}

} // namespace winsteps::netdev
