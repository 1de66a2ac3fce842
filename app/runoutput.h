#pragma once

#include "diagnostic.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>

class CFsm;
class CWizardLoader;

namespace winsteps::host {

class CWizardRunner;

// How much a run prints and how strictly it takes its wizard: --quiet, --verbose, --json,
// --strict.
struct RunOutput
{
    bool quiet = false;  // no trace on standard error (a --trace file still gets it)
    bool json = false;   // the final line as a JSON object
    bool strict = false; // what check finds refuses the run
};

// The command-line options of RunOutput, added to run's parser.
class RunOutputOptions
{
public:
    RunOutputOptions();
    void addTo(QCommandLineParser& parser) const;
    // Reads the parsed options into *output. -1, or the exit status of the usage error it
    // printed.
    int read(const QCommandLineParser& parser, RunOutput* output) const;

private:
    QCommandLineOption m_quiet;
    QCommandLineOption m_verbose;
    QCommandLineOption m_json;
    QCommandLineOption m_strict;
};

// The points check finds in the loaded wizard, before anything runs. Strict: each is printed
// as an error ("FILE:LINE: message") and the run is refused with ExitUsage. Otherwise each
// is printed as "FILE:LINE: warning: message" and -1 is returned.
int checkBeforeRun(CFsm* fsm, const CWizardLoader& loader, const QString& wizardPath, bool strict);

// The last line of a run, with its end of line: 'NAME: ended in state "S" with event "E"
// (exit status N)', or as JSON {"fsm", "state", "event" (null after a time-out), "timedOut",
// "exitStatus"} on one line.
QString finalLine(const QString& fsmName, const CWizardRunner& runner, int exitStatus, bool json);

} // namespace winsteps::host
