// Desktop notes for alerts and outcomes, without a bus: a recording service.
#include "notify/desktop_alerts.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <memory>
#include <vector>

#include "platform/headless_ui.h"
#include "platform/registry_key.h"
#include "support/recording_ui.h"

namespace kestrel {
namespace {

struct RecordingSink final : AlertSink {
    void ComposeAlert(int kind, int enclosure, int disk) override { calls.push_back({kind, enclosure, disk}); }
    std::vector<std::array<int, 3>> calls;
};

// Takes every note, or, when it "has no service", reports each undelivered.
struct RecordingService final : DesktopNotifications {
    explicit RecordingService(std::vector<DesktopNote>& notes, bool answers) : notes(notes), answers(answers) {}
    void Notify(const DesktopNote& note, std::function<void()> undelivered) override {
        if (!answers) return undelivered();
        notes.push_back(note);
    }
    std::vector<DesktopNote>& notes;
    bool answers;
};

struct Desktop {
    explicit Desktop(std::vector<std::string> recipients, bool service = true, bool muteRemoved = false) {
        key = std::make_unique<RegistryKey>((dir.path() + "/settings.ini").toStdString());
        store = std::make_unique<MailSettingsStore>(*key, flags, bar, boxes, [] {});
        store->Startup();
        MailPageFields page;
        page.fields = {"25", "127.0.0.1", "RAID box", "raid@example.com", "", ""};
        page.fieldChanged = 0x3F;
        page.dontSend = {false, muteRemoved};
        page.addresses = std::move(recipients);
        EXPECT_TRUE(store->SaveMailSettings(page).ok);
        store->LoadMailSettings();
        alerts = std::make_unique<DesktopAlerts>(sink, *store);
        alerts->SetNotifications(std::make_unique<RecordingService>(notes, service));
        alerts->SetFallback([this](const DesktopNote& note) { fallback.push_back(note); });
    }
    QTemporaryDir dir;
    std::unique_ptr<RegistryKey> key;
    MailFlags flags;
    MemoryStatusBar bar;
    testing::RecordingMessageBoxes boxes;
    std::unique_ptr<MailSettingsStore> store;
    RecordingSink sink;
    std::vector<DesktopNote> notes;
    std::vector<DesktopNote> fallback;
    std::unique_ptr<DesktopAlerts> alerts;
};

TEST(DesktopAlerts, EveryAlertReachesTheMailAndTheDesktopWhateverTheMailSettings) {
    Desktop none({});
    EXPECT_TRUE(none.alerts->MailNotSetUp());
    none.alerts->ComposeAlert(1, 0, 1);
    none.alerts->ComposeAlert(4, 1, 0);
    ASSERT_EQ(none.sink.calls.size(), 2u);
    EXPECT_EQ(none.sink.calls[0], (std::array<int, 3>{1, 0, 1}));
    ASSERT_EQ(none.notes.size(), 2u);
    EXPECT_EQ(none.notes[0].summary, "Device1 HDD2 was removed.");
    EXPECT_EQ(none.notes[0].body, "No alert mail: mail is not set up (no recipient).");
    EXPECT_EQ(none.notes[0].urgency, DesktopNote::Urgency::Critical);
    EXPECT_EQ(none.notes[1].summary, "Device2 fan fail.");
    EXPECT_TRUE(none.fallback.empty());

    // Muted alerts still reach the desktop, saying why no mail goes out.
    Desktop muted({"ops@example.com"}, true, true);
    EXPECT_FALSE(muted.alerts->MailNotSetUp());
    muted.alerts->ComposeAlert(2, 0, 0);
    muted.alerts->ComposeAlert(3, 0, 0);
    ASSERT_EQ(muted.notes.size(), 2u);
    EXPECT_EQ(muted.notes[0].summary, "Device1 RAID system fail.");
    EXPECT_EQ(muted.notes[0].body, "No alert mail: this alert is set to \"Don't send\".");
    EXPECT_EQ(muted.notes[1].summary, "Device1 over heat.");
    EXPECT_EQ(muted.notes[1].body, "An alert mail goes to the recipients.");
}

TEST(DesktopAlerts, OutcomesAreNotesAndGoToTheFallbackWhenNoServiceTakesThem) {
    Desktop d({"ops@example.com"}, false);
    d.alerts->RebuildEnded(0, true);
    d.alerts->RebuildEnded(1, false);
    d.alerts->UpgradeEnded(0, true, "Upgrade OK");
    d.alerts->UpgradeEnded(1, false, "SPI Program Fail.");
    d.alerts->TestMailEnded(false, "Connection refused");
    d.alerts->AlertMailFailed("Could not connect");
    EXPECT_TRUE(d.notes.empty());
    std::vector<std::string> summaries;
    for (const DesktopNote& n : d.fallback) summaries.push_back(n.summary);
    EXPECT_EQ(summaries, (std::vector<std::string>{"Device1 rebuild finished.", "Device2 rebuild failed.",
                                                   "Device1 firmware upgrade finished.",
                                                   "Device2 firmware upgrade failed.", "Test mail failed.",
                                                   "Alert mail not delivered."}));
    EXPECT_EQ(d.fallback[3].body, "SPI Program Fail.");
    EXPECT_EQ(d.fallback[1].urgency, DesktopNote::Urgency::Critical);
    EXPECT_EQ(d.fallback[0].urgency, DesktopNote::Urgency::Normal);
    // Without any service object at all, the fallback still hears it.
    d.alerts->SetNotifications(nullptr);
    d.alerts->ComposeAlert(4, 0, 0);
    EXPECT_EQ(d.fallback.back().summary, "Device1 fan fail.");
}

}  // namespace
}  // namespace kestrel
