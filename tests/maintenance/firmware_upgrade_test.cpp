// The whole upgrade on each access path against the simulated enclosure:
// the requests as sent, the flash afterwards, the refusals before anything
// is erased, and failures injected at the first, a middle and the last
// block of each step.
#include <gtest/gtest.h>

#include <map>

#include "maintenance/firmware_upgrade.h"
#include "sim/simulated_pc.h"
#include "wire/byte_order.h"
#include "wire/command_sector.h"
#include "support/admitted_drives.h"
#include "support/recording_device.h"
#include "support/recording_ui.h"
#include "support/sim_scenarios.h"

namespace kestrel {
namespace {

using sim::RequestKind;
using testing::IoCall;

struct Path {
    const char* name;
    uint32_t flags;
    const char* readError;  // panel 4 after a failed flash read
};
// Random numbers 40 give the numbered mailbox block 43.
const Path kMailbox{"m", 0x40, "Error code 431"};
const Path kAta{"a", 0x11, "VU command 0x88 FEA 0x01 Read Error"};
const Path kBridge{"b", 0xA2, "Read SPI Error USB"};
const Path kPaths[] = {kMailbox, kAta, kBridge};

class FakeWindow final : public WindowState {
public:
    ShellModel& Model() override { return model; }
    const ShellModel& Model() const override { return model; }
    void Sync() override { ++syncs; }
    void SetDeviceChecked(int slot, bool checked) override { model.deviceChecked[static_cast<size_t>(slot)] = checked; }
    ShellModel model;
    int syncs = 0;
};

// One request as the controller sees it.
struct Token {
    std::string what;  // "mode", "erase", "program", "read", "result", "status", "probe", "other"
    int code = 0;      // mode code
    uint32_t address = 0;
    bool operator==(const Token&) const = default;
};

Token Decode(const IoCall& c) {
    if (c.code == ioctl::kIdePassThrough) {
        if (c.block[6] != 0x88) return {"other"};
        if (c.block[0] == 0x01) {
            EXPECT_EQ(c.block[5], 0xE0);
            return {"read", 0, uint32_t{c.block[2]} | uint32_t{c.block[3]} << 8 | uint32_t{c.block[4]} << 16};
        }
        return {"mode", c.block[0]};
    }
    if (c.code != ioctl::kScsiPassThroughDirect) return {"other"};
    const auto r = c.Scsi();
    if (r.cdb[0] == 0xFE) {
        const int shift = r.cdb[1] == 0xFE ? 0 : 1;
        const uint8_t* tail = r.cdb.data() + 2 - shift;
        const uint32_t address = bytes::GetBe24(tail + 2);
        switch (tail[0]) {
            case 0x85: return {tail[6] ? "probe" : "read", 0, address};
            case 0x89: return {"program", 0, address};
            case 0x81: return {"erase", 0, address};
            default: return {"other"};
        }
    }
    const uint32_t lba = bytes::GetBe32(&r.cdb[2]);
    if (r.cdb[0] == 0x28) return {lba == 60 ? "result" : lba == 33 ? "status" : "other"};
    if (r.cdb[0] != 0x2A || c.outData.size() != 512) return {"other"};
    Block512 s{};
    std::copy(c.outData.begin(), c.outData.end(), s.begin());
    EXPECT_TRUE(IsValidCommandSector(s));
    const uint32_t address = bytes::GetBe24(&s[4]);
    const bool numbered = lba >= 3 && lba <= 130;
    switch (s[2]) {
        case 0x00: EXPECT_TRUE(numbered && s[3] == 0x03); return {"read", 0, address};
        case 0x01: EXPECT_TRUE(lba == 20 && s[3] == 0x20); return {"erase", 0, address};
        case 0x02: EXPECT_TRUE(lba == 20 && s[3] == 0x02 && s[509] == 0x55); return {"program", 0, address};
        case 0x03: EXPECT_TRUE(numbered); return {"mode", s[3] ? 3 : 2};
        case 0x04: EXPECT_TRUE(numbered); return {"mode", s[3] ? 4 : 5};
        case 0x10: EXPECT_TRUE(numbered); return {"mode", s[3] ? 17 : 16};
        default: return {"other"};
    }
}

sim::Step Set(const std::string& enclosure, const char* field, uint64_t value) {
    sim::Step s;
    s.action = sim::Action::Set;
    s.enclosure = enclosure;
    s.fields.push_back({field, sim::FieldValue(value)});
    return s;
}

sim::Step Unplug(const std::string& enclosure) {
    sim::Step s;
    s.action = sim::Action::Unplug;
    s.enclosure = enclosure;
    return s;
}

std::vector<uint8_t> NewImage() {
    std::vector<uint8_t> image = sim::MakeDefaultFlashImage();
    // Code the enclosure does not have yet, in the boot area and above it.
    for (uint32_t i = 0x100; i < 0x70000; i += 3) image[i] = static_cast<uint8_t>(i >> 5);
    return image;
}

class UpgradeTest : public ::testing::Test {
protected:
    UpgradeTest()
        : pc_(testing::ScenarioFrom(testing::kEveryPath)),
          io_(&pc_),
          transport_(io_, boxes_, bar_, Options()),
          reader_(transport_),
          lock_(flags_, drives_, window_),
          flash_(transport_, drives_, flags_, [this] {
              if (duringBlocks_) duringBlocks_();
          }),
          upgrade_(flash_, lock_, reader_, drives_, flags_, window_,
                   {boxes_, bar_, [this](bool on) { timer1_.push_back(on); }}) {
        image_.bytes = NewImage();
        testing::AdmitAllDrives(transport_);
    }
    // The Upgrade button: the Upgrade page's slot and the loaded image.
    UpgradeOutcome Click() { return upgrade_.Upgrade(static_cast<unsigned>(window_.model.upgradePageDevice), image_); }
    TransportOptions Options() {
        TransportOptions o;
        o.pause = [](std::chrono::milliseconds) {};
        o.random = [] { return 40u; };
        return o;
    }
    // The enclosure on this path is the Upgrade page's slot 0.
    void Attach(const Path& p) {
        drives_.EnclosureFlags[0] = p.flags;
        drives_.EnclosureFlags[1] = kAta.flags;
        drives_.EnclosureCount = 2;
        window_.model.upgradePageDevice = 0;
        io_.Clear();
    }
    std::vector<Token> Tokens() const {
        std::vector<Token> out;
        for (const IoCall& c : io_.calls) out.push_back(Decode(c));
        return out;
    }
    int Count(const std::string& what) const {
        int n = 0;
        for (const Token& t : Tokens()) n += t.what == what;
        return n;
    }
    void ExpectReleased(const Path& p) {
        EXPECT_EQ(flags_.MaintenanceBusy.load(), 0);
        EXPECT_EQ(drives_.LockedEnclosure, DriveTable::kNoEnclosure);
        EXPECT_TRUE(window_.model.maintenance.deviceBoxesEnabled);
        EXPECT_FALSE(window_.model.maintenance.stepPanelVisible);
        const sim::ControllerModes modes = *pc_.ModesOf(p.name);
        EXPECT_FALSE(modes.flashAccess);
        EXPECT_FALSE(modes.bootUnlocked);
        EXPECT_FALSE(modes.upgrade);
        EXPECT_EQ(io_.opened.size(), io_.closed.size()) << "every open drive is closed";
    }
    void ExpectNothingErased(const Path& p) {
        EXPECT_EQ(Count("erase"), 0);
        EXPECT_EQ(Count("program"), 0);
        const std::vector<Token> t = Tokens();
        if (!(p.flags & access::kBridgeCdb)) {
            ASSERT_FALSE(t.empty());
            EXPECT_EQ(t.front(), (Token{"mode", 17}));
            EXPECT_EQ(t.back(), (Token{"mode", 16}));
        }
        EXPECT_NE(*pc_.FlashOf(p.name), image_.bytes);
        ExpectReleased(p);
    }

