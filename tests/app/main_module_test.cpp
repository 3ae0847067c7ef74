// The main module in this process, headless, on a simulated PC.
#include "app/main_module.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <functional>
#include <tuple>

#include "platform/headless_ui.h"
#include "eventlog/log_clock.h"
#include "support/mail_settings.h"
#include "support/recording_ui.h"
#include "support/sim_scenarios.h"
#include "support/serve_until.h"
#include "support/smtp_server.h"

namespace kestrel {
namespace {

using testing::ServeUntil;

// Passes every request on to the simulated PC, and counts the requests the
// user-interface thread makes while a detection is pending.
class GuardedIo final : public DeviceIo {
public:
    explicit GuardedIo(std::unique_ptr<DeviceIo> inner) : inner_(std::move(inner)) {}
    DeviceHandle Open(const std::string& path) override {
        Check();
        return inner_->Open(path);
    }
    bool Control(DeviceHandle h, uint32_t code, std::span<uint8_t> buffer, size_t in, size_t& returned) override {
        Check();
        if (QThread::currentThread() != ui_) {
            const int n = ++detectionRequests;
            if (flags && !flags->DetectPending.load()) ++detectionsWithoutPending;
            if (n == changeAtRequest && change) change();
        }
        return inner_->Control(h, code, buffer, in, returned);
    }
    void Close(DeviceHandle h) override { inner_->Close(h); }
    uint32_t LogicalDrives() override { return inner_->LogicalDrives(); }
    unsigned DriveType(const std::string& root) override { return inner_->DriveType(root); }

    SchedulerFlags* flags = nullptr;
    std::atomic<int> overlaps{0};
    std::atomic<int> detectionRequests{0};
    std::atomic<int> detectionsWithoutPending{0};
    // Runs on the detection thread before its request number changeAtRequest.
    int changeAtRequest = 0;
    std::function<void()> change;

private:
    void Check() {
        if (flags && QThread::currentThread() == ui_ && flags->DetectionInFlight()) ++overlaps;
    }
    std::unique_ptr<DeviceIo> inner_;
    QThread* ui_ = QThread::currentThread();
};

struct Module {
    explicit Module(const std::string& scenario, ComSetup::Security security = ComSetup::Security::Succeeds,
                    double timeScale = 0.05) {
        options.simulate = true;
        options.logDir = dir.path().toStdString();
        options.registryFile = (dir.path() + "/registry.ini").toStdString();
        options.timeScale = timeScale;
        options.headless = true;
        auto pc = std::make_unique<sim::SimulatedPc>(testing::ScenarioFrom(scenario));
        simulated = pc.get();
        DeviceIoChoice choice;
        choice.simulated = pc.get();
        auto guarded = std::make_unique<GuardedIo>(std::move(pc));
        io = guarded.get();
        choice.io = std::move(guarded);
        module = std::make_unique<MainModule>(options, ProductVariant::Raid, UiPorts{boxes, bar}, std::move(choice),
                                              security);
        io->flags = &module->flags();
    }
    QTemporaryDir dir;
    Options options;
    testing::RecordingMessageBoxes boxes;
    MemoryStatusBar bar;
    GuardedIo* io = nullptr;
    sim::SimulatedPc* simulated = nullptr;
    std::unique_ptr<MainModule> module;
};

const char* kTwoEnclosures = R"({
  "enclosures": [
    {"name": "desk", "paths": ["mailbox", "ata"], "identity": {"model": "DESK BOX"}},
    {"name": "travel", "paths": ["bridge"], "identity": {"model": "TRAVEL BOX"}}
  ],
  "drives": [{"number": 0}, {"number": 1, "enclosure": "desk"}, {"number": 2, "enclosure": "travel"}]
})";

// No detection in flight or waiting, and the first status page drawn.
bool Settled(Module& m) {
    const SchedulerFlags& f = m.module->flags();
    return !f.DetectionInFlight() && f.DetectCountdown.load() == 0 && f.Probing.load() == 0 &&
           !m.module->shell().Model().firstStatusPending;
}

