// Alert mails as a service sends them: each alert a mail of its own, mails
// that wait while the server is down or the program was killed, and alarms
// that leave their trace in the day's file without any mail.
#include <gtest/gtest.h>

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <functional>
#include <memory>

#include "support/mail_settings.h"
#include "support/program.h"
#include "support/smtp_server.h"

namespace kestrel {
namespace {

using testing::Program;

// One enclosure with sensors; steps counted in its status reads.
QString Scenario(const QString& timeline, const QString& diskState = "0x22") {
    return QString(R"({
  "host": {"boardVendor": "Kestrel Boards Inc.", "boardName": "KB-Q87M", "systemName": "LAB-PC",
           "ipAddresses": ["192.0.2.20"]},
  "enclosures": [
    {"name": "desk", "paths": ["mailbox"],
     "identity": {"model": "KESTREL DUAL RAID", "firmwareRevision": "100126.1"},
     "status": {"raidMode": 1, "diskState": "%2", "sataSpeed": "0x22", "firmwareCode": "R1A",
                "configuredCapacity": 1953525168, "sensorSupport": "0x11", "envFlags": "0xA0",
                "fanRpm": 2150, "temperature": 38,
                "disk1Model": "WDC WD10EZEX", "disk1Serial": "WD-1", "disk1Capacity": 1953525168,
                "disk2Model": "ST1000DM003", "disk2Serial": "Z1D2", "disk2Capacity": 1953525168}}
  ],
  "drives": [{"number": 0, "model": "SYSTEM DISK"}, {"number": 1, "enclosure": "desk"}],
  "volumes": [{"letter": "C", "disk": 0}, {"letter": "E", "disk": 1}],
  "timeline": [%1]
})")
        .arg(timeline, diskState);
}

// Both disks gone and the fan stopped, all seen by one poll: three alerts.
const char kThreeAlerts[] = R"({"afterStatusReads": 3, "enclosure": "desk", "action": "set",
     "fields": {"diskState": "0x44", "envFlags": "0xA1", "fanRpm": 0}})";

