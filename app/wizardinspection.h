#pragma once

#include "debug/debugoutput.h"
#include "framework/cstatefactory.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <memory>

namespace winsteps::host {

// What the commands that load a wizard without running it (check, graph) share: the
// command line "WIZARD.xml [--profile NAME|FILE]", a temporary machine of that profile
// (its operating-system classes decide which <system> groups apply), the loaded factories,
// and a silenced trace while the wizard is built.
class WizardInspection
{
public:
    WizardInspection(const QString& command, const QString& description, const QString& wizardHelp,
                     const QString& profileHelp);
    ~WizardInspection();
    WizardInspection(const WizardInspection&) = delete;
    WizardInspection& operator=(const WizardInspection&) = delete;

    // Parses the arguments, opens the machine and loads the factories. -1 to go on;
    // otherwise the exit status to return at once (the reason is printed).
    int prepare(const QStringList& arguments);

    QString wizardPath() const { return m_wizardPath; }
    CStateFactory* factory() const { return m_factory.get(); }

private:
    class SilentSink final : public winsteps::TraceSink
    {
    public:
        void write(const std::string&) override {}
    };

    QString m_command;
    QCommandLineParser m_parser;
    QCommandLineOption m_profileOption;
    QString m_wizardPath;
    std::unique_ptr<CStateFactory> m_factory;
    SilentSink m_silent;
    bool m_silenced = false;
};

} // namespace winsteps::host
