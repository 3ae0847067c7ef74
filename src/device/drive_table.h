#pragma once
// The committed list of enclosures and the slot selection shared by every
// subsystem. Owned by the composition root and handed out by reference.
#include <cstdint>

namespace kestrel {

struct DriveTable {
    static constexpr unsigned kNoEnclosure = 256;

    unsigned SelectedEnclosure = 0;             // slot that status reads go to
    unsigned LockedEnclosure = kNoEnclosure;    // slot under maintenance
    unsigned EnclosureCount = 0;

    bool IsLocked() const { return LockedEnclosure != kNoEnclosure; }
};

}  // namespace kestrel
