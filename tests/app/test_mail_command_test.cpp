// --test-mail, run as a user runs it, against a real SMTP server.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonObject>
#include <QTcpServer>

#include "notify/mail_settings_store.h"
#include "platform/headless_ui.h"
#include "support/mail_settings.h"
#include "support/program.h"
#include "support/recording_ui.h"
#include "support/smtp_server.h"

namespace kestrel {
namespace {

void StoreSettings(const QString& registry, int port, const std::string& password = "") {
    MailPageFields page = testing::LocalServerPage(port, password);
    page.addresses = {"first@example.com", "second@example.com"};
    testing::StoreAsThePageDoes(registry, page);
}

// A port where nothing listens.
int DeadPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

TEST(TestMailCommand, DeliversATestMailWithTheSystemInformationToEveryRecipient) {
    testing::SmtpTestServer server;
    ASSERT_GT(server.port(), 0);
    testing::Program program;
    StoreSettings(program.registry(), server.port());
    const auto run = program.RunToEnd(program.WithFiles({"--test-mail"}), 30000);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, "Test mail sent\n");
    ASSERT_TRUE(server.WaitForMails(1));
    const QJsonObject mail = server.Mail(1);
    EXPECT_EQ(mail["rcpt_tos"].toArray(), (QJsonArray{"first@example.com", "second@example.com"}));
    const QString data = mail["data"].toString();
    EXPECT_TRUE(data.contains("Subject: RAID GUI V0.23.6 test mail\r\n")) << data.toStdString();
    EXPECT_TRUE(data.contains("This is a test mail from RAID GUI V0.23.6.\r\n"));
    EXPECT_TRUE(data.contains("System Name : DEMO-PC\r\n")) << data.toStdString();
}

TEST(TestMailCommand, LogsInWithTheStoredPasswordAndRunsBesideAMonitor) {
    testing::SmtpTestServer server({"--auth", "raid:Pa55-w0rd!"});
    testing::Program program;
    StoreSettings(program.registry(), server.port(), "Pa55-w0rd!");
    std::unique_ptr<QProcess> monitor(program.Start(program.WithFiles({"--headless"})));
    const auto run = program.RunToEnd(program.WithFiles({"--test-mail"}), 30000);
    monitor->terminate();
    monitor->waitForFinished(10000);
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
    ASSERT_TRUE(server.WaitForMails(1));
    EXPECT_EQ(server.Mail(1)["login"].toString(), "raid");
    EXPECT_FALSE(run.out.contains("Pa55") || run.err.contains("Pa55"));
}

TEST(TestMailCommand, NamesTheFailureAndExitsOne) {
    testing::Program program;
    auto run = program.RunToEnd(program.WithFiles({"--test-mail"}), 30000);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "No test mail: no e-mail settings are stored\n");

    StoreSettings(program.registry(), DeadPort());
    run = program.RunToEnd(program.WithFiles({"--test-mail"}), 30000);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.out.startsWith("Test mail failed: ")) << run.out.toStdString();

    testing::SmtpTestServer refusing({"--auth", "raid:right"});
    StoreSettings(program.registry(), refusing.port(), "wrong");
    run = program.RunToEnd(program.WithFiles({"--test-mail"}), 30000);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.out.startsWith("Test mail failed: ")) << run.out.toStdString();
    EXPECT_EQ(refusing.MailCount(), 0);
}

}  // namespace
}  // namespace kestrel
