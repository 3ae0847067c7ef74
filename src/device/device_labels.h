#pragma once
// The device labels (model name and drive letters) shown as hints of the
// device check boxes and in the window caption, and the capability flags
// that the selected enclosure's firmware revision allows.
#include <array>
#include <string>

#include "wire/drive_table.h"

namespace kestrel {

// What the labels need from the main window.
struct LabelInputs {
    int currentPage = 0;         // 2 is the Upgrade page
    int statusPageDevice = 0;    // slot shown on the Status page
    int upgradePageDevice = 0;   // slot chosen on the Upgrade page
    std::array<bool, 2> deviceChecked{};
    std::string baseTitle;
};

struct LabelResult {
    bool applied = false;               // false: both device boxes unchecked, nothing changed
    std::array<std::string, 2> hints;   // slot 0: Image0_D1, Image2_D1; slot 1: Image0_D2, Image2_D2
    std::string caption;                // BaseTitle + " - " + the selected slot's label
};

struct FirmwareCapabilities {
    bool scanReporting = false;
    bool environmentPanel = false;
};
// From a revision such as "100126.0": six digits and a '.' at position 6.
FirmwareCapabilities CapabilitiesOf(const std::string& revision);

// Sets SelectedEnclosure (the Upgrade page's slot on the Upgrade page, else
// the Status page's), FirmwareRevision, ScanReporting, EnvironmentPanel and
// DeviceLabel from the committed table, and returns the hints and caption
// for the window to apply.
LabelResult BuildDeviceLabels(DriveTable& drives, const LabelInputs& inputs);

}  // namespace kestrel
