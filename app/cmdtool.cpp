#include "subcommand.h"

namespace winsteps::host {

int toolCommand(const QStringList& arguments)
{
    Q_UNUSED(arguments);
    cli::err(QStringLiteral("winsteps tool: not available in this build.\n"));
    return 2;
}

} // namespace winsteps::host