struct QueueRun {
    Program program;
    QString WriteScenario(const QString& name, const QString& timeline, const QString& diskState = "0x22") {
        const QString path = program.logDir() + "/" + name;
        QFile f(path);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(Scenario(timeline, diskState).toUtf8());
        return path;
    }
    QStringList Args(const QString& scenario) const {
        return program.WithFiles({"--headless", "--simulate", scenario, "--time-scale", "0.05"});
    }
    void StoreMail(int port) {
        MailPageFields page = testing::LocalServerPage(port);
        page.addresses = {"ops@example.com"};
        page.subjects = {"Disk failure", "Enclosure gone"};
        testing::StoreAsThePageDoes(program.registry(), page);
    }
    int Waiting() const {
        return static_cast<int>(QDir(program.stateDir() + "/alert-mail").entryList({"alert-*.mail"}, QDir::Files).size());
    }
    QString Log() const {
        QFile f(program.logDir() + "/" + QDate::currentDate().toString("yyMMdd") + ".log");
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
};

// Serves a running program's output until cond holds (or a generous bound).
bool Until(QProcess& p, QString& err, const std::function<bool()>& cond, int ms = 60000) {
    QElapsedTimer t;
    t.start();
    while (!cond() && t.elapsed() < ms && p.state() == QProcess::Running) {
        p.waitForReadyRead(50);
        err += QString::fromUtf8(p.readAllStandardError());
        p.readAllStandardOutput();
    }
    return cond();
}

int FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

QString Data(const testing::SmtpTestServer& server, int n) { return server.Mail(n)["data"].toString(); }

TEST(AlertMailQueue, ThreeAlertsInOnePollGiveThreeMailsInOrder) {
    testing::SmtpTestServer server;
    QueueRun run;
    run.StoreMail(server.port());
    const QString scenario = run.WriteScenario(
        "three.json", QString(kThreeAlerts) + R"(, {"afterStatusReads": 20, "enclosure": "desk", "action": "quit"})");
    const Program::Result r = run.program.RunToEnd(run.Args(scenario), 60000);
    ASSERT_TRUE(r.finished) << r.err.toStdString();
    ASSERT_TRUE(server.WaitForMails(3)) << r.err.toStdString();
    EXPECT_EQ(server.MailCount(), 3);
    EXPECT_TRUE(Data(server, 1).contains("Subject: [RAID GUI V0.23.6 Message] Disk failure\r\n"));
    EXPECT_TRUE(Data(server, 1).contains("\r\n\r\nDevice1 P0 Hard Disk Drive fail.\r\n"));
    EXPECT_TRUE(Data(server, 2).contains("\r\n\r\nDevice1 P1 Hard Disk Drive fail.\r\n"));
    // No subject is stored for the fan: the heading says what happened.
    const QString fan = Data(server, 3);
    EXPECT_TRUE(fan.contains("Subject: [RAID GUI V0.23.6 Message] Device1 fan fail.\r\n")) << fan.toStdString();
    EXPECT_TRUE(fan.contains("\r\n\r\nDevice1 fan fail.\r\n"));
    EXPECT_TRUE(fan.contains("\r\nFan speed : 0 RPM\r\nTemperature : 38 \u00b0C\r\n")) << fan.toStdString();
    EXPECT_EQ(run.Waiting(), 0);
}

TEST(AlertMailQueue, MailsWaitWhileTheServerIsDownAndEachArrivesOnceWhenItIsBack) {
    const int port = FreePort();
    QueueRun run;
    run.StoreMail(port);
    const QString scenario = run.WriteScenario("three.json", kThreeAlerts);
    std::unique_ptr<QProcess> p(run.program.Start(run.Args(scenario)));
    QString err;
    // Tried, refused, and tried again later.
    ASSERT_TRUE(Until(*p, err, [&] { return err.count("[panel 3] Mail server refused the connection; ") >= 2; }))
        << err.toStdString();
    EXPECT_EQ(run.Waiting(), 3);

    testing::SmtpTestServer server({"--port", QString::number(port)});
    ASSERT_EQ(server.port(), port);
    ASSERT_TRUE(Until(*p, err, [&] { return server.MailCount() >= 3 && run.Waiting() == 0; })) << err.toStdString();
    p->terminate();
    ASSERT_TRUE(p->waitForFinished(20000));
    EXPECT_EQ(server.MailCount(), 3) << "each mail once";
    EXPECT_TRUE(Data(server, 1).contains("\r\n\r\nDevice1 P0 Hard Disk Drive fail.\r\n"));
    EXPECT_TRUE(Data(server, 2).contains("\r\n\r\nDevice1 P1 Hard Disk Drive fail.\r\n"));
    EXPECT_TRUE(Data(server, 3).contains("\r\n\r\nDevice1 fan fail.\r\n"));
}

TEST(AlertMailQueue, MailsQueuedWhenTheProgramIsKilledGoOutAfterTheRestart) {
    const int port = FreePort();
    QueueRun run;
    run.StoreMail(port);
    {
        std::unique_ptr<QProcess> p(run.program.Start(run.Args(run.WriteScenario("three.json", kThreeAlerts))));
        QString err;
        ASSERT_TRUE(Until(*p, err, [&] { return run.Waiting() == 3; })) << err.toStdString();
        p->kill();  // SIGKILL: nothing of the program runs any more
        p->waitForFinished(20000);
    }
    QFile::Permissions folder = QFile::permissions(run.program.stateDir() + "/alert-mail");
    EXPECT_EQ(folder & (QFileDevice::ReadOther | QFileDevice::ReadGroup), 0) << "private";

    testing::SmtpTestServer server({"--port", QString::number(port)});
    std::unique_ptr<QProcess> p(run.program.Start(run.Args(run.WriteScenario("calm.json", ""))));
    QString err;
    ASSERT_TRUE(Until(*p, err, [&] { return server.MailCount() >= 3 && run.Waiting() == 0; })) << err.toStdString();
    p->terminate();
    ASSERT_TRUE(p->waitForFinished(20000));
    err += QString::fromUtf8(p->readAllStandardError());
    EXPECT_EQ(server.MailCount(), 3);
    EXPECT_TRUE(Data(server, 1).contains("\r\n\r\nDevice1 P0 Hard Disk Drive fail.\r\n"));
    EXPECT_TRUE(Data(server, 3).contains("\r\n\r\nDevice1 fan fail.\r\n"));
    EXPECT_TRUE(err.contains("3 alert mails not delivered before the last stop are sent now.")) << err.toStdString();
}

TEST(AlertMailQueue, AHeadlessRunWithoutMailLogsTheFanAlarmsStartAndEnd) {
    QueueRun run;
    const QString scenario = run.WriteScenario("fan.json", R"(
        {"afterStatusReads": 3, "enclosure": "desk", "action": "fan-alarm"},
        {"afterStatusReads": 6, "enclosure": "desk", "action": "fan-alarm", "on": false},
        {"afterStatusReads": 9, "enclosure": "desk", "action": "quit"})");
    const Program::Result r = run.program.RunToEnd(run.Args(scenario), 60000);
    ASSERT_TRUE(r.finished);
    const QString began = "D1 Fan failure began (fan 2150 RPM, 38 \u00b0C), ";
    const QString ended = "D1 Fan failure ended (fan 2150 RPM, 38 \u00b0C), ";
    const QString log = run.Log();
    ASSERT_TRUE(log.contains("\r\n" + began)) << log.toStdString();
    EXPECT_GT(log.indexOf("\r\n" + ended), log.indexOf(began)) << log.toStdString();
    // Said on standard error too, besides the lines on standard output.
    EXPECT_TRUE(r.err.contains(began)) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(ended)) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(ended));
}

