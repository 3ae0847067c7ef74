// The program run headless on scenarios, as a service would run it: the day's
// log file it writes and the mail a real SMTP server receives.
#include <gtest/gtest.h>

#include <QDate>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>
#include <QThread>
#include <memory>

#include "notify/mail_settings_store.h"
#include "platform/headless_ui.h"
#include "platform/registry_key.h"
#include "support/mail_settings.h"
#include "support/program.h"
#include "support/recording_ui.h"
#include "support/smtp_server.h"

namespace kestrel {
namespace {

using testing::Program;

// Two enclosures on different access paths; steps at scenario milliseconds.
QString Scenario(const QString& timeline) {
    return QString(R"({
  "host": {"boardVendor": "Kestrel Boards Inc.", "boardName": "KB-Q87M", "systemName": "LAB-PC",
           "ipAddresses": ["192.0.2.20", "fe80::1"]},
  "enclosures": [
    {"name": "desk", "paths": ["mailbox", "ata"],
     "identity": {"model": "KESTREL DUAL RAID", "firmwareRevision": "100126.1"},
     "status": {"raidMode": 1, "diskState": "0x22", "sataSpeed": "0x22", "firmwareCode": "R1A",
                "configuredCapacity": 1953525168,
                "disk1Model": "WDC WD10EZEX", "disk1Serial": "WD-1", "disk1Capacity": 1953525168,
                "disk2Model": "ST1000DM003", "disk2Serial": "Z1D2", "disk2Capacity": 1953525168}},
    {"name": "travel", "paths": ["bridge"], "bridgeShifts": [1],
     "identity": {"model": "KESTREL USB RAID", "firmwareRevision": "091020.3"},
     "status": {"raidMode": 0, "diskState": "0x22"}}
  ],
  "drives": [{"number": 0, "model": "SYSTEM DISK"}, {"number": 1, "enclosure": "desk"},
             {"number": 2, "enclosure": "travel"}],
  "volumes": [{"letter": "C", "disk": 0}, {"letter": "E", "disk": 1}, {"letter": "F", "disk": 2}],
  "timeline": [%1]
})")
        .arg(timeline);
}

struct ScenarioRun {
    Program program;
    QString scenarioPath;
    Program::Result result;

