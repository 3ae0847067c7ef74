#include "maintenance/firmware_image.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "wire/status_sector.h"

namespace kestrel {

namespace {

constexpr size_t kReadBlock = 64 * 1024;
constexpr uint8_t kMagic[] = {0x46, 0x49, 0x50, 0x53};  // "FIPS"

class PosixImageFile final : public ImageFile {
public:
    ~PosixImageFile() override {
        if (fd_ >= 0) ::close(fd_);
    }
    bool Open(const std::string& path) override {
        // Non-blocking, so that a named pipe cannot hang the window.
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd_ < 0) return false;
        struct stat info {};
        // Folders, pipes and devices open for reading but hold no image.
        if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
            ::close(fd_);
            fd_ = -1;
            return false;
        }
        return true;
    }
    int64_t Size() override {
        struct stat info {};
        return fd_ >= 0 && ::fstat(fd_, &info) == 0 ? static_cast<int64_t>(info.st_size) : -1;
    }
    int64_t ReadAt(uint64_t offset, std::span<uint8_t> out) override {
        ssize_t n;
        do n = ::pread(fd_, out.data(), out.size(), static_cast<off_t>(offset));
        while (n < 0 && errno == EINTR);
        return n;
    }

private:
    int fd_ = -1;
};

void FailToOpen(ImageLoadPorts ports) { ports.boxes.ShowWithIcon("Fail to open firmware file", "Error", MessageIcon::Error); }

}  // namespace

std::unique_ptr<ImageFile> OpenRealImageFile() { return std::make_unique<PosixImageFile>(); }

uint32_t ImageByteSum(std::span<const uint8_t> bytes) {
    uint32_t sum = 0;
    for (uint8_t b : bytes) sum += b;
    return sum;
}

std::string ChecksumText(uint32_t sum) {
    char text[24];
    std::snprintf(text, sizeof text, "Chksum:%08X", static_cast<unsigned>(sum));
    return text;
}

bool ImageLooksValid(std::span<const uint8_t> bytes) { return ImageProblem(bytes, bytes.size()).empty(); }

std::string ImageProblem(std::span<const uint8_t> bytes, uint64_t length) {
    if (length < kImageFlashSize || bytes.size() < kImageFlashSize)
        return "wrong size: " + std::to_string(length) + " bytes, not " + std::to_string(kImageFlashSize);
    if (!std::equal(std::begin(kMagic), std::end(kMagic), bytes.begin()))
        return "it does not begin with \"FIPS\"";
    if (bytes[kImageConfigVersion] != kAcceptedConfigVersion) {
        char text[80];
        std::snprintf(text, sizeof text, "configuration version 0x%02X, not 0x%02X",
                      static_cast<unsigned>(bytes[kImageConfigVersion]), static_cast<unsigned>(kAcceptedConfigVersion));
        return text;
    }
    return {};
}

std::string ImageFirmwareCode(const FirmwareImage& image) {
    // The enclosure's status record begins with its copy of this record.
    Block512 record{};
    if (image.Length() >= kImageConfigRecord + 256)
        std::copy_n(image.bytes.begin() + kImageConfigRecord, 256, record.begin());
    return status::FirmwareText(record);
}

bool LoadFirmwareImage(const std::string& path, FirmwareImage& image, ImageLoadPorts ports, ImageFile& file) {
    ports.bar.SetPanel(kFilePanel, "File:" + path);
    image.Release();
    if (!file.Open(path)) {
        FailToOpen(ports);
        return false;
    }
    const int64_t size = file.Size();
    if (size < 0) {
        FailToOpen(ports);
        return false;
    }
    // The sum covers the whole file, but only the flash's worth is kept:
    // the upgrade programs no more, and a large file chosen by mistake does
    // not have to fit in memory.
    const uint64_t length = static_cast<uint64_t>(size);
    std::vector<uint8_t> bytes(static_cast<size_t>(std::min<uint64_t>(length, kImageFlashSize)));
    std::vector<uint8_t> spill;
    uint32_t sum = 0;
    uint64_t done = 0;
    int failures = 0;
    while (done < length) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kReadBlock, length - done));
        std::span<uint8_t> into;
        if (done < bytes.size()) {
            into = std::span<uint8_t>(bytes).subspan(static_cast<size_t>(done));
            if (into.size() > want) into = into.first(want);
        } else {
            spill.resize(want);
            into = spill;
        }
        const int64_t got = file.ReadAt(done, into);
        if (got > 0) {
            const auto read = std::span<const uint8_t>(into.data(), static_cast<size_t>(got));
            sum += ImageByteSum(read);
            done += static_cast<uint64_t>(got);
            failures = 0;
            continue;
        }
        // A read error, or a file that shrank while being read.
        ports.boxes.ShowWithIcon("Error read from Source file. ByteCount = " + std::to_string(done), "Warning:",
                                 MessageIcon::Error);
        if (++failures >= kImageReadTries) {
            FailToOpen(ports);
            return false;
        }
    }
    ports.bar.SetPanel(kChecksumPanel, ChecksumText(sum));
    if (const std::string problem = ImageProblem(bytes, length); !problem.empty()) {
        // The box says only that it is wrong; the panel and standard error
        // say why.
        const std::string why = "Not a firmware image: " + problem;
        ports.bar.SetPanel(kFilePanel, why);
        if (ports.refused) ports.refused(path + ": " + why);
        ports.boxes.ShowWithIcon("The firmware file is not correct.\nPlease check it.", "Error", MessageIcon::Error);
        return false;
    }
    image.bytes = std::move(bytes);
    return true;
}

}  // namespace kestrel
