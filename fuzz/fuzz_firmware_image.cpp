// The firmware image load and its checks, from a file that the input
// describes: its size (the flash size, just around it, tiny, larger, or
// unknown), where reads fail or come short, and the bytes at the start of
// the image and at the configuration record; the rest is a fixed pattern.
//
// Properties: the load succeeds exactly when every byte could be read and
// the file is at least the flash size with "FIPS" and version 0xA0; then
// the image holds the file's first 512 KiB; otherwise no image is held
// (even one loaded before). The checksum shown is the 32-bit sum of every
// byte of the file. A read error names the byte it stopped at, is retried
// at most three times, and a giving-up load says so.
#include <algorithm>
#include <cstring>
#include <map>

#include "maintenance/firmware_image.h"
#include "fuzz_support.h"

using namespace kestrel;
using fuzz::Shown;

namespace {

// The bytes of a file, with the pattern for every byte the input does not
// give; large, so it is made once.
constexpr size_t kLargest = kImageFlashSize + 255 * 4096 + 128;
const std::vector<uint8_t>& Pattern() {
    static const std::vector<uint8_t> pattern = [] {
        std::vector<uint8_t> p(kLargest);
        for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<uint8_t>((i * 31) >> 3);
        return p;
    }();
    return pattern;
}
// Sum of the pattern's first n bytes, for every n.
uint32_t PatternSum(size_t n) {
    static const std::vector<uint32_t> sums = [] {
        std::vector<uint32_t> s(kLargest + 1);
        for (size_t i = 0; i < kLargest; ++i) s[i + 1] = s[i] + Pattern()[i];
        return s;
    }();
    return sums[n];
}

class DescribedFile final : public ImageFile {
public:
    bool Open(const std::string&) override { return opens; }
    int64_t Size() override { return size; }
    int64_t ReadAt(uint64_t offset, std::span<uint8_t> out) override {
        ++reads;
        if (failuresLeft > 0 && reads % failEvery == 0) {
            --failuresLeft;
            failedAt.push_back(offset);
            return -1;
        }
        if (offset >= static_cast<uint64_t>(size)) return 0;
        size_t n = static_cast<size_t>(std::min<uint64_t>(out.size(), static_cast<uint64_t>(size) - offset));
        if (shortReads && n > 1) n = n / 2 + 1;
        std::memcpy(out.data(), Pattern().data() + offset, n);
        Overlay(out.data(), offset, n);
        return static_cast<int64_t>(n);
    }
    // Puts the input's bytes over the pattern in [offset, offset + n).
    void Overlay(uint8_t* out, uint64_t offset, size_t n) const {
        for (size_t i = 0; i < head.size(); ++i)
            if (i >= offset && i < offset + n) out[i - offset] = head[i];
        for (size_t i = 0; i < record.size(); ++i) {
            const uint64_t at = kImageConfigRecord + i;
            if (at >= offset && at < offset + n) out[at - offset] = record[i];
        }
    }
    uint8_t ByteAt(uint64_t at) const {
        uint8_t b = Pattern()[at];
        Overlay(&b, at, 1);
        return b;
    }
    uint32_t Sum() const {
        uint32_t sum = PatternSum(static_cast<size_t>(size));
        for (size_t i = 0; i < head.size() && i < static_cast<size_t>(size); ++i) sum += head[i] - Pattern()[i];
        for (size_t i = 0; i < record.size(); ++i) {
            const uint64_t at = kImageConfigRecord + i;
            if (at >= head.size() && at < static_cast<uint64_t>(size)) sum += record[i] - Pattern()[at];
        }
        return sum;
    }

