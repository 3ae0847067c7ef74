#include "notify/password_scramble.h"

#include <algorithm>

namespace kestrel {

namespace {

// Fixed for every installation of this program; changing it makes every
// stored password undecodable.
constexpr std::array<uint8_t, 8> kKey = {0x4B, 0x65, 0x73, 0x74, 0xA7, 0x1C, 0xD2, 0x39};

constexpr size_t kScrambledBytes = 16;
constexpr size_t kSaltByte = 16;
constexpr size_t kCheckByte = 17;

}  // namespace

std::array<uint8_t, kProductIdSize> ScramblePassword(std::string_view password, uint8_t salt, bool authentication) {
    const size_t length = std::min(password.size(), kPasswordMaxLength);
    std::array<uint8_t, kProductIdSize> out{};
    uint8_t sum = 0;
    for (size_t i = 0; i < kScrambledBytes; ++i) {
        const uint8_t c = i < length ? static_cast<uint8_t>(static_cast<uint8_t>(password[i]) + i)
                                     : static_cast<uint8_t>(i);
        sum = static_cast<uint8_t>(sum + c);
        out[i] = static_cast<uint8_t>(salt ^ c ^ kKey[i % kKey.size()]);
    }
    out[kSaltByte] = salt;
    out[kCheckByte] = static_cast<uint8_t>(sum ^ salt ^ (authentication ? 1 : 0));
    return out;
}

DecodedPassword UnscramblePassword(std::span<const uint8_t> value) {
    DecodedPassword result;
    if (value.size() < kProductIdSize) {
        result.text = kErrorFormat;
        return result;
    }
    const uint8_t salt = value[kSaltByte];
    result.salt = salt;
    uint8_t sum = 0;
    std::string text;
    bool ended = false;
    for (size_t i = 0; i < kScrambledBytes; ++i) {
        const uint8_t d = static_cast<uint8_t>(value[i] ^ salt ^ kKey[i % kKey.size()]);
        sum = static_cast<uint8_t>(sum + d);
        const char c = static_cast<char>(static_cast<uint8_t>(d - i));
        if (c == '\0') ended = true;
        if (!ended) text += c;
    }
    const uint8_t check = static_cast<uint8_t>(sum ^ salt);
    // Sixteen characters without an end are no password a save wrote (it
    // keeps at most 15), and no page could store them again.
    if (!ended) {
        result.text = kErrorFormat;
        result.authSwitch = kAuthUndecodable;
    } else if (check == value[kCheckByte]) {
        result.text = std::move(text);
        result.authSwitch = kAuthOff;
    } else if ((check ^ value[kCheckByte]) == 1) {
        result.text = std::move(text);
        result.authSwitch = kAuthOn;
    } else {
        result.text = kErrorFormat;
        result.authSwitch = kAuthUndecodable;
    }
    return result;
}

}  // namespace kestrel
