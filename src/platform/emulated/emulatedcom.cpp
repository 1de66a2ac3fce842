// The COM class look-ups of the emulated machine, and the registration entry points of its
// emulated components (see EmulatedCom).

#include "platform/emulated/emulatedcom.h"

#include "platform/emulated/emulatedmachine.h"

#include <algorithm>
#include <vector>

namespace winsteps::platform::emulated {

namespace {

// A key below HKEY_CLASSES_ROOT opened or made for the time of one look-up.
class ClassesKey {
public:
    explicit ClassesKey(Registry& registry) : m_registry(registry) {}
    ~ClassesKey()
    {
        if (m_key != HKEY_NULL)
            m_registry.regCloseKey(m_key);
    }
    ClassesKey(const ClassesKey&) = delete;
    ClassesKey& operator=(const ClassesKey&) = delete;

    std::uint32_t open(const std::string& path, REGSAM sam)
    {
        return m_registry.regOpenKeyEx(HKEY_CLASSES_ROOT, path, sam, &m_key);
    }
    std::uint32_t create(const std::string& path)
    {
        return m_registry.regCreateKeyEx(HKEY_CLASSES_ROOT, path, REG_OPTION_NON_VOLATILE, KEY_WRITE, &m_key, nullptr);
    }
    HKEY get() const { return m_key; }

private:
    Registry& m_registry;
    HKEY m_key = HKEY_NULL;
};

std::string classKey(const CLSID& clsid)
{
    return "CLSID\\" + guidText(clsid);
}

HRESULT lookupFailure(std::uint32_t code, HRESULT missing)
{
    return code == ERROR_REGISTRY_IO_FAILED ? REGDB_E_READREGDB : missing;
}

} // namespace

EmulatedCom::EmulatedCom(EmulatedMachine& machine)
    : m_machine(machine)
{
}

std::uint32_t EmulatedCom::readString(const std::string& key, const std::string& name, std::string* text)
{
    ClassesKey opened(m_machine.registry());
    std::uint32_t code = opened.open(key, KEY_QUERY_VALUE);
    std::uint32_t type = 0, size = 0;
    if (code == ERROR_SUCCESS)
        code = m_machine.registry().regQueryValueEx(opened.get(), name, &type, nullptr, &size);
    if (code != ERROR_SUCCESS)
        return code;
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return ERROR_FILE_NOT_FOUND; // no text to read a class or server from
    std::string data(size, '\0');
    code = m_machine.registry().regQueryValueEx(opened.get(), name, &type,
                                                reinterpret_cast<std::uint8_t*>(data.data()), &size);
    if (code != ERROR_SUCCESS)
        return code;
    data.resize(std::min<std::size_t>(size, data.find('\0')));
    *text = type == REG_EXPAND_SZ ? expandEnvironment(data) : data;
    return ERROR_SUCCESS;
}

// ExpandEnvironmentStrings: %NAME% by the variable's value; an unknown name, or a lone "%",
// stays as it is.
std::string EmulatedCom::expandEnvironment(const std::string& text)
{
    std::string result;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t open = text.find('%', at);
        const std::size_t close = open == std::string::npos ? open : text.find('%', open + 1);
        if (close == std::string::npos) {
            result += text.substr(at);
            break;
        }
        std::string value;
        const std::string name = text.substr(open + 1, close - open - 1);
        result += text.substr(at, open - at);
        if (!name.empty() && m_machine.system().getEnvironmentVariable(name, &value) == ERROR_SUCCESS) {
            result += value;
            at = close + 1;
        } else {
            result += '%' + name;
            at = close; // the closing "%" may open the next name
        }
    }
    return result;
}

HRESULT EmulatedCom::clsidFromProgID(const std::string& progId, CLSID* clsid)
{
    if (progId.empty())
        return CO_E_CLASSSTRING;
    std::string text;
    const std::uint32_t code = readString(progId + "\\CLSID", std::string(), &text);
    if (code != ERROR_SUCCESS)
        return lookupFailure(code, CO_E_CLASSSTRING);
    return parseGuidText(text, clsid) ? S_OK : CO_E_CLASSSTRING;
}

HRESULT EmulatedCom::clsidFromString(const std::string& text, CLSID* clsid)
{
    return parseGuidText(text, clsid) ? S_OK : clsidFromProgID(text, clsid);
}

HRESULT EmulatedCom::coCreateInstance(const CLSID& clsid)
{
    if (!m_machine.system().comInitialized())
        return CO_E_NOTINITIALIZED;
    std::string server;
    const std::uint32_t code = readString(classKey(clsid) + "\\InprocServer32", std::string(), &server);
    if (code != ERROR_SUCCESS)
        return lookupFailure(code, REGDB_E_CLASSNOTREG);
    if (server.empty())
        return REGDB_E_CLASSNOTREG;
    return findModule(server).empty() ? HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND) : S_OK;
}