TEST(MainModule, DetectionAndPollingNeverOverlap) {
    Module m(kTwoEnclosures);
    ASSERT_TRUE(m.module->ComReady());
    m.module->FormCreate();
    const std::vector<std::string>& lines = m.module->eventLog().Lines();
    auto count = [&](const std::string& text) {
        return std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(text, 0) == 0; });
    };
    ASSERT_TRUE(ServeUntil([&] { return Settled(m) && m.module->drives().EnclosureCount == 2; }));
    // Each change once the last one has been dealt with, and its lines
    // written by the next poll.
    const std::vector<std::tuple<sim::Action, std::string, std::string, unsigned>> steps = {
        {sim::Action::Unplug, "travel", "D2 Device was removed.", 1},
        {sim::Action::Plug, "travel", "D2 New Device was found.", 2},
        {sim::Action::Unplug, "desk", "D1 Device was removed.", 1},
        {sim::Action::Plug, "desk", "D1 New Device was found.", 2},  // desk comes back in front of travel
    };
    for (const auto& [action, enclosure, line, enclosures] : steps) {
        SCOPED_TRACE(line);
        sim::Step step;
        step.action = action;
        step.enclosure = enclosure;
        m.simulated->RunStep(step);
        ASSERT_TRUE(ServeUntil([&, &line = line, enclosures = enclosures] {
            return Settled(m) && m.module->drives().EnclosureCount == enclosures && count(line) == 1;
        }));
    }
    // A device change that adds no drive runs no detection.
    const int requests = m.io->detectionRequests.load();
    sim::Step usb;
    usb.action = sim::Action::UsbEvent;
    m.simulated->RunStep(usb);
    ASSERT_TRUE(ServeUntil([&] { return m.module->flags().DetectCountdown.load() != 0; }));
    ASSERT_TRUE(ServeUntil([&] { return Settled(m); }));
    EXPECT_EQ(m.io->detectionRequests.load(), requests);
    EXPECT_EQ(m.io->overlaps.load(), 0);
    EXPECT_EQ(m.io->detectionsWithoutPending.load(), 0);
    EXPECT_EQ(m.module->drives().EnclosureCount, 2u);
    for (const char* line : {"D2 Device was removed.", "D1 Device was removed.", "D2 New Device was found.",
                             "D1 New Device was found."})
        EXPECT_EQ(count(line), 1) << line;
    m.module->FormClose();
}

TEST(MainModule, UnpluggingTheShownEnclosureMovesThePageCaptionAndLabelsToTheOther) {
    Module m(kTwoEnclosures);
    m.module->FormCreate();
    ASSERT_TRUE(ServeUntil([&] { return Settled(m) && m.module->drives().EnclosureCount == 2; }));
    Shell& shell = m.module->shell();
    shell.Image0_D2Click();
    shell.Image2_D2Click();
    ASSERT_EQ(shell.Model().caption, "RAID GUI V0.23.6 - TRAVEL BOX []");
    sim::Step unplug;
    unplug.action = sim::Action::Unplug;
    unplug.enclosure = "travel";
    m.simulated->RunStep(unplug);
    ASSERT_TRUE(ServeUntil([&] { return Settled(m) && m.module->drives().EnclosureCount == 1; }));
    EXPECT_EQ(shell.Model().statusPageDevice, 0);
    EXPECT_EQ(shell.Model().upgradePageDevice, 0);
    EXPECT_EQ(shell.Model().caption, "RAID GUI V0.23.6 - DESK BOX []");
    EXPECT_EQ(shell.Model().deviceHint[1], "");
    EXPECT_EQ(shell.Model().upgradeFirmware.rfind("100126.1.", 0), 0u);
    m.module->FormClose();
}

