#pragma once

#include "fsm/cstate.h"
#include "winsteps_export.h"

// "setEmailAccount": on Windows XP, writes a POP3/SMTP account for the system's mail client
// into the current user's Internet account manager ("accountName", "displayName",
// "pop3Server", "smtpServer", "emailAddress", "login"; the password is asked for by the
// client) and makes it the default mail account. Other systems are left alone. Always leaves
// by "finished".
class WINSTEPS_EXPORT CEmailSettingsState : public CState
{
    Q_OBJECT
public:
    CEmailSettingsState(QObject* parent, const char* name, const QDomNode& description);
    void execute() override;
};
