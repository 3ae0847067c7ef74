// The Hybrid program's module, headless, on a simulated PC: the restore
// question's Yes starts the rebuild on the enclosure that asked (and on
// nothing once it is gone), the Status page then shows the rebuild, and the
// monitoring worker sends the settings command an option box raised; the
// maintenance operations write day-log lines of their own.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "app/main_module.h"
#include "eventlog/log_text.h"
#include "sim/controller.h"
#include "support/recording_ui.h"
#include "support/sim_scenarios.h"
#include "support/serve_until.h"

namespace kestrel {
namespace {

using testing::ServeUntil;

const char* kHybridPair = R"({
  "enclosures": [
    {"name": "duo", "paths": ["mailbox", "ata"], "identity": {"model": "DUO BOX"},
     "status": {"diskState": "0x28", "optionFlags": 7, "backupPeriod": 30,
                "disk1Serial": "SSD-NEW-1", "disk1Model": "NEW SSD", "disk2Model": "OLD HDD"}},
    {"name": "usb", "paths": ["bridge"], "identity": {"model": "USB BOX"},
     "status": {"diskState": "0x22", "optionFlags": 3}}
  ],
  "drives": [{"number": 0}, {"number": 1, "enclosure": "duo"}, {"number": 2, "enclosure": "usb"}]
})";

struct HybridModule {
    HybridModule() {
        options.simulate = true;
        options.logDir = dir.path().toStdString();
        options.registryFile = (dir.path() + "/registry.ini").toStdString();
        options.timeScale = 0.05;
        options.headless = true;
        auto pc = std::make_unique<sim::SimulatedPc>(testing::ScenarioFrom(kHybridPair));
        simulated = pc.get();
        DeviceIoChoice choice;
        choice.simulated = pc.get();
        choice.io = std::move(pc);
        module = std::make_unique<MainModule>(options, ProductVariant::Hybrid, UiPorts{boxes, bar}, std::move(choice));
        module->SetStatusPageView([this](const StatusPageUpdate& u) {
            if (u.stateText) stateText = *u.stateText;
        });
        module->FormCreate();
    }
    bool Settled() {
        const SchedulerFlags& f = module->flags();
        return !f.DetectionInFlight() && f.DetectCountdown.load() == 0 && f.Probing.load() == 0 &&
               !module->shell().Model().firstStatusPending;
    }
    size_t Commands(const std::string& name) { return simulated->CommandsOf(name).size(); }

    QTemporaryDir dir;
    Options options;
    testing::RecordingMessageBoxes boxes;
    MemoryStatusBar bar;
    sim::SimulatedPc* simulated = nullptr;
    std::unique_ptr<MainModule> module;
    std::string stateText;
};

TEST(HybridSetup, YesToTheRestoreQuestionRebuildsTheEnclosureThatAsked) {
    HybridModule m;
    m.module->shell().SetDeviceChecked(0, true);
    ASSERT_TRUE(ServeUntil([&] { return m.Settled() && m.boxes.OpenCount() > 0; }));
    ASSERT_TRUE(m.boxes.Answer("Unmatched SSD is inserted.\nThe Matched SSD's Serial# is SSD-NEW-1", MessageAnswer::Ok));
    ASSERT_TRUE(m.boxes.Answer("Do you want to restore data from HDD to SSD?", MessageAnswer::Yes));
    const std::vector<Block512> sent = m.simulated->CommandsOf("duo");
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[3][2], 0x22);
    EXPECT_EQ(sent[3][3], 6);
    EXPECT_EQ(sent[3][4], 2);
    EXPECT_EQ(m.bar.Panel(kErrorPanel), "Start Rebuilding HDD2 to HDD1 OK");
    EXPECT_EQ(m.Commands("usb"), 0u);
    // The next polls show the controller rebuilding onto HDD1.
    EXPECT_TRUE(ServeUntil([&] { return m.stateText.find("%\n<<<<\nRebuilding") != std::string::npos; }))
        << m.stateText;
}

TEST(HybridSetup, AnAnswerAfterTheEnclosureWentSendsNothing) {
    HybridModule m;
    m.module->shell().SetDeviceChecked(0, true);
    ASSERT_TRUE(ServeUntil([&] { return m.Settled() && m.boxes.OpenCount() > 0; }));
    ASSERT_TRUE(m.boxes.Answer("Unmatched SSD is inserted.", MessageAnswer::Ok));
    sim::Step unplug;
    unplug.action = sim::Action::Unplug;
    unplug.enclosure = "duo";
    m.simulated->RunStep(unplug);
    // The "usb" enclosure moves into slot 0 once the change is committed.
    ASSERT_TRUE(ServeUntil([&] {
        return m.Settled() && m.module->drives().EnclosureCount == 1;
    }));
    ASSERT_TRUE(m.boxes.Answer("Do you want to restore data from HDD to SSD?", MessageAnswer::Yes));
    EXPECT_EQ(m.Commands("duo"), 0u);
    EXPECT_EQ(m.Commands("usb"), 0u);
}

