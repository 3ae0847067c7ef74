#include "device/presence_report.h"

#include <gtest/gtest.h>

#include "support/status_builder.h"

namespace kestrel {
namespace {

// Old list: the committed enclosures; new list: the detection result. Each
// enclosure is named by a model; same model = same enclosure.
DriveTable Lists(const std::vector<std::string>& before, const std::vector<std::string>& after) {
    DriveTable t;
    unsigned drive = 0;
    for (const std::string& model : before) {
        t.EnclosureFlags[t.EnclosureCount++] = 0x40 | drive;
        t.KnownIdentify[drive++] = testing::IdentifyBlock(model, "100126.1");
    }
    drive = 0;
    for (const std::string& model : after) {
        t.ProbeFlags[t.ProbeCount++] = 0x40 | drive;
        t.ProbeIdentify[drive++] = testing::IdentifyBlock(model, "100126.1");
    }
    return t;
}

TEST(PresenceReport, ArrivalsAndRemovalsAreNamedByTheirListPositions) {
    PresenceChanges c = ComparePresence(Lists({"A"}, {"A", "B"}));
    EXPECT_EQ(c.lines, std::vector<std::string>{"D2 New Device was found."});
    EXPECT_TRUE(c.removed.empty());

    c = ComparePresence(Lists({"A", "B"}, {"B"}));
    EXPECT_EQ(c.lines, std::vector<std::string>{"D1 Device was removed."});
    EXPECT_EQ(c.removed, std::vector<int>{0});

    c = ComparePresence(Lists({}, {"A", "B"}));
    EXPECT_EQ(c.lines, (std::vector<std::string>{"D1 New Device was found.", "D2 New Device was found."}));

    c = ComparePresence(Lists({"A", "B"}, {}));
    EXPECT_EQ(c.lines, (std::vector<std::string>{"D1 Device was removed.", "D2 Device was removed."}));
    EXPECT_EQ(c.removed, (std::vector<int>{0, 1}));
}

TEST(PresenceReport, AnExchangeWithTheCountUnchangedIsNotReported) {
    EXPECT_TRUE(ComparePresence(Lists({"A"}, {"B"})).lines.empty());
    EXPECT_TRUE(ComparePresence(Lists({"A", "B"}, {"B", "C"})).lines.empty());
}

TEST(PresenceReport, TheWalkMatchesEnclosuresAcrossInsertionsAndRemovals) {
    // A new enclosure in front of a known one.
    PresenceChanges c = ComparePresence(Lists({"B"}, {"A", "B", "C"}));
    EXPECT_EQ(c.lines, (std::vector<std::string>{"D1 New Device was found.", "D3 New Device was found."}));
    // The middle one of three left, and another came at the end.
    c = ComparePresence(Lists({"A", "B", "C"}, {"A", "C", "D", "E"}));
    EXPECT_EQ(c.lines, (std::vector<std::string>{"D2 Device was removed.", "D3 New Device was found.",
                                                 "D4 New Device was found."}));
    EXPECT_EQ(c.removed, std::vector<int>{1});
}

}  // namespace
}  // namespace kestrel
