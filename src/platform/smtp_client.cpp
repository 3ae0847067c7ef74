#include "platform/smtp_client.h"

#include <curl/curl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QByteArray>
#include <QDateTime>
#include <QHostInfo>
#include <QLocale>
#include <QUuid>
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <thread>

namespace kestrel {

using Clock = SmtpCancel::Clock;

void SmtpCancel::Cancel(std::chrono::milliseconds grace) {
    // The calls run under the lock, so that Unsubscribe returns only when
    // none is under way: the listener may be gone right after.
    std::lock_guard lock(mutex_);
    if (cancelled_) return;
    cancelled_ = true;
    const Clock::time_point endBy = Clock::now() + grace;
    for (auto& [id, onCancel] : listeners_) onCancel(endBy);
    listeners_.clear();
}

bool SmtpCancel::Cancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

int SmtpCancel::Subscribe(std::function<void(Clock::time_point)> onCancel) {
    Clock::time_point endBy;
    {
        std::lock_guard lock(mutex_);
        if (!cancelled_) {
            listeners_.emplace(nextId_, std::move(onCancel));
            return nextId_++;
        }
        // The grace is for exchanges under way; a later one does not begin.
        endBy = Clock::now();
    }
    onCancel(endBy);
    return -1;
}

void SmtpCancel::Unsubscribe(int id) {
    std::lock_guard lock(mutex_);
    listeners_.erase(id);
}

std::string MailAddressProblem(const std::string& address) {
    if (address.empty()) return "it is empty";
    for (char c : address) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '<' || c == '>') return "it holds '<' or '>'";
        if (c == ' ' || c == '\t') return "it holds a blank";
        if (u < 0x20 || u == 0x7F) return "it holds a control character";
    }
    return {};
}

namespace {

// Header values are single lines: a CR or LF from a settings text or a
// subject file cannot start a header of its own (they, and a tab, become a
// blank). No other control byte belongs in a header: each becomes '?'.
std::string OneLine(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        out.push_back(c == '\r' || c == '\n' || c == '\t' ? ' ' : (u < 0x20 || u == 0x7F) ? '?' : c);
    }
    return out;
}

bool IsAscii(const std::string& text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

// An encoded word for a header text outside ASCII. The text is UTF-8
// already; its bytes go into the word unchanged.
std::string HeaderText(const std::string& text) {
    const std::string line = OneLine(text);
    if (IsAscii(line)) return line;
    const QByteArray bytes(line.data(), static_cast<qsizetype>(line.size()));
    return "=?UTF-8?B?" + bytes.toBase64().toStdString() + "?=";
}

std::string Mailbox(const std::string& name, const std::string& address) {
    const std::string addr = OneLine(address);
    if (name.empty()) return "<" + addr + ">";
    const std::string display = OneLine(name);
    if (!IsAscii(display)) return HeaderText(display) + " <" + addr + ">";
    std::string quoted = "\"";
    for (char c : display) {
        if (c == '"' || c == '\\') quoted.push_back('\\');
        quoted.push_back(c);
    }
    return quoted + "\" <" + addr + ">";
}

// Bounds one exchange as a whole and lets another thread end it: at the
// deadline, or when the cancel's time has come, every socket of the
// exchange is shut down, which wakes whatever wait libcurl is in (the
// answer to QUIT included), and no new socket is opened.
class ExchangeGuard {
public:
    enum class End { None, Deadline, Cancelled };

    ExchangeGuard(SmtpCancel* cancel, std::chrono::milliseconds bound)
        : deadline_(Clock::now() + bound), cancel_(cancel) {
        if (cancel_) subscription_ = cancel_->Subscribe([this](Clock::time_point endBy) { Cut(endBy); });
        watchdog_ = std::thread([this] {
            std::unique_lock lock(mutex_);
            while (!done_ && end_ == End::None) {
                const Clock::time_point until = std::min(deadline_, cutoff_);
                if (Clock::now() < until) {
                    changed_.wait_until(lock, until);
                    continue;
                }
                const End why = cutoff_ <= deadline_ ? End::Cancelled : End::Deadline;
                lock.unlock();
                Fire(why);
                return;
            }
        });
    }
    ~ExchangeGuard() {
        if (cancel_) cancel_->Unsubscribe(subscription_);
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        changed_.notify_all();
        watchdog_.join();
    }

    End Ended() const {
        std::lock_guard lock(mutex_);
        return end_;
    }
    // Cancelled, whether or not the watchdog got there first.
    bool CancelDue() const {
        std::lock_guard lock(mutex_);
        return end_ == End::Cancelled || Clock::now() >= cutoff_;
    }
    bool Over() const {
        std::lock_guard lock(mutex_);
        return end_ != End::None || Clock::now() >= std::min(deadline_, cutoff_);
    }
    long RemainingMs() const {
        std::lock_guard lock(mutex_);
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::min(deadline_, cutoff_) - Clock::now()).count();
        return static_cast<long>(std::max<long long>(left, 1));
    }

    curl_socket_t Open(int family, int type, int protocol) {
        std::lock_guard lock(mutex_);
        if (end_ != End::None) return CURL_SOCKET_BAD;
        const curl_socket_t s = socket(family, type | SOCK_CLOEXEC, protocol);
        if (s != CURL_SOCKET_BAD) sockets_.insert(s);
        return s;
    }
    // Under the lock, so that a shut-down never reaches a number that was
    // closed and given to someone else.
    int Close(curl_socket_t s) {
        std::lock_guard lock(mutex_);
        sockets_.erase(s);
        return close(s);
    }

private:
    void Cut(Clock::time_point endBy) {
        {
            std::lock_guard lock(mutex_);
            cutoff_ = std::min(cutoff_, endBy);
        }
        changed_.notify_all();
        if (Clock::now() >= endBy) Fire(End::Cancelled);
    }
    void Fire(End why) {
        {
            std::lock_guard lock(mutex_);
            if (end_ != End::None || done_) return;
            end_ = why;
            for (const curl_socket_t s : sockets_) shutdown(s, SHUT_RDWR);
        }
        changed_.notify_all();
    }

    const Clock::time_point deadline_;
    Clock::time_point cutoff_ = Clock::time_point::max();
    SmtpCancel* cancel_;
    int subscription_ = -1;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;
    End end_ = End::None;
    std::set<curl_socket_t> sockets_;
    std::thread watchdog_;
};

