// Wizard files: the input is a wizard, loaded as `winsteps check` loads it (keep going past
// faults, so that as much as possible is built) and checked, then loaded as `winsteps run`
// loads it, which must either build it or refuse it with reasons. Nothing is run. The wizard
// lives in a fixed folder that also holds a document, so that <document> elements can load
// one; the machine is a temporary one of the default profile.

#include "fixeddocument.h"
#include "fuzzsupport.h"

#include "capplication.h"
#include "cfsm.h"
#include "cwizardloader.h"
#include "platform/emulated/machinefolder.h"
#include "pluginloader.h"
#include "wizardinspection.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>

namespace {

struct Fixed
{
    QTemporaryDir folder;
    QString wizardPath;
    std::unique_ptr<CStateFactory> factory;

    Fixed()
    {
        std::string machineError;
        if (!winsteps::platform::emulated::openMachine(winsteps::platform::emulated::defaultProfileName(), std::string(), &machineError))
            qFatal("no machine: %s", machineError.c_str());
        if (!folder.isValid())
            qFatal("no temporary folder");
        QFile document(folder.filePath(QStringLiteral("config.xml")));
        if (!document.open(QIODevice::WriteOnly) || document.write(fuzzsupport::FixedDocument) < 0)
            qFatal("cannot write the fixed document");
        document.close();
        wizardPath = folder.filePath(QStringLiteral("wizard.xml"));
        QString error;
        factory = winsteps::host::createFactories(&error);
        if (!factory)
            qFatal("no factories: %s", qPrintable(error));
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > fuzzsupport::MaxInput)
        return -1;
    fuzzsupport::silenceTrace();
    static const Fixed fixed;

    CApplication application;
    CWizardLoader loader(fixed.factory.get());
    loader.setKeepGoing(true);
    std::unique_ptr<CFsm> fsm(loader.loadData(fuzzsupport::bytes(data, size), fixed.wizardPath, &application));
    const QList<winsteps::host::Diagnostic> problems = winsteps::host::checkWizard(fsm.get(), loader, fixed.wizardPath);
    fuzzsupport::keep(std::size_t(problems.size()));
    for (const winsteps::host::Diagnostic& problem : problems)
        fuzzsupport::keep(problem.toText());
    if (fsm) {
        fuzzsupport::keep(fsm->startState());
        fuzzsupport::keep(std::size_t(fsm->states().size()));
    }
    fsm.reset(); // the states before the application they were given

    // As `winsteps run` loads: a wizard with any fault is refused as a whole.
    CApplication strictApplication;
    CWizardLoader strict(fixed.factory.get());
    const std::unique_ptr<CFsm> strictFsm(strict.loadData(fuzzsupport::bytes(data, size), fixed.wizardPath, &strictApplication));
    if (strictFsm && !strict.errors().isEmpty())
        qFatal("a wizard with faults was built: %s", qPrintable(strict.errors().first().toText()));
    if (!strictFsm && strict.errors().isEmpty())
        qFatal("a wizard was refused without a reason");
    return 0;
}
