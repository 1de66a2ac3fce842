// The emulated devprep.exe: the platform layer's devprep over the emulated machine, its
// output through the command's standard output.

#include "emulatedtools.h"

#include "platform/devprep.h"
#include "subcommand.h"

#include <sstream>
#include <string>
#include <vector>

namespace winsteps::host {

std::uint32_t devprepTool(const QStringList& arguments)
{
    std::vector<std::string> plain;
    for (const QString& argument : arguments)
        plain.push_back(argument.toStdString());
    std::ostringstream out;
    const int code = platform::runDevprep(plain, out);
    cli::out(QString::fromStdString(out.str()));
    return std::uint32_t(code);
}

} // namespace winsteps::host