curl_socket_t OpenSocket(void* user, curlsocktype, curl_sockaddr* address) {
    return static_cast<ExchangeGuard*>(user)->Open(address->family, address->socktype, address->protocol);
}

int CloseSocket(void* user, curl_socket_t s) { return static_cast<ExchangeGuard*>(user)->Close(s); }

// libcurl calls this about once a second even while it waits for an answer.
int CheckProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<ExchangeGuard*>(user)->Over() ? 1 : 0;
}

struct Upload {
    std::string text;
    size_t offset = 0;
    bool begun = false;
    const SmtpEvents* events = nullptr;
};

size_t ReadMessage(char* buffer, size_t size, size_t count, void* user) {
    auto* upload = static_cast<Upload*>(user);
    if (!upload->begun) {
        upload->begun = true;
        if (upload->events->workBegin) upload->events->workBegin();
    }
    const size_t room = size * count;
    const size_t n = std::min(room, upload->text.size() - upload->offset);
    std::memcpy(buffer, upload->text.data() + upload->offset, n);
    upload->offset += n;
    return n;
}

// What the protocol trace tells: the greeting, the mechanisms offered for
// AUTH, the recipients the server refused, and the server's own refusal of
// the last command (code and text), which names a failure better than any
// guess of ours.
struct Session {
    const SmtpEvents* events = nullptr;
    bool connected = false;
    bool authOffered = false;
    std::set<std::string> mechanisms;
    std::string pendingRcpt;
    std::vector<std::string> refused;
    size_t refusedForGood = 0;  // of refused: with a 5xx reply
    std::string refusal;
};

// A reply line as it may be shown: printable, without its line end, short.
std::string ShownReply(std::string_view line) {
    std::string text;
    for (const char c : line) {
        if (c == '\r' || c == '\n') break;
        text.push_back(static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '?' : c);
    }
    return text.substr(0, 100);
}

