#pragma once
// A DeviceIo that records every request as it was sent (the bytes of the
// request block, and of an outgoing data buffer) and hands it to an inner
// DeviceIo, or answers it with a test's own function.
#include <algorithm>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "platform/device_io.h"
#include "platform/pass_through.h"

namespace kestrel::testing {

struct IoCall {
    DeviceHandle handle = kInvalidHandle;
    uint32_t code = 0;
    size_t inLength = 0;
    std::vector<uint8_t> block;    // the buffer as sent
    std::vector<uint8_t> outData;  // SCSI data-out bytes as sent
    passthrough::ScsiRequest Scsi() const { return passthrough::DecodeScsi(block, inLength).value(); }
    uint8_t Cdb(size_t i) const { return Scsi().cdb[i]; }
};

class RecordingDeviceIo final : public DeviceIo {
public:
    using Reply = std::function<bool(const IoCall&, std::span<uint8_t>, size_t&)>;
    explicit RecordingDeviceIo(DeviceIo* inner = nullptr) : inner_(inner) {}

    DeviceHandle Open(const std::string& path) override {
        opened.push_back(path);
        if (inner_) return inner_->Open(path);
        return openSucceeds ? 7 : kInvalidHandle;
    }
    bool Control(DeviceHandle handle, uint32_t code, std::span<uint8_t> buffer, size_t inLength,
                 size_t& returned) override {
        IoCall call{handle, code, inLength, {buffer.begin(), buffer.end()}, {}};
        if (code == ioctl::kScsiPassThroughDirect) {
            if (const auto r = passthrough::DecodeScsi(buffer, inLength); r && !r->DataIn() && r->data)
                call.outData.assign(r->data, r->data + r->transferLength);
        }
        calls.push_back(call);
        events.push_back(code == ioctl::kScsiRescanBus ? "rescan" : code == ioctl::kIdePassThrough ? "ide" : "ioctl");
        if (inner_) return inner_->Control(handle, code, buffer, inLength, returned);
        returned = 0;
        return reply ? reply(call, buffer, returned) : false;
    }
    void Close(DeviceHandle handle) override {
        closed.push_back(handle);
        if (inner_) inner_->Close(handle);
    }
    uint32_t LogicalDrives() override { return inner_ ? inner_->LogicalDrives() : logicalMask; }
    unsigned DriveType(const std::string& root) override { return inner_ ? inner_->DriveType(root) : 3; }

    std::vector<IoCall> ScsiCalls() const {
        std::vector<IoCall> out;
        std::copy_if(calls.begin(), calls.end(), std::back_inserter(out),
                     [](const IoCall& c) { return c.code == ioctl::kScsiPassThroughDirect; });
        return out;
    }
    void Clear() {
        calls.clear();
        events.clear();
        opened.clear();
        closed.clear();
    }

    std::vector<IoCall> calls;
    std::vector<std::string> opened;
    std::vector<DeviceHandle> closed;
    std::vector<std::string> events;  // "rescan", "ide", "ioctl", and what the test adds
    Reply reply;
    bool openSucceeds = true;
    uint32_t logicalMask = 0;

private:
    DeviceIo* inner_;
};

// Completes a SCSI request as a device that moved every byte asked for.
inline bool CompleteWhole(std::span<uint8_t> block) {
    const auto r = passthrough::DecodeScsi(block, block.size());
    if (!r) return false;
    passthrough::CompleteScsi(block, 0, r->transferLength);
    return true;
}

}  // namespace kestrel::testing
