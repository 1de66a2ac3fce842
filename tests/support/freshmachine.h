#pragma once

// Fresh emulated machines for tests: each call makes its machine in a folder below the
// test's temporary directory that no earlier call used. A source is a built-in profile name,
// a profile file, or inline JSON (starting with "{", which may inherit a built-in profile).
// And a machine's registry as its export text, to compare before and after.

#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/machinefolder.h"
#include "platform/emulated/regfile.h"

#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <string>

namespace testsupport {

// A folder path below dir ("mN") that no earlier call gave out; not created.
inline QString freshFolder(const QTemporaryDir& dir)
{
    static int count = 0;
    return dir.filePath(QStringLiteral("m%1").arg(++count));
}

// A machine of its own (not the process's machine); null + error text on failure.
inline std::unique_ptr<winsteps::platform::emulated::EmulatedMachine>
freshMachine(const QTemporaryDir& dir, const QString& source, QString* error = nullptr)
{
    using winsteps::platform::emulated::EmulatedMachine;
    QString message;
    winsteps::platform::emulated::MachineProfile profile;
    const bool ok = source.startsWith(QLatin1Char('{')) ? profile.parse(source.toUtf8(), QStringLiteral("inline"), &message)
                                                       : profile.load(source, &message);
    std::unique_ptr<EmulatedMachine> machine = ok ? EmulatedMachine::open(profile, freshFolder(dir), &message) : nullptr;
    if (!machine && error)
        *error = message;
    else if (!machine)
        qWarning("%s", qPrintable(message));
    return machine;
}

// Opens a fresh machine of source as the process's machine and answers its folder; inline
// JSON is first written to a profile file beside it. Empty + error text on failure.
inline QString openFreshMachine(const QTemporaryDir& dir, const QString& source, std::string* error = nullptr)
{
    const QString folder = freshFolder(dir);
    QString profile = source;
    if (source.startsWith(QLatin1Char('{'))) {
        profile = folder + QStringLiteral(".json");
        QFile file(profile);
        if (!file.open(QIODevice::WriteOnly) || file.write(source.toUtf8()) != source.toUtf8().size())
            qFatal("cannot write %s", qPrintable(profile));
    }
    std::string message;
    const bool ok = winsteps::platform::emulated::openMachine(profile.toStdString(), folder.toStdString(), &message);
    if (!ok && error)
        *error = message;
    else if (!ok)
        qWarning("%s", message.c_str());
    return ok ? folder : QString();
}

// The registry (or the tree below key) in registry-editor format.
inline QString exported(winsteps::platform::Registry& m, const std::string& key = std::string())
{
    std::string text;
    std::string error;
    if (!winsteps::platform::exportRegistry(m, key, &text, nullptr, &error))
        return QStringLiteral("export failed: ") + QString::fromStdString(error);
    return QString::fromStdString(text);
}

} // namespace testsupport
