// Closing the program while it is busy: whatever the user-interface thread
// and the workers are doing, the process ends, and ends well (exit code 0).
// Each run has a generous watchdog; how fast it ends is measured in bench/.
#include <gtest/gtest.h>
#include <signal.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>
#include <memory>

#include "notify/alert_text_files.h"
#include "support/program.h"
#include "support/smtp_server.h"

namespace kestrel {
namespace {

using testing::Program;

constexpr int kWatchdogMs = 60000;

// One enclosure; the timeline closes the program.
QString Scenario(const QString& diskState, const QString& timeline) {
    return QString(R"({
  "enclosures": [
    {"name": "desk", "paths": ["mailbox"],
     "identity": {"model": "KESTREL HYBRID", "firmwareRevision": "100126.1"},
     "status": {"raidMode": 1, "diskState": "%1", "configuredCapacity": 1953525168,
                "disk1Model": "SAMSUNG SSD 850", "disk1Serial": "S1", "disk1Capacity": 1953525168,
                "disk2Model": "ST1000DM003", "disk2Serial": "Z1D2", "disk2Capacity": 1953525168}}
  ],
  "drives": [{"number": 0, "model": "SYSTEM DISK"}, {"number": 1, "enclosure": "desk"}],
  "volumes": [{"letter": "C", "disk": 0}, {"letter": "E", "disk": 1}],
  "timeline": [%2]
})")
        .arg(diskState, timeline);
}

struct BusyRun {
    Program program;
    QString scenario;

    BusyRun(const char* exe, const QString& diskState, const QString& timeline) : program(exe) {
        scenario = program.logDir() + "/scenario.json";
        QFile f(scenario);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(Scenario(diskState, timeline).toUtf8());
    }
    // The window, drawn offscreen as on a desktop.
    void AsWindow() { program.env().insert("DISPLAY", ":none"); }
    // Mail settings that send every alert to one recipient at port.
    void MailTo(int port) {
        QFile f(program.registry());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QString("[KESTREL_RAID_GUI]\nAddr=raid@example.com\nPort=%1\nSMTP=127.0.0.1\n"
                        "ToAddrCount=1\nToAddr_00=ops@example.com\nUserName=RAID box\n")
                    .arg(port)
                    .toUtf8());
        QFile subject(program.logDir() + "/" + QString::fromStdString(SubjectFileName(1)));
        ASSERT_TRUE(subject.open(QIODevice::WriteOnly));
        subject.write("Disk failure\r\n");
    }
    QStringList Args(const QStringList& extra) const { return program.WithFiles(QStringList{"--simulate", scenario} + extra); }
};

void ExpectCleanEnd(Program::Result r) {
    ASSERT_TRUE(r.finished) << "the close hung: " << r.err.toStdString();
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
}

void ExpectCleanEnd(QProcess& p) {
    ASSERT_TRUE(p.waitForFinished(kWatchdogMs)) << "the close hung";
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
}

TEST(Closing, WithTheHybridSsdNoticeAndQuestionOpen) {
    // HDD1 failed in a hybrid enclosure: an unmatched SSD; the notice is up
    // after the first read, its question waits behind it.
    BusyRun run(KESTREL_HYBRID_EXE, "0x28", R"({"afterStatusReads": 3, "enclosure": "desk", "action": "quit"})");
    run.AsWindow();
    ExpectCleanEnd(run.program.RunToEnd(run.Args({"--time-scale", "0.2"}), kWatchdogMs));
}

TEST(Closing, DuringTheSettingsLoad) {
    // The load at start-up lets events run between its files; the close
    // comes at once, in the window and headless.
    for (bool window : {true, false}) {
        BusyRun run(KESTREL_RAID_EXE, "0x22", R"({"at": 0, "action": "quit"})");
        run.MailTo(1);
        if (window) run.AsWindow();
        ExpectCleanEnd(run.program.RunToEnd(run.Args(window ? QStringList{} : QStringList{"--headless"}), kWatchdogMs));
    }
}

TEST(Closing, DuringAMailExchangeWithAServerThatStalls) {
    // The server takes the mail up to its end and then never answers: the
    // close comes while the exchange waits for it.
    testing::SmtpTestServer server({"--stall-after-data"});
    ASSERT_GT(server.port(), 0);
    for (bool window : {true, false}) {
        BusyRun run(KESTREL_RAID_EXE, "0x22", R"({"afterStatusReads": 2, "enclosure": "desk", "action": "pull-disk", "disk": 2})");
        run.MailTo(server.port());
        if (window) run.AsWindow();
        std::unique_ptr<QProcess> p(run.program.Start(run.Args(window ? QStringList{} : QStringList{"--headless"})));
        const auto dataEnds = [&] {
            QFile f(server.dir() + "/events.log");
            return f.open(QIODevice::ReadOnly) ? f.readAll().count("DATA-END") : 0;
        };
        const int before = dataEnds();
        QDeadlineTimer watchdog(kWatchdogMs);
        while (dataEnds() == before && !watchdog.hasExpired() && p->state() == QProcess::Running)
            p->waitForFinished(20);
        ASSERT_GT(dataEnds(), before) << "the mail never got under way";
        ::kill(static_cast<pid_t>(p->processId()), window ? SIGTERM : SIGINT);
        ExpectCleanEnd(*p);
    }
}

TEST(Closing, DuringAMailExchangeWithAServerThatNeverAnswers) {
    testing::SmtpTestServer server({"--mute"});
    ASSERT_GT(server.port(), 0);
    BusyRun run(KESTREL_RAID_EXE, "0x22",
            R"({"afterStatusReads": 2, "enclosure": "desk", "action": "pull-disk", "disk": 2},
               {"afterStatusReads": 6, "enclosure": "desk", "action": "quit"})");
    run.MailTo(server.port());
    run.AsWindow();
    ExpectCleanEnd(run.program.RunToEnd(run.Args({}), kWatchdogMs));
}

TEST(Closing, DuringADetection) {
    // Slowed twentyfold, the detection waits 10 s before each identification;
    // the close comes 1 s in, in the window and headless.
    for (bool window : {true, false}) {
        BusyRun run(KESTREL_RAID_EXE, "0x22", R"({"at": 50, "action": "quit"})");
        if (window) run.AsWindow();
        ExpectCleanEnd(run.program.RunToEnd(
            run.Args(window ? QStringList{"--time-scale", "20"} : QStringList{"--headless", "--time-scale", "20"}),
            kWatchdogMs));
    }
}

TEST(Closing, WithNoFirmwareFileEverLoaded) {
    // Monitoring runs and nothing was loaded on the Upgrade page.
    BusyRun run(KESTREL_RAID_EXE, "0x22", R"({"afterStatusReads": 4, "enclosure": "desk", "action": "quit"})");
    run.AsWindow();
    const Program::Result r = run.program.RunToEnd(run.Args({"--time-scale", "0.2"}), kWatchdogMs);
    ExpectCleanEnd(r);
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
}

}  // namespace
}  // namespace kestrel