    sim::SimulatedPc pc_;
    testing::RecordingDeviceIo io_;
    testing::RecordingMessageBoxes boxes_;
    MemoryStatusBar bar_;
    Transport transport_;
    StatusReader reader_;
    DriveTable drives_;
    SchedulerFlags flags_;
    FakeWindow window_;
    FirmwareImage image_;
    MaintenanceLock lock_;
    std::function<void()> duringBlocks_;
    FlashAccess flash_;
    std::vector<bool> timer1_;
    FirmwareUpgrade upgrade_;
};

TEST_F(UpgradeTest, WholeUpgradeOnEachPath) {
    for (const Path& p : kPaths) {
        SCOPED_TRACE(p.name);
        Attach(p);
        boxes_.shown.clear();
        std::vector<std::string> steps;
        duringBlocks_ = [&] {
            EXPECT_EQ(flags_.MaintenanceBusy.load(), 1);
            EXPECT_FALSE(window_.model.maintenance.deviceBoxesEnabled);
            if (steps.empty() || steps.back() != window_.model.maintenance.stepText)
                steps.push_back(window_.model.maintenance.stepText);
        };
        ASSERT_EQ(Click(), UpgradeOutcome::Verified);
        EXPECT_EQ(*pc_.FlashOf(p.name), image_.bytes);
        EXPECT_EQ(flags_.ProgressCounter.load(), 2176u);
        EXPECT_EQ(window_.model.maintenance.progressMax, 2206);
        EXPECT_EQ(window_.model.maintenance.updateText, "Firmware Update...");
        EXPECT_EQ(steps, (std::vector<std::string>{"Process 1 / 3", "Process 2 / 3", "Process 3 / 3"}));
        EXPECT_EQ(bar_.Panel(4), "SPI Verify OK");
        ASSERT_EQ(boxes_.shown.size(), 1u);
        EXPECT_EQ(boxes_.shown[0].text,
                  "Firmware Upgrade 3/3 completed!\n\nPlease power off this device or the system,\nand power on it "
                  "to enable the new firmware!");
        EXPECT_EQ(boxes_.shown[0].caption, "Firmware Upgrade Message");
        EXPECT_EQ(boxes_.shown[0].icon, MessageIcon::Warning);
        EXPECT_EQ(timer1_, (std::vector<bool>{true, false}));
        timer1_.clear();
        ExpectReleased(p);

        // The request sequence: erase, program and read in address order,
        // bracketed by the modes (none at all over the bridge).
        std::vector<Token> expected;
        const bool bridge = p.flags & access::kBridgeCdb;
        auto mode = [&](int code) {
            if (!bridge) expected.push_back({"mode", code});
        };
        mode(17);
        mode(3), mode(4);
        for (uint32_t a = 0; a < kImageFlashSize; a += 4096) expected.push_back({"erase", 0, a});
        mode(5), mode(2), mode(3), mode(4);
        for (uint32_t a = 0; a < kImageFlashSize; a += 256) expected.push_back({"program", 0, a});
        mode(5), mode(2), mode(3);
        for (uint32_t a = 0; a < kImageFlashSize; a += 512) {
            expected.push_back({"read", 0, a});
            if (!bridge) expected.push_back({"result"});
        }
        mode(2), mode(16);
        std::vector<Token> seen;
        for (const Token& t : Tokens())
            if (t.what != "status" && t.what != "probe" && !(bridge && t.what == "read" && seen.empty() &&
                                                             t.address >= 0x78000))
                seen.push_back(t);
        EXPECT_EQ(seen.size(), expected.size());
        EXPECT_TRUE(seen == expected);

        // Each program request carries its 256 image bytes.
        for (const IoCall& c : io_.calls) {
            const Token t = Decode(c);
            if (t.what != "program") continue;
            const uint8_t* data = bridge ? c.outData.data() : c.outData.data() + 7;
            ASSERT_TRUE(std::equal(data, data + 256, image_.bytes.begin() + t.address)) << t.address;
        }
        // Put the old firmware back for the next path's comparison.
        pc_.OverwriteFlash(p.name, 0, sim::MakeDefaultFlashImage());
    }
}

TEST_F(UpgradeTest, RefusedBeforeAnythingIsErased) {
    struct Case {
        const char* name;
        std::function<void(const Path&)> prepare;
        std::string box;
        std::string caption;
    };
    const std::vector<Case> cases = {
        {"rebuild running", [&](const Path& p) { pc_.RunStep(Set(p.name, "activityFlags", 0x01)); },
         "Don't upgrade new firmware when device is rebuilding or scanning.", ""},
        {"scan running", [&](const Path& p) { pc_.RunStep(Set(p.name, "activityFlags", 0x02)); },
         "Don't upgrade new firmware when device is rebuilding or scanning.", ""},
        {"configuration version", [&](const Path&) { image_.bytes[kImageConfigVersion] = 0xA1; }, "SPI Configuration Version Error",
         ""},
        {"status unreadable", [&](const Path&) { pc_.RunStep(testing::FailStep(RequestKind::Status, "", -1)); },
         "Get SPI Record fail ", "Message"},
    };
    for (const Path& p : kPaths) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(p.name) + ": " + c.name);
            image_.bytes = NewImage();
            pc_.RunStep(Set(p.name, "activityFlags", 0));
            pc_.RunStep(testing::FailStep(RequestKind::Status, "", 0));
            Attach(p);
            c.prepare(p);
            boxes_.shown.clear();
            EXPECT_EQ(Click(), UpgradeOutcome::Refused);
            ASSERT_EQ(boxes_.shown.size(), 1u);
            EXPECT_EQ(boxes_.shown[0].text, c.box);
            EXPECT_EQ(boxes_.shown[0].caption, c.caption);
            ExpectNothingErased(p);
            EXPECT_TRUE(timer1_.empty());
        }
    }
}

