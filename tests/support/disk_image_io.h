#pragma once
// Plain disks with contents beside a simulated PC: physical drives given
// here are disks holding their image (READ(10) and WRITE(10) move its
// blocks, INQUIRY answers as a plain disk, everything else is refused as an
// unknown command); every other path goes to the inner DeviceIo.
#include <algorithm>
#include <map>
#include <vector>

#include "platform/device_io.h"
#include "platform/pass_through.h"
#include "wire/byte_order.h"

namespace kestrel::testing {

class DiskImageIo final : public DeviceIo {
public:
    explicit DiskImageIo(DeviceIo& inner) : inner_(inner) {}

    // Drive n holds this image (a whole number of 512-byte blocks).
    void AddDisk(unsigned number, std::vector<uint8_t> image) { images_[number] = std::move(image); }
    const std::vector<uint8_t>& Image(unsigned number) const { return images_.at(number); }
    unsigned writes = 0;  // WRITE(10) requests that reached an image

    DeviceHandle Open(const std::string& path) override {
        unsigned number = 0;
        if (ParsePhysicalDrivePath(path, number) && images_.count(number)) {
            const DeviceHandle h = kFirstHandle + static_cast<DeviceHandle>(number);
            return h;
        }
        return inner_.Open(path);
    }
    bool Control(DeviceHandle handle, uint32_t code, std::span<uint8_t> buffer, size_t inLength,
                 size_t& returned) override {
        if (handle < kFirstHandle) return inner_.Control(handle, code, buffer, inLength, returned);
        std::vector<uint8_t>& image = images_.at(static_cast<unsigned>(handle - kFirstHandle));
        returned = 0;
        if (code == ioctl::kScsiRescanBus) return true;
        if (code == ioctl::kIdePassThrough) return false;  // the disk refuses ATA PASS-THROUGH
        if (code != ioctl::kScsiPassThroughDirect) return false;
        const auto r = passthrough::DecodeScsi(buffer, inLength);
        if (!r) return false;
        returned = passthrough::scsi::kBlockSize;
        const uint8_t op = r->cdb[0];
        if (op == 0x28 || op == 0x2A) {
            const size_t at = size_t{bytes::GetBe32(&r->cdb[2])} * 512;
            const size_t length = size_t{r->cdb[8]} * 512;
            if (at + length > image.size() || length != r->transferLength) return Refuse(buffer);
            if (op == 0x28) std::copy_n(image.begin() + static_cast<long>(at), length, r->data);
            else std::copy_n(r->data, length, image.begin() + static_cast<long>(at)), ++writes;
            passthrough::CompleteScsi(buffer, 0, r->transferLength);
            return true;
        }
        if (op == 0x12 && r->transferLength >= 36) {
            std::fill_n(r->data, 36, uint8_t{0});
            r->data[4] = 0x5B;  // a plain disk's additional length
            passthrough::CompleteScsi(buffer, 0, 36);
            return true;
        }
        return Refuse(buffer);
    }
    void Close(DeviceHandle handle) override {
        if (handle < kFirstHandle) inner_.Close(handle);
    }
    uint32_t LogicalDrives() override { return inner_.LogicalDrives(); }
    unsigned DriveType(const std::string& root) override { return inner_.DriveType(root); }

private:
    static constexpr DeviceHandle kFirstHandle = 1 << 20;
    static bool Refuse(std::span<uint8_t> buffer) {
        // CHECK CONDITION, ILLEGAL REQUEST, invalid command operation code.
        const uint8_t sense[18] = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0x00};
        passthrough::CompleteScsi(buffer, 0x02, 0, sense);
        return true;
    }
    DeviceIo& inner_;
    std::map<unsigned, std::vector<uint8_t>> images_;
};

}  // namespace kestrel::testing