TEST(MainModule, ADeviceChangeAtEveryRequestOfADetectionIsDetectedAfterItsCommit) {
    const char* scenario = R"({
      "enclosures": [
        {"name": "desk", "paths": ["mailbox", "ata"], "identity": {"model": "DESK BOX"}},
        {"name": "travel", "paths": ["bridge"], "plugged": false, "identity": {"model": "TRAVEL BOX"}}
      ],
      "drives": [{"number": 0}, {"number": 1, "enclosure": "desk"}, {"number": 2, "enclosure": "travel"}],
      "volumes": [{"letter": "C", "disk": 0}, {"letter": "E", "disk": 1}]
    })";
    auto settled = [](Module& m) { return Settled(m); };
    // How many requests one detection makes here.
    int requests = 0;
    {
        Module m(scenario, ComSetup::Security::Succeeds, 0.01);
        m.module->FormCreate();
        ASSERT_TRUE(ServeUntil([&] { return settled(m); }));
        requests = m.io->detectionRequests.load();
        m.module->FormClose();
    }
    ASSERT_GT(requests, 10);
    sim::Step plug;
    plug.action = sim::Action::Plug;
    plug.enclosure = "travel";
    for (int n = 1; n <= requests; ++n) {
        SCOPED_TRACE(n);
        Module m(scenario, ComSetup::Security::Succeeds, 0.01);
        m.io->changeAtRequest = n;
        m.io->change = [&m, &plug] { m.simulated->RunStep(plug); };
        m.module->FormCreate();
        ASSERT_TRUE(ServeUntil([&] { return settled(m) && m.module->drives().EnclosureCount == 2; }));
        EXPECT_EQ(m.io->overlaps.load(), 0) << "no device request of the window beside a detection";
        EXPECT_EQ(m.io->detectionsWithoutPending.load(), 0);
        EXPECT_EQ(m.module->shell().Model().caption.rfind("RAID GUI V0.23.6 - DESK BOX [E]", 0), 0u);
        m.module->FormClose();
    }
}

TEST(MainModule, NoEnclosureMeansNoMonitoring) {
    Module m(R"({"drives": [{"number": 0}], "volumes": [{"letter": "C", "disk": 0}]})");
    m.module->FormCreate();
    const ShellModel& shell = m.module->shell().Model();
    ASSERT_TRUE(ServeUntil([&] { return shell.detectText == "No Drive found! "; }));
    EXPECT_EQ(shell.detectText, "No Drive found! ");
    EXPECT_FALSE(shell.pageButtonsEnabled);
    EXPECT_FALSE(m.module->timers().Timer2.isActive());
    EXPECT_FALSE(m.module->timers().Timer4.isActive());
    EXPECT_EQ(m.bar.Panel(1), "Detected OK");
    EXPECT_EQ(m.module->eventLog().LineCount(), 0u) << "no poll ran, so nothing was logged";
}

// Timer4 runs only while there is a detection or a countdown, no timer keeps
// the last tick fresh, and the log lines still carry their pass's time: a
// detection at start, a day change at midnight, a device change while idle.
TEST(MainModule, TimersRunOnlyWithWorkAndTheLogKeepsItsStampsAcrossMidnight) {
    Module m(kTwoEnclosures);
    QDateTime now(QDate(2026, 3, 14), QTime(23, 59, 58, 250));
    m.module->SetLogClock([&] { return now; });
    const MainTimers& timers = m.module->timers();
    const EventLog& log = m.module->eventLog();
    const std::vector<std::string>& lines = log.Lines();
    auto has = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); };
    const std::string separator(83, '-');

    m.module->FormCreate();
    EXPECT_TRUE(timers.Timer4.isActive()) << "the detection at start";
    EXPECT_FALSE(timers.Timer2.isActive());
    ASSERT_TRUE(ServeUntil([&] { return Settled(m) && m.module->drives().EnclosureCount == 2; }));
    EXPECT_FALSE(timers.Timer4.isActive()) << "nothing to count down, blink or commit";
    EXPECT_TRUE(timers.Timer2.isActive());
    EXPECT_TRUE(has("RAID GUI V0.23.6 has started from " + TimestampText(now)));
    EXPECT_EQ(m.module->flags().LastTick, now);
    const std::string firstDay = m.options.logDir + "/" + LogFileName(now);
    ASSERT_TRUE(QFileInfo::exists(QString::fromStdString(firstDay)));

    // Midnight: the next pass starts the new day's file with a separator.
    now = QDateTime(QDate(2026, 3, 15), QTime(0, 0, 0, 125));
    ASSERT_TRUE(ServeUntil([&] { return log.PassTime() == now; }));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], separator);
    EXPECT_EQ(lines[1], "Device1 information :");
    EXPECT_EQ(m.module->flags().LastTick, now);
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(m.options.logDir + "/" + LogFileName(now))));
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(firstDay)));
    EXPECT_FALSE(timers.Timer4.isActive());

    // A device change while idle starts Timer4 again; the lines it queues
    // carry the time of the pass that writes them.
    now = now.addSecs(7);
    sim::Step unplug;
    unplug.action = sim::Action::Unplug;
    unplug.enclosure = "travel";
    m.simulated->RunStep(unplug);
    ASSERT_TRUE(ServeUntil([&] { return timers.Timer4.isActive(); }));
    ASSERT_TRUE(ServeUntil([&] { return Settled(m) && m.module->drives().EnclosureCount == 1 && log.PassTime() == now; }));
    ASSERT_TRUE(ServeUntil([&] { return has("    Device had changed." + TimestampText(now)); }));
    EXPECT_TRUE(has("D2 Device was removed." + TimestampText(now)));
    EXPECT_FALSE(timers.Timer4.isActive()) << "committed: Timer4 stopped again";
    EXPECT_EQ(m.module->flags().LastTick, log.PassTime());
    m.module->FormClose();
}

