#include "notify/test_mail.h"

#include "notify/mail_delivery.h"

namespace kestrel {

OutgoingMail MailFromSettings(const MailSettingsStore& settings, AlertMail text) {
    OutgoingMail mail;
    mail.server.host = settings.MailSetting(kSmtpSetting);
    mail.server.port = settings.MailSetting(kPortSetting);
    mail.server.loginAuth = (settings.AuthSwitch() & 1) != 0;
    mail.server.login = LoginName(settings.MailSetting(kAddrSetting));
    mail.server.password = settings.MailSetting(kPasswordSetting);
    mail.server.requireTls = settings.RequireTls();
    mail.server.caFile = settings.CaFile();
    mail.message.fromName = settings.MailSetting(kUserNameSetting);
    mail.message.fromAddress = settings.MailSetting(kAddrSetting);
    mail.message.recipients = settings.RecipientList();
    mail.message.subject = std::move(text.subject);
    mail.message.bodyLines = std::move(text.body);
    return mail;
}

AlertMail TestMailText(const std::string& baseTitle, const std::vector<std::string>& systemInfo) {
    AlertMail mail;
    mail.subject = baseTitle + " test mail";
    mail.body = {"This is a test mail from " + baseTitle + ".",
                 "It was sent on request, with the stored e-mail settings, to every recipient.",
                 "Nothing has happened to the enclosures: alerts about them will reach you this way.", ""};
    // The block's lines each begin with a line feed, for the status bar's box.
    for (const std::string& line : systemInfo) mail.body.push_back(line.empty() || line[0] != '\n' ? line : line.substr(1));
    return mail;
}

std::string TestMailRefusal(const MailSettingsStore& settings) {
    if (!settings.KeyPresent()) return "No test mail: no e-mail settings are stored";
    if (settings.RecipientList().empty()) return "No test mail: no recipient address is stored";
    return {};
}

std::string TestMailResult(const SmtpOutcome& outcome) {
    if (!outcome.sent) return "Test mail failed: " + outcome.error;
    std::string refused;
    for (const std::string& r : outcome.refused) refused += (refused.empty() ? "" : ", ") + r;
    if (!refused.empty()) return "Test mail sent; the server refused " + refused;
    return "Test mail sent";
}

}  // namespace kestrel
