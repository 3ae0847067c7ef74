#include "app/command_line.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>

namespace kestrel {
namespace {

ParseOutcome Parse(std::vector<std::string> args, bool display = true) {
    args.insert(args.begin(), "kestrel-raid-gui");
    return ParseCommandLine(args, ProductVariant::Raid, display);
}

TEST(CommandLine, DefaultsRunAgainstRealDevicesWithAWindow) {
    const ParseOutcome o = Parse({});
    ASSERT_EQ(o.kind, ParseOutcome::Kind::Run);
    EXPECT_FALSE(o.options.simulate);
    EXPECT_FALSE(o.options.headless);
    EXPECT_DOUBLE_EQ(o.options.timeScale, 1.0);
    EXPECT_TRUE(Parse({}, /*display=*/false).options.headless);
}

TEST(CommandLine, SimulateTakesAnOptionalReadableScenario) {
    QTemporaryDir dir;
    const std::string file = (dir.path() + "/s.json").toStdString();
    std::ofstream(file) << "{}";

    EXPECT_TRUE(Parse({"--simulate"}).options.simulate);
    EXPECT_EQ(Parse({"--simulate"}).options.scenarioFile, "");
    EXPECT_EQ(Parse({"--simulate", file}).options.scenarioFile, file);
    EXPECT_EQ(Parse({"--simulate=" + file}).options.scenarioFile, file);
    EXPECT_EQ(Parse({file, "--simulate", "--headless"}).options.scenarioFile, file);

    const ParseOutcome missing = Parse({"--simulate", file + ".none"});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.err.find("cannot read scenario file"), std::string::npos);
    EXPECT_EQ(Parse({file}).exitCode, 2) << "a scenario needs --simulate";
}

TEST(CommandLine, BadValuesGiveOneLineAndExitCode2) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--time-scale", "0"}, {"--time-scale", "-1"}, {"--time-scale", "fast"}, {"--bogus"},
             {"--log-dir"}, {"--time-scale", "nan"}}) {
        const ParseOutcome o = Parse(args);
        EXPECT_EQ(o.kind, ParseOutcome::Kind::Exit) << args[0];
        EXPECT_EQ(o.exitCode, 2) << args[0];
        EXPECT_EQ(o.err.find('\n'), std::string::npos) << o.err;
        EXPECT_FALSE(o.err.empty());
    }
    EXPECT_DOUBLE_EQ(Parse({"--time-scale", "0.05"}).options.timeScale, 0.05);
}

TEST(CommandLine, QtsOwnOptionsAreLeftToQt) {
    const ParseOutcome o = Parse({"-style", "Fusion", "--simulate", "-reverse", "-platform", "offscreen",
                                  "-display=:1", "--time-scale", "0.5"});
    ASSERT_EQ(o.kind, ParseOutcome::Kind::Run) << o.err;
    EXPECT_TRUE(o.options.simulate);
    EXPECT_EQ(o.options.scenarioFile, "") << "an option's value is not taken for a scenario file";
    EXPECT_DOUBLE_EQ(o.options.timeScale, 0.5);
    EXPECT_EQ(Parse({"-stylish"}).exitCode, 2) << "only Qt's own names";
}

TEST(CommandLine, HelpAndVersionExitZero) {
    const ParseOutcome help = Parse({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* option : {"--simulate", "--headless", "--log-dir", "--registry", "--time-scale"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    EXPECT_EQ(Parse({"--version"}).out, "RAID GUI V0.23.6\n");
}

TEST(CommandLine, ScaledIntervalsNeverReachZero) {
    EXPECT_EQ(ScaledMs(4000, 1.0), 4000);
    EXPECT_EQ(ScaledMs(4000, 0.1), 400);
    EXPECT_EQ(ScaledMs(500, 0.0001), 1);
}

}  // namespace
}  // namespace kestrel
