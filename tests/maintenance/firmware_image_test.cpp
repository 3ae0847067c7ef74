// Loading a firmware image: what is accepted, the checksum shown, the boxes
// for bad files and read errors, and that a failed load leaves no image.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>
#include <tuple>
#include <sys/stat.h>

#include "maintenance/firmware_image.h"
#include "sim/controller.h"
#include "support/recording_ui.h"

namespace kestrel {
namespace {

// A file served from memory that fails reads where a test says.
class ScriptedFile final : public ImageFile {
public:
    explicit ScriptedFile(std::function<uint8_t(uint64_t)> byte, int64_t size) : byte_(std::move(byte)), size_(size) {}
    bool Open(const std::string&) override { return true; }
    int64_t Size() override { return size_; }
    int64_t ReadAt(uint64_t offset, std::span<uint8_t> out) override {
        ++reads;
        if (failAt && offset == *failAt && failuresLeft != 0) {
            if (failuresLeft > 0) --failuresLeft;
            return -1;
        }
        const uint64_t n = std::min<uint64_t>(out.size(), static_cast<uint64_t>(size_) - offset);
        for (uint64_t i = 0; i < n; ++i) out[i] = byte_(offset + i);
        return static_cast<int64_t>(n);
    }
    std::optional<uint64_t> failAt;
    int failuresLeft = 0;  // -1: every time
    int reads = 0;

private:
    std::function<uint8_t(uint64_t)> byte_;
    int64_t size_;
};

class FirmwareImageTest : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string path = dir_.filePath(QString::fromStdString(name)).toStdString();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                     static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    bool Load(const std::string& path) {
        auto file = OpenRealImageFile();
        return LoadFirmwareImage(path, image_, {bar_, boxes_}, *file);
    }
    bool Load(ImageFile& file) { return LoadFirmwareImage("scripted.bin", image_, {bar_, boxes_}, file); }
    static std::vector<uint8_t> Accepted(size_t size = kImageFlashSize) {
        std::vector<uint8_t> b(size, 0);
        b[0] = 'F', b[1] = 'I', b[2] = 'P', b[3] = 'S';
        if (size > kImageConfigVersion) b[kImageConfigVersion] = 0xA0;
        return b;
    }
    void ExpectNotCorrect() {
        ASSERT_FALSE(boxes_.shown.empty());
        EXPECT_EQ(boxes_.shown.back().text, "The firmware file is not correct.\nPlease check it.");
        EXPECT_EQ(boxes_.shown.back().caption, "Error");
        EXPECT_EQ(boxes_.shown.back().icon, MessageIcon::Error);
        EXPECT_FALSE(image_.Loaded());
        EXPECT_EQ(image_.Length(), 0u);
    }

    QTemporaryDir dir_;
    FirmwareImage image_;
    MemoryStatusBar bar_;
    testing::RecordingMessageBoxes boxes_;
};

TEST_F(FirmwareImageTest, AcceptsMagicAndVersionWhateverElseAndShowsTheSum) {
    std::vector<uint8_t> b = Accepted();
    // 'F'+'I'+'P'+'S' + 0xA0 = 0x1D2; make the whole sum 0x1A2F0.
    uint32_t missing = 0x1A2F0 - 0x1D2;
    for (size_t i = 0x100; missing > 0; ++i) {
        b[i] = static_cast<uint8_t>(std::min<uint32_t>(missing, 0x77));
        missing -= b[i];
    }
    const std::string path = Write("fw.bin", b);
    ASSERT_TRUE(Load(path));
    EXPECT_TRUE(boxes_.shown.empty());
    EXPECT_EQ(image_.bytes, b);
    EXPECT_EQ(bar_.Panel(0), "Chksum:0001A2F0");
    EXPECT_EQ(bar_.Panel(4), "File:" + path);

    // The simulator's own image is one a user may load.
    ASSERT_TRUE(Load(Write("sim.bin", sim::MakeDefaultFlashImage())));
}

TEST_F(FirmwareImageTest, RefusesWhatIsNoImage) {
    std::vector<uint8_t> wrongMagic = Accepted();
    wrongMagic[3] = 'T';
    std::vector<uint8_t> wrongVersion = Accepted();
    wrongVersion[kImageConfigVersion] = 0xA1;
    // The box only says the file is wrong; panel 4 says why.
    const std::vector<std::tuple<const char*, std::vector<uint8_t>, std::string>> cases = {
        {"empty", {}, "wrong size: 0 bytes, not 524288"},
        {"wrong magic", wrongMagic, "it does not begin with \"FIPS\""},
        {"wrong version", wrongVersion, "configuration version 0xA1, not 0xA0"},
        {"ends before the version byte", Accepted(0x78001), "wrong size: 491521 bytes, not 524288"},
        // Passes magic and version, but the upgrade would program past its end.
        {"short of the flash size", Accepted(0x78002), "wrong size: 491522 bytes"},
        {"one byte short", Accepted(kImageFlashSize - 1), "wrong size: 524287 bytes"},
    };
    for (const auto& [name, bytes, why] : cases) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(Load(Write("good.bin", Accepted())));
        boxes_.shown.clear();
        EXPECT_FALSE(Load(Write("bad.bin", bytes)));
        ExpectNotCorrect();
        EXPECT_EQ(bar_.Panel(4).rfind("Not a firmware image: " + why, 0), 0u) << bar_.Panel(4);
    }
}