void NoteCapabilities(Session& session, std::string_view line) {
    if (line.size() < 4 || line.substr(0, 3) != "250") return;
    line.remove_prefix(4);
    if (line.size() < 5) return;
    std::string word(line.substr(0, 4));
    for (char& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (word != "AUTH" || (line[4] != ' ' && line[4] != '=')) return;
    session.authOffered = true;
    std::string mechanism;
    for (const char c : line.substr(5)) {
        if (c == ' ' || c == '\r' || c == '\n') {
            if (!mechanism.empty()) session.mechanisms.insert(mechanism);
            mechanism.clear();
        } else {
            mechanism.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
        }
    }
    if (!mechanism.empty()) session.mechanisms.insert(mechanism);
}

int WatchProtocol(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    auto* session = static_cast<Session*>(user);
    const std::string_view text(data, size);
    if (type == CURLINFO_HEADER_IN) {
        // The server greeting is the first thing the server says: the
        // connection is then established.
        if (!session->connected && text.substr(0, 3) == "220") {
            session->connected = true;
            if (session->events->connected) session->events->connected();
        }
        NoteCapabilities(*session, text);
        const bool last = text.size() < 4 || text[3] == ' ' || text[3] == '\r' || text[3] == '\n';
        const bool refusing = !text.empty() && (text[0] == '4' || text[0] == '5');
        if (!session->pendingRcpt.empty() && refusing && last) {
            session->refused.push_back(session->pendingRcpt);
            if (text[0] == '5') ++session->refusedForGood;
        }
        else if (refusing && last) session->refusal = ShownReply(text);
        if (text.size() >= 4 && text[3] == ' ') session->pendingRcpt.clear();
    } else if (type == CURLINFO_HEADER_OUT) {
        if (text.substr(0, 4) == "EHLO") {
            // Asked again after STARTTLS: only the last answer counts.
            session->authOffered = false;
            session->mechanisms.clear();
        }
        session->pendingRcpt.clear();
        // Only the answer to the newest command counts (the closing QUIT aside).
        if (text.substr(0, 4) != "QUIT") session->refusal.clear();
        if (text.substr(0, 9) == "RCPT TO:<") {
            const size_t end = text.find('>');
            if (end != std::string_view::npos) session->pendingRcpt = std::string(text.substr(9, end - 9));
        }
    }
    return 0;
}

// The exchange ended on a refusal of the server's.
bool CutShort(CURLcode code) {
    return code == CURLE_SEND_ERROR || code == CURLE_RECV_ERROR || code == CURLE_GOT_NOTHING ||
           code == CURLE_WEIRD_SERVER_REPLY;
}

std::string Describe(CURLcode code, const char* detail, CURL* c, const Session& session) {
    // The server said no, with its code and its reason: say that.
    if (!session.refusal.empty() && CutShort(code)) return "Mail server refused: " + session.refusal;
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST: return "Mail server not found";
        case CURLE_COULDNT_CONNECT: return "Mail server refused the connection";
        case CURLE_OPERATION_TIMEDOUT: return "Mail server did not answer in time";
        case CURLE_LOGIN_DENIED: return "Mail server refused the login";
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING: return "Mail server closed the connection";
        case CURLE_SSL_CONNECT_ERROR: return "Mail server TLS failed";
        case CURLE_USE_SSL_FAILED: return "Mail server offers no TLS; nothing was sent";
        case CURLE_PEER_FAILED_VERIFICATION: {
            long verify = 0;
            curl_easy_getinfo(c, CURLINFO_SSL_VERIFYRESULT, &verify);
            // A chain that verified leaves 0, or libcurl's "not yet
            // verified" 1 when its own name check fails; OpenSSL's own name
            // and address checks give 62 and 64. Anything else is the chain.
            constexpr long kNotYetVerified = 1, kHostNameMismatch = 62, kIpAddressMismatch = 64;
            return verify == 0 || verify == kNotYetVerified || verify == kHostNameMismatch ||
                           verify == kIpAddressMismatch
                       ? "Mail server certificate does not match its name; nothing was sent"
                       : "Mail server certificate is not trusted; nothing was sent";
        }
        case CURLE_SSL_CACERT_BADFILE: return "Mail CA file cannot be read; nothing was sent";
        case CURLE_URL_MALFORMAT: return "Mail server name is not valid";
        default: break;
    }
    std::string text = "Mail failed: ";
    text += (detail && *detail) ? detail : curl_easy_strerror(code);
    return text.substr(0, 120);
}

// "Tue, 08 Dec 2026 14:03:07 +0100"
std::string RfcDate(const QDateTime& now) {
    const int minutes = now.offsetFromUtc() / 60;
    char zone[16];
    std::snprintf(zone, sizeof zone, "%c%02d%02d", minutes < 0 ? '-' : '+', std::abs(minutes) / 60,
                  std::abs(minutes) % 60);
    return QLocale::c().toString(now, "ddd, dd MMM yyyy hh:mm:ss ").toStdString() + zone;
}

struct Attempt {
    CURLcode code = CURLE_OK;
    std::string error;
};

enum class Login { None, Login, Plain };

