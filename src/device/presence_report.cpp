#include "device/presence_report.h"

namespace kestrel {

PresenceChanges ComparePresence(const DriveTable& drives) {
    PresenceChanges changes;
    const unsigned oldCount = std::min<unsigned>(drives.EnclosureCount, DriveTable::kMaxEnclosures);
    const unsigned newCount = std::min<unsigned>(drives.ProbeCount, DriveTable::kMaxEnclosures);
    if (oldCount == newCount) return changes;

    auto arrived = [&](unsigned q) { changes.lines.push_back("D" + std::to_string(q + 1) + " New Device was found."); };
    auto removed = [&](unsigned p) {
        changes.lines.push_back("D" + std::to_string(p + 1) + " Device was removed.");
        changes.removed.push_back(static_cast<int>(p));
    };
    auto same = [&](unsigned p, unsigned q) {
        return drives.KnownIdentify[access::DriveOf(drives.EnclosureFlags[p])] ==
               drives.ProbeIdentify[access::DriveOf(drives.ProbeFlags[q])];
    };

    unsigned p = 0, q = 0;
    while (true) {
        if (p == oldCount) {
            for (; q < newCount; ++q) arrived(q);
            break;
        }
        if (q == newCount) {
            for (; p < oldCount; ++p) removed(p);
            break;
        }
        if (same(p, q)) {
            ++p;
            ++q;
            continue;
        }
        unsigned r = q;
        while (r < newCount && !same(p, r)) ++r;
        if (r < newCount) {
            for (; q < r; ++q) arrived(q);
            q = r + 1;
        } else {
            removed(p);
        }
        ++p;
    }
    return changes;
}

}  // namespace kestrel
