#pragma once
// The firmware image a user loads for an upgrade: the whole content of the
// controller's 512 KiB SPI flash. Loading reads the file, shows its byte sum
// and keeps it only when it looks like an image for this controller.
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/user_interface.h"

namespace kestrel {

inline constexpr uint32_t kImageFlashSize = 0x80000;
inline constexpr uint32_t kImageConfigRecord = 0x78000;
inline constexpr uint32_t kImageConfigVersion = kImageConfigRecord + 1;
inline constexpr uint8_t kAcceptedConfigVersion = 0xA0;

// Panel 0 shows the checksum, panel 4 the file name.
inline constexpr int kChecksumPanel = 0;
inline constexpr int kFilePanel = 4;

// The file dialog's filter, as the open dialog pairs it: text, then pattern.
inline constexpr const char* kImageFileFilter = "Binary code (*.bin)|*.bin|All files (*.*)|*.*";

struct FirmwareImage {
    std::vector<uint8_t> bytes;  // empty when nothing is loaded

    uint32_t Length() const { return static_cast<uint32_t>(bytes.size()); }
    bool Loaded() const { return !bytes.empty(); }
    uint8_t ConfigVersion() const { return bytes.size() > kImageConfigVersion ? bytes[kImageConfigVersion] : 0; }
    void Release() {
        bytes.clear();
        bytes.shrink_to_fit();
    }
};

// Where the loader reads a file from. The real one reads the file system;
// tests give one that fails where they want.
class ImageFile {
public:
    virtual ~ImageFile() = default;
    virtual bool Open(const std::string& path) = 0;
    // Size of the opened file; -1 when it cannot be told.
    virtual int64_t Size() = 0;
    // Reads up to out.size() bytes at offset; the count read, 0 at the end
    // of the file, -1 on a read error.
    virtual int64_t ReadAt(uint64_t offset, std::span<uint8_t> out) = 0;
};
std::unique_ptr<ImageFile> OpenRealImageFile();

// 32-bit byte sum, wrapping; "Chksum:" + 8 upper-case hexadecimal digits.
uint32_t ImageByteSum(std::span<const uint8_t> bytes);
std::string ChecksumText(uint32_t sum);

// True when the bytes pass the checks: magic "FIPS", configuration version
// 0xA0, and the whole flash size (a shorter image would leave the upgrade
// programming bytes that are not there).
bool ImageLooksValid(std::span<const uint8_t> bytes);

// Why bytes read from a file of length bytes are no image for this
// controller ("wrong size: ...", "no \"FIPS\" ...", "configuration version
// ..."); empty when they are one.
std::string ImageProblem(std::span<const uint8_t> bytes, uint64_t length);

// The firmware code an image carries in its configuration record, as the
// enclosure reports its own ("R1A"; "C00" when it is no code).
std::string ImageFirmwareCode(const FirmwareImage& image);

struct ImageLoadPorts {
    StatusBar& bar;
    MessageBoxes& boxes;
    // Hears why an image was refused (the window writes it to standard
    // error; headless, the panel already goes there); may be empty.
    std::function<void(const std::string&)> refused = {};
};

// A read error is reported and retried this many times at the same byte,
// then the load gives up as if the file could not be opened.
inline constexpr int kImageReadTries = 3;

// Loads the file into image. The image is released first, so a failed load
// leaves none. Returns true when the image was accepted.
bool LoadFirmwareImage(const std::string& path, FirmwareImage& image, ImageLoadPorts ports, ImageFile& file);

}  // namespace kestrel
