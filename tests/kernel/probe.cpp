#include "kernel/probe.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <mutex>

#include "wire/status_sector.h"
#include "device/detection.h"
#include "device/routes.h"
#include "device/status_reader.h"
#include "device/transport.h"
#include "eventlog/status_events.h"
#include "maintenance/disk_operations.h"
#include "maintenance/firmware_upgrade.h"

namespace kestrel::kernelloop {

namespace {

class Boxes final : public MessageBoxes {
public:
    MessageAnswer Show(const std::string& text, const std::string&, MessageButtons) override {
        shown += "box \"" + text + "\"\n";
        std::string line = text;
        std::replace(line.begin(), line.end(), '\n', ' ');
        since += (since.empty() ? "" : " / ") + line;
        return answer;
    }
    bool ShowAsync(const std::string& text, const std::string& caption, MessageButtons buttons,
                   MessageAnswered answered) override {
        const MessageAnswer answer = Show(text, caption, buttons);
        if (answered) answered(answer);
        return true;
    }
    std::string shown;
    std::string since;  // the boxes since it was last cleared
    MessageAnswer answer = MessageAnswer::No;
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


class Window final : public WindowState {
public:
    Window() { model.deviceChecked = {true, true}; }
    ShellModel& Model() override { return model; }
    const ShellModel& Model() const override { return model; }
    void Sync() override {}
    void SetDeviceChecked(int slot, bool checked) override { model.deviceChecked[static_cast<size_t>(slot & 1)] = checked; }
    ShellModel model;
};

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
    return text;
}

const char* UpgradeName(UpgradeOutcome outcome) {
    switch (outcome) {
        case UpgradeOutcome::Verified: return "verified";
        case UpgradeOutcome::Refused: return "refused";
        case UpgradeOutcome::Ignored: return "ignored";
        default: return "failed";
    }
}

const char* DiskName(DiskOutcome outcome) {
    switch (outcome) {
        case DiskOutcome::Completed: return "completed";
        case DiskOutcome::Failed: return "failed";
        default: return "ignored";
    }
}

TransportOptions QuickTransport() {
    TransportOptions options;
    options.pause = [](std::chrono::milliseconds) {};
    options.random = [n = uint32_t{0}]() mutable { return n++; };
    return options;
}

}  // namespace

std::string RunMaintenance(DeviceIo& io, const std::string& imagePath) {
    Boxes boxes;
    boxes.answer = MessageAnswer::Yes;  // a user who says Yes to everything
    Bar bar;
    Transport transport(io, boxes, bar, QuickTransport());
    DriveTable drives;
    StatusReader reader(transport);
    DriveDetection detection(drives, transport, io, reader);
    std::string report;
    detection.SetNotice([&](const std::string& text) { report += "notice " + text + "\n"; });
    drives.LogicalDriveCount = detection.EnumerateLogicalDrives();
    drives.PhysicalDriveCount = detection.CountPhysicalDrives();
    detection.Redetect(true);
    detection.CommitDetection(true, [] {});
    report += Format("enclosures %u\n", drives.EnclosureCount);
    for (unsigned slot = 0; slot < drives.EnclosureCount; ++slot)
        report += Format("D%u drive %u flags 0x%02x model \"%s\"\n", slot + 1, drives.DriveOfSlot(slot),
                         drives.EnclosureFlags[slot],
                         Trimmed(status::AtaString(drives.IdentifyOfSlot(slot), status::kIdentifyModel, 40)).c_str());
    for (int poll = 1; poll <= 3; ++poll) {
        for (unsigned slot = 0; slot < drives.EnclosureCount; ++slot) {
            drives.SelectedEnclosure = slot;
            Block512 block{};
            report += Format("poll %d D%u %s\n", poll, slot + 1, reader.ReadStatus(drives, {}, block) ? "ok" : "failed");
        }
    }
    for (int k = 0; k < DriveTable::kPhysicalDrives; ++k) {
        if (transport.OpenDevice(k) == kInvalidHandle) continue;
        Block512 identify{};
        const AtaTaskfile identifyDevice{.device = 0xE0, .command = kAtaIdentifyDevice};
        const bool ok = transport.AtaCommand(transport.Handle(), identifyDevice, identify, 1);
        transport.CloseDevice();
        if (ok)
            report += Format("identify drive %d ok model \"%s\" serial \"%s\"\n", k,
                             Trimmed(status::AtaString(identify, status::kIdentifyModel, 40)).c_str(),
                             Trimmed(status::AtaString(identify, 20, 20)).c_str());
        else
            report += Format("identify drive %d failed\n", k);
    }

    FirmwareImage image;
    std::unique_ptr<ImageFile> file = OpenRealImageFile();
    if (!LoadFirmwareImage(imagePath, image, {bar, boxes}, *file)) return report + "image not loaded\n";
    // Upgrade and Initialize on one list; the panel and box texts of a
    // refusal go with the outcome.
    auto maintain = [&](DriveTable& table, unsigned slot, const std::string& what) {
        Window window;
        window.model.upgradePageDevice = static_cast<int>(slot);
        window.model.statusPageDevice = static_cast<int>(slot);
        SchedulerFlags flags;
        MaintenanceLock lock(flags, table, window);
        FlashAccess flash(transport, table, flags, {});
        FirmwareUpgrade upgrade(flash, lock, reader, table, flags, window, {boxes, bar, nullptr});
        boxes.since.clear();
        const UpgradeOutcome upgraded = upgrade.Upgrade(slot, image);
        report += Format("upgrade %s %s", what.c_str(), UpgradeName(upgraded));
        report += upgraded == UpgradeOutcome::Verified ? "\n" : " (" + boxes.since + ")\n";
        DiskOperations disks(transport, lock, table, flags, window, {boxes, bar, nullptr, nullptr});
        boxes.since.clear();
        const DiskOutcome initialized = disks.Initialize(static_cast<int>(slot));
        report += Format("initialize %s %s", what.c_str(), DiskName(initialized));
        report += initialized == DiskOutcome::Completed ? "\n" : " (" + boxes.since + ")\n";
    };
    for (unsigned slot = 0; slot < drives.EnclosureCount; ++slot)
        maintain(drives, slot, Format("D%u drive %u", slot + 1, drives.DriveOfSlot(slot)));
    for (unsigned k = 0; k < DriveTable::kPhysicalDrives; ++k) {
        bool listed = false;
        for (unsigned slot = 0; slot < drives.EnclosureCount; ++slot) listed = listed || drives.DriveOfSlot(slot) == k;
        if (listed || transport.OpenDevice(static_cast<int>(k)) == kInvalidHandle) continue;
        transport.CloseDevice();
        for (uint32_t path : {uint32_t{access::kScsiMailbox}, uint32_t{access::kAtaPassThrough}}) {
            DriveTable forged = drives;
            forged.EnclosureFlags[0] = path | k;
            forged.EnclosureCount = 1;
            maintain(forged, 0, Format("unlisted drive %u as 0x%02x", k, path | k));
        }
    }
    return report;
}

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
            const bool ok = reader.ReadFor(flags, block).ok;
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
