#include "wizardinspection.h"

#include "cwizardrunner.h"
#include "platform/emulated/machinefolder.h"
#include "pluginloader.h"
#include "subcommand.h"

namespace winsteps::host {

WizardInspection::WizardInspection(const QString& command, const QString& description, const QString& wizardHelp,
                                   const QString& profileHelp)
    : m_command(command)
    , m_profileOption(cli::profileOption(profileHelp.arg(cli::defaultProfile())))
{
    m_parser.setApplicationDescription(description);
    m_parser.addOption(cli::helpOption());
    m_parser.addPositionalArgument(QStringLiteral("WIZARD.xml"), wizardHelp);
    m_parser.addOption(m_profileOption);
}

WizardInspection::~WizardInspection() = default;

int WizardInspection::prepare(const QStringList& arguments)
{
    if (const int status = cli::parse(m_parser, m_command, QStringLiteral("WIZARD.xml [options]"), arguments);
        status >= 0)
        return status;

    if (const int status = cli::onePositional(m_parser, m_command, QStringLiteral("no wizard file given"),
                                              QStringLiteral("one wizard file only"), &m_wizardPath);
        status >= 0)
        return status;

    const std::string profile = m_parser.isSet(m_profileOption) ? m_parser.value(m_profileOption).toStdString()
                                                                : platform::emulated::defaultProfileName();
    std::string machineError;
    if (!platform::emulated::openMachine(profile, std::string(), &machineError))
        return cli::usageError(m_command, QString::fromStdString(machineError));

    QString pluginError;
    m_factory = createFactories(&pluginError);
    if (!m_factory) {
        cli::err(QLatin1String("winsteps ") + m_command + QLatin1String(": ") + pluginError + QLatin1Char('\n'));
        return ExitUsage;
    }
    m_silent = std::make_unique<CSilentTraces>();
    return -1;
}

} // namespace winsteps::host
