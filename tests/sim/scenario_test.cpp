// Scenario files: the documented example and the built-in demo load, and
// malformed ones are refused with the file, the place and what was expected.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <sys/stat.h>

#include "app/device_io_choice.h"
#include "sim/scenario.h"
#include "sim/simulated_pc.h"

namespace kestrel::sim {
namespace {

std::string Error(const std::string& json) {
    const ScenarioLoad load = ParseScenario(json, "lab.json", ".");
    EXPECT_FALSE(load.scenario) << json;
    return load.error;
}

TEST(ScenarioTest, DocumentedExampleAndDemoLoad) {
    QFile doc(KESTREL_SOURCE_DIR "/docs/scenario.md");
    ASSERT_TRUE(doc.open(QIODevice::ReadOnly));
    const std::string text = doc.readAll().toStdString();
    const size_t start = text.find("```json\n") + 8;
    const std::string example = text.substr(start, text.find("```", start) - start);
    const ScenarioLoad load = ParseScenario(example, "scenario.md", ".");
    ASSERT_TRUE(load.scenario) << load.error;
    EXPECT_EQ(load.scenario->enclosures.size(), 3u);
    EXPECT_EQ(load.scenario->timeline.size(), 14u);
    EXPECT_EQ(load.scenario->timeline[4].lbas, (std::vector<uint32_t>{12345, 0x1F00}));
    EXPECT_EQ(load.scenario->timeline[9].times, 3);
    EXPECT_FALSE(load.scenario->enclosures[1].paths.shift1);
    EXPECT_EQ(load.scenario->drives[2].paths->mailbox, true);
    EXPECT_EQ(load.scenario->drives[2].paths->ata, false);

    const ScenarioLoad numbers = ParseScenario(
        R"({"enclosures": [{"name": "x", "status": {"diskState": "0x2A", "progress": "010", "fanRpm": 65535}}]})", "n", ".");
    ASSERT_TRUE(numbers.scenario) << numbers.error;
    const auto& fields = numbers.scenario->enclosures[0].status;
    ASSERT_EQ(fields.size(), 3u);
    EXPECT_EQ(std::get<uint64_t>(fields[0].value), 0x2Au);
    EXPECT_EQ(std::get<uint64_t>(fields[2].value), 10u) << "decimal, not octal";

    const ScenarioLoad demo = BuiltInScenario();
    ASSERT_TRUE(demo.scenario) << demo.error;
    EXPECT_EQ(demo.scenario->host.systemName, "DEMO-PC");
    EXPECT_EQ(demo.scenario->enclosures.size(), 2u);
}

TEST(ScenarioTest, MalformedScenariosSayWhereAndWhat) {
    EXPECT_EQ(Error("{\n  \"drives\": [\n    {\"number\": 1,}\n]}"), "lab.json:3:19: object is missing after a comma");
    EXPECT_EQ(Error("[1]"), "lab.json: top level: expected an object");
    EXPECT_EQ(Error(R"({"drive": []})").rfind("lab.json: drive: unknown key; expected one of host, drives", 0), 0u);
    EXPECT_EQ(Error(R"({"drives": [{"number": 10}]})"), "lab.json: drives[0].number: expected a whole number from 0 to 9");
    EXPECT_EQ(Error(R"({"drives": [{"number": 1}, {"number": 1}]})"),
              "lab.json: drives[1].number: expected a drive number not used before");
    EXPECT_EQ(Error(R"({"drives": [{"number": 1, "enclosure": "nope"}]})"),
              "lab.json: drives[0].enclosure: expected the name of an enclosure");
    EXPECT_EQ(Error(R"({"volumes": [{"letter": "c"}]})"),
              "lab.json: volumes[0].letter: expected one upper-case drive letter A-Z");
    EXPECT_EQ(Error(R"({"volumes": [{"letter": "E", "disk": 4}]})"),
              "lab.json: volumes[0].disk: expected the number of a drive in \"drives\"");
    EXPECT_EQ(Error(R"({"enclosures": [{"name": "x", "status": {"diskState": 300}}]})"),
              "lab.json: enclosures[0].status.diskState: expected a whole number from 0 to 255");
    EXPECT_EQ(Error(R"({"enclosures": [{"name": "x", "status": {"firmwareCode": "AB"}}]})"),
              "lab.json: enclosures[0].status.firmwareCode: expected a text of exactly 3 characters");
    EXPECT_EQ(Error(R"({"enclosures": [{"name": "x", "status": {"speed": 1}}]})"),
              "lab.json: enclosures[0].status.speed: unknown status field");
    EXPECT_EQ(Error(R"({"enclosures": [{"name": "x", "paths": ["usb"]}]})"),
              "lab.json: enclosures[0].paths[0]: expected \"ata\", \"mailbox\" or \"bridge\"");
    EXPECT_EQ(Error(R"({"timeline": [{"action": "quit"}]})"),
              "lab.json: timeline[0]: expected exactly one of \"at\" (milliseconds) and \"afterStatusReads\"");
    EXPECT_EQ(Error(R"({"timeline": [{"at": 5, "action": "pull-disk"}]})"),
              "lab.json: timeline[0].enclosure: expected the name of the enclosure this step changes");
    EXPECT_EQ(Error(R"({"enclosures": [{"name": "x"}], "timeline": [{"at": 5, "enclosure": "x", "action": "explode"}]})")
                  .rfind("lab.json: timeline[0].action: expected one of set, pull-disk", 0),
              0u);
    EXPECT_EQ(Error(R"({"timeline": [{"at": 5, "action": "fail", "request": "everything"}]})")
                  .rfind("lab.json: timeline[0].request: expected a request kind: open, inquiry", 0),
              0u);
}

TEST(ScenarioTest, FlashImageFileIsReadBesideTheScenario) {
    QTemporaryDir dir;
    QFile image(dir.filePath("image.bin"));
    ASSERT_TRUE(image.open(QIODevice::WriteOnly));
    QByteArray bytes(0x80000, '\x00');
    bytes[0x1234] = 0x5A;
    image.write(bytes);
    image.close();
    QFile scenario(dir.filePath("s.json"));
    ASSERT_TRUE(scenario.open(QIODevice::WriteOnly));
    scenario.write(R"({"enclosures": [{"name": "x", "flashImage": "image.bin"}]})");
    scenario.close();
    const ScenarioLoad load = LoadScenarioFile(scenario.fileName().toStdString());
    ASSERT_TRUE(load.scenario) << load.error;
    SimulatedPc pc(*load.scenario);
    EXPECT_EQ(pc.FlashOf("x")->at(0x1234), 0x5A);

    image.open(QIODevice::WriteOnly | QIODevice::Truncate);
    image.write("FIPS");
    image.close();
    const ScenarioLoad shortImage = LoadScenarioFile(scenario.fileName().toStdString());
    EXPECT_NE(shortImage.error.find("enclosures[0].flashImage: expected a file of 524288 bytes"), std::string::npos)
        << shortImage.error;
    const ScenarioLoad missing = LoadScenarioFile(dir.filePath("none.json").toStdString());
    EXPECT_NE(missing.error.find("none.json: cannot open the scenario file"), std::string::npos);

    // Not regular files: refused before any byte is read (a device without
    // end, a FIFO that no one writes would block).
    const std::string fifo = dir.filePath("pipe").toStdString();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& name : {std::string("/dev/zero"), fifo}) {
        const ScenarioLoad refused =
            ParseScenario(R"({"enclosures": [{"name": "x", "flashImage": ")" + name + R"("}]})", "lab.json", ".");
        EXPECT_EQ(refused.error, "lab.json: enclosures[0].flashImage: expected a regular file; " + name + " is not one");
    }
}

TEST(ScenarioTest, RefusalsStayOneLine) {
    EXPECT_EQ(Error("{\"dri\\r\\nve\\u001b[2J\": []}").rfind("lab.json: dri\\r\\nve\\x1B[2J: unknown key;", 0), 0u);
    const std::string text = Error(R"({"enclosures": [{"name": "x", "flashImage": "two\nlines"}]})");
    EXPECT_EQ(text.find('\n'), std::string::npos) << text;
    // Found by fuzz_scenario: the C1 controls (U+0080 to U+009F, which some
    // terminals obey) went out as they were.
    EXPECT_EQ(Error("{\"timeline\": [{\"I\u0094\u009b2J\": 1}]}").rfind("lab.json: timeline[0].I\\x94\\x9B2J: unknown key;", 0), 0u);
}

TEST(ScenarioTest, DefaultImageIsAValidFirmwareImage) {
    const std::vector<uint8_t> image = MakeDefaultFlashImage();
    ASSERT_EQ(image.size(), 0x80000u);
    EXPECT_EQ(std::string(image.begin(), image.begin() + 4), "FIPS");
    EXPECT_EQ(image[16] | image[17] << 8 | image[18] << 16, 0x78000);
    const uint8_t* record = image.data() + 0x78000;
    EXPECT_EQ(record[1], 0xA0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(record + 114)), "VOLTRA");
    EXPECT_EQ(record[254] | record[255] << 8, RecordChecksum(record));
    EXPECT_TRUE(std::all_of(image.begin() + 0x78100, image.end(), [](uint8_t b) { return b == 0xFF; }));
}

}  // namespace
}  // namespace kestrel::sim

namespace kestrel {
namespace {

TEST(DeviceIoChoiceTest, SimulatedRealOrRefused) {
    const DeviceIoChoice demo = ChooseDeviceIo(true, "");
    ASSERT_TRUE(demo.io);
    ASSERT_NE(demo.simulated, nullptr);
    EXPECT_EQ(demo.simulated->Host().systemName, "DEMO-PC");
    const DeviceIoChoice refused = ChooseDeviceIo(true, "/nonexistent/lab.json");
    EXPECT_FALSE(refused.io);
    EXPECT_EQ(refused.error, "/nonexistent/lab.json: cannot open the scenario file");
    const DeviceIoChoice real = ChooseDeviceIo(false, "");
    EXPECT_TRUE(real.io);
    EXPECT_EQ(real.simulated, nullptr);
}

}  // namespace
}  // namespace kestrel
