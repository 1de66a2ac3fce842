#include "subcommand.h"

namespace winsteps::host {

int evalCommand(const QStringList& arguments)
{
    Q_UNUSED(arguments);
    cli::err(QStringLiteral("winsteps eval: not available in this build.\n"));
    return 2;
}

} // namespace winsteps::host