// One connection: everything but the login decision is the caller's.
Attempt Perform(const SmtpServer& server, int port, Login login, const std::string& from,
                const std::vector<std::string>& recipients, Upload& upload, Session& session, ExchangeGuard& guard) {
    Attempt attempt;
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) {
        attempt.code = CURLE_FAILED_INIT;
        attempt.error = "Mail client could not start";
        return attempt;
    }
    CURL* c = curl.get();
    const std::string host = server.host.find(':') != std::string::npos ? "[" + server.host + "]" : server.host;
    // Port 465 speaks TLS from the first byte; elsewhere STARTTLS.
    const std::string url = std::string(port == 465 ? "smtps://" : "smtp://") + host + ":" + std::to_string(port);
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    if (server.requireTls) {
        curl_easy_setopt(c, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
        curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
        if (!server.caFile.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, server.caFile.c_str());
    } else {
        // Opportunistic: keeps the exchange from a passive listener, not
        // from someone on the path (see README).
        curl_easy_setopt(c, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_TRY));
        curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 0L);
    }
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    // The bound covers everything: the connection is closed (QUIT) inside
    // the transfer, with its answer bounded too, and a name lookup still
    // running is not waited for.
    const long remaining = guard.RemainingMs();
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, std::min<long>(server.connectTimeoutMs, remaining));
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, remaining);
    curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, (remaining + 999) / 1000);
    curl_easy_setopt(c, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(c, CURLOPT_QUICK_EXIT, 1L);
    curl_easy_setopt(c, CURLOPT_OPENSOCKETFUNCTION, OpenSocket);
    curl_easy_setopt(c, CURLOPT_OPENSOCKETDATA, &guard);
    curl_easy_setopt(c, CURLOPT_CLOSESOCKETFUNCTION, CloseSocket);
    curl_easy_setopt(c, CURLOPT_CLOSESOCKETDATA, &guard);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, CheckProgress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &guard);

    curl_easy_setopt(c, CURLOPT_MAIL_AUTH, static_cast<const char*>(nullptr));
    if (login != Login::None) {
        curl_easy_setopt(c, CURLOPT_USERNAME, server.login.c_str());
        curl_easy_setopt(c, CURLOPT_PASSWORD, server.password.c_str());
        curl_easy_setopt(c, CURLOPT_LOGIN_OPTIONS, login == Login::Plain ? "AUTH=PLAIN" : "AUTH=LOGIN");
    }
    curl_easy_setopt(c, CURLOPT_MAIL_FROM, from.c_str());
    curl_slist* rcpt = nullptr;
    for (const std::string& r : recipients) rcpt = curl_slist_append(rcpt, ("<" + r + ">").c_str());
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> rcptGuard(rcpt, curl_slist_free_all);
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, rcpt);
    // A recipient the server refuses does not cost the others their mail.
#if LIBCURL_VERSION_NUM >= 0x080200
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT_ALLOWFAILS, 1L);
#else
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT_ALLLOWFAILS, 1L);
#endif

    upload.offset = 0;
    curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(c, CURLOPT_READFUNCTION, ReadMessage);
    curl_easy_setopt(c, CURLOPT_READDATA, &upload);
    curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(upload.text.size()));

    curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, WatchProtocol);
    curl_easy_setopt(c, CURLOPT_DEBUGDATA, &session);
    char detail[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, detail);

    attempt.code = curl_easy_perform(c);
    if (attempt.code != CURLE_OK) attempt.error = Describe(attempt.code, detail, c, session);
    return attempt;
}

}  // namespace

std::string MailDateNow() { return RfcDate(QDateTime::currentDateTime()); }

std::string FormatMessage(const SmtpMessage& message, const std::string& date, const std::string& messageId) {
    std::string text;
    text += "From: " + Mailbox(message.fromName, message.fromAddress) + "\r\n";
    std::string to;
    for (const std::string& r : message.recipients) to += (to.empty() ? "" : ", ") + OneLine(r);
    text += "To: " + to + "\r\n";
    text += "Subject: " + HeaderText(message.subject) + "\r\n";
    text += "Date: " + date + "\r\n";
    text += "Message-ID: " + messageId + "\r\n";
    text += "MIME-Version: 1.0\r\n";
    text += "Content-Type: text/plain; charset=UTF-8\r\n";
    text += "Content-Transfer-Encoding: 8bit\r\n";
    text += "\r\n";
    for (const std::string& line : message.bodyLines) {
        // A body line is one line of the message: stray CR or LF inside it
        // become line breaks of their own.
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '\r') continue;
            if (line[i] == '\n') text += "\r\n";
            else text.push_back(line[i] == '\0' ? '?' : line[i]);
        }
        text += "\r\n";
    }
    return text;
}

