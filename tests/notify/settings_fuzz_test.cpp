// Random settings files and random "ProductID" values: the load must finish
// without a crash or a stray read, and keep its own limits.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>
#include <random>

#include "notify/mail_settings_store.h"
#include "platform/headless_ui.h"
#include "support/recording_ui.h"

namespace kestrel {
namespace {

class Fuzz {
public:
    explicit Fuzz(uint32_t seed) : rng_(seed) {}
    size_t Below(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }
    // oneLine: no line breaks, so that a value stays on its line.
    std::string Bytes(size_t maxLength, bool oneLine = false) {
        std::string s(Below(maxLength + 1), '\0');
        for (char& c : s) {
            c = static_cast<char>(Below(256));
            if (oneLine && (c == '\n' || c == '\r')) c = ' ';
        }
        return s;
    }
    std::string SettingsFile() {
        static const char* names[] = {"Port", "SMTP", "UserName", "Addr", "TimeOut", "EMailSend", "ProductID",
                                      "ToAddrCount", "FilePath", "ToAddr_00", "ToAddr_01", "ToAddr_09"};
        static const char* shapes[] = {"", "@ByteArray(", "@ByteArray(\\x", "@Variant(", "\"", "-", "@"};
        std::string text = Below(8) == 0 ? "" : "[KESTREL_RAID_GUI]\n";
        for (size_t i = Below(20); i > 0; --i) {
            if (Below(40) == 0) {
                text += Bytes(40) + "\n";
            } else {
                text += std::string(names[Below(std::size(names))]) + "=" + shapes[Below(std::size(shapes))];
                text += Below(3) ? Bytes(40, true) : std::to_string(static_cast<int64_t>(rng_()) - (1LL << 31));
                text += Below(3) ? "\n" : "\r\n";
            }
        }
        return text;
    }

private:
    std::mt19937 rng_;
};

TEST(SettingsFuzz, RandomProductIdsDecodeWithinBounds) {
    Fuzz fuzz(7);
    for (int i = 0; i < 20000; ++i) {
        // An exactly sized heap copy, so that the sanitizer sees a read past it.
        const std::string bytes = fuzz.Bytes(40);
        const std::vector<uint8_t> value(bytes.begin(), bytes.end());
        const DecodedPassword d = UnscramblePassword(value);
        ASSERT_LE(d.authSwitch, 2);
        ASSERT_TRUE(d.authSwitch == kAuthUndecodable ? d.text == "ErrorFormat" : d.text.size() < 17);
        ASSERT_TRUE(value.size() >= 18 || d.text == "ErrorFormat");
    }
}

TEST(SettingsFuzz, RandomSettingsFilesLoad) {
    QTemporaryDir dir;
    Fuzz fuzz(11);
    MailFlags flags;
    MemoryStatusBar bar;
    testing::RecordingMessageBoxes boxes;
    int loaded = 0;
    for (int i = 0; i < 150; ++i) {
        // A new name each time: Qt keeps parsed files by name, size and time.
        const std::string file = (dir.path() + "/f" + QString::number(i) + ".ini").toStdString();
        std::ofstream(file, std::ios::binary) << fuzz.SettingsFile();
        std::ofstream((dir.path() + "/EmailContens Fan Fail.txt").toStdString(), std::ios::binary) << fuzz.Bytes(300);
        RegistryKey key(file);
        MailSettingsStore store(key, flags, bar, boxes, [] {});
        store.Startup();
        if (!flags.Test(mail_flag::kReloadSettings)) continue;
        ++loaded;
        store.LoadMailSettings();
        ASSERT_TRUE(store.SettingsLoaded());
        ASSERT_EQ(store.MailSettings().size(), 6u);
        ASSERT_LE(store.RecipientList().size(), 10u);
        // Random bytes stored through the key load as well.
        const std::string bytes = fuzz.Bytes(30);
        key.WriteBinary("ProductID", std::vector<uint8_t>(bytes.begin(), bytes.end()));
        // Text that is not UTF-8 is never written back.
        if (!key.Flush()) {
            ASSERT_NE(key.Error().find("is not UTF-8 text"), std::string::npos) << key.Error();
            key.DiscardPendingWrites();
        }
        store.RequestReload();
        store.LoadMailSettings();
        ASSERT_LE(store.AuthSwitch(), 2);
    }
    // An open quote runs on into the next lines, which counts as damage.
    EXPECT_GT(loaded, 30) << "a good part of the files should get as far as the load";
}

}  // namespace
}  // namespace kestrel
