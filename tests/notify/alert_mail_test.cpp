// Alert composition, and delivery through TEmailThread to a real SMTP server.
#include "notify/alert_mail.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTcpServer>
#include <QThread>
#include <QTimer>
#include <sys/stat.h>

#include <atomic>

#include "notify/mail_delivery.h"
#include "platform/headless_ui.h"
#include "support/recording_ui.h"
#include "support/smtp_server.h"
#include "support/status_builder.h"

namespace kestrel {
namespace {

using testing::Record;

const std::vector<std::string> kSystemInfo = {"\n=========== [System Information] ==============",
                                              "\nMotherBoard : ACME - B1", "\nSystem Name : nas",
                                              "\nIP Address  : 192.0.2.7",
                                              "\n==============================================="};

// Settings stored as the E-mail page would store them, then loaded.
struct Mail {
    explicit Mail(int port = 25, std::vector<std::string> recipients = {"ops@example.com"}, bool muteRemoved = false) {
        key = std::make_unique<RegistryKey>((dir.path() + "/settings.ini").toStdString());
        store = std::make_unique<MailSettingsStore>(*key, flags, bar, boxes, [] {});
        store->Startup();
        MailPageFields page;
        page.fields = {std::to_string(port), "127.0.0.1", "RAID box", "raid@example.com", "", "pw"};
        page.fieldChanged = 0x3F;
        page.dontSend = {false, muteRemoved};
        page.addresses = std::move(recipients);
        page.subjects = {"Disk failure", "Enclosure gone"};
        page.contents = {std::vector<std::string>{"Replace the disk."}, std::vector<std::string>{"Check the cable."}};
        EXPECT_TRUE(store->SaveMailSettings(page).ok);
        store->LoadMailSettings();
        flags.Reset();

        drives.EnclosureCount = 1;
        drives.EnclosureFlags[0] = 0x41;
        drives.KnownIdentify[1] = testing::IdentifyBlock("KESTREL DUAL BAY", "100126.1");
        drives.CurrentStatus[1] = Record()
                                      .diskState(0x42)
                                      .mode(1)
                                      .firmwareCode("C01")
                                      .capacity(2000000000)
                                      .speed(0x32)
                                      .disk(0, "WDC WD10EZEX", "WD-A1", 1953525168)
                                      .disk(1, "ST1000DM003", "Z1D2", 1953525168);
        composer = std::make_unique<AlertComposer>(drives, *store, flags, "RAID GUI V0.23.6",
                                                   [] { return kSystemInfo; });
    }
    QTemporaryDir dir;
    std::unique_ptr<RegistryKey> key;
    MailFlags flags;
    MemoryStatusBar bar;
    testing::RecordingMessageBoxes boxes;
    std::unique_ptr<MailSettingsStore> store;
    DriveTable drives;
    std::unique_ptr<AlertComposer> composer;
};

TEST(AlertComposer, HddFailReportListsBothMembersWithDetails) {
    Mail m;
    m.composer->ComposeAlert(1, 0, 1);
    EXPECT_EQ(m.composer->DeviceInfo(),
              (std::vector<std::string>{
                  "Device1 P1 Hard Disk Drive fail.",
                  "Device1 information :",
                  "Model# KESTREL DUAL BAY",
                  "Mirroring(RAID1), F/W Rev. 100126.1.C01",
                  "Configured Capacity : 953 GB(2000000000 Sectors)",
                  "  HDD1 is present.(SATA3G)",
                  "    Model no.: WDC WD10EZEX",
                  "    Serial no.: \"WD-A1               \"",
                  "    Capacity : 931 GB(1953525168 Sectors)",
                  "  HDD2 is absent. ",
                  "    Model no.: ST1000DM003",
                  "    Serial no.: \"Z1D2                \"",
                  "    Capacity : 931 GB(1953525168 Sectors)",
                  "P1 is HDD2.",
              }));
    EXPECT_TRUE(m.flags.Test(mail_flag::kSendPending));
    EXPECT_EQ(m.composer->PendingKind(), 1);

    const AlertMail mail = m.composer->BuildAlertMail();
    EXPECT_EQ(mail.subject, "[RAID GUI V0.23.6 Message] Disk failure");
    ASSERT_EQ(mail.body.size(), 14u + 5u + 1u);
    EXPECT_EQ(mail.body[14], kSystemInfo[0]);
    EXPECT_EQ(mail.body.back(), "Replace the disk.");
}

TEST(AlertComposer, OtherKindsAddDetailsOnlyForPresentOrFailedDisks) {
    Mail m;
    m.drives.CurrentStatus[1][testing::at::kRaidMode] = 5;
    m.drives.CurrentStatus[1][testing::at::kFirmwareCode] = 'c';
    m.composer->ComposeAlert(3, 0, 0);
    const auto& info = m.composer->DeviceInfo();
    EXPECT_EQ(info.front(), "Device1 over heat.");
    EXPECT_EQ(info[3], "Undefine, F/W Rev. 100126.1.C00");
    EXPECT_EQ(info.back(), "  HDD2 is absent. ");
    EXPECT_EQ(info.size(), 10u);
}

TEST(AlertComposer, DeviceFieldsAreMadeSafeForTheMail) {
    Mail m;
    m.drives.KnownIdentify[1] = testing::IdentifyBlock("KESTREL\r\nBcc: x@y", "10\x1b[2J\xb5");
    testing::PutAta(m.drives.CurrentStatus[1], testing::at::kDisk1Serial, testing::at::kSerialLength, "\x07\xe9");
    m.composer->ComposeAlert(1, 0, 1);
    const auto& info = m.composer->DeviceInfo();
    EXPECT_EQ(info[2], "Model# KESTREL  Bcc: x@y");
    EXPECT_EQ(info[3], "Mirroring(RAID1), F/W Rev. 10?[2J\xc2\xb5 .C01");
    EXPECT_EQ(info[7], "    Serial no.: \"?\xc3\xa9                  \"");
}

TEST(AlertComposer, MutedKindsRaiseNothingAndUnknownEnclosuresMailWithoutAReport) {
    Mail m(25, {"ops@example.com"}, /*muteRemoved=*/true);
    m.composer->ComposeAlert(2, 0, 0);
    EXPECT_TRUE(m.composer->DeviceInfo().empty());
    EXPECT_FALSE(m.flags.Test(mail_flag::kSendPending));
    m.composer->ComposeAlert(4, 0, 0);
    EXPECT_EQ(m.composer->DeviceInfo().front(), "Device1 fan fail.");
    m.flags.Reset();
    m.composer->ComposeAlert(1, 5, 0);
    EXPECT_TRUE(m.composer->DeviceInfo().empty());
    EXPECT_TRUE(m.flags.Test(mail_flag::kSendPending));
    EXPECT_EQ(m.composer->BuildAlertMail().body.size(), 5u + 1u);
}

TEST(MailDelivery, LoginNameIsTheAddressUpToItsFirstAtSign) {
    EXPECT_EQ(LoginName("raid@example.com"), "raid");
    EXPECT_EQ(LoginName("a@b@c"), "a");
    EXPECT_EQ(LoginName("plain"), "plain");
}

bool ServeUntil(const std::function<bool()>& cond, int ms = 15000) {
    QElapsedTimer t;
    t.start();
    while (!cond() && t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return cond();
}

TEST(MailDelivery, EveryAlertIsAMailOfItsOwnInTheOrderRaised) {
    testing::SmtpTestServer server;
    Mail m(server.port(), {"a@example.com", "b@example.com", "c@example.com"});
    QObject ui;
    MailDelivery delivery(&ui, m.flags, *m.store, *m.composer, m.bar);
    // Three alerts within one pass of the user-interface thread.
    m.composer->ComposeAlert(3, 0, 0);
    m.composer->ComposeAlert(1, 0, 1);
    m.composer->ComposeAlert(2, 0, 0);
    EXPECT_EQ(delivery.MailsWaiting(), 3u);
    delivery.Start();
    ASSERT_TRUE(ServeUntil([&] { return server.MailCount() == 3 && m.flags.Value() == 0 && delivery.MailsWaiting() == 0; }));
    EXPECT_EQ(server.MailCount(), 3);
    const QStringList subjects = {"[RAID GUI V0.23.6 Message] Device1 over heat.",
                                  "[RAID GUI V0.23.6 Message] Disk failure",
                                  "[RAID GUI V0.23.6 Message] Enclosure gone"};
    const QStringList headings = {"Device1 over heat.", "Device1 P1 Hard Disk Drive fail.", "Device1 RAID system fail."};
    const QStringList contents = {"\r\n", "Replace the disk.\r\n", "Check the cable.\r\n"};
    for (int n = 1; n <= 3; ++n) {
        const QJsonObject mail = server.Mail(n);
        EXPECT_EQ(mail["rcpt_tos"].toArray(), (QJsonArray{"a@example.com", "b@example.com", "c@example.com"}));
        const QString data = mail["data"].toString();
        EXPECT_TRUE(data.contains("Subject: " + subjects[n - 1] + "\r\n")) << data.toStdString();
        EXPECT_TRUE(data.contains("\r\n\r\n" + headings[n - 1] + "\r\nDevice1 information :\r\n")) << data.toStdString();
        EXPECT_TRUE(data.endsWith(contents[n - 1])) << data.toStdString();
        EXPECT_TRUE(data.contains("From: \"RAID box\" <raid@example.com>\r\n"));
    }
    EXPECT_EQ(delivery.SendState(), send_state::kNotConnected);
}

TEST(MailDelivery, NoRecipientsDropsTheAlertSilently) {
    Mail m(25, {});
    QObject ui;
    int sends = 0;
    MailDelivery delivery(&ui, m.flags, *m.store, *m.composer, m.bar,
                          [&](const SmtpServer&, const SmtpMessage&, const SmtpEvents&) {
                              ++sends;
                              SmtpOutcome sent;
                              sent.sent = true;
                              return sent;
                          });
    delivery.Start();
    m.composer->ComposeAlert(1, 0, 0);
    ASSERT_TRUE(ServeUntil([&] { return m.flags.Value() == 0; }));
    EXPECT_EQ(sends, 0);
    EXPECT_EQ(m.bar.Panel(2), "Email=2");
}

TEST(MailDelivery, MailsWaitWhileTheServerIsDownAndAllGoOutOnceInOrderWhenItIsBack) {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const int port = probe.serverPort();
    probe.close();
    Mail m(port);
    QObject ui;
    MailDelivery delivery(&ui, m.flags, *m.store, *m.composer, m.bar);
    // Tries again only when the settings change, so that the test decides.
    delivery.SetRetryPauses(600000, 600000);
    delivery.Start();
    m.composer->ComposeAlert(4, 0, 0);
    ASSERT_TRUE(ServeUntil([&] {
        return m.bar.Panel(3) == "Mail server refused the connection; the alert mail is sent again in 600 s (1 waiting)";
    })) << m.bar.Panel(3);

    // The window keeps running while a mail waits on a server that never
    // answers: the exchange is not on this thread.
    testing::SmtpTestServer mute({"--mute"});
    MailPageFields page;
    page.fields = {std::to_string(mute.port()), "127.0.0.1", "RAID box", "raid@example.com", "", "pw"};
    page.fieldChanged = 0x01;
    page.addresses = {"ops@example.com"};
    page.subjects = {"Disk failure", ""};
    delivery.SetTimeouts(1500, 1500);
    m.composer->ComposeAlert(3, 0, 0);
    ASSERT_TRUE(m.store->SaveMailSettings(page).ok);
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(50);
    ASSERT_TRUE(ServeUntil([&] { return m.bar.Panel(3).rfind("Mail server did not answer in time;", 0) == 0; }))
        << m.bar.Panel(3);
    EXPECT_GT(ticks, 20) << "the user-interface thread kept serving its timers";
    EXPECT_EQ(delivery.MailsWaiting(), 2u);

    testing::SmtpTestServer up;
    page.fields[0] = std::to_string(up.port());
    m.composer->ComposeAlert(1, 0, 0);
    ASSERT_TRUE(m.store->SaveMailSettings(page).ok);
    ASSERT_TRUE(ServeUntil([&] { return up.MailCount() == 3 && delivery.MailsWaiting() == 0 && m.flags.Value() == 0; }));
    EXPECT_EQ(up.MailCount(), 3);
    EXPECT_TRUE(up.Mail(1)["data"].toString().contains("\r\n\r\nDevice1 fan fail.\r\n"));
    EXPECT_TRUE(up.Mail(2)["data"].toString().contains("\r\n\r\nDevice1 over heat.\r\n"));
    EXPECT_TRUE(up.Mail(3)["data"].toString().contains("\r\n\r\nDevice1 P0 Hard Disk Drive fail.\r\n"));
}

TEST(MailDelivery, RefusalsAndRequiredTlsAreNamedInPanel3) {
    testing::SmtpTestServer server({"--refuse-rcpt", "nobody"});
    Mail m(server.port(), {"a@example.com", "nobody@example.com", "c@example.com"});
    QObject ui;
    MailDelivery delivery(&ui, m.flags, *m.store, *m.composer, m.bar);
    delivery.Start();
    m.composer->ComposeAlert(1, 0, 0);
    ASSERT_TRUE(ServeUntil([&] { return m.bar.Panel(3) == "Mail sent; the server refused nobody@example.com"; }))
        << m.bar.Panel(3);
    ASSERT_TRUE(server.WaitForMails(1));
    EXPECT_EQ(server.Mail(1)["rcpt_tos"].toArray(), (QJsonArray{"a@example.com", "c@example.com"}));

    // The server offers no STARTTLS; the user asked for TLS.
    {
        RegistryKey writer(m.key->Path());
        ASSERT_TRUE(writer.Open(false));
        writer.WriteInteger(kRequireTlsValue, 1);
        ASSERT_TRUE(writer.Flush());
    }
    m.store->RequestReload();
    m.composer->ComposeAlert(1, 0, 0);
    // Sending it again cannot help: it leaves the queue.
    ASSERT_TRUE(ServeUntil([&] {
        return m.bar.Panel(3) == "Alert mail not delivered: Mail server offers no TLS; nothing was sent";
    })) << m.bar.Panel(3);
    EXPECT_EQ(server.MailCount(), 1);
    EXPECT_EQ(delivery.MailsWaiting(), 0u);
}

TEST(MailDelivery, ClosingEndsAStalledExchangeInsteadOfWaitingForIt) {
    testing::SmtpTestServer server({"--stall-after-data"});
    Mail m(server.port());
    QObject ui;
    MailDelivery delivery(&ui, m.flags, *m.store, *m.composer, m.bar);
    delivery.SetTimeouts(600000, 600000);
    delivery.Start();
    m.composer->ComposeAlert(1, 0, 0);
    const auto events = [&] {
        QFile f(server.dir() + "/events.log");
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    };
    ASSERT_TRUE(ServeUntil([&] { return events().contains("DATA-END"); }, 60000));
    // The exchange is cut off at once; the test's time-out is the fail-safe.
    delivery.Stop();
    ASSERT_TRUE(ServeUntil([&] { return events().contains("CLOSED"); }, 60000));
    // What the worker posted before it ended.
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(m.bar.Panel(3), "Mail is Sending...") << "closing reports no failure";
    EXPECT_EQ(delivery.MailsWaiting(), 1u) << "it waits for the next start";
}

TEST(MailDelivery, AnAlertStillPendingWhenClosingIsNotSent) {
    testing::SmtpTestServer server;
    Mail m(server.port());
    QObject ui;
    MailDelivery delivery(&ui, m.flags, *m.store, *m.composer, m.bar);
    delivery.Start();
    m.composer->ComposeAlert(1, 0, 0);
    // The mail step waits for this thread, which closes instead of serving
    // it; once Stop has returned the worker is gone, so nothing can follow.
    delivery.Stop();
    EXPECT_EQ(server.MailCount(), 0);
    EXPECT_NE(m.bar.Panel(3), "Send mail Success!");
}

TEST(MailDelivery, SettingsAndAlertTextsArriveAsTheUtf8TheyAre) {
    testing::SmtpTestServer server;
    Mail m(server.port());
    MailPageFields page;
    page.fields = {std::to_string(server.port()), "127.0.0.1", "Bj\xc3\xb6rn", "raid@example.com", "", "pw"};
    page.fieldChanged = field_changed::kUserName;
    page.addresses = {"ops@example.com"};
    page.subjects = {"Temp\xc3\xa9rature", ""};
    // A byte that is not UTF-8 and a NUL, as a hand-made file may hold.
    page.contents = {std::vector<std::string>{"caf\xc3\xa9", std::string("M\xfcller\0!", 8)}, {}};
    ASSERT_TRUE(m.store->SaveMailSettings(page).ok);
    QObject ui;
    MailDelivery delivery(&ui, m.flags, *m.store, *m.composer, m.bar);
    delivery.Start();
    m.composer->ComposeAlert(1, 0, 0);
    ASSERT_TRUE(ServeUntil([&] { return server.MailCount() == 1; }));
    const QJsonObject mail = server.Mail(1);
    const QByteArray data = QByteArray::fromHex(mail["data_hex"].toString().toLatin1());
    EXPECT_TRUE(data.contains("From: =?UTF-8?B?QmrDtnJu?= <raid@example.com>\r\n")) << data.constData();
    // "[RAID GUI V0.23.6 Message] Temperature" with an e acute, encoded once.
    EXPECT_TRUE(data.contains("Subject: =?UTF-8?B?" +
                              QByteArray("[RAID GUI V0.23.6 Message] Temp\xc3\xa9rature").toBase64() + "?=\r\n"))
        << data.constData();
    EXPECT_TRUE(data.endsWith("\r\ncaf\xc3\xa9\r\nM\xfcller?!\r\n")) << data.constData();
}

}  // namespace
}  // namespace kestrel

namespace kestrel {
namespace {

TEST(MailDelivery, ListenersHearEachOutcomeOnceAndAPermanentFailureIsNotTriedAgain) {
    Mail m;
    QObject ui;
    std::atomic<int> sends{0};
    std::atomic<int> mode{0};  // 0 refused connection, 1 delivered, 2 every recipient refused for good
    MailDelivery delivery(&ui, m.flags, *m.store, *m.composer, m.bar,
                          [&](const SmtpServer&, const SmtpMessage&, const SmtpEvents&) {
                              ++sends;
                              SmtpOutcome outcome;
                              outcome.sent = mode == 1;
                              if (mode == 0) outcome.error = "Mail server refused the connection";
                              if (mode == 2) {
                                  outcome.error = "Mail server refused every recipient";
                                  outcome.permanent = true;
                              }
                              return outcome;
                          });
    delivery.SetRetryPauses(1, 1);
    std::vector<std::string> heard;
    const char* kinds[] = {"queued", "delivered", "delayed", "undelivered"};
    delivery.AddAlertMailListener([&](const MailOutcome& o) {
        heard.push_back(std::string(kinds[static_cast<int>(o.kind)]) + " " + o.heading + " " + o.reason + " " +
                        std::to_string(o.waiting));
        if (o.kind == MailOutcome::Kind::Delayed && o.attempts == 2) mode = 1;
    });
    std::vector<std::string> tests;
    delivery.SetOutcomeListener([&](bool test, bool delivered, const std::string& text) {
        tests.push_back(std::string(test ? "test " : "alert ") + (delivered ? "delivered " : "failed ") + text);
    });
    delivery.Start();
    m.composer->ComposeAlert(4, 0, 0);
    ASSERT_TRUE(ServeUntil([&] { return heard.size() == 4; }));
    EXPECT_EQ(heard, (std::vector<std::string>{"queued Device1 fan fail.  1",
                                               "delayed Device1 fan fail. Mail server refused the connection 1",
                                               "delayed Device1 fan fail. Mail server refused the connection 1",
                                               "delivered Device1 fan fail.  0"}));
    mode = 2;
    m.composer->ComposeAlert(3, 0, 0);
    ASSERT_TRUE(ServeUntil([&] { return heard.size() == 6; }));
    EXPECT_EQ(heard[5], "undelivered Device1 over heat. Mail server refused every recipient 0");
    EXPECT_EQ(sends, 4);
    delivery.RequestTestMail(AlertMail{"[RAID GUI V0.23.6 Message] Test", {"test"}});
    ASSERT_TRUE(ServeUntil([&] { return tests.size() == 1; }));
    EXPECT_EQ(tests[0], "test failed Test mail failed: Mail server refused every recipient");
    delivery.Stop();
    EXPECT_EQ(heard.size(), 6u);
}

TEST(AlertComposer, SubjectsNeverEmptyAndAFullQueueRefusesTheAlertAndSaysSo) {
    Mail m;
    std::vector<MailOutcome> heard;
    m.composer->Queue().AddListener([&](const MailOutcome& o) { heard.push_back(o); });
    m.composer->ComposeAlert(4, 0, 0);
    EXPECT_EQ(m.composer->BuildAlertMail().subject, "[RAID GUI V0.23.6 Message] Device1 fan fail.");
    for (size_t i = 1; i < MailQueue::kCapacity; ++i) m.composer->ComposeAlert(1, 0, 0);
    EXPECT_EQ(m.composer->Queue().Size(), MailQueue::kCapacity);
    m.composer->ComposeAlert(2, 0, 0);
    EXPECT_EQ(m.composer->Queue().Size(), MailQueue::kCapacity);
    ASSERT_EQ(heard.size(), MailQueue::kCapacity + 1);
    EXPECT_EQ(heard.back().kind, MailOutcome::Kind::Undelivered);
    EXPECT_EQ(heard.back().heading, "Device1 RAID system fail.");
    EXPECT_EQ(heard.back().reason, "The mail queue is full (200 mails wait); this alert is not mailed");
    // A disk alert's heading counts the disks from 0; what our own texts say
    // about its mail names the disk as the Status page does.
    EXPECT_EQ(heard[1].heading, "Device1 P0 Hard Disk Drive fail.");
    EXPECT_EQ(heard[1].about, "Device1 HDD1 was removed.");
    QueuedMail unnamed;
    unnamed.kind = 1;
    unnamed.enclosureIndex = 1;
    unnamed.memberDisk = 1;
    unnamed.heading = AlertHeading(1, 1, 1);
    MailPageFields page;
    page.fields = {"25", "127.0.0.1", "RAID box", "raid@example.com", "", "pw"};
    page.fieldChanged = 0x3F;
    page.addresses = {"ops@example.com"};
    page.subjects = {"", ""};
    ASSERT_TRUE(m.store->SaveMailSettings(page).ok);
    m.store->LoadMailSettings();
    EXPECT_EQ(m.composer->BuildAlertMail(unnamed).subject, "[RAID GUI V0.23.6 Message] Device2 HDD2 was removed.");
}

TEST(MailQueue, MailsSurviveInPrivateFilesInOrderAndForeignFilesAreLeftAlone) {
    QTemporaryDir dir;
    const std::string folder = (dir.path() + "/alert-mail").toStdString();
    {
        MailQueue queue(folder);
        QueuedMail a;
        a.kind = 1;
        a.memberDisk = 1;
        a.heading = "Device1 P1 Hard Disk Drive fail.";
        a.composedAt = "Wed, 09 Dec 2026 12:00:00 +0000";
        a.report = {"Device1 P1 Hard Disk Drive fail.", "  HDD2 is absent. ", ""};
        ASSERT_TRUE(queue.Add(a).queued);
        QueuedMail b;
        b.kind = 4;
        b.enclosureIndex = 1;
        b.heading = "Device2 fan fail.";
        ASSERT_TRUE(queue.Add(b).queued);
        queue.Add(b);
        queue.DropHead();  // the first is delivered
    }
    QFile foreign(QString::fromStdString(folder) + "/alert-00000000000000000000.mail");
    ASSERT_TRUE(foreign.open(QIODevice::WriteOnly));
    foreign.write("kestrel-alert-mail 1\nid 9\n");  // cut short
    foreign.close();
    const QStringList files = QDir(QString::fromStdString(folder)).entryList(QDir::Files);
    EXPECT_EQ(files.size(), 3);
    for (const QString& f : files) {
        struct stat st {};
        ASSERT_EQ(::stat((QString::fromStdString(folder) + "/" + f).toLocal8Bit().constData(), &st), 0);
        if (f != "alert-00000000000000000000.mail") EXPECT_EQ(st.st_mode & 0777, 0600u) << f.toStdString();
    }

    MailQueue again(folder);
    ASSERT_EQ(again.Load(), 2u);
    EXPECT_EQ(again.Mails()[0].heading, "Device2 fan fail.");
    EXPECT_EQ(again.Mails()[0].enclosureIndex, 1);
    EXPECT_LT(again.Mails()[0].id, again.Mails()[1].id);
    QueuedMail c;
    c.heading = "later";
    again.Add(c);
    EXPECT_GT(again.Mails()[2].id, again.Mails()[1].id) << "ids go on after the loaded ones";
    EXPECT_TRUE(foreign.exists());
}

}  // namespace
}  // namespace kestrel
