#include "monitor/status_page.h"

#include "monitor/enclosure_health.h"
#include "wire/device_text.h"
#include "wire/status_sector.h"

namespace kestrel {

namespace {
// Yes copies HDD2 onto the new SSD: what the SSD holds is lost.
constexpr const char* kRestoreQuestion =
    "Do you want to restore data from HDD to SSD?\nThe SSD's contents will be overwritten.";
}  // namespace

StatusPage::StatusPage(ProductVariant variant, const DriveTable& drives, WindowState& shell, MessageBoxes& messages,
                       StatusPageLinks links)
    : variant_(variant), drives_(drives), shell_(shell), messages_(messages), links_(std::move(links)) {}

StatusPageUpdate StatusPage::DrawStatusPage(bool force, const SlotRecords& polled) {
    StatusPageUpdate u;
    ShellModel& model = shell_.Model();
    if (!model.deviceChecked[0] && !model.deviceChecked[1]) {
        // Nothing drawn from a record; the headline says why, and the
        // next draw after a box is ticked again redraws everything.
        u.stateText = kNotMonitoredText;
        shownSlot_ = -1;
        return u;
    }
    u.result = 0;
    const unsigned slot = static_cast<unsigned>(model.statusPageDevice);
    const EnclosureStatus s = slot < polled.size() && polled[slot] ? *polled[slot] : SlotStatus(drives_, slot);
    const unsigned drive = drives_.DriveOfSlot(slot);
    const bool switched = model.statusPageDevice != shownSlot_ || drive != shownDrive_;
    if (switched) {
        shownSlot_ = model.statusPageDevice;
        shownDrive_ = drive;
    }
    // A forced redraw, and any draw of another slot than the last, redraws
    // everything: what is on the page may be the other slot's.
    if (force || switched) {
        force = true;
        shownProgress_ = 255;
    }

    // The page draws its own slot: its own revision and what its own
    // firmware allows, whichever slot another page shows.
    u.firmware = DeviceText(SlotRevision(drives_, slot)) + "." + s.firmwareCode;
    u.fanColour = s.fanFailureBit ? TextColour::Red : TextColour::Blue;
    u.temperatureColour = s.overTemperatureBit ? TextColour::Red : TextColour::Blue;
    u.fanSpeed = std::to_string(s.fanRpm);
    u.temperature = std::to_string(s.temperature);
    // Also where the firmware revision alone would hide the panel: the
    // sensors are evaluated, so their values are shown beside any alarm.
    u.environmentVisible = s.environmentShown || (s.sensors.has_value() && s.envFlags != 0xAA);
    u.healthLine = SensorAlarmLine(ReadHealth(s));

    const bool mute = !s.buzzerEnabled;
    const bool scan = s.autoScan;
    // Drawing another enclosure than last time is no change of the
    // controller's bits (a device box switches the slot too): the boxes
    // follow it without asking for a settings command.
    if (buzzerMute_ != mute) {
        buzzerMute_ = mute;
        if (links_.buzzerMuteClicked && !switched) links_.buzzerMuteClicked();
    }
    if (autoScan_ != scan) {
        autoScan_ = scan;
        if (links_.autoScanClicked && !switched) links_.autoScanClicked();
    }

    if (variant_ == ProductVariant::Hybrid)
        u.mode = s.scheduledBackup ? "Scheduling Sync" : "Real time Sync";
    else
        u.mode = s.modeName;

    model.firstStatusPending = false;
    for (size_t k = 0; k < 2; ++k) {
        const MemberStatus& member = s.disks[k];
        u.diskInBay[k] = member.Present() || member.Failed() || member.Inserted();
    }

    const uint8_t diskState = s.diskState;
    if (force || diskState != shownDiskState_) {
        shownDiskState_ = diskState;
        u.disksRedrawn = true;
        u.disks[0] = DrawDisk(s, 0, drive, switched);
        u.disks[1] = DrawDisk(s, 1, drive, switched);
        u.systemCapacity = std::to_string(status::Gigabytes(s.configuredSectors)) + " GB";
    }

    const uint8_t progress = s.progress;
    if (s.Running()) {
        if (shownProgress_ == 255 || shownProgress_ != progress) {
            const bool hdd1 = s.target == 0;
            const std::string percent = std::to_string(progress);
            if (s.activity == Activity::Scan)
                u.stateText = percent + (hdd1 ? "%\nHDD1 Scan" : "%\nHDD2 Scan");
            else
                u.stateText = percent + (hdd1 ? "%\n<<<<\nRebuilding" : "%\n>>>>\nRebuilding");
            shownProgress_ = progress;
        }
        u.showLogButton = true;
        u.stateLevel = HealthLevel::Attention;
    } else {
        u.stateLevel = s.array == ArrayState::Normal       ? HealthLevel::Normal
                       : s.array == ArrayState::SingleDisk ? HealthLevel::Attention
                                                           : HealthLevel::Alarm;
        u.stateText = s.array == ArrayState::Normal       ? "Normal"
                      : s.array == ArrayState::SingleDisk ? "Single HDD\nPresent"
                                                          : "Failure";
        shownProgress_ = 255;
    }
    return u;
}

DiskLabelUpdate StatusPage::DrawDisk(const EnclosureStatus& s, int disk, unsigned drive, bool switched) {
    DiskLabelUpdate d = DrawDiskState(s, disk);
    DiskText* shown = drive < diskTexts_.size() ? &diskTexts_[drive][static_cast<size_t>(disk)] : nullptr;
    if (!d.capacity && !d.model && switched) {
        // The labels keep their text, but what they hold is another slot's:
        // put back this drive's own.
        d.capacity = shown ? shown->capacity : std::string();
        d.model = shown ? shown->model : std::string();
    }
    if (shown && d.capacity) shown->capacity = *d.capacity;
    if (shown && d.model) shown->model = *d.model;
    return d;
}

DiskLabelUpdate StatusPage::DrawDiskState(const EnclosureStatus& s, int disk) {
    DiskLabelUpdate d;
    const MemberStatus& member = s.disks[static_cast<size_t>(disk)];
    const std::string& serial = member.serial;
    const std::string model = DeviceText(member.model);
    const std::string capacity = std::to_string(status::Gigabytes(member.sectors)) + " GB\n";

    if (member.Absent()) {
        // The bay is empty: the removed disk's model and size would read as
        // if it were still there.
        d.capacity = std::string();
        d.model = std::string();
        d.capacityEnabled = false;
        d.modelEnabled = false;
        if (disk == 0) hdd1Prompted_ = false;
    } else if (member.Present()) {
        d.capacityColour = TextColour::Navy;
        d.capacity = capacity;
        d.model = model;
        d.capacityEnabled = true;
        d.modelEnabled = true;
        if (disk == 0) hdd1Prompted_ = false;
    } else if (member.Failed()) {
        d.capacityColour = TextColour::Red;
        const std::string serialText = "\nThe Matched SSD's Serial# is " + DeviceText(serial);
        const std::string matched =
            "Matched SSD is inserted.\nPlease power off this device or the system,\nand power on it to start rebuilding.";
        if (disk == 0 && variant_ == ProductVariant::Hybrid && !hdd1Prompted_) {
            hdd1Prompted_ = true;
            if (s.replacement == Replacement::Matched) {
                Notify(matched);
            } else if (s.replacement == Replacement::TooSmall) {
                Notify("Unmatched small SSD is inserted." + serialText);
            } else {
                // The question follows once the notice is acknowledged; its
                // answer acts on the enclosure that asked, if it still holds
                // the same disk.
                const Asker asker = AskerOf(s);
                const std::weak_ptr<int> alive = alive_;
                Notify("Unmatched SSD is inserted." + serialText, [this, alive, asker](MessageAnswer) {
                    if (alive.expired()) return;
                    messages_.ShowAsync(kRestoreQuestion, "Message",
                                        MessageButtons::YesNo, [this, alive, asker](MessageAnswer answer) {
                                            if (answer == MessageAnswer::Yes && !alive.expired() &&
                                                StillAsking(asker) && links_.startRebuild)
                                                links_.startRebuild(asker.slot);
                                        });
                });
            }
        } else if (disk == 1) {
            if (s.replacement == Replacement::Matched)
                Notify(matched);
            else if (s.replacement == Replacement::Unmatched)
                Notify("Unmatched SSD is inserted." + serialText);
        }
        d.capacity = capacity;
        d.model = model;
        d.capacityEnabled = true;
        d.modelEnabled = false;
    } else if (!member.Inserted()) {
        d.capacity = std::string();
        d.model = std::string();
    }
    return d;
}

void StatusPage::Notify(const std::string& text, MessageAnswered answered) {
    messages_.ShowAsync(text, "Message", MessageButtons::Ok, std::move(answered));
}

AlarmMarks AlarmMarksFor(const HealthBoard& board, int shownSlot, bool statusPageShown) {
    AlarmMarks marks;
    for (const HealthRow& row : board.Rows()) {
        if (!row.monitored || !row.known || row.slot < 0 || row.slot > 1) continue;
        const HealthLevel level = LevelOf(row.health.state);
        if (level == HealthLevel::Normal) continue;
        const bool inView = statusPageShown && row.slot == shownSlot;
        if (row.slot != shownSlot) marks.slots[static_cast<size_t>(row.slot)] = level;
        if (inView) continue;
        if (!marks.statusPage || level > *marks.statusPage) marks.statusPage = level;
        marks.statusPageHint += (marks.statusPageHint.empty() ? "" : "\n") + RowText(row);
    }
    return marks;
}

StatusPage::Asker StatusPage::AskerOf(const EnclosureStatus& status) const {
    Asker a;
    a.slot = shell_.Model().statusPageDevice;
    a.drive = drives_.DriveOfSlot(static_cast<unsigned>(a.slot));
    a.identify = drives_.IdentifyOfSlot(static_cast<unsigned>(a.slot));
    a.serial = status.disks[0].serial;
    return a;
}

bool StatusPage::StillAsking(const Asker& a) const {
    const unsigned slot = static_cast<unsigned>(a.slot);
    if (slot >= drives_.EnclosureCount || drives_.DriveOfSlot(slot) != a.drive || drives_.IdentifyOfSlot(slot) != a.identify)
        return false;  // gone, or another enclosure in its place
    const MemberStatus hdd1 = SlotStatus(drives_, slot).disks[0];
    return hdd1.FailedBit() && hdd1.serial == a.serial;
}

}  // namespace kestrel
