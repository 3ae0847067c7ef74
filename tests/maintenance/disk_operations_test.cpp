// Initialize and the SSD rebuild against the simulated enclosure on each
// access path: the command sectors as the controller received them, the
// texts and progress of each step, the stops at a failure, and the
// confirmation that guards Initialize.
#include "maintenance/disk_operations.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "platform/headless_ui.h"
#include "sim/simulated_pc.h"
#include "support/admitted_drives.h"
#include "support/recording_device.h"
#include "support/recording_ui.h"
#include "support/sim_scenarios.h"
#include "wire/byte_order.h"
#include "wire/command_sector.h"
#include "wire/status_sector.h"

namespace kestrel {
namespace {

namespace st = status;

struct Path {
    const char* name;
    uint32_t flags;
};
const Path kPaths[] = {{"m", 0x40}, {"a", 0x11}, {"b", 0xA2}, {"b0", 0x23}};

class FakeWindow final : public WindowState {
public:
    ShellModel& Model() override { return model; }
    const ShellModel& Model() const override { return model; }
    void Sync() override {}
    void SetDeviceChecked(int slot, bool checked) override { model.deviceChecked[static_cast<size_t>(slot)] = checked; }
    ShellModel model;
};

// Keeps every text panel 4 showed.
class HistoryBar final : public StatusBar {
public:
    void SetPanel(int index, const std::string& text) override {
        panels[static_cast<size_t>(index)] = text;
        if (index == kErrorPanel) history.push_back(text);
    }
    std::string Panel(int index) const override { return panels[static_cast<size_t>(index)]; }
    std::array<std::string, 5> panels;
    std::vector<std::string> history;
};

// The sector a step leaves, from the bytes the previous command left.
Block512 Expected(Block512 before, uint8_t code, uint8_t argument) {
    CommandSector s;
    s.bytes = before;
    s.SetCommand(command::kDiskCommand, code);
    s.bytes[command::kAddress] = argument;
    s.Seal();
    return s.bytes;
}

std::vector<Block512> ExpectedSectors(const Block512& before, const std::vector<std::pair<uint8_t, uint8_t>>& steps) {
    std::vector<Block512> out;
    for (auto [code, argument] : steps) out.push_back(Expected(before, code, argument));
    return out;
}

const std::vector<std::pair<uint8_t, uint8_t>> kInitializeSteps = {{2, 0},    {1, 0},    {4, 0x00}, {4, 0x10},
                                                                   {4, 0x20}, {4, 0x30}, {3, 1}};
const std::vector<std::pair<uint8_t, uint8_t>> kRebuildSteps = {{2, 0}, {1, 0}, {6, 1}, {6, 2}};

class DiskOperationsTest : public ::testing::Test {
protected:
    DiskOperationsTest()
        : pc_(testing::ScenarioFrom(testing::kEveryPath)),
          io_(&pc_),
          transport_(io_, boxes_, bar_, Options()),
          lock_(flags_, drives_, window_),
          disks_(transport_, lock_, drives_, flags_, window_,
                 {boxes_, bar_, [this](bool on) { timer1_.push_back(on); }, [this] { BetweenSteps(); }}) {
        testing::AdmitAllDrives(transport_);
    }
    static TransportOptions Options() {
        TransportOptions o;
        o.pause = [](std::chrono::milliseconds) {};
        o.random = [] { return 40u; };
        return o;
    }
    void Attach(const Path& p) {
        drives_.EnclosureFlags[0] = p.flags;
        drives_.EnclosureFlags[1] = 0x11;
        drives_.EnclosureCount = 2;
        window_.model.deviceChecked = {true, false};
        window_.model.statusPageDevice = 0;
        io_.Clear();
        bar_.history.clear();
        boxes_.shown.clear();
        shownSteps_.clear();
    }
    void BetweenSteps() {
        shownSteps_.push_back(window_.model.maintenance.setupStepText + " after " +
                              std::to_string(pc_.CommandsOf(current_).size()));
    }
    // Every request was a WRITE(10) of one block to block 20, whatever the path.
    void ExpectOnlyBlock20Writes(size_t count) {
        const auto calls = io_.ScsiCalls();
        EXPECT_EQ(calls.size(), count);
        EXPECT_EQ(io_.calls.size(), count) << "nothing but the writes";
        for (const testing::IoCall& c : calls) {
            const auto r = c.Scsi();
            EXPECT_EQ(r.cdb[0], 0x2A);
            EXPECT_EQ(r.cdbLength, 10);
            EXPECT_EQ(bytes::GetBe32(&r.cdb[2]), 20u);
            EXPECT_EQ(r.cdb[8], 1);
        }
        EXPECT_EQ(io_.opened.size(), io_.closed.size()) << "every open drive is closed";
    }
    void ExpectReleased() {
        EXPECT_FALSE(lock_.Busy());
        EXPECT_EQ(drives_.LockedEnclosure, DriveTable::kNoEnclosure);
        EXPECT_FALSE(window_.model.maintenance.setupStepPanelVisible);
    }

