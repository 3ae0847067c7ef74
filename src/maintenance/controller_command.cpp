#include "maintenance/controller_command.h"

#include "device/routes.h"

namespace kestrel {

OpResult SendControllerCommandTo(Transport& transport, const DriveTable& drives, const ShellModel& window,
                                 unsigned slot) {
    if (drives.EnclosureCount == 0) {
        transport.Bar().SetPanel(kErrorPanel, "Device not found!!!");
        transport.Boxes().Show("No Device found !", "Message");
        return OpResult::Failure("Device not found!!!");
    }
    if (!window.deviceChecked[0] && !window.deviceChecked[1]) return OpResult::Failure("No enclosure is monitored");
    // A slot past the list has no drive to open.
    if (slot >= drives.EnclosureCount) {
        transport.Boxes().Show("Invalid Drive", "");
        return OpResult::Failure("Invalid Drive");
    }
    if (OpResult opened = transport.OpenForMaintenance(drives.DriveOfSlot(slot)); !opened) return opened;
    OpResult sent = SendControllerCommand(transport);
    transport.CloseDevice();
    return sent;
}

}  // namespace kestrel
