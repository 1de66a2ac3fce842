#include "subcommand.h"

namespace winsteps::host {

int machineCommand(const QStringList& arguments)
{
    Q_UNUSED(arguments);
    cli::err(QStringLiteral("winsteps machine: not available in this build.\n"));
    return 2;
}

} // namespace winsteps::host