    explicit ScenarioRun(const QString& timeline, const char* executable = KESTREL_RAID_EXE) : program(executable) {
        scenarioPath = program.logDir() + "/scenario.json";
        QFile f(scenarioPath);
        f.open(QIODevice::WriteOnly);
        f.write(Scenario(timeline).toUtf8());
    }
    void Go(double timeScale = 0.1, const QStringList& extra = {}) {
        result = program.RunToEnd(program.WithFiles({"--headless", "--simulate", scenarioPath, "--time-scale",
                                                     QString::number(timeScale)}) +
                                      extra,
                                  60000);
    }
    QStringList LogLines() const {
        QFile f(program.logDir() + "/" + QDate::currentDate().toString("yyMMdd") + ".log");
        if (!f.open(QIODevice::ReadOnly)) return {};
        const QByteArray all = f.readAll();
        EXPECT_TRUE(all.endsWith("\r\n"));
        QStringList lines = QString::fromLatin1(all).split("\r\n");
        lines.removeLast();
        return lines;
    }
};


// The same pipeline in the window program and in the monitor without one.
void DailyFileHoldsTheStartHeaderAndTheEventsInOrder(const char* executable) {
    ScenarioRun run(R"({"afterStatusReads": 2, "enclosure": "desk", "action": "pull-disk", "disk": 2},
              {"afterStatusReads": 5, "enclosure": "desk", "action": "quit"})", executable);
    run.Go();
    ASSERT_TRUE(run.result.finished) << run.result.err.toStdString();
    EXPECT_EQ(run.result.exitCode, 0) << run.result.err.toStdString();
    const QStringList lines = run.LogLines();
    const QString separator(83, '-');
    ASSERT_GE(lines.size(), 28) << lines.join("\n").toStdString();
    EXPECT_EQ(lines[0], separator);
    EXPECT_TRUE(lines[1].startsWith("RAID GUI V0.23.6 has started from "));
    EXPECT_EQ(lines.mid(2, 12), (QStringList{"Device1 information :", "Model# KESTREL DUAL RAID",
                                             "Mirroring(RAID1), F/W Rev. 100126.1.R1A",
                                             "Configured Capacity : 931 GB(1953525168 Sectors)",
                                             "  HDD1 is present.(SATA3G)", "    Model no.: WDC WD10EZEX",
                                             "    Serial no.: \"WD-1                \"",
                                             "    Capacity : 931 GB(1953525168 Sectors)",
                                             "  HDD2 is present.(SATA3G)", "    Model no.: ST1000DM003",
                                             "    Serial no.: \"Z1D2                \"",
                                             "    Capacity : 931 GB(1953525168 Sectors)"}));
    EXPECT_EQ(lines[14], "Device2 information :");
    EXPECT_EQ(lines[15], "Model# KESTREL USB RAID");
    const int closing = static_cast<int>(lines.indexOf(separator, 1));
    ASSERT_GT(closing, 15);
    ASSERT_EQ(lines.size(), closing + 2) << lines.join("\n").toStdString();
    EXPECT_TRUE(lines[closing + 1].startsWith("D1 HDD2 was removed, "));
    // The headless service echoes the same lines on standard output.
    EXPECT_TRUE(run.result.out.contains("D1 HDD2 was removed, "));
}

TEST(EndToEnd, DailyFileHoldsTheStartHeaderAndTheEventsInOrder) {
    DailyFileHoldsTheStartHeaderAndTheEventsInOrder(KESTREL_RAID_EXE);
}

TEST(EndToEnd, TheMonitorProgramWritesTheSameDailyFile) {
    DailyFileHoldsTheStartHeaderAndTheEventsInOrder(KESTREL_MONITOR_EXE);
}

TEST(EndToEnd, UnpluggingAndReplugginAnEnclosureIsLoggedWithDeviceBlocks) {
    // The unplug and the quit are counted in the enclosure's own polls, and
    // the plug comes six countdowns after the unplug, so that a slow machine
    // still sees each change detected and logged before the next.
    ScenarioRun run(R"({"afterStatusReads": 2, "enclosure": "desk", "action": "unplug"},
              {"at": 40000, "enclosure": "desk", "action": "plug"},
              {"afterStatusReads": 8, "enclosure": "desk", "action": "quit"})");
    run.Go();
    ASSERT_TRUE(run.result.finished) << run.result.err.toStdString();
    const QStringList lines = run.LogLines();
    const QString text = lines.join("\n");
    const int removed = static_cast<int>(lines.indexOf(QRegularExpression("^D1 Device was removed\\.\\d.*")));
    ASSERT_GT(removed, 0) << text.toStdString();
    EXPECT_EQ(lines[removed - 1], QString(83, '-'));
    EXPECT_TRUE(lines[removed + 1].startsWith("    Device had changed."));
    EXPECT_EQ(lines[removed + 2], "Device1 information :");
    EXPECT_EQ(lines[removed + 3], "Model# KESTREL USB RAID") << "the remaining enclosure is Device1 now";

    const int found = static_cast<int>(lines.indexOf(QRegularExpression("^D1 New Device was found\\.\\d.*")));
    ASSERT_GT(found, removed) << text.toStdString();
    EXPECT_TRUE(lines[found + 1].startsWith("    Device had changed."));
    EXPECT_EQ(lines[found + 3], "Model# KESTREL DUAL RAID");
}

TEST(EndToEnd, MissingLogFolderIsCreatedAndOneThatCannotBeIsReportedOnStandardError) {
    const QString day = QDate::currentDate().toString("yyMMdd") + ".log";
    ScenarioRun created(R"({"afterStatusReads": 3, "enclosure": "desk", "action": "quit"})");
    const QString folder = created.program.logDir() + "/var/log/kestrel";
    created.Go(0.1, {"--log-dir", folder});
    ASSERT_TRUE(created.result.finished);
    QFile log(folder + "/" + day);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly)) << created.result.err.toStdString();
    EXPECT_TRUE(log.readAll().contains("RAID GUI V0.23.6 has started from "));

    ScenarioRun refused(R"({"afterStatusReads": 3, "enclosure": "desk", "action": "quit"})");
    const QString blocker = refused.program.logDir() + "/blocker";
    QFile file(blocker);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    refused.Go(0.1, {"--log-dir", blocker + "/logs"});
    ASSERT_TRUE(refused.result.finished);
    EXPECT_EQ(refused.result.exitCode, 0);
    const QString said = "[panel 4] Cannot create log folder " + blocker + "/logs\n";
    EXPECT_EQ(refused.result.err.count(said), 1) << refused.result.err.toStdString();
    EXPECT_TRUE(refused.result.out.contains("RAID GUI V0.23.6 has started from ")) << "the lines are kept";
}

// Settings saved as the E-mail page saves them.
void StoreMailSettings(const QString& registry, int port, bool muteRemoved = false, const std::string& password = "") {
    MailPageFields page = testing::LocalServerPage(port, password);
    page.dontSend = {false, muteRemoved};
    page.addresses = {"first@example.com", "second@example.com", "third@example.com"};
    page.subjects = {"Disk failure", "Enclosure gone"};
    page.contents = {std::vector<std::string>{"Replace the disk soon."},
                     std::vector<std::string>{"Check the cable."}};
    testing::StoreAsThePageDoes(registry, page);
}

