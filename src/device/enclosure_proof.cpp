#include "device/enclosure_proof.h"

#include <algorithm>
#include <cstring>

#include "wire/status_sector.h"

namespace kestrel {

namespace {

constexpr uint8_t kRecordLayoutVersion = 0xA0;
constexpr size_t kMakerSignature = 114;
// "VOLTRA" and its terminating zero byte, as the configuration record
// carries it; the status record begins with the current copy of that record.
constexpr uint8_t kMaker[] = {'V', 'O', 'L', 'T', 'R', 'A', 0};

// Printable ASCII, at least one character not a blank.
bool PrintableText(const Block512& block, size_t offset, size_t length) {
    bool any = false;
    for (size_t i = offset; i < offset + length; ++i) {
        if (block[i] < 0x20 || block[i] > 0x7E) return false;
        any = any || block[i] != ' ';
    }
    return any;
}

bool Fail(std::string* reason, const char* text) {
    if (reason) *reason = text;
    return false;
}

}  // namespace

bool IdentifyBlockPlausible(const Block512& identify, std::string* reason) {
    if (!status::HasControllerSignature(identify)) return Fail(reason, "no controller signature");
    // Word 0 bit 15 clear: an ATA device's identify data.
    if (identify[1] & 0x80) return Fail(reason, "the identify block is not an ATA device's");
    if (!PrintableText(identify, status::kIdentifyRevision, status::kIdentifyRevisionLength))
        return Fail(reason, "the firmware revision is not printable text");
    if (!PrintableText(identify, status::kIdentifyModel, status::kModelLength))
        return Fail(reason, "the model name is not printable text");
    return true;
}

bool StatusRecordPlausible(const Block512& record, std::string* reason) {
    if (record[status::kConfigVersion] != kRecordLayoutVersion)
        return Fail(reason, "the status record's layout version is not 0xA0");
    if (!std::equal(std::begin(kMaker), std::end(kMaker), record.begin() + kMakerSignature))
        return Fail(reason, "the status record carries no maker signature");
    return true;
}

Proof ProveEnclosure(const EnclosureEvidence& e) {
    Proof proof;
    auto disproven = [&](std::string why) {
        proof.outcome = ProofOutcome::Disproven;
        proof.reason = std::move(why);
        return proof;
    };
    if (e.flags < access::kAtaPassThrough) return disproven("no enclosure answered");
    if ((e.flags & access::kScsiMailbox) && !e.mailboxIdentify) return disproven("no identify block from block 58");
    if ((e.flags & access::kAtaPassThrough) && !e.ataIdentify) return disproven("no identify block from IDENTIFY DEVICE");
    for (const auto* block : {&e.mailboxIdentify, &e.ataIdentify, &e.bridgeIdentify}) {
        std::string why;
        if (*block && !IdentifyBlockPlausible(**block, &why)) return disproven(why);
    }
    // The same controller answers both ways with the same name.
    if (e.mailboxIdentify && e.ataIdentify) {
        const auto same = [&](size_t offset, size_t length) {
            return std::equal(e.mailboxIdentify->begin() + offset, e.mailboxIdentify->begin() + offset + length,
                              e.ataIdentify->begin() + offset);
        };
        if (!same(status::kIdentifyRevision, status::kIdentifyRevisionLength) ||
            !same(status::kIdentifyModel, status::kModelLength))
            return disproven("block 58 and IDENTIFY DEVICE name different controllers");
    }
    if (!e.status) {
        proof.outcome = ProofOutcome::StatusUnread;
        proof.reason = "its status record could not be read";
        return proof;
    }
    std::string why;
    if (!StatusRecordPlausible(*e.status, &why)) return disproven(why);
    proof.outcome = ProofOutcome::Proven;
    return proof;
}

}  // namespace kestrel
