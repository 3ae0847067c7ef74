#pragma once
// Which enclosures arrived and which left, from the committed list and the
// result of the detection that is about to replace it.
#include <string>
#include <vector>

#include "wire/drive_table.h"

namespace kestrel {

struct PresenceChanges {
    std::vector<std::string> lines;  // "D<n> New Device was found." / "D<n> Device was removed."
    std::vector<int> removed;        // old slot indexes, for the device-removed alerts
};

// Enclosures are the same when their identify blocks are byte-equal. An
// exchange that leaves the count unchanged is not reported.
PresenceChanges ComparePresence(const DriveTable& drives);

}  // namespace kestrel
