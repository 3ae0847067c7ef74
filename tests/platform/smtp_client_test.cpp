// The SMTP exchange against a real aiosmtpd server on 127.0.0.1.
#include "platform/smtp_client.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QProcess>
#include <QTcpServer>

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

TEST(SmtpClient, TextOutsideAsciiIsEncoded) {
    const SmtpMessage m{"Bj\xc3\xb6rn", "a@example.com", {"b@example.com"}, "Temp\xc3\xa9rature", {"caf\xc3\xa9", "bad \xff"}};
    const std::string text = FormatMessage(m, "Tue, 08 Dec 2026 10:00:00 +0000", "<x@y>");
    EXPECT_NE(text.find("Subject: =?UTF-8?B?VGVtcMOpcmF0dXJl?=\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("From: =?UTF-8?B?QmrDtnJu?= <a@example.com>\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\n\r\ncaf\xc3\xa9\r\nbad \xef\xbf\xbd\r\n"), std::string::npos)
        << "UTF-8 passes, a stray byte becomes U+FFFD";
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

}  // namespace
}  // namespace kestrel