    sim::SimulatedPc pc_;
    testing::RecordingDeviceIo io_;
    testing::RecordingMessageBoxes boxes_;
    HistoryBar bar_;
    Transport transport_;
    DriveTable drives_;
    SchedulerFlags flags_;
    FakeWindow window_;
    MaintenanceLock lock_;
    std::vector<bool> timer1_;
    std::vector<std::string> shownSteps_;
    std::string current_;
    DiskOperations disks_;
};

TEST_F(DiskOperationsTest, InitializeSendsItsSevenStepsByteForByteOnEachPath) {
    for (const Path& p : kPaths) {
        SCOPED_TRACE(p.name);
        Attach(p);
        current_ = p.name;
        // Bytes a step does not name stay as the last command left them.
        Block512& leftover = transport_.Command().bytes;
        leftover[5] = 1;
        leftover[6] = 60;
        leftover[300] = 0x5A;
        const Block512 before = leftover;
        // A failed SSD beside a member HDD that had bad sectors.
        pc_.RunStep([&] {
            sim::Step s;
            s.action = sim::Action::Set;
            s.enclosure = p.name;
            s.fields = {{"diskState", sim::FieldValue(uint64_t{0x28})}, {"activityFlags", sim::FieldValue(uint64_t{0x08})}};
            return s;
        }());
        boxes_.answers = {MessageAnswer::Yes};
        timer1_.clear();

        EXPECT_EQ(disks_.Initialize(window_.model.statusPageDevice), DiskOutcome::Completed);

        EXPECT_EQ(pc_.CommandsOf(p.name), ExpectedSectors(before, kInitializeSteps));
        ExpectOnlyBlock20Writes(7);
        EXPECT_EQ(shownSteps_, (std::vector<std::string>{"Process 1 / 8 after 0", "Process 2 / 8 after 1",
                                                         "Process 3 / 8 after 2", "Process 4 / 8 after 3",
                                                         "Process 5 / 8 after 4", "Process 6 / 8 after 5",
                                                         "Process 7 / 8 after 6", "Process 8 / 8 after 7"}));
        EXPECT_EQ(bar_.history, (std::vector<std::string>{"HDD2 ID OK", "HDD1 ID OK", "Clr HDD LBA0 OK",
                                                          "Clr HDD LBA16 OK", "Clr HDD LBA32 OK", "Clr HDD LBA48 OK",
                                                          "Save configure OK", "Create partition OK"}));
        EXPECT_EQ(window_.model.maintenance.setupProgressPosition, 100);
        EXPECT_EQ(flags_.ProgressCounter.load(), 100u);
        EXPECT_EQ(window_.model.maintenance.setupUpdateText, "Auto Partition...");
        EXPECT_EQ(timer1_, (std::vector<bool>{true, false}));
        ASSERT_EQ(boxes_.shown.size(), 2u);
        EXPECT_EQ(boxes_.shown[0].buttons, MessageButtons::YesNo);
        EXPECT_EQ(boxes_.shown[0].text, "Initialize will erase all data on both disks of Device1.\nContinue?");
        EXPECT_EQ(boxes_.shown[1].text,
                  "Auto Partition 8/8 completed!\n\nPlease power off this device or the system,\nand power on it to "
                  "start data synchronize!");
        EXPECT_EQ(boxes_.shown[1].caption, "Auto Partition Message");
        EXPECT_EQ(boxes_.shown[1].icon, MessageIcon::Warning);
        ExpectReleased();
        // The controller made a new array of the failed one.
        const Block512 status = *pc_.StatusOf(p.name);
        EXPECT_EQ(status[st::kDiskState], 0x22);
        EXPECT_EQ(status[st::kActivityFlags], 0);
    }
}

TEST_F(DiskOperationsTest, InitializesClosingBoxWaitsWithTheLockReleasedAndNothingElseStarting) {
    Attach(kPaths[0]);
    boxes_.answers = {MessageAnswer::Yes};
    std::vector<bool> busy, available;
    DiskOutcome during = DiskOutcome::Completed;
    boxes_.onShow = [&](const std::string& text) {
        busy.push_back(lock_.Busy());
        available.push_back(lock_.Available());
        if (text.rfind("Auto Partition 8/8", 0) == 0) during = disks_.StartRebuild(0);
    };
    EXPECT_EQ(disks_.Initialize(0), DiskOutcome::Completed);
    EXPECT_EQ(busy, (std::vector<bool>{false, false})) << "the polls run while either box waits";
    EXPECT_EQ(available, (std::vector<bool>{false, false})) << "but no operation starts";
    EXPECT_EQ(during, DiskOutcome::Ignored);
    EXPECT_TRUE(lock_.Available());
}

TEST_F(DiskOperationsTest, RebuildSendsItsFourStepsByteForByteOnEachPathAndTheControllerRebuilds) {
    for (const Path& p : kPaths) {
        SCOPED_TRACE(p.name);
        Attach(p);
        const Block512 before = transport_.Command().bytes;

        EXPECT_EQ(disks_.StartRebuild(0), DiskOutcome::Completed);

        EXPECT_EQ(pc_.CommandsOf(p.name), ExpectedSectors(before, kRebuildSteps));
        ExpectOnlyBlock20Writes(4);
        EXPECT_EQ(bar_.history, (std::vector<std::string>{"HDD2 ID OK", "HDD1 ID OK", "Copy HDD2 LBA0 To HDD1 OK",
                                                          "Start Rebuilding HDD2 to HDD1 OK"}));
        EXPECT_TRUE(boxes_.shown.empty());
        EXPECT_TRUE(timer1_.empty());
        ExpectReleased();
        const Block512 status = *pc_.StatusOf(p.name);
        EXPECT_EQ(status[st::kActivityFlags] & (st::kTargetHdd1 | st::kTargetHdd2), st::kTargetHdd1);
    }
}

TEST_F(DiskOperationsTest, RebuildGoesToTheSlotThatAskedAndStopsAtItsFirstFailure) {
    Attach(kPaths[0]);
    window_.model.statusPageDevice = 0;
    pc_.RunStep(testing::FailStep(sim::RequestKind::Command, "a"));  // the enclosure of slot 1
    EXPECT_EQ(disks_.StartRebuild(1), DiskOutcome::Failed);
    EXPECT_TRUE(pc_.CommandsOf("m").empty());
    ASSERT_EQ(pc_.CommandsOf("a").size(), 1u);
    EXPECT_EQ(bar_.history, (std::vector<std::string>{"Error code 201", "HDD2 ID Fail."}));
    ExpectReleased();
}

TEST_F(DiskOperationsTest, AFailedFifthStepLeavesTheBarAt65AndSaysSoTwice) {
    Attach(kPaths[1]);
    current_ = "a";
    sim::Step fail = testing::FailStep(sim::RequestKind::Command, "a");
    fail.after = 4;
    pc_.RunStep(fail);
    boxes_.answers = {MessageAnswer::Yes};

    EXPECT_EQ(disks_.Initialize(window_.model.statusPageDevice), DiskOutcome::Failed);

    EXPECT_EQ(pc_.CommandsOf("a").size(), 5u) << "nothing after the failed step";
    EXPECT_EQ(window_.model.maintenance.setupProgressPosition, 65);
    EXPECT_EQ(flags_.ProgressCounter.load(), 65u);
    EXPECT_EQ(bar_.Panel(kErrorPanel), "Clr LBA32 Fail.");
    // The transport's own text comes first and is replaced.
    EXPECT_EQ(bar_.history[bar_.history.size() - 2], "Error code 201");
    ASSERT_EQ(boxes_.shown.size(), 2u);
    EXPECT_EQ(boxes_.shown[1].text, "Clr LBA32 Fail.");
    EXPECT_EQ(boxes_.shown[1].caption, "Auto Partition Message");
    EXPECT_EQ(shownSteps_.back(), "Process 5 / 8 after 4");
    EXPECT_EQ(timer1_, (std::vector<bool>{true, false}));
    ExpectReleased();
}

TEST_F(DiskOperationsTest, WithBothDeviceBoxesUncheckedInitializeStopsAtStepOneSendingNothing) {
    Attach(kPaths[0]);
    window_.model.deviceChecked = {false, false};
    boxes_.answers = {MessageAnswer::Yes};
    EXPECT_EQ(disks_.Initialize(window_.model.statusPageDevice), DiskOutcome::Failed);
    EXPECT_TRUE(io_.calls.empty());
    EXPECT_TRUE(io_.opened.empty());
    EXPECT_EQ(bar_.history, std::vector<std::string>{"HDD2 ID Fail."});
    EXPECT_EQ(window_.model.maintenance.setupProgressPosition, 10);
    ASSERT_EQ(boxes_.shown.size(), 2u);
    EXPECT_EQ(boxes_.shown[1].text, "HDD2 ID Fail.");
    ExpectReleased();
}

TEST_F(DiskOperationsTest, InitializeNeedsAYesAndNothingElseRunning) {
    Attach(kPaths[0]);
    // No (also the default of a box nobody answers).
    EXPECT_EQ(disks_.Initialize(window_.model.statusPageDevice), DiskOutcome::Ignored);
    // A service without a window answers No.
    FILE* sink = std::tmpfile();
    StderrMessageBoxes headless(sink);
    DiskOperations unattended(transport_, lock_, drives_, flags_, window_, {headless, bar_, nullptr, nullptr});
    EXPECT_EQ(unattended.Initialize(0), DiskOutcome::Ignored);
    std::fclose(sink);
    // An upgrade or a detection holds the transport: not even the question.
    boxes_.shown.clear();
    boxes_.answers = {MessageAnswer::Yes};
    flags_.MaintenanceBusy = 1;
    EXPECT_EQ(disks_.Initialize(window_.model.statusPageDevice), DiskOutcome::Ignored);
    EXPECT_EQ(disks_.StartRebuild(0), DiskOutcome::Ignored);
    flags_.MaintenanceBusy = 0;
    flags_.DetectPending = 1;
    EXPECT_EQ(disks_.Initialize(window_.model.statusPageDevice), DiskOutcome::Ignored);
    EXPECT_EQ(disks_.StartRebuild(0), DiskOutcome::Ignored);
    flags_.DetectPending = 0;
    EXPECT_TRUE(boxes_.shown.empty());
    EXPECT_TRUE(io_.calls.empty());
    EXPECT_TRUE(pc_.CommandsOf("m").empty());
    EXPECT_TRUE(bar_.history.empty());
    ExpectReleased();
}

TEST_F(DiskOperationsTest, SendDiskCommandChecksInOrder) {
    Attach(kPaths[0]);
    drives_.LockedEnclosure = 0;
    drives_.EnclosureCount = 0;
    EXPECT_FALSE(disks_.SendDiskCommand(2, 0));
    EXPECT_EQ(bar_.Panel(kErrorPanel), "Device not found!!!");
    ASSERT_EQ(boxes_.shown.size(), 1u);
    EXPECT_EQ(boxes_.shown[0].text, "No Device found !");
    EXPECT_EQ(boxes_.shown[0].caption, "Message");

    Attach(kPaths[0]);
    drives_.LockedEnclosure = 0;
    window_.model.deviceChecked = {false, false};
    EXPECT_FALSE(disks_.SendDiskCommand(2, 0));
    EXPECT_TRUE(boxes_.shown.empty());
    EXPECT_TRUE(bar_.history.empty());

    Attach(kPaths[0]);
    drives_.LockedEnclosure = 0;
    sim::Step unplug;
    unplug.action = sim::Action::Unplug;
    unplug.enclosure = "m";
    pc_.RunStep(unplug);
    EXPECT_FALSE(disks_.SendDiskCommand(2, 0));
    ASSERT_EQ(boxes_.shown.size(), 1u);
    EXPECT_EQ(boxes_.shown[0].text, "Invalid Drive");
    EXPECT_TRUE(io_.calls.empty());

    Attach(kPaths[1]);
    drives_.LockedEnclosure = 0;
    pc_.RunStep(testing::FailStep(sim::RequestKind::Command, "a"));
    EXPECT_FALSE(disks_.SendDiskCommand(2, 0));
    EXPECT_EQ(bar_.Panel(kErrorPanel), "Error code 201");
    EXPECT_TRUE(boxes_.shown.empty());
    EXPECT_EQ(io_.opened.size(), io_.closed.size());
    EXPECT_TRUE(disks_.SendDiskCommand(2, 0));
}

}  // namespace
}  // namespace kestrel
