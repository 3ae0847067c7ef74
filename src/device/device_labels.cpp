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

LabelResult BuildDeviceLabels(DriveTable& drives, const LabelInputs& inputs) {
    LabelResult result;
    if (!inputs.deviceChecked[0] && !inputs.deviceChecked[1]) return result;
    result.applied = true;
    const unsigned shown =
        static_cast<unsigned>(inputs.currentPage == kUpgradePage ? inputs.upgradePageDevice : inputs.statusPageDevice);

    for (unsigned s = 0; s < drives.DeviceLabel.size(); ++s) {
        drives.DeviceLabel[s] = LabelOf(drives, s);
        result.hints[s] = drives.DeviceLabel[s];
    }
    const std::string selected = shown < drives.DeviceLabel.size() ? drives.DeviceLabel[shown] : LabelOf(drives, shown);
    result.caption = inputs.baseTitle + " - " + selected;
    return result;
}

}  // namespace kestrel
