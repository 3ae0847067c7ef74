#pragma once
// One SMTP exchange: connect, greet, optional STARTTLS and LOGIN, envelope,
// message, QUIT. Blocking, bounded in time; the caller decides on which
// thread it runs. The password never leaves this call.
#include <functional>
#include <string>
#include <vector>

namespace kestrel {

struct SmtpServer {
    std::string host;
    std::string port = "25";   // decimal text, as stored in the settings
    std::string login;         // used only when loginAuth is set
    std::string password;
    bool loginAuth = false;    // AUTH LOGIN when the server offers it
    int connectTimeoutMs = 10000;
    int transferTimeoutMs = 10000;
};

struct SmtpMessage {
    std::string fromName;                 // display name
    std::string fromAddress;
    std::vector<std::string> recipients;  // all primary, in order
    std::string subject;
    std::vector<std::string> bodyLines;
};

// The client's events, in the order an exchange raises them.
struct SmtpEvents {
    std::function<void()> connected;
    std::function<void()> workBegin;
    std::function<void()> workEnd;
    std::function<void()> disconnected;
};

struct SmtpOutcome {
    bool sent = false;
    std::string error;  // short, names the cause; never holds the password
};

SmtpOutcome SendSmtp(const SmtpServer& server, const SmtpMessage& message, const SmtpEvents& events = {});

// The message text as sent after DATA (headers and body, CR LF line ends,
// without dot-stuffing, which the transfer adds). Date and Message-ID are
// taken from the arguments so that the text can be checked.
std::string FormatMessage(const SmtpMessage& message, const std::string& date, const std::string& messageId);

}  // namespace kestrel
