#include "platform/emulated/emulatedfirewall.h"

#include "platform/emulated/emulatedmachine.h"
#include "platform/emulated/networkstate.h"

#include <QRegularExpression>

namespace winsteps::platform::emulated {

namespace {

// Closes a key of the machine's registry when it goes.
class KeyHolder {
public:
    explicit KeyHolder(Registry& registry) : m_registry(registry) {}
    ~KeyHolder()
    {
        if (key != HKEY_NULL)
            m_registry.regCloseKey(key);
    }
    KeyHolder(const KeyHolder&) = delete;
    KeyHolder& operator=(const KeyHolder&) = delete;
    HKEY key = HKEY_NULL;

private:
    Registry& m_registry;
};

QString textOf(const std::vector<std::uint8_t>& data)
{
    QByteArray bytes(reinterpret_cast<const char*>(data.data()), qsizetype(data.size()));
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    return QString::fromUtf8(bytes);
}

class EmulatedAuthorizedApplication final : public FwAuthorizedApplication {
public:
    explicit EmulatedAuthorizedApplication(const EmulatedFirewall::Application& entry) : m_entry(entry) {}

    HRESULT processImageFileName(std::string* path) override { return give(m_entry.path.toStdString(), path); }
    HRESULT name(std::string* name) override { return give(m_entry.name.toStdString(), name); }
    HRESULT enabled(VARIANT_BOOL* enabled) override
    {
        if (!enabled)
            return E_POINTER;
        *enabled = m_entry.enabled ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }

private:
    static HRESULT give(const std::string& text, std::string* out)
    {
        if (!out)
            return E_POINTER;
        *out = text;
        return S_OK;
    }

    const EmulatedFirewall::Application m_entry;
};

class EmulatedAuthorizedApplications final : public FwAuthorizedApplications {
public:
    explicit EmulatedAuthorizedApplications(EmulatedFirewall& firewall) : m_firewall(firewall) {}

    HRESULT item(const std::string& path, std::shared_ptr<FwAuthorizedApplication>* application) override
    {
        if (!application)
            return E_POINTER;
        if (path.empty())
            return E_INVALIDARG;
        EmulatedFirewall::Application entry;
        const HRESULT result = m_firewall.application(QString::fromStdString(path), &entry);
        if (SUCCEEDED(result))
            *application = std::make_shared<EmulatedAuthorizedApplication>(entry);
        return result;
    }
    HRESULT add(const std::string& path, const std::string& name) override
    {
        if (path.empty() || name.empty())
            return E_INVALIDARG;
        return m_firewall.authorize(QString::fromStdString(path), QString::fromStdString(name));
    }
    HRESULT remove(const std::string& path) override
    {
        return path.empty() ? E_INVALIDARG : m_firewall.remove(QString::fromStdString(path));
    }

private:
    EmulatedFirewall& m_firewall;
};

class EmulatedFwProfile final : public FwProfile {
public:
    explicit EmulatedFwProfile(EmulatedFirewall& firewall) : m_firewall(firewall) {}

    HRESULT firewallEnabled(VARIANT_BOOL* enabled) override
    {
        if (!enabled)
            return E_POINTER;
        *enabled = m_firewall.firewallEnabled() ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    HRESULT authorizedApplications(std::shared_ptr<FwAuthorizedApplications>* applications) override
    {
        if (!applications)
            return E_POINTER;
        *applications = std::make_shared<EmulatedAuthorizedApplications>(m_firewall);
        return S_OK;
    }

private:
    EmulatedFirewall& m_firewall;
};

class EmulatedFwPolicy final : public FwPolicy {
public:
    explicit EmulatedFwPolicy(EmulatedFirewall& firewall) : m_firewall(firewall) {}

    HRESULT currentProfile(std::shared_ptr<FwProfile>* profile) override
    {
        if (!profile)
            return E_POINTER;
        *profile = std::make_shared<EmulatedFwProfile>(m_firewall);
        return S_OK;
    }

private:
    EmulatedFirewall& m_firewall;
};

class EmulatedFwMgr final : public FwMgr {
public:
    explicit EmulatedFwMgr(EmulatedFirewall& firewall) : m_firewall(firewall) {}

