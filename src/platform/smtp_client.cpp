#include "platform/smtp_client.h"

#include <curl/curl.h>

#include <QByteArray>
#include <QDateTime>
#include <QHostInfo>
#include <QLocale>
#include <QUuid>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace kestrel {

namespace {

// Header values are single lines: a CR or LF from a settings text or a
// subject file cannot start a header of its own.
std::string OneLine(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) out.push_back(c == '\r' || c == '\n' ? ' ' : c);
    return out;
}

bool IsAscii(const std::string& text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

// The program's texts are UTF-8 (device text is made so when read); a byte
// that is not valid UTF-8 becomes U+FFFD, so the mail is always valid.
QByteArray Utf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toUtf8(); }

// An encoded word for a header text outside ASCII.
std::string HeaderText(const std::string& text) {
    const std::string line = OneLine(text);
    if (IsAscii(line)) return line;
    return "=?UTF-8?B?" + Utf8(line).toBase64().toStdString() + "?=";
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

struct Session {
    const SmtpEvents* events = nullptr;
    bool connected = false;
};

// The server greeting is the first thing the server says: the connection is
// then established.
int WatchProtocol(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    auto* session = static_cast<Session*>(user);
    if (type == CURLINFO_HEADER_IN && !session->connected && size >= 3 && std::string(data, 3) == "220") {
        session->connected = true;
        if (session->events->connected) session->events->connected();
    }
    return 0;
}

std::string Describe(CURLcode code, const char* detail) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST: return "Mail server not found";
        case CURLE_COULDNT_CONNECT: return "Mail server refused the connection";
        case CURLE_OPERATION_TIMEDOUT: return "Mail server did not answer in time";
        case CURLE_LOGIN_DENIED: return "Mail server refused the login";
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING: return "Mail server closed the connection";
        case CURLE_SSL_CONNECT_ERROR: return "Mail server TLS failed";
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

}  // namespace

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
        std::string clean;
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '\r') continue;
            if (line[i] == '\n') clean += "\r\n";
            else clean.push_back(line[i]);
        }
        text += Utf8(clean).toStdString() + "\r\n";
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
    if (message.recipients.empty()) {
        outcome.error = "No recipient";
        return outcome;
    }

    static const bool curlReady = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curlReady ? curl_easy_init() : nullptr,
                                                              curl_easy_cleanup);
    if (!curl) {
        outcome.error = "Mail client could not start";
        return outcome;
    }
    CURL* c = curl.get();
    // Port 465 speaks TLS from the first byte; elsewhere STARTTLS is used
    // when the server offers it, without requiring a verifiable certificate,
    // and the exchange stays plain when it does not.
    const std::string host = server.host.find(':') != std::string::npos ? "[" + server.host + "]" : server.host;
    const std::string url = std::string(port == 465 ? "smtps://" : "smtp://") + host + ":" + std::to_string(port);
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_TRY));
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(server.connectTimeoutMs));
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(server.connectTimeoutMs + server.transferTimeoutMs));
    const std::string hostName = QHostInfo::localHostName().toStdString();
    curl_easy_setopt(c, CURLOPT_MAIL_AUTH, static_cast<const char*>(nullptr));
    if (server.loginAuth) {
        curl_easy_setopt(c, CURLOPT_USERNAME, server.login.c_str());
        curl_easy_setopt(c, CURLOPT_PASSWORD, server.password.c_str());
        curl_easy_setopt(c, CURLOPT_LOGIN_OPTIONS, "AUTH=LOGIN");
    }
    const std::string from = "<" + OneLine(message.fromAddress) + ">";
    curl_easy_setopt(c, CURLOPT_MAIL_FROM, from.c_str());
    curl_slist* rcpt = nullptr;
    for (const std::string& r : message.recipients) rcpt = curl_slist_append(rcpt, ("<" + OneLine(r) + ">").c_str());
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> rcptGuard(rcpt, curl_slist_free_all);
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, rcpt);

    Upload upload;
    upload.events = &events;
    upload.text = FormatMessage(message, RfcDate(QDateTime::currentDateTime()),
                                "<" + QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString() + "@" +
                                    (hostName.empty() ? std::string("localhost") : hostName) + ">");
    curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(c, CURLOPT_READFUNCTION, ReadMessage);
    curl_easy_setopt(c, CURLOPT_READDATA, &upload);
    curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(upload.text.size()));

    Session session;
    session.events = &events;
    curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, WatchProtocol);
    curl_easy_setopt(c, CURLOPT_DEBUGDATA, &session);
    char detail[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, detail);

    const CURLcode code = curl_easy_perform(c);
    if (code == CURLE_OK) {
        outcome.sent = true;
        if (events.workEnd) events.workEnd();
    } else {
        outcome.error = Describe(code, detail);
    }
    if (session.connected && events.disconnected) events.disconnected();
    return outcome;
}

}  // namespace kestrel
