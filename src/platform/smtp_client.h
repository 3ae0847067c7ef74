#pragma once
// One SMTP exchange: connect, greet, optional STARTTLS and login, envelope,
// message, QUIT. Blocking, bounded in time as a whole (QUIT included); the
// caller decides on which thread it runs, and another thread can end it at
// once. The password never leaves this call.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace kestrel {

// Ends exchanges under way from another thread (the program is closing):
// at once, or when a short grace has passed, so that an exchange about to
// finish still delivers its mail. Once cancelled it stays so: later
// exchanges end before they begin.
class SmtpCancel {
public:
    using Clock = std::chrono::steady_clock;

    void Cancel(std::chrono::milliseconds grace = std::chrono::milliseconds(0));
    bool Cancelled() const;

    // For the exchange: runs onCancel with the time it must end by (on the
    // cancelling thread, or at once when already cancelled) until
    // Unsubscribe.
    int Subscribe(std::function<void(Clock::time_point)> onCancel);
    void Unsubscribe(int id);

private:
    mutable std::mutex mutex_;
    bool cancelled_ = false;
    int nextId_ = 0;
    std::map<int, std::function<void(Clock::time_point)>> listeners_;
};

struct SmtpServer {
    std::string host;
    std::string port = "25";   // decimal text, as stored in the settings
    std::string login;         // used only when loginAuth is set
    std::string password;
    // Log in when the server offers LOGIN, else PLAIN; go on without a login
    // when it offers neither.
    bool loginAuth = false;
    // Without it, TLS is used when the server offers it, unverified. With it,
    // the exchange goes on only over TLS with a certificate that verifies
    // for the host name, against caFile or the system's certificates.
    bool requireTls = false;
    std::string caFile;
    // The whole exchange, from the name lookup to the answer to QUIT, ends
    // within connectTimeoutMs + transferTimeoutMs.
    int connectTimeoutMs = 10000;
    int transferTimeoutMs = 10000;
    SmtpCancel* cancel = nullptr;
};

struct SmtpMessage {
    std::string fromName;                 // display name
    std::string fromAddress;
    std::vector<std::string> recipients;  // all primary, in order
    std::string subject;
    std::vector<std::string> bodyLines;
    std::string date;  // the Date header (MailDateNow()); empty: when it is sent
};

// This moment as a mail's Date: "Tue, 08 Dec 2026 14:03:07 +0100".
std::string MailDateNow();

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
    // Recipients the server refused while it took the mail for the others.
    std::vector<std::string> refused;
    bool cancelled = false;
    // Sending it again cannot help: every recipient refused for good (5xx),
    // no usable recipient, or the TLS the settings require was not had.
    bool permanent = false;
};

// Why an address cannot go into MAIL FROM or RCPT TO ("" when it can): a
// '<', '>', blank or control character would end the address and smuggle
// parameters into the command.
std::string MailAddressProblem(const std::string& address);

SmtpOutcome SendSmtp(const SmtpServer& server, const SmtpMessage& message, const SmtpEvents& events = {});

// The message text as sent after DATA (headers and body, CR LF line ends,
// without dot-stuffing, which the transfer adds). Date and Message-ID are
// taken from the arguments so that the text can be checked. Texts are UTF-8;
// bytes that are not valid UTF-8 go out as they are.
std::string FormatMessage(const SmtpMessage& message, const std::string& date, const std::string& messageId);

}  // namespace kestrel
