#include "emulatedtools.h"

#include "platform/emulated/emulatedmachine.h"
#include "subcommand.h"

#include <QThread>

#include <cmath>

namespace winsteps::host {

const QList<EmulatedTool>& emulatedTools()
{
    static const QList<EmulatedTool> tools = {
        {"ping", "[-t] [-n COUNT] [-w MS] [-l SIZE] HOST", "Answers echo requests of the machine itself (stands for ping.exe).", &pingTool},
        {"exit", "[CODE [SECONDS]]", "Waits SECONDS (fractions allowed), then exits with CODE (default 0; 0x for\n        hexadecimal; all 32 bits): a stand-in for any program.", &exitTool},
        {"regsvr32", "[/s] [/u] FILE...", "Registers emulated component files (stands for regsvr32.exe).", &regsvr32Tool},
        {"instmsia", "[/Q[:A|:U]] [/T:FOLDER] [/R:N]", "Installs installer engine 2.0 (stands for InstMsiA.exe).", &instMsiTool},
        {"devprep", "-p DIR INF | -i DIR ENUMERATOR HWID... | -r ENUMERATOR HWID...", "Stages driver packages, installs and removes device drivers (stands for devprep.exe).", &devprepTool},
    };
    return tools;
}

namespace {

bool isOwnHost(const QString& host)
{
    const QString computer = platform::emulated::currentMachine().profile().computerName();
    return host.startsWith(QLatin1String("127.")) || host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0
           || host == QLatin1String("::1") || (!computer.isEmpty() && host.compare(computer, Qt::CaseInsensitive) == 0);
}

} // namespace

std::uint32_t pingTool(const QStringList& arguments)
{
    const QString usage = QStringLiteral("\nUsage: ping [-t] [-n count] [-w timeout] [-l size] target_name\n");
    long long count = 4;
    long long size = 32;
    bool endless = false;
    QString target;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString argument = arguments.at(i);
        const QString option = argument.toLower();
        if (option == QLatin1String("-t") || option == QLatin1String("/t")) {
            endless = true;
        } else if (option == QLatin1String("-n") || option == QLatin1String("-w") || option == QLatin1String("-l")
                   || option == QLatin1String("/n") || option == QLatin1String("/w") || option == QLatin1String("/l")) {
            bool ok = false;
            const long long value = arguments.value(i + 1).toLongLong(&ok);
            if (!ok || value < 1 || value > 0xFFFFFFFFLL) {
                cli::out(QLatin1String("Bad value for option ") + argument + QLatin1String(", valid range is from 1 to 4294967295.\n"));
                return 1;
            }
            if (option.endsWith(QLatin1Char('n')))
                count = value;
            else if (option.endsWith(QLatin1Char('l')))
                size = value;
            ++i;
        } else if (argument.startsWith(QLatin1Char('-')) || argument.startsWith(QLatin1Char('/'))) {
            cli::out(QLatin1String("Bad option ") + argument + QLatin1String(".\n") + usage);
            return 1;
        } else {
            target = argument;
        }
    }
    if (target.isEmpty()) {
        cli::out(usage);
        return 1;
    }
    if (!isOwnHost(target)) {
        cli::out(QLatin1String("Ping request could not find host ") + target
                 + QLatin1String(". Please check the name and try again.\n"));
        return 1;
    }
    const QString address = target.contains(QLatin1Char(':')) ? QStringLiteral("::1")
                            : target.startsWith(QLatin1String("127.")) ? target
                                                                       : QStringLiteral("127.0.0.1");
    cli::out(QStringLiteral("\nPinging %1 with %2 bytes of data:\n").arg(target).arg(size));
    long long sent = 0;
    while (endless || sent < count) {
        if (sent > 0)
            QThread::sleep(1);
        cli::out(QStringLiteral("Reply from %1: bytes=%2 time<1ms TTL=128\n").arg(address).arg(size));
        ++sent;
    }
    cli::out(QStringLiteral("\nPing statistics for %1:\n    Packets: Sent = %2, Received = %2, Lost = 0 (0% loss),\n")
                 .arg(address)
                 .arg(sent));
    return 0;
}

std::uint32_t exitTool(const QStringList& arguments)
{
    std::uint32_t code = 0;
    if (!arguments.isEmpty()) {
        bool ok = false;
        const qulonglong value = arguments.at(0).toULongLong(&ok, 0);
        if (!ok || value > 0xFFFFFFFFull) {
            cli::err(QLatin1String("exit: not an exit code: ") + arguments.at(0) + QLatin1Char('\n'));
            return 1;
        }
        code = std::uint32_t(value);
    }
    if (arguments.size() > 1) {
        bool ok = false;
        const double seconds = arguments.at(1).toDouble(&ok);
        if (!ok || !std::isfinite(seconds) || seconds < 0) {
            cli::err(QLatin1String("exit: not a number of seconds: ") + arguments.at(1) + QLatin1Char('\n'));
            return 1;
        }
        QThread::msleep(static_cast<unsigned long>(std::llround(std::min(seconds, 86400.0) * 1000.0)));
    }
    return code;
}

} // namespace winsteps::host
