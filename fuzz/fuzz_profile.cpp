// Profile files: the input is a JSON profile, read as `winsteps machine init --profile FILE`
// reads it, from a fixed folder that holds two more profiles to inherit from (base.json, a
// file profile on a built-in one, and loop.json, which inherits itself). A profile that is
// read opens an in-memory machine, which answers the version, folder, user and environment
// queries and must hold the initial registry the profile describes: every key it keeps, and
// for every value the last word of the profile on it.

#include "fuzzsupport.h"

#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/regfile.h"

#include <QFile>
#include <QMap>
#include <QTemporaryDir>

#include <memory>
#include <string>
#include <vector>

namespace {

using winsteps::platform::HKEY;
using winsteps::platform::emulated::EmulatedMachine;
using winsteps::platform::emulated::MachineProfile;

constexpr winsteps::platform::REGSAM ReadView = winsteps::platform::KEY_READ | winsteps::platform::KEY_WOW64_64KEY;

struct Fixed
{
    QTemporaryDir folder;
    QString source;

    Fixed()
    {
        if (!folder.isValid())
            qFatal("no temporary folder");
        write("base.json", R"({"inherits": "win98", "user": "Base", "environment": {"BASE": "C:\\Base"},
                               "registry": {"HKLM\\SOFTWARE\\Base": {"v": 1, "@access": "read"}}})");
        write("loop.json", R"({"inherits": "loop.json", "os": {"platformId": 2, "major": 5, "minor": 0, "build": 1}})");
        source = folder.filePath(QStringLiteral("input.json"));
    }

    void write(const char* name, const char* text)
    {
        QFile file(folder.filePath(QLatin1String(name)));
        if (!file.open(QIODevice::WriteOnly) || file.write(text) < 0)
            qFatal("cannot write %s", name);
    }
};

// One key of the registry the profile describes, with the last word on each of its values
// (by upper-case name, as the registry compares them; null: removed).
struct ExpectedKey
{
    HKEY hive = winsteps::platform::HKEY_NULL;
    std::string path;
    QMap<QString, const MachineProfile::SeedValue*> values;
};

QString folded(const QString& hive, const QStringList& path)
{
    return (QStringList{hive} + path).join(QLatin1Char('\\')).toUpper();
}

// The keys and values the seed leaves, applied in its order: a removal takes a key and
// everything below it, also keys given before it.
QMap<QString, ExpectedKey> expectedRegistry(const MachineProfile& profile)
{
    QMap<QString, ExpectedKey> keys;
    for (const MachineProfile::SeedKey& seed : profile.registrySeed()) {
        const QString name = folded(seed.hive, seed.path);
        if (seed.remove) {
            for (auto it = keys.begin(); it != keys.end();)
                it = it.key() == name || it.key().startsWith(name + QLatin1Char('\\')) ? keys.erase(it) : std::next(it);
            continue;
        }
        ExpectedKey& key = keys[name];
        key.hive = winsteps::platform::hiveByName(seed.hive.toStdString());
        key.path = seed.path.join(QLatin1Char('\\')).toStdString();
        for (const MachineProfile::SeedValue& value : seed.values)
            key.values.insert(value.name.toUpper(), value.remove ? nullptr : &value);
    }
    return keys;
}

void checkValue(EmulatedMachine& machine, HKEY key, const std::string& where, const QString& name,
                const MachineProfile::SeedValue* expected)
{
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    const std::string valueName = expected ? expected->name.toStdString() : name.toStdString();
    std::uint32_t code = machine.registry().regQueryValueEx(key, valueName, &type, nullptr, &size);
    if (!expected) {
        if (code != winsteps::platform::ERROR_FILE_NOT_FOUND)
            qFatal("a removed value is there: [%s] \"%s\"", where.c_str(), valueName.c_str());
        return;
    }
    std::vector<std::uint8_t> data(size);
    if (code == winsteps::platform::ERROR_SUCCESS)
        code = machine.registry().regQueryValueEx(key, valueName, &type, data.data(), &size);
    const QByteArray got(reinterpret_cast<const char*>(data.data()), qsizetype(size));
    if (code != winsteps::platform::ERROR_SUCCESS || type != expected->type || got != expected->data)
        qFatal("a value is not as the profile gives it: [%s] \"%s\" (error %u)", where.c_str(), valueName.c_str(), code);
}

void checkRegistry(EmulatedMachine& machine, const MachineProfile& profile)
{
    const QMap<QString, ExpectedKey> keys = expectedRegistry(profile);
    for (auto it = keys.begin(); it != keys.end(); ++it) {
        const ExpectedKey& expected = it.value();
        HKEY root = winsteps::platform::HKEY_NULL;
        if (machine.registry().regOpenKeyEx(expected.hive, std::string(), ReadView, &root) != winsteps::platform::ERROR_SUCCESS)
            continue; // a hive this system does not have
        machine.registry().regCloseKey(root);
        HKEY key = winsteps::platform::HKEY_NULL;
        const std::string where = it.key().toStdString();
        if (machine.registry().regOpenKeyEx(expected.hive, expected.path, ReadView, &key) != winsteps::platform::ERROR_SUCCESS)
            qFatal("a key of the profile is missing: [%s]", where.c_str());
        for (auto value = expected.values.begin(); value != expected.values.end(); ++value)
            checkValue(machine, key, where, value.key(), value.value());
        machine.registry().regCloseKey(key);
    }
}

// The answers an installation step asks for first.
void readAnswers(EmulatedMachine& machine, const MachineProfile& profile)
{
    winsteps::platform::OsVersionInfoEx version;
    fuzzsupport::keep(std::size_t(machine.system().getVersionEx(&version)) + version.buildNumber);
    bool wow64 = false;
    fuzzsupport::keep(std::size_t(machine.system().isWow64Process(&wow64)));
    fuzzsupport::keep(machine.system().isUserAnAdmin());
    std::string text;
    fuzzsupport::keep(std::size_t(machine.system().getWindowsDirectory(&text)) + text.size());
    fuzzsupport::keep(std::size_t(machine.system().getSystemDirectory(&text)) + text.size());
    fuzzsupport::keep(std::size_t(machine.system().getUserName(&text)) + text.size());
    for (auto it = profile.environment().begin(); it != profile.environment().end(); ++it)
        fuzzsupport::keep(std::size_t(machine.system().getEnvironmentVariable(it.key().toStdString(), &text)) + text.size());
    fuzzsupport::keep(machine.system().environmentStrings().size());
    for (auto it = profile.shellFolders().begin(); it != profile.shellFolders().end(); ++it)
        fuzzsupport::keep(std::size_t(machine.system().getFolderPath(it.key(), &text)));
    fuzzsupport::keep(std::size_t(machine.system().coInitialize()));
    machine.system().coUninitialize();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > fuzzsupport::MaxInput)
        return -1;
    fuzzsupport::silenceTrace();
    static const Fixed fixed;

    MachineProfile profile;
    QString error;
    if (!profile.parse(fuzzsupport::bytes(data, size), fixed.source, &error)) {
        if (error.isEmpty())
            qFatal("a profile was refused without a reason");
        fuzzsupport::keep(error);
        return 0;
    }
    fuzzsupport::keep(profile.description());
    std::unique_ptr<EmulatedMachine> machine =
        EmulatedMachine::detached(profile, fixed.folder.filePath(QStringLiteral("machine")));
    machine->setSystemAccess(true);
    readAnswers(*machine, profile);
    checkRegistry(*machine, profile);
    return 0;
}
