#include "subcommand.h"

namespace winsteps::host {

int graphCommand(const QStringList& arguments)
{
    Q_UNUSED(arguments);
    cli::err(QStringLiteral("winsteps graph: not available in this build.\n"));
    return 2;
}

} // namespace winsteps::host