TEST_F(UpgradeTest, RefusedWithoutImageOrUpgradeMode) {
    Attach(kMailbox);
    image_.Release();
    EXPECT_EQ(Click(), UpgradeOutcome::Refused);
    ASSERT_EQ(boxes_.shown.size(), 1u);
    EXPECT_EQ(boxes_.shown[0].text, "Please Load Firmware File First ");
    EXPECT_TRUE(io_.calls.empty());
    ExpectReleased(kMailbox);

    image_.bytes = NewImage();
    boxes_.shown.clear();
    pc_.RunStep(testing::FailStep(RequestKind::Mode, "m"));
    EXPECT_EQ(Click(), UpgradeOutcome::Refused);
    EXPECT_EQ(bar_.Panel(4), "Error code 431");
    EXPECT_TRUE(boxes_.shown.empty());
    EXPECT_EQ(Count("status"), 0);
    ExpectReleased(kMailbox);

    // An empty slot: the mode operation says so and nothing is sent.
    drives_.EnclosureCount = 1;
    window_.model.upgradePageDevice = 1;
    io_.Clear();
    EXPECT_EQ(Click(), UpgradeOutcome::Refused);
    EXPECT_EQ(bar_.Panel(4), "No Upgrade Mode!!!");
    ASSERT_EQ(boxes_.shown.size(), 1u);
    EXPECT_EQ(boxes_.shown[0].text, "No Upgrade Mode !");
    EXPECT_TRUE(io_.calls.empty());
    EXPECT_EQ(flags_.MaintenanceBusy.load(), 0);
}

