#pragma once
// Whether a drive that answered like an enclosure controller is one,
// decided from reads alone before anything is ever written to it. The two
// signature bytes of an identify block are not enough: any disk holding
// '3' 'X' at bytes 258-259 of its block 58 (1 in 65,536 of random
// contents) answers the mailbox probe the same way. The rule and why chance
// cannot meet it are in docs/linux-devices.md ("Telling an enclosure from a
// disk").
#include <optional>
#include <string>

#include "wire/drive_table.h"

namespace kestrel {

// What detection read from one drive.
struct EnclosureEvidence {
    uint32_t flags = 0;                      // the access flags detection gave it
    std::optional<Block512> mailboxIdentify;  // block 58, when it carried the signature
    std::optional<Block512> ataIdentify;      // IDENTIFY DEVICE, when it carried the signature
    std::optional<Block512> bridgeIdentify;   // the bridge's Identify reply, when it carried it
    std::optional<Block512> status;           // the StatusSector, when its read succeeded
};

enum class ProofOutcome {
    Proven,       // an enclosure controller: requests that write may go to it
    Disproven,    // its blocks are not an enclosure's: "not a supported enclosure"
    StatusUnread  // the status read failed: nothing is written until a later detection proves it
};

struct Proof {
    ProofOutcome outcome = ProofOutcome::Disproven;
    std::string reason;  // why it is not proven, for the log
};

Proof ProveEnclosure(const EnclosureEvidence& evidence);

// The checks on their own, for the record and the identify block.
bool IdentifyBlockPlausible(const Block512& identify, std::string* reason = nullptr);
bool StatusRecordPlausible(const Block512& status, std::string* reason = nullptr);

}  // namespace kestrel
