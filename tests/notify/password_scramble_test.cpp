#include "notify/password_scramble.h"

#include <gtest/gtest.h>

#include <vector>

namespace kestrel {
namespace {

TEST(PasswordScramble, AnySaltAndAnyByteRoundTrip) {
    for (const uint8_t salt : {0x00, 0x5A, 0xFF}) {
        const DecodedPassword d = UnscramblePassword(ScramblePassword("\x01\x7f\x80\xff", salt, true));
        EXPECT_EQ(d.text, "\x01\x7f\x80\xff");
        EXPECT_EQ(d.authSwitch, kAuthOn);
        EXPECT_EQ(d.salt, salt);
    }
    EXPECT_EQ(UnscramblePassword(ScramblePassword("0123456789abcdefXYZ", 0, true)).text, "0123456789abcde")
        << "cut to 15 bytes, so a terminating zero remains";
}

TEST(PasswordScramble, LayoutOfTheValue) {
    // An empty password scrambles c(i) = i, whose sum is 120 whatever the table.
    const auto off = ScramblePassword("", 0x33, false);
    const auto on = ScramblePassword("", 0x33, true);
    EXPECT_EQ(off[16], 0x33);
    EXPECT_EQ(off[17], 120 ^ 0x33);
    EXPECT_EQ(on[17], off[17] ^ 1);
    EXPECT_TRUE(std::equal(on.begin(), on.begin() + 16, off.begin())) << "the switch lives in the check byte only";
    // Byte i depends on character i alone, and every byte carries the salt.
    const auto a = ScramblePassword("A", 0, false);
    const auto b = ScramblePassword("B", 0, false);
    const auto salted = ScramblePassword("A", 0x0F, false);
    EXPECT_EQ(a[0] ^ b[0], 'A' ^ 'B');
    for (size_t i = 1; i < 16; ++i) EXPECT_EQ(a[i], b[i]);
    for (size_t i = 0; i < 16; ++i) EXPECT_EQ(salted[i], a[i] ^ 0x0F);

    // Character i is stored plus i, modulo 256, at every position: compared
    // with zeros, 0xFF at position i gives (0xFF + i) ^ i.
    const std::string zeros(15, '\0');
    const auto z = ScramblePassword(std::string_view(zeros.data(), zeros.size()), 0, false);
    for (size_t i = 1; i < 15; ++i) {
        std::string one = zeros;
        one[i] = '\xff';
        const auto p = ScramblePassword(std::string_view(one.data(), one.size()), 0, false);
        EXPECT_EQ(p[i] ^ z[i], ((0xFF + i) & 0xFF) ^ i) << i;
    }
    // After the text, c(i) = i; the table repeats every 8 bytes.
    for (size_t i = 1; i < 8; ++i) EXPECT_EQ(off[i] ^ off[i + 8], i ^ (i + 8)) << i;
}

TEST(PasswordScramble, BadValuesDecodeAsErrorFormat) {
    auto value = ScramblePassword("secret", 7, false);
    value[17] ^= 0x02;
    const DecodedPassword d = UnscramblePassword(value);
    EXPECT_EQ(d.text, "ErrorFormat");
    EXPECT_EQ(d.authSwitch, kAuthUndecodable);
    EXPECT_EQ(d.salt, 7) << "the salt is still taken";
    for (size_t size : {0u, 1u, 17u}) {
        const DecodedPassword shortOne = UnscramblePassword(std::span(value).first(size));
        EXPECT_EQ(shortOne.text, "ErrorFormat") << size;
        EXPECT_EQ(shortOne.salt, std::nullopt) << size;
    }
    std::vector<uint8_t> longer(value.begin(), value.end());
    longer[17] ^= 0x02;
    longer.insert(longer.end(), {1, 2, 3});
    EXPECT_EQ(UnscramblePassword(longer).text, "secret") << "only the first 18 bytes count";
}

// Found by fuzz_settings: sixteen characters without a terminating zero,
// with a check byte that fits. No save can store such a password (the page
// refuses more than 15), so the value is not one of ours.
TEST(PasswordScramble, SixteenCharactersWithoutAnEndDecodeAsErrorFormat) {
    const std::vector<uint8_t> value = {0xA4, 0x59, 0x6B, 0xC0, 0xA4, 0x50, 0x6B, 0xC0, 0x33,
                                        0x9B, 0x71, 0x9B, 0x19, 0x36, 0x23, 0x86, 0x6C, 0x5A};
    const DecodedPassword d = UnscramblePassword(value);
    EXPECT_EQ(d.text, "ErrorFormat");
    EXPECT_EQ(d.authSwitch, kAuthUndecodable);
    EXPECT_EQ(d.salt, 0x6C);
}

}  // namespace
}  // namespace kestrel