TEST_F(UpgradeTest, FailureAtFirstMiddleAndLastBlockOfEachStep) {
    struct Step {
        RequestKind kind;
        int blocks;
        const char* text;  // nullptr: the path's read error
    };
    const Step steps[] = {{RequestKind::FlashErase, 128, "SPI Erase Fail."},
                          {RequestKind::FlashProgram, 2048, "SPI Program Fail."},
                          {RequestKind::FlashRead, 1024, nullptr}};
    for (const Path& p : kPaths) {
        for (const Step& s : steps) {
            for (int n : {1, s.blocks / 2, s.blocks}) {
                SCOPED_TRACE(std::string(p.name) + " " + sim::RequestKindName(s.kind) + " #" + std::to_string(n));
                Attach(p);
                boxes_.shown.clear();
                sim::Step fail = testing::FailStep(s.kind, p.name);
                fail.after = n - 1;
                pc_.RunStep(fail);
                EXPECT_EQ(Click(), UpgradeOutcome::Failed);
                const std::string text = s.text ? s.text : p.readError;
                EXPECT_EQ(bar_.Panel(4), text);
                ASSERT_EQ(boxes_.shown.size(), 1u);
                EXPECT_EQ(boxes_.shown[0].text, text);
                EXPECT_EQ(boxes_.shown[0].caption, "Message");
                // Over the bridge, the status read is a flash read too.
                const int flashReads = Count("read") - (p.flags & access::kBridgeCdb ? 1 : 0);
                const int done = s.kind == RequestKind::FlashErase     ? Count("erase")
                                 : s.kind == RequestKind::FlashProgram ? Count("program")
                                                                       : flashReads;
                EXPECT_EQ(done, n) << "the failed block ends the step";
                if (s.kind == RequestKind::FlashErase) {
                    EXPECT_EQ(Count("program"), 0);
                }
                if (s.kind != RequestKind::FlashRead) {
                    EXPECT_EQ(flashReads, 0);
                }
                if (!(p.flags & access::kBridgeCdb)) {
                    EXPECT_EQ(Tokens().back(), (Token{"mode", 16}));
                }
                ExpectReleased(p);
                EXPECT_EQ(timer1_.back(), false);
                pc_.RunStep(testing::FailStep(s.kind, p.name, 0));
            }
        }
    }
}

