#pragma once
// The "ProductID" value: the SMTP password, scrambled, with its salt and a
// check byte that also carries the login authentication switch.
//
//   bytes 0..15  byte i = salt ^ c(i) ^ K[i % 8]; c(i) = password[i] + i
//                below the password length, c(i) = i after it
//   byte 16      salt
//   byte 17      (sum of c(0..15) mod 256) ^ salt, ^ 1 when authentication is on
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kestrel {

inline constexpr size_t kProductIdSize = 18;
inline constexpr size_t kPasswordMaxLength = 15;
inline constexpr const char* kErrorFormat = "ErrorFormat";

// Authentication switch as loaded: only bit 0 means anything.
enum AuthSwitchValue : uint8_t { kAuthOff = 0, kAuthOn = 1, kAuthUndecodable = 2 };

struct DecodedPassword {
    std::string text;                  // the password, or "ErrorFormat"
    uint8_t authSwitch = kAuthUndecodable;
    std::optional<uint8_t> salt;       // byte 16, when the value had 18 bytes
};

// Only the first kPasswordMaxLength bytes of a longer password are kept, so
// the decoded text always ends in a zero; callers refuse longer ones first.
std::array<uint8_t, kProductIdSize> ScramblePassword(std::string_view password, uint8_t salt, bool authentication);

// Any length is accepted: fewer than 18 bytes decode as "ErrorFormat", and
// so does a value whose 16 characters hold no terminating zero; bytes after
// the 18th are ignored.
DecodedPassword UnscramblePassword(std::span<const uint8_t> value);

}  // namespace kestrel
