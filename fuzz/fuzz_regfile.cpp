// Registry-editor files: the input is imported as `winsteps machine import-reg` imports it
// (system access, any encoding the reader takes) into an in-memory machine of the default
// system that holds a few keys and values of its own (a small registry keeps the executions
// quick; files may change or remove them). A refused file must name the line at fault. An
// accepted file is exported; that export must import without complaint into a machine with
// empty hives and export to the same text, so the writer and the reader agree on everything
// the reader can store. A sub-tree exported on its own, named in another case, must be a
// piece of the whole.

#include "fuzzsupport.h"

#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/regfile.h"

#include <QDir>

#include <memory>
#include <string>
#include <vector>

namespace {

using winsteps::platform::emulated::EmulatedMachine;
using winsteps::platform::emulated::MachineProfile;

struct Fixed
{
    MachineProfile profile; // the default system with a few keys
    MachineProfile empty;   // the same system with empty hives
    QString folder = QDir::tempPath() + QStringLiteral("/winsteps-fuzz-regfile-detached");

    Fixed()
    {
        QString error;
        if (!profile.parse(R"({"inherits": "winxp-sp2", "registryDefaults": false, "registry": {
                                   "HKCU\\Software\\Demo": {"@": "default", "v": "1", "d": 42},
                                   "HKCU\\Software\\Demo\\Sub": {"list": ["a", "b"]},
                                   "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run": {}}})",
                           QStringLiteral("winxp-sp2"), &error)
            || !empty.parse(R"({"inherits": "winxp-sp2", "registryDefaults": false})", QStringLiteral("winxp-sp2"),
                            &error))
            qFatal("no profile: %s", qPrintable(error));
    }
};

std::unique_ptr<EmulatedMachine> machineOf(const MachineProfile& profile, const QString& folder)
{
    std::unique_ptr<EmulatedMachine> machine = EmulatedMachine::detached(profile, folder);
    machine->setSystemAccess(true); // as the machine commands open it
    return machine;
}

std::string exported(EmulatedMachine& machine, const std::string& key)
{
    std::string text;
    std::string error;
    std::vector<std::string> skipped;
    if (!winsteps::platform::exportRegistry(machine.registry(), key, &text, &skipped, &error)) {
        if (key.empty())
            qFatal("the whole registry cannot be exported: %s", error.c_str());
        return std::string();
    }
    fuzzsupport::keep(skipped.size());
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > fuzzsupport::MaxInput)
        return -1;
    fuzzsupport::silenceTrace();
    static const Fixed fixed;

    const std::vector<std::uint8_t> file(data, data + size);
    std::unique_ptr<EmulatedMachine> machine = machineOf(fixed.profile, fixed.folder);
    std::string error;
    if (!winsteps::platform::importRegistry(machine->registry(), file, &error)) {
        if (error.rfind("line ", 0) != 0)
            qFatal("a file was refused without naming a line: %s", error.c_str());
        fuzzsupport::keep(error.size());
        return 0;
    }

    const std::string first = exported(*machine, std::string());
    std::unique_ptr<EmulatedMachine> copy = machineOf(fixed.empty, fixed.folder);
    if (!winsteps::platform::importRegistry(copy->registry(), std::vector<std::uint8_t>(first.begin(), first.end()), &error))
        qFatal("an export does not import again: %s\n%s", error.c_str(), first.c_str());
    const std::string second = exported(*copy, std::string());
    if (second != first)
        qFatal("an export imported again exports otherwise:\n%s\n---- then ----\n%s", first.c_str(), second.c_str());

    // The sub-tree without the header: its blocks are those of the whole export.
    const std::string header = "Windows Registry Editor Version 5.00\r\n\r\n";
    const std::string part = exported(*machine, "hkcu\\software");
    if (!part.empty() && (part.rfind(header, 0) != 0 || first.find(part.substr(header.size())) == std::string::npos))
        qFatal("a sub-tree exports otherwise than in the whole:\n%s", part.c_str());
    fuzzsupport::keep(first.size() + part.size());
    return 0;
}
