// Detection's decoding of what drives answer, and the status record search
// over a bridge's flash area. The first input byte chooses which.
//
// Detection: a PC whose drives answer every request with the input's bytes
// (success or failure, SCSI status, transfer length, the data, the
// registers), through the real transport. Properties: the probe list and
// the member tables stay within their limits, in ascending drive order,
// each drive once; the committed list equals the probe list; the labels and
// caption are clean text and the capability flags follow the revision.
//
// Record search: a flash area whose 128 records are written or erased as the
// input says. Properties: the record read is the one before the first
// erased record after the first written one (the last one when none), every
// request stays inside the area, and the buffer holds that record.
#include <algorithm>
#include <cstring>
#include <set>

#include "device/detection.h"
#include "device/device_labels.h"
#include "device/routes.h"
#include "device/status_reader.h"
#include "device/transport.h"
#include "platform/pass_through.h"
#include "wire/status_sector.h"
#include "fuzz_support.h"

using namespace kestrel;
using fuzz::Shown;

namespace {

class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t Take() { return at_ < size_ ? data_[at_++] : 0; }
    void Fill(uint8_t* out, size_t n) {
        const size_t k = std::min(n, size_ - at_);
        if (k) std::memcpy(out, data_ + at_, k);
        std::memset(out + k, 0, n - k);
        at_ += k;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// Drives that answer with the input. Mode byte of each request: bit 0 the
// request fails; bit 1 CHECK CONDITION; bit 2 a short transfer; bit 3 the
// data carries the controller signature; bit 4 the data is all 0xFF.
class ScriptedPc final : public DeviceIo {
public:
    explicit ScriptedPc(Input& in) : in_(in) {}
    DeviceHandle Open(const std::string& path) override {
        unsigned number = 0;
        char letter = 0;
        if (!ParsePhysicalDrivePath(path, number) && !ParseVolumePath(path, letter))
            fuzz::Fail("open of a path that is neither a drive nor a volume", __FILE__, __LINE__, Shown(path));
        return (in_.Take() & 7) ? 5 : kInvalidHandle;
    }
    bool Control(DeviceHandle handle, uint32_t code, std::span<uint8_t> buffer, size_t inLength,
                 size_t& returned) override {
        FUZZ_CHECK(handle == 5, "request on a handle that is not open");
        returned = 0;
        const uint8_t mode = in_.Take();
        if (mode & 1) return false;
        switch (code) {
        case ioctl::kScsiPassThroughDirect: {
            const auto request = passthrough::DecodeScsi(buffer, inLength);
            FUZZ_CHECK(request.has_value(), "malformed SCSI pass-through block");
            uint32_t moved = request->transferLength;
            if (mode & 4) moved = static_cast<uint32_t>(uint64_t{moved} * in_.Take() / 256);
            if (request->DataIn() && request->data) Answer(mode, request->data, moved);
            passthrough::CompleteScsi(buffer, (mode & 2) ? 2 : 0, moved);
            returned = buffer.size();
            return true;
        }
        case ioctl::kIdePassThrough: {
            const auto request = passthrough::DecodeIde(buffer, inLength);
            FUZZ_CHECK(request.has_value(), "malformed IDE pass-through buffer");
            if (request->data) Answer(mode, request->data, request->dataSize);
            passthrough::AtaReturned r;
            r.status = (mode & 2) ? 0x51 : 0x50;
            r.error = in_.Take();
            passthrough::PutReturned(r, buffer);
            returned = buffer.size();
            return true;
        }
        case ioctl::kScsiRescanBus:
            return true;
        case ioctl::kVolumeDiskExtents: {
            passthrough::DiskExtent e;
            e.diskNumber = in_.Take() % 12;
            e.length = in_.Take();
            if (!passthrough::EncodeExtent(e, buffer)) return false;
            returned = passthrough::extents::kSize;
            return true;
        }
        }
        fuzz::Fail("unknown control code", __FILE__, __LINE__, std::to_string(code));
    }
    void Close(DeviceHandle) override {}
    uint32_t LogicalDrives() override {
        uint32_t mask = 0;
        for (int i = 0; i < 4; ++i) mask = mask << 8 | in_.Take();
        return mask;
    }
    unsigned DriveType(const std::string& root) override {
        FUZZ_CHECK(RootPathLetter(root) >= 'C' && RootPathLetter(root) <= 'Z', "root path " + Shown(root));
        return in_.Take() % 7;
    }

private:
    void Answer(uint8_t mode, uint8_t* data, size_t length) {
        if (mode & 16) {
            std::memset(data, 0xFF, length);
            return;
        }
        in_.Fill(data, std::min<size_t>(length, 64));
        if (length > 64) std::memset(data + 64, 0, length - 64);
        // The text fields of an identify block, and the signature.
        if (length >= 512) in_.Fill(data + 46, 48);
        if ((mode & 8) && length >= 512) {
            data[status::kIdentifySignature] = '3';
            data[status::kIdentifySignature + 1] = 'X';
        }
    }
    Input& in_;
};

void Detection(Input& in) {
    ScriptedPc pc(in);
    fuzz::QuietBoxes boxes;
    MemoryStatusBar bar;
    TransportOptions options;
    options.pause = [](std::chrono::milliseconds) {};
    options.random = [] { return 17u; };
    Transport transport(pc, boxes, bar, options);
    StatusReader reader(transport);
    DriveTable drives;
    DriveDetection detection(drives, transport, pc, reader);
    drives.LogicalDriveCount = detection.EnumerateLogicalDrives();
    drives.PhysicalDriveCount = detection.CountPhysicalDrives();
    FUZZ_CHECK(drives.LogicalDriveCount >= 0 && drives.LogicalDriveCount <= DriveTable::kMaxLetters, "letters");
    FUZZ_CHECK(drives.PhysicalDriveCount >= 0 && drives.PhysicalDriveCount <= DriveTable::kPhysicalDrives, "drives");
    const unsigned count = detection.Redetect(true);

    FUZZ_CHECK(count == drives.ProbeCount && count <= DriveTable::kMaxEnclosures, std::to_string(count));
    FUZZ_CHECK(drives.ProbeVolumeCount >= 0 && drives.ProbeVolumeCount <= DriveTable::kMaxVolumes, "volumes");
    for (int v = 0; v < drives.ProbeVolumeCount; ++v)
        FUZZ_CHECK(drives.ProbeVolumeTable[static_cast<size_t>(v)].letter >= 'C' &&
                       drives.ProbeVolumeTable[static_cast<size_t>(v)].letter <= 'Z',
                   "volume letter");
    FUZZ_CHECK(drives.ResponderCount <= DriveTable::kPhysicalDrives, "responders");
    std::set<unsigned> seen;
    unsigned grouped = 0;
    int lastDrive = -1;
    for (unsigned l = 0; l < count; ++l) {
        const uint32_t flags = drives.ProbeFlags[l];
        FUZZ_CHECK(flags >= 0x10 && flags <= 0xFF, "probe flags " + std::to_string(flags));
        FUZZ_CHECK(!(flags & access::kCdbShift1) || (flags & access::kBridgeCdb), "shift 1 without the bridge");
        const unsigned drive = access::DriveOf(flags);
        FUZZ_CHECK(drive < DriveTable::kPhysicalDrives && static_cast<int>(drive) > lastDrive, "probe drive order");
        lastDrive = static_cast<int>(drive);
        FUZZ_CHECK(seen.insert(drive).second, "drive listed twice");
        if (l < DriveTable::kMaxMembers) {
            FUZZ_CHECK(drives.MemberCount[l] < DriveTable::kPhysicalDrives, "member count");
            for (unsigned m = 0; m < drives.MemberCount[l]; ++m) {
                const unsigned member = drives.MemberDrive[l][m];
                FUZZ_CHECK(member < DriveTable::kPhysicalDrives && member > drive, "member drive");
                FUZZ_CHECK(seen.insert(member).second, "member drive listed twice");
                ++grouped;
            }
        }
    }
    FUZZ_CHECK(count + grouped <= drives.ResponderCount, "more entries than responders");

    detection.CommitDetection(true, nullptr);
    FUZZ_CHECK(drives.EnclosureCount == count && drives.EnclosureFlags == drives.ProbeFlags, "commit");
    for (int page : {0, 2}) {
        LabelInputs inputs;
        inputs.currentPage = page;
        inputs.statusPageDevice = 1;
        inputs.deviceChecked = {true, true};
        inputs.baseTitle = "RAID GUI V0.23.6";
        const LabelResult labels = BuildDeviceLabels(drives, inputs);
        FUZZ_CHECK(fuzz::IsCleanLine(labels.caption), "caption " + Shown(labels.caption));
        for (const std::string& hint : labels.hints) FUZZ_CHECK(fuzz::IsCleanLine(hint), "hint " + Shown(hint));
        for (const std::string& label : drives.DeviceLabel)
            FUZZ_CHECK(fuzz::IsCleanLine(label), "label " + Shown(label));
        for (unsigned slot = 0; slot < 2; ++slot) {
            const std::string revision = SlotRevision(drives, slot);
            const FirmwareCapabilities caps = SlotCapabilities(drives, slot);
            const bool numbered = revision.size() >= 7 && revision[6] == '.' &&
                                  std::all_of(revision.begin(), revision.begin() + 6, [](char c) { return c >= '0' && c <= '9'; });
            FUZZ_CHECK(numbered || (!caps.scanReporting && !caps.environmentPanel), "capabilities without a revision");
            FUZZ_CHECK(!caps.environmentPanel || caps.scanReporting, "environment panel without scan reporting");
        }
    }
}

// A bridge whose flash holds 128 status records from 0x78000 to its end.
class FlashBridge final : public DeviceIo {
public:
    static constexpr uint32_t kRecords = 128;
    DeviceHandle Open(const std::string&) override { return 5; }
    bool Control(DeviceHandle, uint32_t code, std::span<uint8_t> buffer, size_t inLength, size_t& returned) override {
        FUZZ_CHECK(code == ioctl::kScsiPassThroughDirect, "not a SCSI request");
        const auto request = passthrough::DecodeScsi(buffer, inLength);
        FUZZ_CHECK(request && request->DataIn() && request->transferLength == 512, "bridge request shape");
        const uint8_t* cdb = request->cdb.data();
        FUZZ_CHECK(cdb[0] == 0xFE && (shift == 1 || cdb[1] == 0xFE), "bridge CDB prefix");
        const uint8_t* tail = cdb + 2 - shift;
        FUZZ_CHECK(tail[0] == 0x85, "not a flash read");
        const uint32_t address = uint32_t{tail[2]} << 16 | uint32_t{tail[3]} << 8 | tail[4];
        FUZZ_CHECK(address >= 0x78000 && address <= 0x7FF00 && address % 256 == 0, "address " + std::to_string(address));
        const bool probe = tail[6] == 1;
        FUZZ_CHECK(!readDone, "a request after the read");
        ++requests;
        if (!probe) {
            readAddress = address;
            readDone = true;
            if (readFails) return false;
        }
        // 512 bytes: this record and the next (erased past the area).
        for (size_t i = 0; i < 512; ++i) request->data[i] = ByteAt(address + static_cast<uint32_t>(i));
        passthrough::CompleteScsi(buffer, 0, 512);
        returned = buffer.size();
        return true;
    }
    void Close(DeviceHandle) override {}
    uint32_t LogicalDrives() override { return 0; }
    unsigned DriveType(const std::string&) override { return 0; }

    uint8_t ByteAt(uint32_t address) const {
        if (address >= 0x80000) return 0xFF;
        const uint32_t record = (address - 0x78000) / 256;
        if (!written[record]) return 0xFF;
        return static_cast<uint8_t>(address % 256 == 0 ? first[record] : (address * 7 + record));
    }

    uint8_t shift = 0;
    bool written[kRecords]{};
    uint8_t first[kRecords]{};
    bool readFails = false;
    bool readDone = false;
    uint32_t readAddress = 0;
    unsigned requests = 0;
};

void RecordSearch(Input& in) {
    FlashBridge flash;
    const uint8_t control = in.Take();
    flash.shift = control & 1;
    flash.readFails = (control & 2) != 0;
    for (uint32_t r = 0; r < FlashBridge::kRecords; ++r) {
        flash.first[r] = in.Take();
        flash.written[r] = flash.first[r] != 0xFF;
    }
    fuzz::QuietBoxes boxes;
    MemoryStatusBar bar;
    Transport transport(flash, boxes, bar);
    FUZZ_CHECK(transport.OpenDevice(1) != kInvalidHandle, "open");
    Block512 buffer{};
    const uint32_t flags = access::kBridgeCdb | (flash.shift ? access::kCdbShift1 : 0) | 1;
    const bool ok = SearchStatusRecord(transport, flags, buffer).ok;

    uint32_t r = 0;
    while (r < FlashBridge::kRecords && !flash.written[r]) ++r;
    while (r < FlashBridge::kRecords && flash.written[r]) ++r;
    const uint32_t expected = 0x78000 + 256 * (r - 1);
    FUZZ_CHECK(flash.readDone && flash.readAddress == expected,
               "read " + std::to_string(flash.readAddress) + ", expected " + std::to_string(expected));
    FUZZ_CHECK(ok == !flash.readFails, "outcome");
    FUZZ_CHECK(flash.requests <= 2 * FlashBridge::kRecords + 1, "requests " + std::to_string(flash.requests));
    if (ok)
        for (uint32_t i = 0; i < 512; ++i)
            FUZZ_CHECK(buffer[i] == flash.ByteAt(expected + i), "byte " + std::to_string(i) + " of the record");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return -1;
    Input in(data + 1, size - 1);
    if (data[0] & 1) RecordSearch(in);
    else Detection(in);
    return 0;
}
