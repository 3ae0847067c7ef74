#pragma once
// Sending the prepared command sector (a disk step or the settings command)
// to one enclosure: the checks that come first, then WRITE(10) to block 20
// on whatever path the enclosure has, the bridge included.
#include "device/transport.h"
#include "monitor/window_state.h"
#include "wire/drive_table.h"

namespace kestrel {

// Checks, in order: an enclosure was found ("Device not found!!!" in panel 4
// and the box "No Device found !"), a device box is checked (else false
// without a word), the slot's drive was shown to be an enclosure
// controller (else "Physical drive N is not a supported enclosure; ..."),
// the slot's drive opens ("Invalid Drive"). Then writes the
// sealed sector ("Error code 201" when that fails) and closes the drive.
// The result carries the text shown.
[[nodiscard]] OpResult SendControllerCommandTo(Transport& transport, const DriveTable& drives, const ShellModel& window,
                             unsigned slot);

}  // namespace kestrel
