#include "kernel/probe.h"

#include <cstdio>
#include <utility>
#include <mutex>

#include "wire/status_sector.h"
#include "device/detection.h"
#include "device/routes.h"
#include "device/status_reader.h"
#include "device/transport.h"
#include "eventlog/status_events.h"

namespace kestrel::kernelloop {

namespace {

class Boxes final : public MessageBoxes {
public:
    MessageAnswer Show(const std::string& text, const std::string&, MessageButtons) override {
        shown += "box \"" + text + "\"\n";
        return MessageAnswer::No;
    }
    bool ShowAsync(const std::string& text, const std::string& caption, MessageButtons buttons,
                   MessageAnswered answered) override {
        const MessageAnswer answer = Show(text, caption, buttons);
        if (answered) answered(answer);
        return true;
    }
    std::string shown;
};

class Bar final : public StatusBar {
public:
    void SetPanel(int index, const std::string& text) override {
        std::lock_guard lock(mutex_);
        if (index >= 0 && index < kPanelCount) panels_[static_cast<size_t>(index)] = text;
    }
    std::string Panel(int index) const override {
        std::lock_guard lock(mutex_);
        return index >= 0 && index < kPanelCount ? panels_[static_cast<size_t>(index)] : std::string();
    }

private:
    mutable std::mutex mutex_;
    std::array<std::string, kPanelCount> panels_;
};

std::string Format(const char* format, auto... values) {
    char line[160];
    std::snprintf(line, sizeof line, format, values...);
    return line;
}

class Alerts final : public AlertSink {
public:
    void ComposeAlert(int kind, int enclosureIndex, int memberDisk) override {
        raised += Format("  alert kind %d enclosure %d disk %d\n", kind, enclosureIndex, memberDisk);
    }
    std::string raised;
};

uint32_t Fnv(std::span<const uint8_t> data) {
    uint32_t hash = 2166136261u;
    for (uint8_t b : data) hash = (hash ^ b) * 16777619u;
    return hash;
}


}  // namespace

const char* ProbeScenario() {
    return R"({
  "enclosures": [
    {"name": "m", "paths": ["mailbox"], "identity": {"model": "MAILBOX BOX", "firmwareRevision": "100126.1"}},
    {"name": "a", "paths": ["ata"], "identity": {"model": "ATA BOX", "firmwareRevision": "090618.2"}},
    {"name": "b", "paths": ["bridge"], "bridgeShifts": [1], "identity": {"model": "BRIDGE BOX"}},
    {"name": "b0", "paths": ["bridge"], "bridgeShifts": [0], "identity": {"model": "OLD BRIDGE"}},
    {"name": "fx", "paths": ["bridge"], "bridgeIdentify": false},
    {"name": "ma", "paths": ["mailbox", "ata"], "identity": {"model": "BOTH BOX"}}
  ],
  "drives": [
    {"number": 0, "enclosure": "m"}, {"number": 1, "enclosure": "a"}, {"number": 2, "enclosure": "b"},
    {"number": 3, "enclosure": "b0"}, {"number": 4, "enclosure": "fx"}, {"number": 5, "enclosure": "ma"},
    {"number": 6}
  ],
  "timeline": [
    {"afterStatusReads": 2, "enclosure": "m", "action": "pull-disk", "disk": 2}
  ]
})";
}

std::string RunProbe(DeviceIo& io) {
    Boxes boxes;
    Bar bar;
    TransportOptions options;
    options.pause = [](std::chrono::milliseconds) {};
    options.random = [n = uint32_t{0}]() mutable { return n++; };
    Transport transport(io, boxes, bar, options);
    DriveTable drives;
    StatusReader reader(transport);
    DriveDetection detection(drives, transport, io, reader);
    Alerts alerts;
    StatusEvents events(alerts);

    std::string report;
    drives.LogicalDriveCount = detection.EnumerateLogicalDrives();
    drives.PhysicalDriveCount = detection.CountPhysicalDrives();
    report += Format("physical drives %d, logical drives %d\n", drives.PhysicalDriveCount, drives.LogicalDriveCount);
    detection.Redetect(true);
    detection.CommitDetection(true, [] {});
    report += Format("enclosures %u\n", drives.EnclosureCount);
    for (unsigned slot = 0; slot < drives.EnclosureCount; ++slot) {
        const uint32_t flags = drives.EnclosureFlags[slot];
        const Block512& identify = drives.IdentifyOfSlot(slot);
        report += Format("D%u flags 0x%02x model \"%s\" firmware \"%s\" members %u\n", slot + 1, flags,
                         status::TrimModel(status::AtaString(identify, status::kIdentifyModel, 40)).c_str(),
                         status::AtaString(identify, status::kIdentifyRevision, 8).c_str(),
                         unsigned{drives.MemberCount[slot % DriveTable::kMaxMembers]});
        for (int read = 1; read <= 2; ++read) {
            Block512 block{};
            const bool ok = reader.ReadFor(flags, block);
            report += Format("  status %d %s mode %s disks 0x%02x hash %08x\n", read, ok ? "ok" : "failed",
                             status::ModeName(block[status::kRaidMode]).c_str(), block[status::kDiskState],
                             Fnv(block));
            // The event log's rules on what the poll would have read.
            if (ok && slot < StatusEvents::kEnclosures)
                events.Apply(slot, DecodeStatus(block, SlotCapabilities(drives, slot)), true, "[time]", [&](std::string line) { report += "  event " + line + "\n"; });
            report += std::exchange(alerts.raised, std::string());
        }
        Block512 flash{};
        bool flashOk = transport.OpenDevice(static_cast<int>(access::DriveOf(flags))) != kInvalidHandle;
        flashOk = flashOk && SendModeCommand(transport, flags, spi_mode::kEnterFlashAccess) &&
                  ReadFlashBlock(transport, flags, 0, flash) &&
                  SendModeCommand(transport, flags, spi_mode::kLeaveFlashAccess);
        transport.CloseDevice();
        report += Format("  flash %s hash %08x\n", flashOk ? "ok" : "failed", Fnv(flash));
    }
    for (int panel = 1; panel < StatusBar::kPanelCount; ++panel)
        report += Format("panel %d \"%s\"\n", panel, bar.Panel(panel).c_str());
    return report + boxes.shown;
}

}  // namespace kestrel::kernelloop