std::string EmulatedCom::findModule(const std::string& name)
{
    std::vector<std::string> candidates;
    if (name.find_first_of("\\/:") == std::string::npos) {
        // Where LoadLibrary finds a bare name on the machine: the system folder, then Windows'.
        std::string folder;
        if (m_machine.system().getSystemDirectory(&folder) == ERROR_SUCCESS)
            candidates.push_back(folder + "\\" + name);
        if (m_machine.system().getWindowsDirectory(&folder) == ERROR_SUCCESS)
            candidates.push_back(folder + "\\" + name);
    } else {
        candidates.push_back(name);
    }
    for (const std::string& candidate : candidates) {
        std::uint32_t attributes = 0;
        if (m_machine.files().getFileAttributes(candidate, &attributes) == ERROR_SUCCESS
            && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            return candidate;
    }
    return std::string();
}

std::uint32_t EmulatedCom::loadComponent(const std::string& path, ComponentFile* component, std::string* modulePath,
                                         std::string* why)
{
    const std::string found = path.empty() ? path : findModule(path);
    if (found.empty())
        return ERROR_MOD_NOT_FOUND;
    FileHandlePtr file;
    std::uint32_t code = m_machine.files().createFile(found, GENERIC_READ, OPEN_EXISTING, &file);
    // One byte more than a component may have, so that a larger file is refused, not cut.
    std::string text(maxComponentFileSize + 1, '\0');
    std::uint32_t total = 0, done = 1;
    while (code == ERROR_SUCCESS && done > 0 && total < text.size()) {
        code = file->read(text.data() + total, std::uint32_t(text.size() - total), &done);
        total += done;
    }
    if (code != ERROR_SUCCESS)
        return code;
    text.resize(total);
    if (!component->parse(text, why))
        return ERROR_BAD_EXE_FORMAT;
    // The module's name as Windows gives it: the folders and the file as they are on the
    // disk, "\" between them.
    const QString windows = m_machine.windowsPath(m_machine.hostPath(QString::fromStdString(found)));
    *modulePath = windows.isEmpty() ? found : windows.toStdString();
    return ERROR_SUCCESS;
}

namespace {

// Makes key below HKEY_CLASSES_ROOT and sets its value name to the text value; a null value
// only makes the key.
std::uint32_t setString(Registry& registry, const std::string& key, const std::string& name, const std::string* value)
{
    ClassesKey created(registry);
    std::uint32_t code = created.create(key);
    if (code == ERROR_SUCCESS && value)
        code = registry.regSetValueEx(created.get(), name, REG_SZ, reinterpret_cast<const std::uint8_t*>(value->c_str()),
                                      std::uint32_t(value->size() + 1));
    return code;
}

// Removes path below HKEY_CLASSES_ROOT with everything below it; a missing key is no error.
std::uint32_t deleteTree(Registry& registry, const std::string& path, int depth = 0)
{
    std::vector<std::string> children;
    {
        ClassesKey opened(registry);
        std::uint32_t code = opened.open(path, KEY_ENUMERATE_SUB_KEYS);
        if (code == ERROR_FILE_NOT_FOUND)
            return ERROR_SUCCESS;
        std::string name;
        for (std::uint32_t index = 0; code == ERROR_SUCCESS; ++index) {
            code = registry.regEnumKeyEx(opened.get(), index, &name);
            if (code == ERROR_SUCCESS)
                children.push_back(name);
        }
        if (code != ERROR_NO_MORE_ITEMS)
            return code;
    }
    if (depth > 64) // deeper than any class has keys: not one of ours
        return ERROR_ACCESS_DENIED;
    for (const std::string& child : children) {
        if (const std::uint32_t code = deleteTree(registry, path + "\\" + child, depth + 1))
            return code;
    }
    const std::uint32_t code = registry.regDeleteKeyEx(HKEY_CLASSES_ROOT, path, 0);
    return code == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : code;
}

} // namespace

HRESULT EmulatedCom::writeClass(const ComponentClass& entry, const std::string& modulePath)
{
    Registry& registry = m_machine.registry();
    const std::string key = classKey(entry.clsid);
    const std::string server = key + "\\InprocServer32";
    const std::string clsid = guidText(entry.clsid);
    const std::string* name = entry.name.empty() ? nullptr : &entry.name;
    std::uint32_t code = setString(registry, key, std::string(), name);
    if (code == ERROR_SUCCESS)
        code = setString(registry, server, std::string(), &modulePath);
    if (code == ERROR_SUCCESS && !entry.threadingModel.empty())
        code = setString(registry, server, "ThreadingModel", &entry.threadingModel);
    if (code == ERROR_SUCCESS && !entry.progIds.empty())
        code = setString(registry, key + "\\ProgID", std::string(), &entry.progIds.front());
    for (const std::string& progId : entry.progIds) {
        if (code == ERROR_SUCCESS)
            code = setString(registry, progId, std::string(), name);
        if (code == ERROR_SUCCESS)
            code = setString(registry, progId + "\\CLSID", std::string(), &clsid);
    }
    return HRESULT_FROM_WIN32(code);
}

HRESULT EmulatedCom::removeClass(const ComponentClass& entry)
{
    Registry& registry = m_machine.registry();
    std::uint32_t code = ERROR_SUCCESS;
    for (const std::string& progId : entry.progIds) {
        // A ProgID that another class has taken over since stays.
        CLSID named;
        if (code == ERROR_SUCCESS && clsidFromProgID(progId, &named) == S_OK && named == entry.clsid)
            code = deleteTree(registry, progId);
    }
    if (code == ERROR_SUCCESS)
        code = deleteTree(registry, classKey(entry.clsid));
    return HRESULT_FROM_WIN32(code);
}

HRESULT EmulatedCom::callEntryPoint(const ComponentFile& component, const std::string& modulePath, bool unregister)
{
    const ComponentEntry& entry = unregister ? component.unregisterServer : component.registerServer;
    if (FAILED(entry.result))
        return entry.result;
    for (const ComponentClass& registered : component.classes) {
        const HRESULT result = unregister ? removeClass(registered) : writeClass(registered, modulePath);
        if (FAILED(result))
            return result;
    }
    return S_OK;
}

} // namespace winsteps::platform::emulated