    HRESULT localPolicy(std::shared_ptr<FwPolicy>* policy) override
    {
        if (!policy)
            return E_POINTER;
        *policy = std::make_shared<EmulatedFwPolicy>(m_firewall);
        return S_OK;
    }

private:
    EmulatedFirewall& m_firewall;
};

} // namespace

EmulatedFirewall::EmulatedFirewall(EmulatedMachine& machine) : m_machine(machine) {}

HRESULT EmulatedFirewall::createManager(std::shared_ptr<FwMgr>* manager)
{
    if (!manager)
        return E_POINTER;
    if (!m_machine.system().comInitialized())
        return CO_E_NOTINITIALIZED;
    if (!hasFirewallManager(m_machine.profile()))
        return REGDB_E_CLASSNOTREG;
    *manager = std::make_shared<EmulatedFwMgr>(*this);
    return S_OK;
}

bool EmulatedFirewall::parseEntry(const QString& valueName, const QString& data, Application* entry)
{
    static const QRegularExpression form(QStringLiteral("^(.*?):([^:]*):(enabled|disabled):(.*)$"),
                                         QRegularExpression::CaseInsensitiveOption
                                             | QRegularExpression::DotMatchesEverythingOption);
    // The path comes first; it is the value's name, which may itself hold a colon.
    const bool named = data.startsWith(valueName + QLatin1Char(':'), Qt::CaseInsensitive);
    const QRegularExpressionMatch match = form.match(named ? QStringLiteral("x") + data.mid(valueName.size()) : data);
    if (!match.hasMatch())
        return false;
    entry->path = valueName;
    entry->scope = match.captured(2);
    entry->enabled = match.captured(3).compare(QLatin1String("enabled"), Qt::CaseInsensitive) == 0;
    entry->name = match.captured(4);
    return true;
}

QList<EmulatedFirewall::Application> EmulatedFirewall::applications()
{
    QList<Application> result;
    Registry& registry = m_machine.registry();
    KeyHolder list(registry);
    if (registry.regOpenKeyEx(HKEY_LOCAL_MACHINE, firewallListKey, KEY_READ, &list.key) != ERROR_SUCCESS)
        return result;
    std::string name;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    for (std::uint32_t i = 0; registry.regEnumValue(list.key, i, &name, &type, &data) == ERROR_SUCCESS; ++i) {
        Application entry;
        if (type == REG_SZ && parseEntry(QString::fromStdString(name), textOf(data), &entry))
            result.append(entry);
    }
    return result;
}

HRESULT EmulatedFirewall::application(const QString& path, Application* entry)
{
    Registry& registry = m_machine.registry();
    KeyHolder list(registry);
    std::uint32_t code = registry.regOpenKeyEx(HKEY_LOCAL_MACHINE, firewallListKey, KEY_READ, &list.key);
    std::uint32_t type = 0, size = 0;
    if (code == ERROR_SUCCESS)
        code = registry.regQueryValueEx(list.key, path.toStdString(), &type, nullptr, &size);
    std::vector<std::uint8_t> data(size);
    if (code == ERROR_SUCCESS)
        code = registry.regQueryValueEx(list.key, path.toStdString(), &type, data.data(), &size);
    if (code != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(code);
    // A value that is not an entry is no authorised program.
    if (type != REG_SZ || !parseEntry(path, textOf(data), entry))
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    return S_OK;
}

HRESULT EmulatedFirewall::authorize(const QString& path, const QString& name)
{
    Registry& registry = m_machine.registry();
    KeyHolder list(registry);
    std::uint32_t code =
        registry.regCreateKeyEx(HKEY_LOCAL_MACHINE, firewallListKey, REG_OPTION_NON_VOLATILE, KEY_WRITE, &list.key, nullptr);
    if (code == ERROR_SUCCESS) {
        QByteArray data = (path + QStringLiteral(":*:Enabled:") + name).toUtf8();
        data.append('\0');
        code = registry.regSetValueEx(list.key, path.toStdString(), REG_SZ,
                                      reinterpret_cast<const std::uint8_t*>(data.constData()), std::uint32_t(data.size()));
    }
    return HRESULT_FROM_WIN32(code);
}

HRESULT EmulatedFirewall::remove(const QString& path)
{
    Registry& registry = m_machine.registry();
    KeyHolder list(registry);
    std::uint32_t code = registry.regOpenKeyEx(HKEY_LOCAL_MACHINE, firewallListKey, KEY_SET_VALUE, &list.key);
    if (code == ERROR_SUCCESS)
        code = registry.regDeleteValue(list.key, path.toStdString());
    return HRESULT_FROM_WIN32(code);
}

bool EmulatedFirewall::firewallEnabled()
{
    Registry& registry = m_machine.registry();
    KeyHolder profile(registry);
    std::uint32_t value = 1, type = 0, size = sizeof value;
    if (registry.regOpenKeyEx(HKEY_LOCAL_MACHINE, firewallProfileKey, KEY_QUERY_VALUE, &profile.key) != ERROR_SUCCESS
        || registry.regQueryValueEx(profile.key, "EnableFirewall", &type, reinterpret_cast<std::uint8_t*>(&value), &size)
            != ERROR_SUCCESS
        || type != REG_DWORD)
        return true;
    return value != 0;
}

} // namespace winsteps::platform::emulated

namespace winsteps::platform {

Firewall& firewall()
{
    return emulated::currentMachine().firewall();
}

} // namespace winsteps::platform
