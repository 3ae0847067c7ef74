// The SMTP exchange against a real aiosmtpd server on 127.0.0.1.
#include "platform/smtp_client.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QTcpServer>
#include <QThread>
#include <future>

#include "support/smtp_server.h"

namespace kestrel {
namespace {

using testing::SmtpTestServer;

SmtpMessage Alert() {
    SmtpMessage m;
    m.fromName = "Kestrel Box";
    m.fromAddress = "raid@example.com";
    m.recipients = {"first@example.com", "second@example.com", "third@example.com"};
    m.subject = "[RAID GUI V0.23.6 Message] Disk failure";
    m.bodyLines = {"Device1 P0 Hard Disk Drive fail.", "Device1 information :"};
    return m;
}

SmtpServer Local(int port) {
    SmtpServer s;
    s.host = "127.0.0.1";
    s.port = std::to_string(port);
    return s;
}

TEST(SmtpClient, DeliversToEveryRecipientInOrderWithTheEventsInOrder) {
    SmtpTestServer server;
    ASSERT_GT(server.port(), 0);
    std::vector<std::string> events;
    SmtpEvents e{[&] { events.push_back("connected"); }, [&] { events.push_back("workBegin"); },
                 [&] { events.push_back("workEnd"); }, [&] { events.push_back("disconnected"); }};
    const SmtpOutcome outcome = SendSmtp(Local(server.port()), Alert(), e);
    ASSERT_TRUE(outcome.sent) << outcome.error;
    EXPECT_EQ(events, (std::vector<std::string>{"connected", "workBegin", "workEnd", "disconnected"}));
    ASSERT_TRUE(server.WaitForMails(1));
    const QJsonObject mail = server.Mail(1);
    EXPECT_EQ(mail["mail_from"].toString(), "raid@example.com");
    EXPECT_EQ(mail["rcpt_tos"].toArray(),
              (QJsonArray{"first@example.com", "second@example.com", "third@example.com"}));
    const QString data = mail["data"].toString();
    EXPECT_TRUE(data.contains("From: \"Kestrel Box\" <raid@example.com>\r\n"));
    EXPECT_TRUE(data.contains("To: first@example.com, second@example.com, third@example.com\r\n"));
    EXPECT_TRUE(data.contains("Subject: [RAID GUI V0.23.6 Message] Disk failure\r\n"));
    EXPECT_TRUE(data.contains("\r\nDate: "));
    EXPECT_TRUE(data.contains("\r\nMessage-ID: <"));
    EXPECT_TRUE(data.contains("MIME-Version: 1.0\r\n"));
    EXPECT_TRUE(data.endsWith("\r\n\r\nDevice1 P0 Hard Disk Drive fail.\r\nDevice1 information :\r\n"));
    EXPECT_FALSE(mail["tls"].toBool()) << "the server offers no STARTTLS: the exchange stays plain";
}

TEST(SmtpClient, HeadersStaySingleLinesAndALoneDotDoesNotEndTheMessage) {
    SmtpTestServer server;
    SmtpMessage m = Alert();
    m.subject = "Disk\r\nBcc: intruder@example.com";
    m.fromName = "Box\nX-Evil: 1";
    m.bodyLines = {"before", ".", "..two", "after"};
    const SmtpOutcome outcome = SendSmtp(Local(server.port()), m);
    ASSERT_TRUE(outcome.sent) << outcome.error;
    ASSERT_TRUE(server.WaitForMails(1));
    const QJsonObject mail = server.Mail(1);
    const QString data = mail["data"].toString();
    EXPECT_FALSE(data.contains("\r\nBcc:"));
    EXPECT_FALSE(data.contains("\r\nX-Evil:"));
    EXPECT_TRUE(data.contains("Subject: Disk  Bcc: intruder@example.com\r\n"));
    EXPECT_TRUE(data.endsWith("\r\nbefore\r\n.\r\n..two\r\nafter\r\n")) << data.toStdString();
    EXPECT_EQ(mail["rcpt_tos"].toArray().size(), 3);
}

TEST(SmtpClient, TextIsUtf8AndGoesOutOnceEncodedWithStrayBytesKeptAndNoNul) {
    // UTF-8 as the settings and text files hold it, a byte that is not
    // UTF-8, and a NUL from a contents file.
    const SmtpMessage m{"Bj\xc3\xb6rn", "a@example.com", {"b@example.com"}, "Temp\xc3\xa9rature",
                        {"caf\xc3\xa9", std::string("M\xfcller\0end", 10)}};
    const std::string text = FormatMessage(m, "Tue, 08 Dec 2026 10:00:00 +0000", "<x@y>");
    EXPECT_NE(text.find("Subject: =?UTF-8?B?VGVtcMOpcmF0dXJl?=\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("From: =?UTF-8?B?QmrDtnJu?= <a@example.com>\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\n\r\ncaf\xc3\xa9\r\nM\xfcller?end\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find('\0'), std::string::npos);
}

// Found by fuzz_alert_mail: control bytes of a sender name or subject
// (from the settings and the subject file) went into the headers as they
// were; a header holds none.
TEST(SmtpClient, HeadersCarryNoControlBytes) {
    const SmtpMessage m{"Backup\x12PC\x1b[31m", "a@example.com", {"b@example.com"}, "Disk\tfail\x07\x7f", {"x"}};
    const std::string text = FormatMessage(m, "Tue, 08 Dec 2026 10:00:00 +0000", "<x@y>");
    EXPECT_NE(text.find("From: \"Backup?PC?[31m\" <a@example.com>\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Subject: Disk fail??\r\n"), std::string::npos) << text;
}

TEST(SmtpClient, LoginAuthentication) {
    SmtpTestServer server({"--auth", "raid:s3cret!"});
    SmtpServer s = Local(server.port());
    s.loginAuth = true;
    s.login = "raid";
    s.password = "s3cret!";
    const SmtpOutcome ok = SendSmtp(s, Alert());
    ASSERT_TRUE(ok.sent) << ok.error;
    ASSERT_TRUE(server.WaitForMails(1));
    EXPECT_EQ(server.Mail(1)["login"].toString(), "raid");

    s.password = "wrong";
    const SmtpOutcome refused = SendSmtp(s, Alert());
    EXPECT_FALSE(refused.sent);
    EXPECT_EQ(refused.error, "Mail server refused the login");
    EXPECT_EQ(refused.error.find("wrong"), std::string::npos);
}

QStringList AuthLog(const SmtpTestServer& server) {
    QFile f(server.dir() + "/auth.log");
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

TEST(SmtpClient, LoginPrefersLoginThenPlainAndGoesOnWithoutOneOtherwise) {
    SmtpServer s;
    s.host = "127.0.0.1";
    s.loginAuth = true;
    s.login = "raid";
    s.password = "s3cret!";
    const std::vector<std::pair<QString, QString>> cases = {
        {"LOGIN,PLAIN", "LOGIN"}, {"PLAIN", "PLAIN"}, {"LOGIN", "LOGIN"}, {"CRAM-MD5", ""}};
    for (const auto& [offered, used] : cases) {
        SCOPED_TRACE(offered.toStdString());
        SmtpTestServer server({"--auth", "raid:s3cret!", "--auth-optional", "--mechanisms", offered});
        s.port = std::to_string(server.port());
        const SmtpOutcome outcome = SendSmtp(s, Alert());
        ASSERT_TRUE(outcome.sent) << outcome.error;
        ASSERT_TRUE(server.WaitForMails(1));
        EXPECT_EQ(server.MailCount(), 1);
        EXPECT_EQ(server.Mail(1)["login"].toString(), used.isEmpty() ? QString() : QString("raid"));
        EXPECT_EQ(AuthLog(server), used.isEmpty() ? QStringList{} : QStringList{used}) << "nothing else was tried";
    }
}

TEST(SmtpClient, ARefusedRecipientDoesNotCostTheOthersTheirMail) {
    SmtpTestServer server({"--refuse-rcpt", "nobody"});
    SmtpMessage m = Alert();
    // The last one would end the address and add an ESMTP parameter.
    m.recipients = {"first@example.com", "nobody@example.com", "third@example.com",
                    "fourth@example.com> NOTIFY=NEVER"};
    const SmtpOutcome outcome = SendSmtp(Local(server.port()), m);
    ASSERT_TRUE(outcome.sent) << outcome.error;
    EXPECT_EQ(outcome.refused, (std::vector<std::string>{"fourth@example.com> NOTIFY=NEVER", "nobody@example.com"}));
    ASSERT_TRUE(server.WaitForMails(1));
    EXPECT_EQ(server.Mail(1)["rcpt_tos"].toArray(), (QJsonArray{"first@example.com", "third@example.com"}));

    m.recipients = {"nobody@example.com"};
    const SmtpOutcome none = SendSmtp(Local(server.port()), m);
    EXPECT_FALSE(none.sent);
    EXPECT_EQ(none.error, "Mail server refused every recipient");
    m.recipients = {"first@example.com"};
    m.fromAddress = "raid@example.com SMTPUTF8";
    EXPECT_EQ(SendSmtp(Local(server.port()), m).error, "Sender address is not usable");
    EXPECT_EQ(server.MailCount(), 1);
}

// A server that refuses the sender, the DATA command or the message itself
// is named with its own code and reason, not as a closed connection.
TEST(SmtpClient, AServerRefusalIsToldWithItsCodeAndText) {
    const QStringList stages = {"mail", "data", "end"};
    const QStringList replies = {"421 4.3.2 Service shutting down", "452 4.3.1 Insufficient system storage",
                                 "554 5.7.1 Message refused by policy"};
    for (const QString& stage : stages) {
        for (const QString& reply : replies) {
            SCOPED_TRACE((stage + " " + reply).toStdString());
            SmtpTestServer server({"--reply", stage, reply});
            const SmtpOutcome outcome = SendSmtp(Local(server.port()), Alert());
            EXPECT_FALSE(outcome.sent);
            EXPECT_EQ(outcome.error, "Mail server refused: " + reply.toStdString());
        }
    }
}

struct Certificate {
    QString cert, key;
};

// A self-signed certificate for the given subjectAltName; it is its own CA.
Certificate MakeCertificate(const QTemporaryDir& dir, const QString& name, const QString& altName) {
    Certificate c{dir.path() + "/" + name + ".pem", dir.path() + "/" + name + "-key.pem"};
    const int rc = QProcess::execute("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt",
                                                 "ec_paramgen_curve:prime256v1", "-nodes", "-subj", "/CN=" + name,
                                                 "-addext", "subjectAltName=" + altName, "-days", "2", "-keyout",
                                                 c.key, "-out", c.cert});
    EXPECT_EQ(rc, 0);
    return c;
}

TEST(SmtpClient, RequiredTlsVerifiesTheServerAndNeverSendsTheLoginOtherwise) {
    QTemporaryDir dir;
    const Certificate good = MakeCertificate(dir, "good", "IP:127.0.0.1,DNS:localhost");
    const Certificate stranger = MakeCertificate(dir, "stranger", "IP:127.0.0.1");
    const Certificate elsewhere = MakeCertificate(dir, "elsewhere", "DNS:mail.example.org");
    SmtpServer s;
    s.host = "127.0.0.1";
    s.loginAuth = true;
    s.login = "raid";
    s.password = "s3cret!";
    s.requireTls = true;
    s.caFile = good.cert.toStdString();
    {
        SmtpTestServer server({"--auth", "raid:s3cret!", "--tls", good.cert, good.key});
        s.port = std::to_string(server.port());
        const SmtpOutcome outcome = SendSmtp(s, Alert());
        ASSERT_TRUE(outcome.sent) << outcome.error;
        ASSERT_TRUE(server.WaitForMails(1));
        EXPECT_TRUE(server.Mail(1)["tls"].toBool());
        EXPECT_EQ(server.Mail(1)["login"].toString(), "raid");
    }
    struct Refusal {
        QStringList tls;  // the server's certificate, or none: no STARTTLS
        std::string error;
    };
    const std::vector<Refusal> refusals = {
        {{}, "Mail server offers no TLS; nothing was sent"},
        {{"--tls", stranger.cert, stranger.key}, "Mail server certificate is not trusted; nothing was sent"},
        {{"--tls", elsewhere.cert, elsewhere.key}, "Mail server certificate does not match its name; nothing was sent"},
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.error);
        SmtpTestServer server(QStringList{"--auth", "raid:s3cret!"} + refusal.tls);
        s.port = std::to_string(server.port());
        s.caFile = (refusal.tls.isEmpty() ? good.cert : refusal.tls[1] == elsewhere.cert ? elsewhere.cert : good.cert)
                       .toStdString();
        const SmtpOutcome outcome = SendSmtp(s, Alert());
        EXPECT_FALSE(outcome.sent);
        EXPECT_EQ(outcome.error, refusal.error);
        EXPECT_EQ(AuthLog(server), QStringList{}) << "the login never went out";
        EXPECT_EQ(server.MailCount(), 0);
    }
    s.caFile = (dir.path() + "/missing.pem").toStdString();
    SmtpTestServer server({"--tls", good.cert, good.key});
    s.port = std::to_string(server.port());
    EXPECT_EQ(SendSmtp(s, Alert()).error, "Mail CA file cannot be read; nothing was sent");
}

QStringList Events(const SmtpTestServer& server) {
    QFile f(server.dir() + "/events.log");
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

// A fail-safe only: the exchanges below end long before it, or never.
constexpr auto kFailSafe = std::chrono::seconds(60);

TEST(SmtpClient, AServerThatStallsAfterTheMessageCannotHoldTheExchangePastItsBound) {
    SmtpTestServer server({"--stall-after-data"});
    SmtpServer s = Local(server.port());
    s.connectTimeoutMs = 1000;
    s.transferTimeoutMs = 1000;
    auto exchange = std::async(std::launch::async, [&] { return SendSmtp(s, Alert()); });
    ASSERT_EQ(exchange.wait_for(kFailSafe), std::future_status::ready) << "still waiting, for QUIT's answer maybe";
    const SmtpOutcome outcome = exchange.get();
    EXPECT_FALSE(outcome.sent);
    EXPECT_EQ(outcome.error, "Mail server did not answer in time");
}

TEST(SmtpClient, CancellingEndsAnExchangeAtOnceAndLaterOnesBeforeTheyBegin) {
    SmtpTestServer server({"--stall-after-data"});
    SmtpCancel cancel;
    SmtpServer s = Local(server.port());
    s.connectTimeoutMs = 600000;
    s.transferTimeoutMs = 600000;
    s.cancel = &cancel;
    bool disconnected = false;
    SmtpEvents e;
    e.disconnected = [&] { disconnected = true; };
    auto exchange = std::async(std::launch::async, [&] { return SendSmtp(s, Alert(), e); });
    QElapsedTimer waited;
    waited.start();
    while (!Events(server).contains("DATA-END") && waited.elapsed() < 60000) QThread::msleep(20);
    ASSERT_TRUE(Events(server).contains("DATA-END"));
    cancel.Cancel();
    ASSERT_EQ(exchange.wait_for(kFailSafe), std::future_status::ready);
    const SmtpOutcome outcome = exchange.get();
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_FALSE(outcome.sent);
    EXPECT_TRUE(disconnected);

    const SmtpOutcome later = SendSmtp(s, Alert());
    EXPECT_TRUE(later.cancelled);
    waited.restart();
    while (!Events(server).contains("CLOSED") && waited.elapsed() < 60000) QThread::msleep(20);
    EXPECT_EQ(Events(server), (QStringList{"DATA-END", "CLOSED"})) << "the later one did not connect";
}

TEST(SmtpClient, StartTlsWhenTheServerOffersIt) {
    QTemporaryDir dir;
    const QString cert = dir.path() + "/cert.pem", key = dir.path() + "/key.pem";
    ASSERT_EQ(QProcess::execute("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost",
                                            "-days", "1", "-keyout", key, "-out", cert}),
              0);
    SmtpTestServer server({"--tls", cert, key});
    const SmtpOutcome outcome = SendSmtp(Local(server.port()), Alert());
    ASSERT_TRUE(outcome.sent) << outcome.error;
    ASSERT_TRUE(server.WaitForMails(1));
    EXPECT_TRUE(server.Mail(1)["tls"].toBool());
}

TEST(SmtpClient, FailuresNameTheirCause) {
    QTcpServer probe;  // a port that was free a moment ago: nothing listens
    probe.listen(QHostAddress::LocalHost);
    const int closedPort = probe.serverPort();
    probe.close();
    bool connected = false;
    SmtpEvents e;
    e.connected = [&] { connected = true; };
    EXPECT_EQ(SendSmtp(Local(closedPort), Alert(), e).error, "Mail server refused the connection");
    EXPECT_FALSE(connected);

    SmtpServer bad = Local(25);
    bad.port = "25a";
    EXPECT_EQ(SendSmtp(bad, Alert()).error, "Mail port is not a number");
    bad.port = "";
    EXPECT_EQ(SendSmtp(bad, Alert()).error, "Mail port is not a number");

    SmtpTestServer mute({"--mute"});
    SmtpServer slow = Local(mute.port());
    slow.connectTimeoutMs = 500;
    slow.transferTimeoutMs = 500;
    EXPECT_EQ(SendSmtp(slow, Alert()).error, "Mail server did not answer in time");
}

TEST(SmtpClient, AGraceLetsAnExchangeUnderWayDeliver) {
    SmtpTestServer server;
    SmtpCancel cancel;
    SmtpServer s = Local(server.port());
    s.cancel = &cancel;
    SmtpEvents e;
    e.connected = [&] { cancel.Cancel(std::chrono::seconds(60)); };
    const SmtpOutcome outcome = SendSmtp(s, Alert(), e);
    EXPECT_TRUE(outcome.sent) << outcome.error;
    EXPECT_TRUE(SendSmtp(s, Alert()).cancelled) << "a later one does not begin";
    ASSERT_TRUE(server.WaitForMails(1));
    EXPECT_EQ(server.MailCount(), 1);
}

}  // namespace
}  // namespace kestrel