TEST(AlertMailQueue, ARestartWithADegradedArrayAlertsOnceAndASecondRestartNotAgain) {
    testing::SmtpTestServer server;
    QueueRun run;
    run.StoreMail(server.port());
    const char quit[] = R"({"afterStatusReads": 10, "enclosure": "desk", "action": "quit"})";
    // HDD2 went missing while the monitor was not running.
    const QString degraded = run.WriteScenario("degraded.json", quit, "0x42");
    for (int start = 1; start <= 2; ++start) {
        const Program::Result r = run.program.RunToEnd(run.Args(degraded), 60000);
        ASSERT_TRUE(r.finished) << r.err.toStdString();
        ASSERT_TRUE(server.WaitForMails(1)) << r.err.toStdString();
    }
    // Both runs have ended: a second mail would be here, or still queued.
    EXPECT_EQ(server.MailCount(), 1);
    EXPECT_EQ(run.Waiting(), 0);
    EXPECT_TRUE(Data(server, 1).contains("\r\n\r\nDevice1 P1 Hard Disk Drive fail.\r\n"));

    // Put back while it was not running: logged, nothing to alert.
    const Program::Result r = run.program.RunToEnd(run.Args(run.WriteScenario("mended.json", quit)), 60000);
    ASSERT_TRUE(r.finished);
    EXPECT_TRUE(run.Log().contains("\r\nD1 HDD2 changed while not monitored: absent, now present, ")) << run.Log().toStdString();
    EXPECT_EQ(server.MailCount(), 1);
}

TEST(AlertMailQueue, EventLinesCarryTheirOwnJournalPriority) {
    QueueRun run;
    const QString scenario = run.WriteScenario("pull.json", R"(
        {"afterStatusReads": 3, "enclosure": "desk", "action": "pull-disk", "disk": 2},
        {"afterStatusReads": 6, "enclosure": "desk", "action": "quit"})");
    QProcess p;
    p.setProcessEnvironment(run.program.env());
    // The journal names its stream by device and inode: here, the pipe the
    // program's standard output is.
    p.start("/bin/sh", QStringList{"-c", "JOURNAL_STREAM=$(stat -L -c %d:%i /proc/$$/fd/1) exec \"$0\" \"$@\"",
                                   KESTREL_RAID_EXE} + run.Args(scenario));
    ASSERT_TRUE(p.waitForFinished(60000));
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    EXPECT_TRUE(out.contains("\n<4>D1 HDD2 was removed, ")) << out.toStdString();
    EXPECT_TRUE(out.startsWith("<6>" + QString(83, '-') + "\n<6>RAID GUI V0.23.6 has started from ")) << out.toStdString();
    for (const QString& line : out.split('\n', Qt::SkipEmptyParts))
        EXPECT_TRUE(line.size() > 3 && line[0] == '<' && line[2] == '>') << line.toStdString();
}

}  // namespace
}  // namespace kestrel
