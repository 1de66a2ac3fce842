#pragma once

#include "platform/firewall.h"
#include "winsteps_platform_export.h"

#include <QList>
#include <QString>

namespace winsteps::platform::emulated {

class EmulatedMachine;

// The firewall of an emulated machine. The manager exists where the profile's system has it
// (see networkstate.h); its authorised list is the registry key where Windows XP SP2 keeps it
// (firewallListKey), read and written through the machine's registry calls, so the user's
// rights apply (a user without administrator rights cannot change it: E_ACCESSDENIED). The
// firewall is on unless the profile's key holds "EnableFirewall" = 0.
class WINSTEPS_PLATFORM_EXPORT EmulatedFirewall final : public Firewall {
public:
    // One entry of the authorised list.
    struct Application {
        QString path;
        QString scope; // "*": every address
        bool enabled = false;
        QString name;
    };

    explicit EmulatedFirewall(EmulatedMachine& machine);
    EmulatedFirewall(const EmulatedFirewall&) = delete;
    EmulatedFirewall& operator=(const EmulatedFirewall&) = delete;

    HRESULT createManager(std::shared_ptr<FwMgr>* manager) override;

    // --- the machine's owner (machine show, tests) and the objects ---------------------------

    // Every entry of the list, in the order the values were set.
    QList<Application> applications();
    // The entry of path (any case): HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) when none.
    HRESULT application(const QString& path, Application* entry);
    // Writes the entry of path, enabled, replacing any entry of that path.
    HRESULT authorize(const QString& path, const QString& name);
    HRESULT remove(const QString& path);
    bool firewallEnabled();

    // The data of a list value: "PATH:SCOPE:Enabled:NAME" read into entry (false when it is
    // not of that form); valueName is the path the value is named by.
    static bool parseEntry(const QString& valueName, const QString& data, Application* entry);

private:
    EmulatedMachine& m_machine;
};

} // namespace winsteps::platform::emulated
