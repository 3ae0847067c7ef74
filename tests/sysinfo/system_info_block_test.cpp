// The five lines, the status bar's message box, and start-up's security call.
#include "sysinfo/system_info_block.h"

#include <gtest/gtest.h>

#include "platform/com_setup.h"
#include "sim/fixed_management_query.h"
#include "support/recording_ui.h"

namespace kestrel {
namespace {

using testing::RecordingMessageBoxes;

TEST(SystemInfoBlock, FiveLinesFromTheHostAnswers) {
    const sim::FixedManagementQuery q({.boardVendor = "Kestrel Boards",
                                       .boardName = "KB-450",
                                       .systemName = "SIM-PC",
                                       .ipAddresses = {"192.168.1.20", "fd00::20"}});
    const SystemInfoBlock block = BuildSystemInfoBlock(q);
    EXPECT_EQ(block.lines[0], "\n=========== [System Information] ==============");
    EXPECT_EQ(block.lines[1], "\nMotherBoard : Kestrel Boards - KB-450");
    EXPECT_EQ(block.lines[2], "\nSystem Name : SIM-PC");
    EXPECT_EQ(block.lines[3], "\nIP Address  : 192.168.1.20, fd00::20");
    EXPECT_EQ(block.lines[4], "\n===============================================");
    EXPECT_EQ(block.Joined(),
              "\n=========== [System Information] =============="
              "\nMotherBoard : Kestrel Boards - KB-450"
              "\nSystem Name : SIM-PC"
              "\nIP Address  : 192.168.1.20, fd00::20"
              "\n===============================================");
}

TEST(SystemInfoBlock, UnknownValuesLeaveTheLabels) {
    const SystemInfoBlock block = BuildSystemInfoBlock(sim::FixedManagementQuery({}));
    EXPECT_EQ(block.lines[1], "\nMotherBoard :  - ");
    EXPECT_EQ(block.lines[2], "\nSystem Name : ");
    EXPECT_EQ(block.lines[3], "\nIP Address  : ");
}

TEST(SystemInfoBlock, DoubleClickShowsTheJoinedLinesOnce) {
    const SystemInfoBlock block =
        BuildSystemInfoBlock(sim::FixedManagementQuery({.boardVendor = "", .boardName = "", .systemName = "SIM-PC", .ipAddresses = {"10.0.0.5"}}));
    RecordingMessageBoxes boxes;
    ShowSystemInfo(boxes, block);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].caption, "System Information");
    EXPECT_EQ(boxes.shown[0].text, block.Joined());
    EXPECT_EQ(boxes.shown[0].buttons, MessageButtons::Ok);
}

TEST(ComSetup, SecurityFailureIsReportedAndEndsStartUp) {
    RecordingMessageBoxes boxes;
    ComSetup working;
    EXPECT_TRUE(InitializeComSecurity(working, boxes));
    EXPECT_TRUE(boxes.shown.empty());

    ComSetup failing(ComSetup::Security::Fails);
    EXPECT_FALSE(InitializeComSecurity(failing, boxes));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "CoInitializeSecurity error!");
}

}  // namespace
}  // namespace kestrel