// The daily reminder on a fake clock: none within a day of the alert, one a
// day while the array stays degraded (a mail and a day-log line), none once
// both disks are back.
TEST(MainModule, TheDailyReminderMailsOnceADayWhileTheArrayStaysDegraded) {
    testing::SmtpTestServer server;
    Module m(R"({"enclosures": [{"name": "desk", "paths": ["mailbox"], "status": {"diskState": "0x42"}}],
                 "drives": [{"number": 0}, {"number": 1, "enclosure": "desk"}]})");
    MailPageFields page = testing::LocalServerPage(server.port());
    page.addresses = {"ops@example.com"};
    testing::StoreAsThePageDoes(QString::fromStdString(m.options.registryFile), page);
    const QDateTime start(QDate(2026, 3, 14), QTime(9, 0));
    QDateTime now = start;
    m.module->SetLogClock([&] { return now; });
    m.module->FormCreate();
    ASSERT_TRUE(m.module->SetDailyReminder(true));
    const EventLog& log = m.module->eventLog();
    auto reminders = [&] {
        return std::count_if(log.Lines().begin(), log.Lines().end(),
                             [](const std::string& l) { return l.rfind("D1 Reminder: ", 0) == 0; });
    };
    auto passAt = [&](QDateTime when) {
        now = when;
        return ServeUntil([&] { return log.PassTime() == when; });
    };
    ASSERT_TRUE(ServeUntil([&] { return Settled(m) && server.MailCount() == 1; })) << "the alert at start";
    ASSERT_TRUE(passAt(start.addSecs(23 * 3600)));
    EXPECT_EQ(reminders(), 0);
    const QDateTime day = start.addSecs(24 * 3600 + 1);
    ASSERT_TRUE(passAt(day));
    EXPECT_EQ(log.Lines().back(), "D1 Reminder: Degraded (HDD2 absent) since " + TimestampText(start) + ", " + TimestampText(day));
    ASSERT_TRUE(ServeUntil([&] { return server.MailCount() == 2; }));
    EXPECT_TRUE(server.Mail(2)["data"].toString().contains(
        QString::fromStdString("Subject: [RAID GUI V0.23.6 Message] Device1 reminder: Degraded (HDD2 absent) since " +
                               TimestampText(start) + ".\r\n")));
    ASSERT_TRUE(passAt(day.addSecs(3600)));
    EXPECT_EQ(reminders(), 1);

    sim::Step repaired;
    repaired.action = sim::Action::Set;
    repaired.enclosure = "desk";
    repaired.fields = {{"diskState", sim::FieldValue(uint64_t{0x22})}};
    m.simulated->RunStep(repaired);
    ASSERT_TRUE(ServeUntil([&] { return m.module->health().Worst() == HealthState::Normal; }));
    // Days later (today's lines only): no reminder.
    ASSERT_TRUE(passAt(day.addSecs(3 * 24 * 3600)));
    EXPECT_EQ(reminders(), 0);
    EXPECT_EQ(server.MailCount(), 2);
    m.module->FormClose();
}

