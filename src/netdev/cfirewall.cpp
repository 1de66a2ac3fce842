#include "netdev/cfirewall.h"

#include "debug/debugoutput.h"
#include "system/cosversion.h"

namespace platform = winsteps::platform;

namespace {

void traceLine(const QString& text)
{
    winsteps::trace(winsteps::module::CFirewall, QLatin1String("CFirewall::") + text + QLatin1Char('\n'));
}

// text followed by the HRESULT as a signed decimal number.
void traceError(const QString& text, platform::HRESULT hr)
{
    traceLine(text + QString::number(hr));
}

} // namespace

CFirewall::CFirewall()
{
    initialize();
}

CFirewall::~CFirewall()
{
    release();
    if (m_comState == ComInitializedHere) {
        platform::system().coUninitialize();
        m_comState = ComNotInitialized;
    }
}

bool CFirewall::isSupportedSystem()
{
    return COsVersion().isWinXpSp2Plus();
}

void CFirewall::initialize()
{
    if (!isSupportedSystem()) {
        traceLine(QStringLiteral("CFirewall: It is NOT Windows XP SP2 and higher OS."));
        return;
    }
    const platform::HRESULT com = platform::system().coInitialize();
    if (com == platform::S_FALSE) {
        // Started by someone else: balance our call at once and leave COM to its owner.
        m_comState = ComInitializedElsewhere;
        platform::system().coUninitialize();
        traceLine(QStringLiteral("CFirewall: COM initialized by another application class instance."));
    } else if (com == platform::S_OK) {
        m_comState = ComInitializedHere;
        traceLine(QStringLiteral("CFirewall: COM initialized by this class instance."));
    }
    platform::HRESULT hr = platform::firewall().createManager(&m_manager);
    if (platform::FAILED(hr)) {
        m_manager.reset();
        traceError(QStringLiteral("CFirewall: CoCreateInstance is failed wit error "), hr);
        return;
    }
    std::shared_ptr<platform::FwPolicy> policy;
    hr = m_manager->localPolicy(&policy);
    if (platform::FAILED(hr) || !policy) {
        traceError(QStringLiteral("CFirewall: get_LocalPolicy is failed with error "), hr);
        release();
        return;
    }
    hr = policy->currentProfile(&m_profile);
    if (platform::FAILED(hr) || !m_profile) {
        traceError(QStringLiteral("CFirewall: get_CurrentProfile is failed with error "), hr);
        release();
    }
}

void CFirewall::release()
{
    m_profile.reset();
    m_manager.reset();
}

std::shared_ptr<platform::FwAuthorizedApplications> CFirewall::authorizedApplications(const char* caller,
                                                                                      const char* prefix)
{
    std::shared_ptr<platform::FwAuthorizedApplications> applications;
    const platform::HRESULT hr = m_profile->authorizedApplications(&applications);
    if (platform::SUCCEEDED(hr) && applications)
        return applications;
    traceError(QString::fromLatin1(caller) + QLatin1String(": ") + QLatin1String(prefix)
                   + QLatin1String("get_AuthorizedApplications is failed with error "),
               hr);
    return nullptr;
}

bool CFirewall::IsFirewallAppEnabled(const QString& fullPath, bool& enabled)
{
    enabled = true;
    if (!isInitialized()) {
        traceLine(QStringLiteral("IsFirewallAppEnabled: Instance is not initialized."));
        return false;
    }
    if (fullPath.isEmpty()) {
        traceLine(QStringLiteral("IsFirewallAppEnabled: A file is not defined"));
        return false;
    }
    const auto applications = authorizedApplications("IsFirewallAppEnabled", "");
    if (!applications)
        return false;
    const QString entry = QLatin1String("IsFirewallAppEnabled: Authorized application ") + fullPath;
    std::shared_ptr<platform::FwAuthorizedApplication> application;
    if (platform::FAILED(applications->item(fullPath.toStdString(), &application)) || !application) {
        // Not in the list.
        enabled = false;
        traceLine(entry + QLatin1String(" is disabled in the firewall."));
        return true;
    }
    platform::VARIANT_BOOL value = platform::VARIANT_FALSE;
    const platform::HRESULT hr = application->enabled(&value);
    if (platform::FAILED(hr)) {
        traceError(QStringLiteral("IsFirewallAppEnabled: get_Enabled is failed with error  "), hr);
        return false;
    }
    enabled = value == platform::VARIANT_TRUE;
    traceLine(entry + (enabled ? QLatin1String(" is enabled in the firewall.") : QLatin1String(" is disabled in the firewall.")));
    return true;
}

bool CFirewall::addApplication(const QString& fullPath, const QString& friendlyName)
{
    if (!isInitialized()) {
        traceLine(QStringLiteral("addApplication: Instance is not initialized."));
        return false;
    }
    if (fullPath.isEmpty()) {
        traceLine(QStringLiteral("addApplication: A full aplication path is not specified."));
        return false;
    }
    if (friendlyName.isEmpty()) {
        traceLine(QStringLiteral("addApplication: A file friendly name is not specified."));
        return false;
    }
    bool enabled = true;
    if (!IsFirewallAppEnabled(fullPath, enabled)) {
        traceLine(QStringLiteral("addApplication: A IsFirewallAppEnabled is failed."));
        return false;
    }
    if (enabled)
        return false; // there and enabled: nothing to add
    const auto applications = authorizedApplications("addApplication", "A ");
    if (!applications)
        return false;
    // Creating the entry object, setting its path and name and adding it are one call here;
    // whichever step failed, its code is the one reported.
    const platform::HRESULT hr = applications->add(fullPath.toStdString(), friendlyName.toStdString());
    if (platform::FAILED(hr)) {
        traceError(QStringLiteral("addApplication: A Add failed with error "), hr);
        return false;
    }
    traceLine(QLatin1String("addApplication: Authorized application ") + fullPath
              + QLatin1String(" is now enabled in the firewall "));
    return true;
}

bool CFirewall::removeApplication(const QString& fullPath)
{
    if (!isInitialized()) {
        traceLine(QStringLiteral("removeApplication: Instance is not initialized."));
        return false;
    }
    if (fullPath.isEmpty()) {
        traceLine(QStringLiteral("removeApplication: appFullPathName is not specified."));
        return false;
    }
    const auto applications = authorizedApplications("removeApplication", "A ");
    if (!applications)
        return false;
    const platform::HRESULT hr = applications->remove(fullPath.toStdString());
    if (platform::FAILED(hr)) {
        traceError(QStringLiteral("removeApplication: Remove failed with error "), hr);
        return false;
    }
    return true;
}
