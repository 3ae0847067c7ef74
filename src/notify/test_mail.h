#pragma once
// The test mail: one message, sent with the stored settings to every
// recipient, so that a user knows the alerts will arrive.
#include <string>
#include <vector>

#include "notify/alert_mail.h"
#include "notify/mail_settings_store.h"
#include "platform/smtp_client.h"

namespace kestrel {

struct OutgoingMail {
    SmtpServer server;
    SmtpMessage message;
};

// Server, login and sender from the loaded settings, to RecipientList.
OutgoingMail MailFromSettings(const MailSettingsStore& settings, AlertMail text);

// Says plainly that it is a test; the system information block names the PC.
AlertMail TestMailText(const std::string& baseTitle, const std::vector<std::string>& systemInfo);

// Why no test mail can go out with these settings ("" when it can).
std::string TestMailRefusal(const MailSettingsStore& settings);

// The line the status bar and the command line show for an outcome.
std::string TestMailResult(const SmtpOutcome& outcome);

}  // namespace kestrel