TEST(MainModule, FailingSecurityCallSaysSoAndStopsTheStart) {
    Module m(kTwoEnclosures, ComSetup::Security::Fails);
    EXPECT_FALSE(m.module->ComReady());
    ASSERT_EQ(m.boxes.shown.size(), 1u);
    EXPECT_EQ(m.boxes.shown[0].text, "CoInitializeSecurity error!");
}

TEST(MainModule, StatusBarDoubleClickShowsTheSystemInformation) {
    Module m(R"({"host": {"boardVendor": "ACME", "boardName": "B1", "systemName": "nas", "ipAddresses": ["192.0.2.9"]},
                 "drives": [{"number": 0}]})");
    m.module->FormCreate();
    m.module->StatusBar1DblClick();
    ASSERT_EQ(m.boxes.shown.size(), 1u);
    EXPECT_EQ(m.boxes.shown[0].caption, "System Information");
    EXPECT_EQ(m.boxes.shown[0].text,
              "\n=========== [System Information] ==============\nMotherBoard : ACME - B1\nSystem Name : nas"
              "\nIP Address  : 192.0.2.9\n===============================================");
}

// Two enclosures of different firmware, each read with its own firmware's
// capabilities. D1's firmware tells no scan from a rebuild and has no fan
// panel; D2's has both, and D2 runs a media scan.
const char* kOldAndNewFirmware = R"({
  "enclosures": [
    {"name": "old", "paths": ["mailbox"], "identity": {"model": "OLD BOX", "firmwareRevision": "090618.2"},
     "status": {"diskState": 34, "envFlags": 160, "sensorSupport": 0, "firmwareCode": "C01"}},
    {"name": "new", "paths": ["bridge"], "identity": {"model": "NEW BOX", "firmwareRevision": "100126.1"},
     "status": {"diskState": 34, "envFlags": 160, "sensorSupport": 17, "firmwareCode": "S0C"}}
  ],
  "drives": [{"number": 0}, {"number": 1, "enclosure": "old"}, {"number": 2, "enclosure": "new"}],
  "timeline": [{"afterStatusReads": 2, "enclosure": "new", "action": "start-scan", "disk": 1, "step": 10}]
})";

// What every view of the module showed last.
struct Views {
    explicit Views(MainModule& module) {
        module.SetStatusPageView([this](const StatusPageUpdate& u) {
            page = u;
            if (u.stateText) stateText = *u.stateText;
        });
        module.SetStatePublisher([this](const StatusReport& r) { published = r; });
        module.desktopAlerts().SetFallback([this](const DesktopNote& n) { notes.push_back(n.summary); });
    }
    StatusPageUpdate page;
    std::string stateText;
    StatusReport published;
    std::vector<std::string> notes;
};

bool HasLineStarting(const EventLog& log, const std::string& start) {
    return std::any_of(log.Lines().begin(), log.Lines().end(),
                       [&](const std::string& l) { return l.rfind(start, 0) == 0; });
}

