#pragma once
// The device labels (model name and drive letters) shown as hints of the
// device check boxes and in the window caption.
#include <array>
#include <string>

#include "wire/drive_table.h"
#include "wire/enclosure_status.h"

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

// Sets DeviceLabel from the committed table, and returns the hints and the
// caption (the label of the page's slot: the Upgrade page's on the Upgrade
// page, else the Status page's) for the window to apply. Moves no slot
// selection: what a page shows and where a read goes are not the labels'.
LabelResult BuildDeviceLabels(DriveTable& drives, const LabelInputs& inputs);

}  // namespace kestrel
