#include "subcommand.h"

namespace winsteps::host {

int checkCommand(const QStringList& arguments)
{
    Q_UNUSED(arguments);
    cli::err(QStringLiteral("winsteps check: not available in this build.\n"));
    return 2;
}

} // namespace winsteps::host