TEST(HybridSetup, TheMonitoringWorkerSendsTheSettingsCommandAnOptionBoxRaised) {
    HybridModule m;
    m.module->shell().SetDeviceChecked(0, true);
    // Drawn once with the enclosure's own record (auto scan on).
    ASSERT_TRUE(ServeUntil([&] { return m.Settled() && m.module->statusPage().AutoScan(); }));
    // The controller's buzzer bit changes between two refreshes.
    sim::Step set;
    set.action = sim::Action::Set;
    set.enclosure = "duo";
    set.fields = {{"optionFlags", sim::FieldValue(uint64_t{6})}};
    m.simulated->RunStep(set);
    ASSERT_TRUE(ServeUntil([&] { return m.Commands("duo") > 0; }));
    const Block512 sent = m.simulated->CommandsOf("duo").back();
    // The schedule sub-page was never opened: the controller's own schedule goes back.
    EXPECT_EQ((std::vector<int>{sent[2], sent[3], sent[4], sent[5], sent[6]}), (std::vector<int>{0x20, 0, 0, 1, 30}));
    EXPECT_EQ(m.module->flags().RefreshFlags.load() & refresh::kConfigWrite, 0);
}

// Lines of today's file that begin with prefix, without their timestamps.
std::vector<std::string> DayFileLines(const QTemporaryDir& dir, const std::string& prefix) {
    std::vector<std::string> found;
    for (const QString& name : QDir(dir.path()).entryList({"*.log"})) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly)) continue;
        for (const QByteArray& line : file.readAll().split('\n')) {
            const std::string text = line.trimmed().toStdString();
            if (text.rfind(prefix, 0) == 0) found.push_back(text.substr(0, text.rfind(", ") + 2));
        }
    }
    return found;
}

TEST(HybridSetup, MaintenanceOperationsWriteTheirOwnDayLogLines) {
    HybridModule m;
    m.module->shell().SetDeviceChecked(0, true);
    ASSERT_TRUE(ServeUntil([&] { return m.Settled() && m.boxes.OpenCount() > 0; }));
    const std::string image = m.dir.filePath("sample.bin").toStdString();
    {
        const std::vector<uint8_t> bytes = sim::MakeDefaultFlashImage();
        QFile f(QString::fromStdString(image));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    }
    ASSERT_TRUE(m.module->OpenDialog1CanClose(image));
    const std::string sum = m.bar.Panel(kChecksumPanel);
    EXPECT_EQ(m.module->Image2_UpgradeClick(), UpgradeOutcome::Verified);
    sim::Step fail;
    fail.action = sim::Action::Fail;
    fail.enclosure = "duo";
    fail.request = sim::RequestKind::FlashProgram;
    m.simulated->RunStep(fail);
    EXPECT_EQ(m.module->Image2_UpgradeClick(), UpgradeOutcome::Failed);

    m.boxes.answers.push_back(MessageAnswer::Yes);
    EXPECT_EQ(m.module->diskOperations().Initialize(0), DiskOutcome::Completed);
    EXPECT_EQ(m.module->diskOperations().StartRebuild(0), DiskOutcome::Completed);
    // The controller runs its backup every 30 minutes; unticking it goes out at once.
    m.module->setupPage().LoadScheduleControls();
    m.module->setupPage().SetBackupChecked(false);
    ASSERT_TRUE(ServeUntil([&] { return !DayFileLines(m.dir, "D1 Backup").empty(); }));

    const std::string revisions = ": F/W Rev. 100126.1.C00, new firmware C00";
    EXPECT_EQ(DayFileLines(m.dir, "D1 Firmware"),
              (std::vector<std::string>{"D1 Firmware upgrade started" + revisions + " (" + sum + "), ",
                                        "D1 Firmware upgrade verified" + revisions + " from the next power-on, ",
                                        "D1 Firmware upgrade started" + revisions + " (" + sum + "), ",
                                        "D1 Firmware upgrade failed (SPI Program Fail.)" + revisions + ", "}));
    EXPECT_EQ(DayFileLines(m.dir, "D1 Initialize"),
              (std::vector<std::string>{"D1 Initialize started, ", "D1 Initialize completed, "}));
    EXPECT_EQ(DayFileLines(m.dir, "D1 Rebuild"), std::vector<std::string>{"D1 Rebuild of HDD1 from HDD2 started, "});
    EXPECT_EQ(DayFileLines(m.dir, "D1 Backup"), std::vector<std::string>{"D1 Backup schedule switched off, "});
    // A failed operation is an error in the journal, the others a notice.
    EXPECT_EQ(logtext::LinePriority("D1 Firmware upgrade failed (SPI Program Fail.)" + revisions + ", T"), 3);
    EXPECT_EQ(logtext::LinePriority("D1 Initialize completed, T"), 5);
}

}  // namespace
}  // namespace kestrel
