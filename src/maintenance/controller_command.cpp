#include "maintenance/controller_command.h"

#include "device/routes.h"

namespace kestrel {

bool SendControllerCommandTo(Transport& transport, const DriveTable& drives, const ShellModel& window,
                             unsigned slot) {
    if (drives.EnclosureCount == 0) {
        transport.Bar().SetPanel(kErrorPanel, "Device not found!!!");
        transport.Boxes().Show("No Device found !", "Message");
        return false;
    }
    if (!window.deviceChecked[0] && !window.deviceChecked[1]) return false;
    // A slot past the list has no drive to open.
    if (slot >= drives.EnclosureCount) {
        transport.Boxes().Show("Invalid Drive", "");
        return false;
    }
    if (!transport.OpenForMaintenance(drives.DriveOfSlot(slot))) return false;
    const bool ok = SendControllerCommand(transport);
    transport.CloseDevice();
    return ok;
}

}  // namespace kestrel