SmtpOutcome SendSmtp(const SmtpServer& server, const SmtpMessage& message, const SmtpEvents& events) {
    SmtpOutcome outcome;
    int port = 0;
    const auto parsed = std::from_chars(server.port.data(), server.port.data() + server.port.size(), port);
    if (server.port.empty() || parsed.ec != std::errc() || parsed.ptr != server.port.data() + server.port.size() ||
        port <= 0 || port > 65535) {
        outcome.error = "Mail port is not a number";
        return outcome;
    }
    if (server.host.empty()) {
        outcome.error = "No mail server is set";
        return outcome;
    }
    if (!MailAddressProblem(message.fromAddress).empty()) {
        outcome.error = "Sender address is not usable";
        return outcome;
    }
    // An address that would smuggle parameters is not sent; the others are.
    std::vector<std::string> recipients;
    for (const std::string& r : message.recipients) {
        if (MailAddressProblem(r).empty()) recipients.push_back(r);
        else outcome.refused.push_back(r);
    }
    if (recipients.empty()) {
        outcome.error = "No recipient";
        outcome.permanent = true;
        return outcome;
    }

    static const bool curlReady = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    if (!curlReady) {
        outcome.error = "Mail client could not start";
        return outcome;
    }
    ExchangeGuard guard(server.cancel,
                        std::chrono::milliseconds(std::max(1, server.connectTimeoutMs + server.transferTimeoutMs)));

    const std::string hostName = QHostInfo::localHostName().toStdString();
    Upload upload;
    upload.events = &events;
    upload.text = FormatMessage(message, message.date.empty() ? MailDateNow() : message.date,
                                "<" + QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString() + "@" +
                                    (hostName.empty() ? std::string("localhost") : hostName) + ">");
    const std::string from = "<" + message.fromAddress + ">";
    Session session;
    session.events = &events;

    // libcurl would take PLAIN when both are offered, and end the
    // connection before the envelope when its choice is not offered; what
    // the server offered is known from the first connection, and a second
    // one goes on with PLAIN, or without a login, when LOGIN was not among it.
    Attempt attempt =
        Perform(server, port, server.loginAuth ? Login::Login : Login::None, from, recipients, upload, session, guard);
    if (attempt.code == CURLE_LOGIN_DENIED && server.loginAuth && session.authOffered &&
        !session.mechanisms.count("LOGIN") && guard.Ended() == ExchangeGuard::End::None) {
        const Login next = session.mechanisms.count("PLAIN") ? Login::Plain : Login::None;
        session.refused.clear();
        session.refusedForGood = 0;
        attempt = Perform(server, port, next, from, recipients, upload, session, guard);
    }

    const ExchangeGuard::End ended = guard.Ended();
    outcome.refused.insert(outcome.refused.end(), session.refused.begin(), session.refused.end());
    if (attempt.code == CURLE_OK) {
        outcome.sent = true;
        if (events.workEnd) events.workEnd();
    } else if (ended == ExchangeGuard::End::Cancelled || guard.CancelDue()) {
        outcome.cancelled = true;
        outcome.error = "Mail was not sent: the program is closing";
    } else if (ended == ExchangeGuard::End::Deadline || attempt.code == CURLE_ABORTED_BY_CALLBACK) {
        outcome.error = "Mail server did not answer in time";
    } else if (!session.refused.empty() && session.refused.size() == recipients.size()) {
        outcome.error = "Mail server refused every recipient";
        outcome.permanent = session.refusedForGood == recipients.size();
    } else {
        outcome.error = attempt.error;
        // A refusal for good of the mail itself, or TLS that the settings
        // require and this server cannot give; a refused login may be put
        // right in the settings, so it is tried again.
        const bool refusedForGood = CutShort(attempt.code) && !session.refusal.empty() && session.refusal[0] == '5';
        const bool tlsNotMet = attempt.code == CURLE_USE_SSL_FAILED || attempt.code == CURLE_PEER_FAILED_VERIFICATION ||
                               attempt.code == CURLE_SSL_CACERT_BADFILE;
        outcome.permanent = refusedForGood || (server.requireTls && tlsNotMet);
    }
    if (session.connected && events.disconnected) events.disconnected();
    return outcome;
}

}  // namespace kestrel
