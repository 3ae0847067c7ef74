#include "device/device_labels.h"

#include "wire/device_text.h"
#include "wire/status_sector.h"
#include "platform/device_io.h"

namespace kestrel {

namespace {
constexpr int kUpgradePage = 2;

std::string LabelOf(const DriveTable& drives, unsigned slot) {
    if (slot >= drives.EnclosureCount) return {};
    const unsigned drive = drives.DriveOfSlot(slot);
    std::string label = DeviceText(status::TrimModel(status::IdentifyModel(drives.KnownIdentify[drive]))) + " [";
    for (int i = 0; i < drives.VolumeCount && i < DriveTable::kMaxVolumes; ++i) {
        const VolumeRecord& volume = drives.VolumeTable[static_cast<size_t>(i)];
        if (volume.driveType == drive_type::kFixed && volume.diskNumber == drive) label += volume.letter;
    }
    return label + "]";
}
}  // namespace

FirmwareCapabilities CapabilitiesOf(const std::string& revision) {
    if (revision.size() < 7 || revision[6] != '.') return {};
    unsigned n = 0;
    for (int i = 0; i < 6; ++i) {
        const char c = revision[static_cast<size_t>(i)];
        if (c < '0' || c > '9') return {};
        n = n * 10 + static_cast<unsigned>(c - '0');
    }
    return {n > 90618, n > 100125};
}

LabelResult BuildDeviceLabels(DriveTable& drives, const LabelInputs& inputs) {
    LabelResult result;
    if (!inputs.deviceChecked[0] && !inputs.deviceChecked[1]) return result;
    result.applied = true;
    const int slot = inputs.currentPage == kUpgradePage ? inputs.upgradePageDevice : inputs.statusPageDevice;
    drives.SelectedEnclosure = static_cast<unsigned>(slot);

    drives.FirmwareRevision = status::IdentifyRevision(drives.IdentifyOfSlot(drives.SelectedEnclosure));
    const FirmwareCapabilities caps = CapabilitiesOf(drives.FirmwareRevision);
    drives.ScanReporting = caps.scanReporting;
    drives.EnvironmentPanel = caps.environmentPanel;

    for (unsigned s = 0; s < drives.DeviceLabel.size(); ++s) {
        drives.DeviceLabel[s] = LabelOf(drives, s);
        result.hints[s] = drives.DeviceLabel[s];
    }
    const std::string selected = drives.SelectedEnclosure < drives.DeviceLabel.size()
                                     ? drives.DeviceLabel[drives.SelectedEnclosure]
                                     : LabelOf(drives, drives.SelectedEnclosure);
    result.caption = inputs.baseTitle + " - " + selected;
    return result;
}

}  // namespace kestrel