TEST_F(UpgradeTest, VerifyFindsADifference) {
    Attach(kAta);
    bool changed = false;
    duringBlocks_ = [&] {
        if (window_.model.maintenance.stepText != "Process 3 / 3" || changed) return;
        pc_.OverwriteFlash("a", 0x40000, std::vector<uint8_t>{0x00, 0x00});
        changed = true;
    };
    EXPECT_EQ(Click(), UpgradeOutcome::Failed);
    EXPECT_EQ(bar_.Panel(4), "SPI Verify fail !!!");
    ASSERT_EQ(boxes_.shown.size(), 1u);
    EXPECT_EQ(boxes_.shown[0].text, "SPI Verify fail !!!");
    ExpectReleased(kAta);
}

TEST_F(UpgradeTest, DeviceVanishesMidProgram) {
    Attach(kMailbox);
    duringBlocks_ = [&] {
        if (io_.calls.size() == 1000) pc_.RunStep(Unplug("m"));
    };
    EXPECT_EQ(Click(), UpgradeOutcome::Failed);
    EXPECT_EQ(bar_.Panel(4), "SPI Program Fail.");
    EXPECT_EQ(boxes_.shown.back().text, "SPI Program Fail.");
    EXPECT_EQ(flags_.MaintenanceBusy.load(), 0);
    EXPECT_EQ(drives_.LockedEnclosure, DriveTable::kNoEnclosure);
    EXPECT_EQ(io_.opened.size(), io_.closed.size() + 1) << "leaving upgrade mode could not open the drive";
}

TEST_F(UpgradeTest, ClicksDuringTheUpgradeStartNothing) {
    Attach(kBridge);
    int nested = 0;
    bool closed = false;
    duringBlocks_ = [&] {
        if (nested++ % 200 != 0) return;
        EXPECT_EQ(Click(), UpgradeOutcome::Ignored);
        EXPECT_TRUE(lock_.HoldClose([&] { closed = true; }));
        EXPECT_TRUE(window_.model.maintenance.closeHeld);
    };
    EXPECT_EQ(Click(), UpgradeOutcome::Verified);
    EXPECT_TRUE(closed) << "the held close runs once the lock is released";
    EXPECT_FALSE(window_.model.maintenance.closeHeld);
    EXPECT_FALSE(lock_.HoldClose([] {})) << "nothing runs: close at once";
}

}  // namespace
}  // namespace kestrel

namespace kestrel {
namespace {

TEST(UpgradeScenarioKeys, FlashTimingAndNthFailureAreChecked) {
    const sim::ScenarioLoad good = sim::ParseScenario(
        R"({"flashTiming": {"eraseMs": 40, "programMs": 0.5},
            "enclosures": [{"name": "e", "paths": ["ata"]}],
            "timeline": [{"at": 5, "enclosure": "e", "action": "fail", "request": "flash-erase", "after": 63}]})",
        "t.json", ".");
    ASSERT_TRUE(good.scenario) << good.error;
    EXPECT_TRUE(good.scenario->flashTiming.on);
    EXPECT_DOUBLE_EQ(good.scenario->flashTiming.eraseMs, 40);
    EXPECT_DOUBLE_EQ(good.scenario->flashTiming.programMs, 0.5);
    EXPECT_EQ(good.scenario->timeline[0].after, 63);
    EXPECT_FALSE(sim::ParseScenario(R"({})", "t.json", ".").scenario->flashTiming.on);
    EXPECT_TRUE(sim::ParseScenario(R"({"flashTiming": true})", "t.json", ".").scenario->flashTiming.on);

    for (const char* bad : {R"({"flashTiming": 3})", R"({"flashTiming": {"eraseMs": -1}})",
                            R"({"flashTiming": {"eraseMs": "fast"}})", R"({"flashTiming": {"writeMs": 1}})",
                            R"({"enclosures": [{"name": "e"}], "timeline": [{"at": 0, "enclosure": "e", "action": "fail",
                                "request": "flash-read", "after": -2}]})"}) {
        const sim::ScenarioLoad load = sim::ParseScenario(bad, "t.json", ".");
        EXPECT_FALSE(load.scenario) << bad;
        EXPECT_NE(load.error.find("t.json: "), std::string::npos);
    }
}

}  // namespace
}  // namespace kestrel
