#include "gui/skin.h"

#include <gtest/gtest.h>

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace kestrel {
namespace {

TEST(Skin, EveryEmbeddedPictureDecodes) {
    for (const char* name : {"background_raid", "background_hybrid", "page_sts_white", "page_about_yellow",
                             "slot_d2_yellow", "setup_schedule_white", "button_upgrade", "disk", "fan"}) {
        const QImage image = SkinPicture(name);
        EXPECT_FALSE(image.isNull()) << name;
    }
    EXPECT_TRUE(SkinPicture("no_such_picture").isNull());
}

TEST(Skin, ScreensOfRatioTwoGetEveryPictureDrawnAtTwiceTheSize) {
    int pictures = 0;
    for (QDirIterator it(":/assets", {"*.jpg"}); it.hasNext();) {
        const std::string name = QFileInfo(it.next()).completeBaseName().toStdString();
        if (name.ends_with("@2x")) continue;
        ++pictures;
        const QImage normal = SkinPicture(name, 1.0);
        const QImage sharp = SkinPicture(name, 2.0);
        ASSERT_FALSE(sharp.isNull()) << name;
        EXPECT_EQ(sharp.size(), normal.size() * 2) << name << " has no 2x drawing";
        EXPECT_EQ(sharp.deviceIndependentSize(), QSizeF(normal.size())) << name << " covers the same area";
    }
    EXPECT_GT(pictures, 20);
}

TEST(Skin, DamagedPicturesDecodeToNothingWithoutCrashing) {
    QFile file(":/assets/disk.jpg");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray good = file.readAll();
    const QImage whole = DecodeJpeg(good);
    ASSERT_FALSE(whole.isNull());
    EXPECT_EQ(whole.size(), QSize(72, 92));

    EXPECT_TRUE(DecodeJpeg(QByteArray()).isNull());
    EXPECT_TRUE(DecodeJpeg("not a picture at all").isNull());
    for (int cut : {2, 20, 200, static_cast<int>(good.size()) / 2, static_cast<int>(good.size()) - 3})
        EXPECT_TRUE(DecodeJpeg(good.left(cut)).isNull()) << "cut at " << cut;
    QByteArray scrambled = good;
    for (int i = 300; i < scrambled.size(); i += 7) scrambled[i] = static_cast<char>(scrambled[i] ^ 0x5A);
    DecodeJpeg(scrambled);  // any result, but no crash
}

}  // namespace
}  // namespace kestrel
