// Component files: the input is the text of an emulated component that a wizard ships and the
// machine's regsvr32.exe loads. A file that is refused says why and holds nothing; one that is
// read holds only valid ProgIDs and threading models, and reads the same again when written
// back. Its classes are then registered on an in-memory machine that already has a class of
// its own: each class names the module, each ProgID the last class that lists it; then they are
// unregistered: the component's keys are gone, and the machine's own class is still there.

#include "fuzzsupport.h"

#include "platform/emulated/componentfile.h"
#include "platform/emulated/emulatedmachine.h"

#include <QMap>

#include <memory>
#include <string>

namespace {

namespace platform = winsteps::platform;
using platform::emulated::ComponentClass;
using platform::emulated::ComponentEntry;
using platform::emulated::ComponentFile;
using platform::emulated::EmulatedMachine;
using platform::emulated::MachineProfile;

const char* const ownClass = "{0002DF01-0000-0000-C000-000000000046}";
const char* const ownProgId = "Own.Application";
const std::string modulePath = "C:\\WINDOWS\\system32\\comp.ocx";

const MachineProfile& profile()
{
    static const MachineProfile loaded = [] {
        MachineProfile p;
        QString error;
        if (!p.load(QStringLiteral("winxp-sp2"), &error))
            qFatal("the built-in profile cannot be read: %s", qPrintable(error));
        return p;
    }();
    return loaded;
}

std::string entryText(const ComponentEntry& entry)
{
    if (!entry.present)
        return "missing";
    return entry.result == platform::S_OK ? "ok" : "fails " + std::to_string(std::uint32_t(entry.result));
}

// The file written back from what was read.
std::string written(const ComponentFile& file)
{
    std::string text = "winsteps component\n";
    for (const ComponentClass& entry : file.classes) {
        text += "class " + platform::guidText(entry.clsid) + "\n";
        if (!entry.name.empty())
            text += "name " + entry.name + "\n";
        for (const std::string& progId : entry.progIds)
            text += "progid " + progId + "\n";
        if (!entry.threadingModel.empty())
            text += "threadingModel " + entry.threadingModel + "\n";
    }
    return text + "DllRegisterServer " + entryText(file.registerServer) + "\nDllUnregisterServer "
           + entryText(file.unregisterServer) + "\n";
}

bool sameFile(const ComponentFile& a, const ComponentFile& b)
{
    if (a.classes.size() != b.classes.size() || entryText(a.registerServer) != entryText(b.registerServer)
        || entryText(a.unregisterServer) != entryText(b.unregisterServer))
        return false;
    for (std::size_t i = 0; i < a.classes.size(); ++i) {
        const ComponentClass &x = a.classes[i], &y = b.classes[i];
        if (!(x.clsid == y.clsid) || x.name != y.name || x.progIds != y.progIds || x.threadingModel != y.threadingModel)
            return false;
    }
    return true;
}

void checkRead(const ComponentFile& file)
{
    for (const ComponentClass& entry : file.classes) {
        for (const std::string& progId : entry.progIds) {
            if (progId.empty() || progId.size() > 39 || (progId[0] >= '0' && progId[0] <= '9')
                || progId.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.") != std::string::npos)
                qFatal("a ProgID that is none was read: \"%s\"", progId.c_str());
        }
        const std::string& model = entry.threadingModel;
        if (!model.empty() && model != "Apartment" && model != "Free" && model != "Both" && model != "Neutral")
            qFatal("a threading model that is none was read: \"%s\"", model.c_str());
        if (entry.name.find('\n') != std::string::npos)
            qFatal("a name holds a line end");
    }
    ComponentFile again;
    std::string why;
    if (!again.parse(written(file), &why) || !sameFile(file, again))
        qFatal("the file written back reads otherwise (%s):\n%s", why.c_str(), written(file).c_str());
}

// The default value of a key below HKEY_CLASSES_ROOT; false when the key is missing.
bool classesValue(EmulatedMachine& machine, const std::string& path, std::string* text)
{
    platform::HKEY key = platform::HKEY_NULL;
    if (machine.registry().regOpenKeyEx(platform::HKEY_CLASSES_ROOT, path, platform::KEY_READ, &key) != platform::ERROR_SUCCESS)
        return false;
    std::uint32_t type = 0, size = 0;
    text->clear();
    if (machine.registry().regQueryValueEx(key, std::string(), &type, nullptr, &size) == platform::ERROR_SUCCESS) {
        std::string data(size, '\0');
        machine.registry().regQueryValueEx(key, std::string(), &type, reinterpret_cast<std::uint8_t*>(data.data()), &size);
        *text = data.substr(0, data.find('\0'));
    }
    machine.registry().regCloseKey(key);
    return true;
}

void setClassesValue(EmulatedMachine& machine, const std::string& path, const std::string& text)
{
    platform::HKEY key = platform::HKEY_NULL;
    if (machine.registry().regCreateKeyEx(platform::HKEY_CLASSES_ROOT, path, 0, platform::KEY_WRITE, &key, nullptr) != platform::ERROR_SUCCESS
        || machine.registry().regSetValueEx(key, std::string(), platform::REG_SZ, reinterpret_cast<const std::uint8_t*>(text.c_str()),
                                            std::uint32_t(text.size() + 1)) != platform::ERROR_SUCCESS)
        qFatal("the machine's own class cannot be written");
    machine.registry().regCloseKey(key);
}

void checkRegistration(const ComponentFile& file)
{
    std::unique_ptr<EmulatedMachine> machine = EmulatedMachine::detached(profile(), QStringLiteral("/nonexistent/fuzz"));
    setClassesValue(*machine, std::string("CLSID\\") + ownClass + "\\InprocServer32", "C:\\WINDOWS\\system32\\own.dll");
    setClassesValue(*machine, std::string(ownProgId) + "\\CLSID", ownClass);
    bool takesOwn = false;
    QMap<QString, std::string> lastClass; // by ProgID in upper case, as the registry compares names
    for (const ComponentClass& entry : file.classes) {
        takesOwn = takesOwn || platform::guidText(entry.clsid) == ownClass;
        for (const std::string& progId : entry.progIds) {
            lastClass.insert(QString::fromStdString(progId).toUpper(), platform::guidText(entry.clsid));
            takesOwn = takesOwn || QString::fromStdString(progId).compare(QLatin1String(ownProgId), Qt::CaseInsensitive) == 0;
        }
    }
    // regsvr32 calls an entry point only when the module has it.
    std::string text;
    if (!file.registerServer.present)
        return;
    if (machine->com().callEntryPoint(file, modulePath, false) != file.registerServer.result)
        qFatal("registering did not give the entry point's result");
    for (const ComponentClass& entry : file.classes) {
        const std::string key = "CLSID\\" + platform::guidText(entry.clsid);
        if (file.registerServer.result == platform::S_OK && (!classesValue(*machine, key + "\\InprocServer32", &text) || text != modulePath))
            qFatal("a registered class does not name its module: %s", key.c_str());
    }
    for (auto it = lastClass.begin(); it != lastClass.end() && file.registerServer.result == platform::S_OK; ++it) {
        if (!classesValue(*machine, it.key().toStdString() + "\\CLSID", &text) || text != it.value())
            qFatal("a ProgID does not name the last class that lists it: %s", qPrintable(it.key()));
    }
    if (!file.unregisterServer.present)
        return;
    if (machine->com().callEntryPoint(file, modulePath, true) != file.unregisterServer.result)
        qFatal("unregistering did not give the entry point's result");
    if (file.unregisterServer.result != platform::S_OK)
        return;
    for (const ComponentClass& entry : file.classes) {
        if (classesValue(*machine, "CLSID\\" + platform::guidText(entry.clsid), &text))
            qFatal("an unregistered class is still there: %s", platform::guidText(entry.clsid).c_str());
    }
    if (!takesOwn && (!classesValue(*machine, std::string("CLSID\\") + ownClass + "\\InprocServer32", &text)
                      || !classesValue(*machine, std::string(ownProgId) + "\\CLSID", &text) || text != ownClass))
        qFatal("unregistering the component removed the machine's own class");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > fuzzsupport::MaxInput + 16)
        return -1;
    ComponentFile file;
    std::string why;
    if (!file.parse(std::string(reinterpret_cast<const char*>(data), size), &why)) {
        if (why.empty() || !file.classes.empty())
            qFatal("a refused file says no reason or holds classes");
        return 0;
    }
    checkRead(file);
    checkRegistration(file);
    return 0;
}