TEST_F(FirmwareImageTest, LongerFileKeepsTheFlashSizeAndSumsEverything) {
    std::vector<uint8_t> b = Accepted(kImageFlashSize + 1000);
    std::fill(b.begin() + kImageFlashSize, b.end(), uint8_t{1});
    ASSERT_TRUE(Load(Write("long.bin", b)));
    EXPECT_EQ(image_.Length(), kImageFlashSize);
    EXPECT_TRUE(std::equal(image_.bytes.begin(), image_.bytes.end(), b.begin()));
    EXPECT_EQ(bar_.Panel(0), ChecksumText(0x1D2 + 1000));
}

TEST_F(FirmwareImageTest, SumWrapsAt32BitsWithoutHoldingTheFile) {
    // 17,000,000 bytes of 0xFF sum to 4,335,000,000, which wraps to 0x0262D9C0.
    ScriptedFile file([](uint64_t) { return uint8_t{0xFF}; }, 17000000);
    EXPECT_FALSE(Load(file));
    EXPECT_EQ(bar_.Panel(0), "Chksum:0262D9C0");
    ExpectNotCorrect();
}

TEST_F(FirmwareImageTest, UnopenableFileLeavesNoImage) {
    ASSERT_TRUE(Load(Write("good.bin", Accepted())));
    const std::string fifo = dir_.filePath("pipe.bin").toStdString();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {dir_.filePath("missing.bin").toStdString(), dir_.path().toStdString(), fifo}) {
        boxes_.shown.clear();
        EXPECT_FALSE(Load(path));
        ASSERT_EQ(boxes_.shown.size(), 1u);
        EXPECT_EQ(boxes_.shown[0].text, "Fail to open firmware file");
        EXPECT_EQ(boxes_.shown[0].caption, "Error");
        EXPECT_EQ(boxes_.shown[0].icon, MessageIcon::Error);
        EXPECT_FALSE(image_.Loaded());
        EXPECT_EQ(bar_.Panel(4), "File:" + path);
    }
}

TEST_F(FirmwareImageTest, ReadErrorIsReportedAndRetriedThenGivenUp) {
    const std::vector<uint8_t> good = Accepted();
    auto byte = [&good](uint64_t i) { return good[i]; };

    ScriptedFile once(byte, kImageFlashSize);
    once.failAt = 0x10000;
    once.failuresLeft = 1;
    ASSERT_TRUE(Load(once));
    ASSERT_EQ(boxes_.shown.size(), 1u);
    EXPECT_EQ(boxes_.shown[0].text, "Error read from Source file. ByteCount = 65536");
    EXPECT_EQ(boxes_.shown[0].caption, "Warning:");
    EXPECT_EQ(image_.bytes, good);

    boxes_.shown.clear();
    ScriptedFile always(byte, kImageFlashSize);
    always.failAt = 0x20000;
    always.failuresLeft = -1;
    EXPECT_FALSE(Load(always));
    ASSERT_EQ(boxes_.shown.size(), static_cast<size_t>(kImageReadTries) + 1);
    for (int i = 0; i < kImageReadTries; ++i)
        EXPECT_EQ(boxes_.shown[static_cast<size_t>(i)].text, "Error read from Source file. ByteCount = 131072");
    EXPECT_EQ(boxes_.shown.back().text, "Fail to open firmware file");
    EXPECT_FALSE(image_.Loaded());
}

}  // namespace
}  // namespace kestrel
