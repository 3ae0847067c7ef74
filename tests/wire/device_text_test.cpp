#include "wire/device_text.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

TEST(DeviceText, LineBreaksBlankControlsQuestionMarkLatin1AsUtf8) {
    EXPECT_EQ(DeviceText("ST2000DM001-1CH164"), "ST2000DM001-1CH164");
    EXPECT_EQ(DeviceText("a\r\nb"), "a  b");
    EXPECT_EQ(DeviceText(std::string("\x00\x07\x1b[31m\x7f", 8)), "???[31m?");
    EXPECT_EQ(DeviceText("\x80\x9b\x9f"), "???") << "C1 controls are controls too";
    EXPECT_EQ(DeviceText("\xa0\xe9\xff"), "\xc2\xa0\xc3\xa9\xc3\xbf");
    EXPECT_EQ(DeviceText(DeviceText("caf\xe9")), "caf\xc3\x83\xc2\xa9") << "applied once, where device text is read";
}

}  // namespace
}  // namespace kestrel
