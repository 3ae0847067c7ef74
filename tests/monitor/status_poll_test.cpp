#include "monitor/status_poll.h"

#include <gtest/gtest.h>

#include <vector>

#include "app/shell.h"
#include "wire/status_sector.h"
#include "platform/headless_ui.h"
#include "support/status_builder.h"

namespace kestrel {
namespace {

using testing::Record;

struct Poll {
    Poll() {
        drives.EnclosureCount = 2;
        drives.EnclosureFlags = {0x40, 0x23};
        shell.Model().deviceChecked = {true, true};
        StatusPollLinks links;
        links.readStatus = [this](unsigned slot, Block512& out) {
            EXPECT_EQ(drives.SelectedEnclosure, slot) << "the poll selects the slot it reads";
            reads.push_back(slot);
            if (!answers[slot]) return false;
            out = records[slot];
            return true;
        };
        links.lastProgress = [this](int slot) { return lastProgress[static_cast<size_t>(slot)]; };
        links.listeners = {[this](const PollRound& round) {
            masks.push_back(round.refreshed);
            for (unsigned slot = 0; slot < 2; ++slot)
                EXPECT_EQ(round.records[slot].has_value(), ((round.refreshed >> slot) & 1) != 0);
            if (round.statusPageDue) draws.push_back(round.forcePage);
        }};
        poll = std::make_unique<StatusPoll>(flags, drives, shell, bar, links);
    }
    SchedulerFlags flags;
    DriveTable drives;
    Shell shell{ProductVariant::Raid, drives};
    MemoryStatusBar bar;
    std::array<Block512, 2> records{Record().diskState(0x22), Record().diskState(0x22)};
    std::array<bool, 2> answers{true, true};
    std::array<uint8_t, 2> lastProgress{255, 255};
    std::vector<unsigned> reads;
    std::vector<uint8_t> masks;
    std::vector<bool> draws;
    std::unique_ptr<StatusPoll> poll;
};

TEST(StatusPoll, ReadsEachCheckedSlotAndReportsTheRefreshedOnes) {
    Poll p;
    p.poll->Run();
    EXPECT_EQ(p.reads, (std::vector<unsigned>{0, 1}));
    EXPECT_EQ(p.masks, (std::vector<uint8_t>{0x03}));
    EXPECT_EQ(p.draws, (std::vector<bool>{true})) << "forced while the first status page is pending";
    EXPECT_EQ(p.drives.CurrentStatus[3][testing::at::kDiskState], 0x22);

    p.shell.Model().firstStatusPending = false;
    p.shell.Model().deviceChecked = {false, true};
    p.shell.Model().currentPage = kPageAbout;
    p.poll->Run();
    EXPECT_EQ(p.reads.back(), 1u);
    EXPECT_EQ(p.masks.back(), 0x02);
    EXPECT_EQ(p.draws.size(), 1u) << "no redraw away from the Status page";
}

TEST(StatusPoll, SkipsEverythingWhileDetectingOrUnderMaintenance) {
    Poll p;
    // The published state hears every round, after the other listeners.
    std::vector<bool> everyRound;
    p.poll->AddListenerOfEveryRound([&](const PollRound& round) {
        EXPECT_EQ(round.cutShort, round.refreshed == 0 && !round.records[0] && !round.records[1]);
        everyRound.push_back(round.cutShort);
    });
    for (auto* flag : {&p.flags.DetectCountdown, &p.flags.Probing, &p.flags.MaintenanceBusy}) {
        flag->store(1);
        p.poll->Run();
        flag->store(0);
    }
    EXPECT_TRUE(p.reads.empty());
    EXPECT_TRUE(p.masks.empty());
    EXPECT_EQ(everyRound, (std::vector<bool>{true, true, true}));
    p.drives.LockedEnclosure = 0;
    p.poll->Run();
    EXPECT_EQ(p.reads, (std::vector<unsigned>{1}));
    EXPECT_EQ(everyRound.back(), false);
}

TEST(StatusPoll, FailingSlotIsReadEveryOtherPollAndDroppedAtTheSixthFailure) {
    Poll p;
    p.answers[0] = false;
    std::vector<int> pollsThatReadSlot0;
    for (int poll = 1; poll <= 14; ++poll) {
        const size_t before = p.reads.size();
        p.poll->Run();
        for (size_t i = before; i < p.reads.size(); ++i)
            if (p.reads[i] == 0) pollsThatReadSlot0.push_back(poll);
        if (poll < 11) {
            EXPECT_TRUE(p.shell.Model().deviceChecked[0]) << poll;
        }
    }
    EXPECT_EQ(pollsThatReadSlot0, (std::vector<int>{1, 3, 5, 7, 9, 11}));
    EXPECT_FALSE(p.shell.Model().deviceChecked[0]);
    EXPECT_EQ(p.flags.PollBackoff[0], 0);
    // The slot's box click handler ran: the Status page moved to slot 1.
    EXPECT_EQ(p.shell.Model().statusPageDevice, 1);
    EXPECT_EQ(p.masks.back(), 0x02);
    // Dropped out, not a user's choice: still monitored for the status
    // query, until the box is ticked again; a box the user unticks is not.
    EXPECT_TRUE(p.poll->DroppedOut(0));
    EXPECT_FALSE(p.poll->DroppedOut(1));
    p.shell.SetDeviceChecked(0, true);
    p.poll->Run();
    EXPECT_FALSE(p.poll->DroppedOut(0));
    p.shell.SetDeviceChecked(1, false);
    p.poll->Run();
    EXPECT_FALSE(p.poll->DroppedOut(1));
}

TEST(StatusPoll, ZeroDiskStateIsRefusedOnlyWhileAnActivityIsTracked) {
    Poll p;
    p.shell.Model().deviceChecked = {true, false};
    p.records[0] = Record().diskState(0);
    p.poll->Run();
    EXPECT_EQ(p.drives.CurrentStatus[0][testing::at::kDiskState], 0) << "stored while nothing is tracked";

    p.records[0] = Record().diskState(0x22).progress(40);
    p.poll->Run();
    p.lastProgress[0] = 40;
    p.records[0] = Record().diskState(0);
    p.poll->Run();
    EXPECT_EQ(p.bar.Panel(4), "HDD Status = 0x00, Err Count = 0x00");
    p.poll->Run();
    EXPECT_EQ(p.bar.Panel(4), "HDD Status = 0x00, Err Count = 0x01");
    EXPECT_EQ(p.drives.CurrentStatus[0][testing::at::kDiskState], 0x22) << "the garbage record was not kept";
    EXPECT_EQ(p.masks.back(), 0x01) << "the slot still counts as refreshed";
}

TEST(StatusPoll, PulledDiskKeepsItsIdentity) {
    Poll p;
    p.shell.Model().deviceChecked = {false, true};
    p.records[1] = Record().diskState(0x22).disk(1, "ST3500418AS", "9VM1", 976773168);
    p.poll->Run();
    p.records[1] = Record().diskState(0x42);
    p.poll->Run();
    const Block512& kept = p.drives.CurrentStatus[3];
    EXPECT_EQ(kept[testing::at::kDiskState], 0x42);
    EXPECT_EQ(status::TrimModel(status::AtaString(kept, testing::at::kDisk2Model, 40)), "ST3500418AS");
    EXPECT_EQ(status::AtaString(kept, testing::at::kDisk2Serial, 20).substr(0, 4), "9VM1");
    EXPECT_EQ(status::Sectors40(kept, testing::at::kDisk2Capacity), 976773168u);
}

TEST(Timer2, ReArmsMonitoringAfterALockAndPollsOnTheNextTick) {
    SchedulerFlags flags;
    flags.RefreshFlags = refresh::kMonitoring | refresh::kConfigWrite;
    flags.MaintenanceBusy = 1;
    Timer2Tick(flags);
    EXPECT_EQ(flags.RefreshFlags.load(), refresh::kConfigWrite);
    flags.MaintenanceBusy = 0;
    Timer2Tick(flags);
    EXPECT_EQ(flags.RefreshFlags.load(), refresh::kMonitoring) << "re-armed, pending write dropped";
    Timer2Tick(flags);
    EXPECT_EQ(flags.RefreshFlags.load(), refresh::kMonitoring | refresh::kStatusPoll);
    flags.RefreshFlags = refresh::kMonitoring;
    flags.DetectCountdown = 20;
    Timer2Tick(flags);
    EXPECT_EQ(flags.RefreshFlags.load(), refresh::kMonitoring);
}

}  // namespace
}  // namespace kestrel