TEST(EndToEnd, APulledDiskIsMailedOnce) {
    testing::SmtpTestServer server;
    ASSERT_GT(server.port(), 0);
    // Counted in polls: eight polls after the pull give the mail time to go
    // out, and a second mail time to follow if the alert repeated.
    ScenarioRun run(R"({"afterStatusReads": 2, "enclosure": "desk", "action": "pull-disk", "disk": 2},
              {"afterStatusReads": 10, "enclosure": "desk", "action": "quit"})");
    StoreMailSettings(run.program.registry(), server.port());
    run.Go();
    ASSERT_TRUE(server.WaitForMails(1));
    EXPECT_EQ(server.MailCount(), 1);
    const QJsonObject mail = server.Mail(1);
    EXPECT_EQ(mail["rcpt_tos"].toArray(), (QJsonArray{"first@example.com", "second@example.com", "third@example.com"}));
    const QString data = mail["data"].toString();
    EXPECT_TRUE(data.contains("Subject: [RAID GUI V0.23.6 Message] Disk failure\r\n"));
    const QString body = data.mid(data.indexOf("\r\n\r\n") + 4);
    EXPECT_EQ(body,
              "Device1 P1 Hard Disk Drive fail.\r\n"
              "Device1 information :\r\n"
              "Model# KESTREL DUAL RAID\r\n"
              "Mirroring(RAID1), F/W Rev. 100126.1.R1A\r\n"
              "Configured Capacity : 931 GB(1953525168 Sectors)\r\n"
              "  HDD1 is present.(SATA3G)\r\n"
              "    Model no.: WDC WD10EZEX\r\n"
              "    Serial no.: \"WD-1                \"\r\n"
              "    Capacity : 931 GB(1953525168 Sectors)\r\n"
              "  HDD2 is absent. \r\n"
              "    Model no.: ST1000DM003\r\n"
              "    Serial no.: \"Z1D2                \"\r\n"
              "    Capacity : 931 GB(1953525168 Sectors)\r\n"
              "P1 is HDD2.\r\n"
              "\r\n=========== [System Information] ==============\r\n"
              "\r\nMotherBoard : Kestrel Boards Inc. - KB-Q87M\r\n"
              "\r\nSystem Name : LAB-PC\r\n"
              "\r\nIP Address  : 192.0.2.20, fe80::1\r\n"
              "\r\n===============================================\r\n"
              "Replace the disk soon.\r\n");
}

TEST(EndToEnd, LoginUsesTheAddressUpToItsAtSignAndTheStoredPassword) {
    testing::SmtpTestServer server({"--auth", "raid:Pa55-w0rd!"});
    ScenarioRun run(R"({"afterStatusReads": 2, "enclosure": "travel", "action": "set",
               "fields": {"sensorSupport": "0x11", "envFlags": "0xA1"}},
              {"afterStatusReads": 10, "enclosure": "travel", "action": "quit"})");
    StoreMailSettings(run.program.registry(), server.port(), false, "Pa55-w0rd!");
    run.Go();
    ASSERT_TRUE(server.WaitForMails(1)) << run.result.err.toStdString();
    EXPECT_EQ(server.Mail(1)["login"].toString(), "raid");
    EXPECT_TRUE(server.Mail(1)["data"].toString().contains("\r\n\r\nDevice2 fan fail.\r\n"));
    EXPECT_FALSE(run.result.out.contains("Pa55") || run.result.err.contains("Pa55"));
    QFile settings(run.program.registry());
    ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
    EXPECT_FALSE(settings.readAll().contains("Pa55")) << "the password is stored scrambled";
}

TEST(EndToEnd, MutedDeviceRemovalSendsNothing) {
    testing::SmtpTestServer server;
    // Steps counted in the polls of the enclosures, not in time: the quit
    // comes ten polls after the unplug however slow the machine, long after
    // the removal's countdown, detection and alert.
    ScenarioRun run(R"({"afterStatusReads": 2, "enclosure": "travel", "action": "unplug"},
              {"afterStatusReads": 12, "enclosure": "desk", "action": "quit"})");
    StoreMailSettings(run.program.registry(), server.port(), /*muteRemoved=*/true);
    run.Go();
    ASSERT_TRUE(run.result.finished) << run.result.err.toStdString();
    EXPECT_TRUE(run.LogLines().join("\n").contains("D2 Device was removed.")) << run.LogLines().join("\n").toStdString();
    // The server stores a mail before it answers the end of DATA, so a
    // mail sent before the program ended is counted here.
    EXPECT_EQ(server.MailCount(), 0);
}

}  // namespace
}  // namespace kestrel
