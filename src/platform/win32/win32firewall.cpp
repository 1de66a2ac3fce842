// The firewall on its automation objects (hnetcfg): the manager, the local policy, the current
// profile and its authorised list, each wrapper holding one reference of its object.

#include "platform/firewall.h"
#include "platform/win32/win32automation.h"

#include <netfw.h>

namespace winsteps::platform {

namespace {

using win32::Bstr;
using win32::nativeGuid;
using win32::owned;
using win32::readText;

class Win32AuthorizedApplication final : public FwAuthorizedApplication {
public:
    explicit Win32AuthorizedApplication(INetFwAuthorizedApplication* object) : m_object(owned(object)) {}

    HRESULT processImageFileName(std::string* path) override
    {
        return readText([this](BSTR* text) { return m_object->get_ProcessImageFileName(text); }, path);
    }
    HRESULT name(std::string* name) override
    {
        return readText([this](BSTR* text) { return m_object->get_Name(text); }, name);
    }
    HRESULT enabled(VARIANT_BOOL* enabled) override
    {
        return enabled ? m_object->get_Enabled(enabled) : E_POINTER;
    }

private:
    std::shared_ptr<INetFwAuthorizedApplication> m_object;
};

class Win32AuthorizedApplications final : public FwAuthorizedApplications {
public:
    explicit Win32AuthorizedApplications(INetFwAuthorizedApplications* object) : m_object(owned(object)) {}

    HRESULT item(const std::string& path, std::shared_ptr<FwAuthorizedApplication>* application) override
    {
        if (!application)
            return E_POINTER;
        if (path.empty())
            return E_INVALIDARG;
        const Bstr text(path);
        if (!text.get())
            return E_OUTOFMEMORY;
        INetFwAuthorizedApplication* found = nullptr;
        const HRESULT result = m_object->Item(text.get(), &found);
        if (SUCCEEDED(result) && found)
            *application = std::make_shared<Win32AuthorizedApplication>(found);
        else if (found)
            found->Release();
        return SUCCEEDED(result) && !found ? E_POINTER : result;
    }

    HRESULT add(const std::string& path, const std::string& name) override
    {
        if (path.empty() || name.empty())
            return E_INVALIDARG;
        const ::CLSID clsid = nativeGuid(CLSID_NetFwAuthorizedApplication);
        const ::IID iid = nativeGuid(IID_INetFwAuthorizedApplication);
        INetFwAuthorizedApplication* created = nullptr;
        HRESULT result = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, reinterpret_cast<void**>(&created));
        if (FAILED(result))
            return result;
        const std::shared_ptr<INetFwAuthorizedApplication> application = owned(created);
        const Bstr pathText(path), nameText(name);
        if (!pathText.get() || !nameText.get())
            return E_OUTOFMEMORY;
        result = application->put_ProcessImageFileName(pathText.get());
        if (SUCCEEDED(result))
            result = application->put_Name(nameText.get());
        if (SUCCEEDED(result))
            result = m_object->Add(application.get());
        return result;
    }

    HRESULT remove(const std::string& path) override
    {
        if (path.empty())
            return E_INVALIDARG;
        const Bstr text(path);
        return text.get() ? m_object->Remove(text.get()) : E_OUTOFMEMORY;
    }

private:
    std::shared_ptr<INetFwAuthorizedApplications> m_object;
};

class Win32FwProfile final : public FwProfile {
public:
    explicit Win32FwProfile(INetFwProfile* object) : m_object(owned(object)) {}

    HRESULT firewallEnabled(VARIANT_BOOL* enabled) override
    {
        return enabled ? m_object->get_FirewallEnabled(enabled) : E_POINTER;
    }
    HRESULT authorizedApplications(std::shared_ptr<FwAuthorizedApplications>* applications) override
    {
        if (!applications)
            return E_POINTER;
        INetFwAuthorizedApplications* list = nullptr;
        const HRESULT result = m_object->get_AuthorizedApplications(&list);
        if (SUCCEEDED(result) && list)
            *applications = std::make_shared<Win32AuthorizedApplications>(list);
        return SUCCEEDED(result) && !list ? E_POINTER : result;
    }

private:
    std::shared_ptr<INetFwProfile> m_object;
};

class Win32FwPolicy final : public FwPolicy {
public:
    explicit Win32FwPolicy(INetFwPolicy* object) : m_object(owned(object)) {}

    HRESULT currentProfile(std::shared_ptr<FwProfile>* profile) override
    {
        if (!profile)
            return E_POINTER;
        INetFwProfile* current = nullptr;
        const HRESULT result = m_object->get_CurrentProfile(&current);
        if (SUCCEEDED(result) && current)
            *profile = std::make_shared<Win32FwProfile>(current);
        return SUCCEEDED(result) && !current ? E_POINTER : result;
    }

private:
    std::shared_ptr<INetFwPolicy> m_object;
};

class Win32FwMgr final : public FwMgr {
public:
    explicit Win32FwMgr(INetFwMgr* object) : m_object(owned(object)) {}

    HRESULT localPolicy(std::shared_ptr<FwPolicy>* policy) override
    {
        if (!policy)
            return E_POINTER;
        INetFwPolicy* local = nullptr;
        const HRESULT result = m_object->get_LocalPolicy(&local);
        if (SUCCEEDED(result) && local)
            *policy = std::make_shared<Win32FwPolicy>(local);
        return SUCCEEDED(result) && !local ? E_POINTER : result;
    }

private:
    std::shared_ptr<INetFwMgr> m_object;
};

class Win32Firewall final : public Firewall {
public:
    HRESULT createManager(std::shared_ptr<FwMgr>* manager) override
    {
        if (!manager)
            return E_POINTER;
        const ::CLSID clsid = nativeGuid(CLSID_NetFwMgr);
        const ::IID iid = nativeGuid(IID_INetFwMgr);
        INetFwMgr* created = nullptr;
        const HRESULT result =
            ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, reinterpret_cast<void**>(&created));
        if (SUCCEEDED(result))
            *manager = std::make_shared<Win32FwMgr>(created);
        return result;
    }
};

} // namespace

Firewall& firewall()
{
    static Win32Firewall instance;
    return instance;
}

} // namespace winsteps::platform