TEST(MainModule, EveryViewCallsAScanAScanOnTheEnclosureWhoseFirmwareReportsScans) {
    Module m(kOldAndNewFirmware);
    Views views(*m.module);
    m.module->FormCreate();
    ASSERT_TRUE(ServeUntil([&] { return Settled(m) && m.module->drives().EnclosureCount == 2; }));
    ASSERT_TRUE(m.module->shell().Model().deviceChecked[1]);
    ASSERT_EQ(m.module->shell().Model().statusPageDevice, 0) << "the page shows D1";
    const EventLog& log = m.module->eventLog();
    ASSERT_TRUE(ServeUntil([&] { return HasLineStarting(log, "D2 HDD1 Scan 20%"); }))
        << "the day log names the scan, not a rebuild";
    EXPECT_FALSE(HasLineStarting(log, "D2 HDD2 --> HDD1"));
    EXPECT_NE(m.module->health().Summary("T").find("Device2: Scanning"), std::string::npos)
        << m.module->health().Summary("T");
    ASSERT_EQ(views.published.enclosures.size(), 2u);
    EXPECT_EQ(views.published.enclosures[1].kind, ReportState::Scanning);
    EXPECT_NE(StatusText(views.published).find("Scanning HDD1"), std::string::npos);
    EXPECT_EQ(StatusExitCode(views.published), 1);

    // The page on D2: the scan, and D2's own fan panel; D1 has none.
    m.module->shell().Image0_D2Click();
    EXPECT_EQ(views.stateText.substr(views.stateText.find('\n')), "\nHDD1 Scan");
    EXPECT_TRUE(views.page.environmentVisible);
    EXPECT_EQ(views.page.firmware, "100126.1.S0C");
    m.module->shell().Image0_D1Click();
    EXPECT_FALSE(views.page.environmentVisible);
    EXPECT_EQ(views.page.firmware, "090618.2.C01");

    // The scan's end is a scan's end: no rebuild note on the desktop.
    ASSERT_TRUE(ServeUntil([&] { return HasLineStarting(log, "D2 HDD1 Scan Done"); }));
    ASSERT_TRUE(ServeUntil([&] { return m.module->health().Summary("T").find("Device2: Normal") != std::string::npos; }));
    for (const std::string& note : views.notes) EXPECT_EQ(note.find("rebuild"), std::string::npos) << note;

    // Device1 unticked by the user: published as not monitored, no part of
    // the exit code (unlike an enclosure that stopped answering).
    m.module->shell().SetDeviceChecked(0, false);
    ASSERT_TRUE(ServeUntil([&] { return views.published.enclosures.size() == 2 &&
                                          views.published.enclosures[0].kind == ReportState::NotMonitored; }));
    EXPECT_EQ(StatusExitCode(views.published), 0);
    m.module->FormClose();
}

TEST(MainModule, TheStatusPageKeepsItsOwnEnclosuresRevisionAfterAnotherPageShowedAnother) {
    // D1 with the fan panel, D2 without it (its firmware predates it, and it
    // reports no sensors).
    Module m(R"({
      "enclosures": [
        {"name": "d1", "paths": ["mailbox"], "identity": {"model": "ONE BOX", "firmwareRevision": "100126.1"},
         "status": {"diskState": 34, "envFlags": 160, "sensorSupport": 17, "firmwareCode": "C01"}},
        {"name": "d2", "paths": ["bridge"], "identity": {"model": "TWO BOX", "firmwareRevision": "100125.1"},
         "status": {"diskState": 34, "envFlags": 160, "sensorSupport": 0, "firmwareCode": "S0C"}}
      ],
      "drives": [{"number": 0}, {"number": 1, "enclosure": "d1"}, {"number": 2, "enclosure": "d2"}]
    })");
    Views views(*m.module);
    m.module->FormCreate();
    ASSERT_TRUE(ServeUntil([&] { return Settled(m) && m.module->drives().EnclosureCount == 2; }));
    Shell& shell = m.module->shell();
    shell.Image_StsClick();
    shell.Image0_D2Click();
    EXPECT_EQ(views.page.firmware, "100125.1.S0C");
    shell.Image_FWUpgClick();  // the Upgrade page shows D1
    EXPECT_EQ(shell.Model().upgradeFirmware, "100126.1.C01");
    shell.Image_StsClick();
    EXPECT_EQ(views.page.firmware, "100125.1.S0C");
    EXPECT_FALSE(views.page.environmentVisible);
    // And so it stays, poll after poll.
    for (int poll = 0; poll < 3; ++poll) {
        views.page = {};
        ASSERT_TRUE(ServeUntil([&] { return views.page.result == 0; }));
        EXPECT_EQ(views.page.firmware, "100125.1.S0C");
        EXPECT_FALSE(views.page.environmentVisible);
    }
    m.module->FormClose();
}

}  // namespace
}  // namespace kestrel