    bool opens = true;
    int64_t size = 0;
    bool shortReads = false;
    int failuresLeft = 0;
    unsigned failEvery = 1;
    unsigned reads = 0;
    std::vector<uint64_t> failedAt;
    std::vector<uint8_t> head, record;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return -1;
    DescribedFile file;
    const uint8_t shape = data[0], faults = data[1];
    const int delta = static_cast<int8_t>(data[2]);
    switch (shape % 8) {
    case 0: file.size = kImageFlashSize; break;
    case 1: file.size = kImageConfigVersion; break;
    case 2: file.size = kImageConfigVersion + 1; break;
    case 3: file.size = int64_t{kImageFlashSize} + delta; break;
    case 4: file.size = static_cast<int64_t>(data[3]) * 7; break;
    case 5: file.size = int64_t{kImageFlashSize} + int64_t{data[3]} * 4096 + delta; break;
    case 6: file.size = -1; break;
    case 7: file.opens = false; file.size = kImageFlashSize; break;
    }
    file.shortReads = (shape & 8) != 0;
    file.failuresLeft = faults & 7;
    file.failEvery = 1u + (faults >> 3);
    const size_t rest = size - 4;
    const uint8_t* body = data + 4;
    const size_t headLength = std::min<size_t>(rest, (shape & 16) ? 8 : rest / 2);
    file.head.assign(body, body + headLength);
    file.record.assign(body + headLength, body + rest);
    if (shape & 32) {  // the bytes the checks look at, right, so that the rest counts
        static const uint8_t magic[] = {'F', 'I', 'P', 'S'};
        if (file.head.size() < 4) file.head.resize(4);
        std::copy(std::begin(magic), std::end(magic), file.head.begin());
        if (file.record.size() < 2) file.record.resize(2);
        file.record[1] = kAcceptedConfigVersion;
    }

    MemoryStatusBar bar;
    fuzz::QuietBoxes boxes;
    FirmwareImage image;
    image.bytes.assign(16, 0xAB);  // an earlier image, which any load lets go
    const bool ok = LoadFirmwareImage("/images/fw.bin", image, ImageLoadPorts{bar, boxes}, file);

    // The file's name, or why a whole read is no image for this controller.
    FUZZ_CHECK(bar.Panel(kFilePanel) == "File:/images/fw.bin" ||
                   (!ok && bar.Panel(kFilePanel).rfind("Not a firmware image: ", 0) == 0),
               Shown(bar.Panel(kFilePanel)));
    // The warnings: one per failed read, naming where it stopped.
    std::vector<std::string> warnings;
    bool gaveUp = false, notCorrect = false;
    for (const auto& box : boxes.shown) {
        if (box.caption == "Warning:") warnings.push_back(box.text);
        else if (box.text == "Fail to open firmware file" && box.caption == "Error") gaveUp = true;
        else if (box.text == "The firmware file is not correct.\nPlease check it." && box.caption == "Error") notCorrect = true;
        else FUZZ_CHECK(false, "box " + Shown(box.text) + " / " + Shown(box.caption));
    }
    FUZZ_CHECK(warnings.size() == file.failedAt.size(), "one warning per failed read");
    std::map<uint64_t, int> triesAt;
    for (size_t i = 0; i < warnings.size(); ++i) {
        FUZZ_CHECK(warnings[i] == "Error read from Source file. ByteCount = " + std::to_string(file.failedAt[i]),
                   Shown(warnings[i]));
        FUZZ_CHECK(++triesAt[file.failedAt[i]] <= kImageReadTries, "more tries than allowed at one byte");
    }
    const bool unreadable = !file.opens || file.size < 0 ||
                            std::any_of(triesAt.begin(), triesAt.end(), [](auto& t) { return t.second >= kImageReadTries; });
    FUZZ_CHECK(gaveUp == unreadable, "gave up " + std::to_string(gaveUp));

    if (unreadable) {
        FUZZ_CHECK(!ok && !image.Loaded() && bar.Panel(kChecksumPanel).empty(), "an unreadable file loaded");
        return 0;
    }
    FUZZ_CHECK(bar.Panel(kChecksumPanel) == ChecksumText(file.Sum()), Shown(bar.Panel(kChecksumPanel)));
    const bool valid = file.size >= kImageFlashSize && file.ByteAt(0) == 'F' && file.ByteAt(1) == 'I' &&
                       file.ByteAt(2) == 'P' && file.ByteAt(3) == 'S' &&
                       file.ByteAt(kImageConfigVersion) == kAcceptedConfigVersion;
    FUZZ_CHECK(ok == valid && notCorrect == !valid, "accepted " + std::to_string(ok));
    if (!ok) {
        FUZZ_CHECK(!image.Loaded() && image.Length() == 0, "a rejected image is held");
        return 0;
    }
    FUZZ_CHECK(image.Length() == kImageFlashSize && image.ConfigVersion() == kAcceptedConfigVersion, "image size");
    std::vector<uint8_t> expected(Pattern().begin(), Pattern().begin() + kImageFlashSize);
    file.Overlay(expected.data(), 0, expected.size());
    FUZZ_CHECK(image.bytes == expected, "the image is not the file's first 512 KiB");
    return 0;
}
