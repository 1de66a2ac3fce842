#include "states/cemailsettingsstate.h"

#include "system/cosversion.h"
#include "fsm/eventnames.h"
#include "states/registrykey.h"

using namespace winsteps;

namespace {
const QString AccountManagerKey = QStringLiteral("SOFTWARE\\Microsoft\\Internet Account Manager");
const QString AccountsKey = AccountManagerKey + QStringLiteral("\\Accounts\\");
} // namespace

CEmailSettingsState::CEmailSettingsState(QObject* parent, const char* name, const QDomNode& description)
    : CState(parent, name, description)
{
    addEvent(event::finished);
    for (const char* required : {"displayName", "pop3Server", "smtpServer", "emailAddress", "login", "accountName"})
        addRequiredProperty(QString::fromLatin1(required));
}

void CEmailSettingsState::execute()
{
    const QString accountName = property("accountName").toString();
    // An empty account name would write the account's values into the Accounts key itself.
    if (COsVersion().isWinXp() && !accountName.trimmed().isEmpty()) {
        const registry::RegistryKey account
            = registry::createRegKey(registry::UserHive, AccountsKey + accountName, registry::FullAccess);
        // Each property is read at the moment its value is written.
        registry::writeRegString(account, QStringLiteral("Account Name"), property("accountName").toString());
        registry::writeRegDword(account, QStringLiteral("ConnectionFlags"), 0);
        registry::writeRegDword(account, QStringLiteral("Connection Type"), 3);
        registry::writeRegDword(account, QStringLiteral("POP3 Skip Account"), 0);
        registry::writeRegString(account, QStringLiteral("POP3 User Name"), property("login").toString());
        registry::writeRegDword(account, QStringLiteral("POP3 Prompt for Password"), 1);
        registry::writeRegString(account, QStringLiteral("POP3 Server"), property("pop3Server").toString());
        registry::writeRegString(account, QStringLiteral("SMTP Display Name"), property("displayName").toString());
        registry::writeRegString(account, QStringLiteral("SMTP Organization Name"), QString());
        registry::writeRegString(account, QStringLiteral("SMTP Server"), property("smtpServer").toString());
        registry::writeRegString(account, QStringLiteral("SMTP Email Address"), property("emailAddress").toString());

        const registry::RegistryKey manager
            = registry::openRegKey(registry::UserHive, AccountManagerKey, registry::FullAccess);
        registry::writeRegString(manager, QStringLiteral("Default Mail Account"), property("accountName").toString());
    }
    setExitEvent(event::finished);
    leaveState();
}
