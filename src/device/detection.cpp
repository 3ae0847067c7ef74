#include "device/detection.h"

#include "wire/status_sector.h"
#include "platform/pass_through.h"

namespace kestrel {

namespace {
constexpr uint8_t kInquiryAdditionalLength = 31;
constexpr char kFirstLetter = 'C';
}  // namespace

int DriveDetection::EnumerateLogicalDrives() {
    const uint32_t mask = io_.LogicalDrives() >> 2;  // bit 0 is now C:
    drives_.LogicalLetters.fill(0);
    int count = 0;
    for (int bit = 0; bit < DriveTable::kMaxLetters; ++bit) {
        if (mask & (1u << bit)) drives_.LogicalLetters[static_cast<size_t>(count++)] = static_cast<char>(kFirstLetter + bit);
    }
    return count;
}

int DriveDetection::CountPhysicalDrives() {
    int count = 0;
    for (int k = 0; k < DriveTable::kPhysicalDrives; ++k) {
        if (transport_.OpenDevice(k) == kInvalidHandle) continue;
        ++count;
        transport_.CloseDevice();
    }
    return count;
}

void DriveDetection::BuildVolumeTable() {
    drives_.ProbeVolumeTable.fill(VolumeRecord{});
    drives_.ProbeVolumeCount = 0;
    const int letters = std::min(drives_.LogicalDriveCount, DriveTable::kMaxLetters);
    for (int i = 0; i < letters; ++i) {
        if (i == DriveTable::kMaxVolumes) {
            transport_.Boxes().Show("Drive Count Must less than 20.", "");
            break;
        }
        const char letter = drives_.LogicalLetters[static_cast<size_t>(i)];
        VolumeRecord& record = drives_.ProbeVolumeTable[static_cast<size_t>(i)];
        record.letter = letter;
        record.driveType = static_cast<uint8_t>(io_.DriveType(std::string{letter, ':', '\\'}));
        drives_.ProbeVolumeCount = i + 1;
        if (transport_.OpenDevice(letter) == kInvalidHandle) {
            record.driveType = 255;
            continue;
        }
        std::array<uint8_t, passthrough::extents::kSize> reply{};
        size_t returned = 0;
        if (io_.Control(transport_.Handle(), ioctl::kVolumeDiskExtents, reply, 0, returned)) {
            if (const auto extent = passthrough::DecodeExtent(reply, returned)) {
                record.diskNumber = static_cast<uint8_t>(extent->diskNumber);
                record.startingOffset = extent->startingOffset;
                record.extentLength = extent->length;
            }
        }
        transport_.CloseDevice();
    }
}

DriveDetection::BridgeAnswer DriveDetection::TryBridge(uint8_t shift, Block512& identifyBuffer) {
    transport_.SetCdbShift(shift);
    transport_.Bar().SetPanel(kStagePanel, shift ? "Mode 3" : "Mode 4");
    if (transport_.BridgeCommand(BridgeKind::Identify, identifyBuffer, 0) &&
        status::HasControllerSignature(identifyBuffer))
        return BridgeAnswer::Identify;
    Block512& reply = transport_.Response();
    reply[0] = 0;
    if (transport_.BridgeFixedCommand() && reply[0] == 'P' && reply[1] == 0x8B) return BridgeAnswer::Fixed;
    return BridgeAnswer::None;
}

void DriveDetection::Say(const std::string& text) {
    transport_.Bar().SetPanel(kErrorPanel, text);
    if (notice_) notice_(text);
}

unsigned DriveDetection::IdentifyEnclosures(bool firstStatusPending) {
    DriveTable& t = drives_;
    for (Block512& slot : t.ProbeIdentify) slot.fill(0);
    t.ProbeCount = 0;
    t.ResponderCount = 0;
    t.MemberCount.fill(0);
    int opened = 0;
    const bool lockedShown = t.IsLocked() && !firstStatusPending && t.LockedEnclosure < t.EnclosureCount;
    // Each detection proves its drives anew; the one under maintenance keeps
    // what the detection that listed it proved.
    transport_.RevokeAllBut(lockedShown ? std::optional<unsigned>(t.DriveOfSlot(t.LockedEnclosure)) : std::nullopt);
    uint32_t lookAlikes = 0;
    std::string leftOut;

    for (unsigned k = 0; k < DriveTable::kPhysicalDrives; ++k) {
        uint32_t flags = k;
        if (lockedShown && t.DriveOfSlot(t.LockedEnclosure) == k) {
            // Under maintenance: kept as it is, without a request. Its blocks
            // come along so that the labels and the comparisons still see it.
            if (t.ProbeCount < DriveTable::kMaxEnclosures) t.ProbeFlags[t.ProbeCount++] = t.EnclosureFlags[t.LockedEnclosure];
            t.ProbeIdentify[k] = t.KnownIdentify[k];
            t.ProbeStatus[k] = t.CurrentStatus[k];
            if (++opened == t.PhysicalDriveCount) break;
            continue;
        }
        if (transport_.OpenDevice(static_cast<int>(k)) == kInvalidHandle) continue;
        const DeviceHandle handle = transport_.Handle();
        EnclosureEvidence evidence;

        Block512& slot = t.ProbeIdentify[k];
        const bool mailboxRead = transport_.ScsiRead10(handle, mailbox::kIdentify, slot, 1);
        if (!mailboxRead) transport_.Bar().SetPanel(kErrorPanel, MailboxErrorText(mailbox::kIdentify, false));
        const bool mailbox = mailboxRead && status::HasControllerSignature(slot);
        if (mailbox) {
            flags |= access::kScsiMailbox;
            evidence.mailboxIdentify = slot;
        }
        Block512& identify = mailbox ? slot : transport_.Response();
        transport_.Bar().SetPanel(kStagePanel, "Mode 2");

        // Whether the controller's own block (with its signature) arrived
        // in the buffer from this drive.
        bool controllerBlock = mailbox;
        const AtaTaskfile identifyDevice{.device = 0xE0, .command = kAtaIdentifyDevice};
        if (transport_.AtaCommand(handle, identifyDevice, identify, 1) && status::HasControllerSignature(identify)) {
            flags |= access::kAtaPassThrough;
            controllerBlock = true;
            evidence.ataIdentify = identify;
        }

        if (!(flags & access::kAnyPath) && transport_.ScsiInquiry(handle, identify) &&
            identify[4] == kInquiryAdditionalLength) {
            BridgeAnswer answer = TryBridge(1, identify);
            if (answer != BridgeAnswer::None) flags |= access::kBridgeCdb | access::kCdbShift1;
            else if ((answer = TryBridge(0, identify)) != BridgeAnswer::None) flags |= access::kBridgeCdb;
            controllerBlock = answer == BridgeAnswer::Identify;
            if (controllerBlock) evidence.bridgeIdentify = identify;
        }
        transport_.CloseDevice();

        if (flags >= access::kAtaPassThrough) {
            // An enclosure that returned its IdentifyBlock keeps it in its
            // slot, whichever path carried it, so that the labels, the
            // firmware revision and the presence comparison see the
            // controller's block rather than disk data of block 58.
            if (controllerBlock && &identify != &slot) slot = identify;
            t.ProbingFlags = flags;
            if (reader_.ReadFor(flags, t.ProbeStatus[k])) evidence.status = t.ProbeStatus[k];
            evidence.flags = flags;
            const Proof proof = transport_.Admit(k, evidence);
            if (proof.outcome == ProofOutcome::Disproven) {
                // Shown once and then left alone: not listed, so nothing
                // polls it, and never admitted, so nothing writes to it.
                lookAlikes |= 1u << k;
                t.ProbeStatus[k].fill(0);
                if (!(lookAlikesSaid_ & (1u << k)))
                    Say("Physical drive " + std::to_string(k) + " is not a supported enclosure (" + proof.reason +
                        "); it is left alone.");
                if (++opened == t.PhysicalDriveCount) break;
                continue;
            }
            bool member = false;
            for (unsigned l = 0; l < t.ProbeCount && !member; ++l) {
                const unsigned other = access::DriveOf(t.ProbeFlags[l]);
                if (identify != t.ProbeIdentify[other] || t.ProbeStatus[k] != t.ProbeStatus[other]) continue;
                member = true;
                if (l < DriveTable::kMaxMembers && t.MemberCount[l] < DriveTable::kPhysicalDrives)
                    t.MemberDrive[l][t.MemberCount[l]++] = static_cast<uint8_t>(k);
            }
            if (!member && t.ProbeCount < DriveTable::kMaxEnclosures) {
                if (t.ProbeCount < DriveTable::kMaxMembers) t.MemberCount[t.ProbeCount] = 0;
                t.ProbeFlags[t.ProbeCount++] = flags;
            } else if (!member) {
                leftOut += (leftOut.empty() ? "" : ", ") + std::to_string(k);
            }
            if (t.ResponderCount < DriveTable::kPhysicalDrives) t.ResponderFlags[t.ResponderCount++] = flags;
        }
        if (++opened == t.PhysicalDriveCount) break;
    }
    lookAlikesSaid_ = lookAlikes;
    if (!leftOut.empty() && leftOut != leftOutSaid_)
        Say("More than " + std::to_string(DriveTable::kMaxEnclosures) + " enclosures: physical drive" +
            (leftOut.find(',') == std::string::npos ? " " : "s ") + leftOut + " left out.");
    leftOutSaid_ = leftOut;
    return t.ProbeCount;
}

unsigned DriveDetection::Redetect(bool firstStatusPending) {
    BuildVolumeTable();
    drives_.ProbeCount = IdentifyEnclosures(firstStatusPending);
    return drives_.ProbeCount;
}

void DriveDetection::CommitDetection(bool firstStatusPending, const std::function<void()>& reportPresenceChanges) {
    if (!firstStatusPending && reportPresenceChanges) reportPresenceChanges();
    drives_.EnclosureFlags = drives_.ProbeFlags;
    drives_.EnclosureCount = drives_.ProbeCount;
    drives_.KnownIdentify = drives_.ProbeIdentify;
    drives_.VolumeTable = drives_.ProbeVolumeTable;
    drives_.VolumeCount = drives_.ProbeVolumeCount;
    if (drives_.EnclosureCount != 0 && drives_.SelectedEnclosure >= drives_.EnclosureCount)
        drives_.SelectedEnclosure = drives_.EnclosureCount - 1;
}

}  // namespace kestrel
