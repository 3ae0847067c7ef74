#include "notify/email_page.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <memory>

#include "platform/headless_ui.h"
#include "support/recording_ui.h"

namespace kestrel {
namespace {

using Lines = std::vector<std::string>;

class EmailPageTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::string file = (dir.path() + "/kestrel-raid-gui.ini").toStdString();
    std::unique_ptr<RegistryKey> key;
    MailFlags flags;
    MemoryStatusBar bar;
    testing::RecordingMessageBoxes boxes;
    std::unique_ptr<MailSettingsStore> store;
    std::unique_ptr<EmailPage> page;

    void SetUp() override { Start(); }

    // A new run of the program on the same settings file, its page opened.
    void Start() {
        page.reset();
        store.reset();
        key = std::make_unique<RegistryKey>(file);
        store = std::make_unique<MailSettingsStore>(*key, flags, bar, boxes, [] {});
        store->Startup();
        page = std::make_unique<EmailPage>(*store, boxes);
        page->Open();
    }
    const EmailPageState& S() const { return page->State(); }
    void Type(int subPage, const std::string& address) {
        page->SelectSubPage(subPage);
        page->SetEntry(static_cast<size_t>(subPage - 1), address);
        page->Image3_1PClick();
    }
    void FillIn() {
        const Lines typed = {"587", "smtp.example.com", "RAID box", "raid@example.com", "30", "secret"};
        for (size_t i = 0; i < typed.size(); ++i) page->FieldEdited(i, typed[i]);
        page->CheckBox8Click(true);
        page->SetDontSend(1, true);
        page->SetSubject(0, "Disk failure");
        page->SetContents(0, {"Replace the disk.", "Then rebuild."});
        page->SetSubject(1, "Enclosure gone");
        Type(kEmailHddFail, "ops@example.com");
        Type(kEmailDeviceRemove, "boss@example.com");
    }
};

TEST_F(EmailPageTest, WithoutStoredSettingsShowsTheDefaults) {
    EXPECT_EQ(S().fields, (std::array<std::string, 6>{"25", "", "", "", "0", ""}));
    EXPECT_FALSE(S().authentication);
    EXPECT_EQ(S().subPage, kEmailSetup);
    EXPECT_EQ(S().fieldChanged, 0);
}

TEST_F(EmailPageTest, StoredFieldsShowAfterARestartAndTheFileHoldsThem) {
    FillIn();
    EXPECT_EQ(S().fieldChanged, 0x3F);
    ASSERT_TRUE(page->Image3_OKClick()) << (boxes.shown.empty() ? "" : boxes.shown.back().text);
    EXPECT_TRUE(boxes.shown.empty()) << "storing shows no message";

    RegistryKey reader(file);
    ASSERT_TRUE(reader.Open(false));
    EXPECT_EQ(reader.ReadString("Port"), "587");
    EXPECT_EQ(reader.ReadString("TimeOut"), "30");
    EXPECT_EQ(reader.ReadInteger("EMailSend"), 2);
    EXPECT_EQ(reader.ReadInteger("ToAddrCount"), 2);
    EXPECT_EQ(reader.ReadString("ToAddr_01"), "boss@example.com");

    Start();
    EXPECT_EQ(S().fields, (std::array<std::string, 6>{"587", "smtp.example.com", "RAID box", "raid@example.com", "30",
                                                      "secret"}));
    EXPECT_TRUE(S().authentication);
    EXPECT_EQ(S().dontSend, (std::array<bool, 2>{false, true}));
    EXPECT_EQ(S().addresses, (Lines{"ops@example.com", "boss@example.com"}));
    EXPECT_EQ(S().subjects, (std::array<std::string, 2>{"Disk failure", "Enclosure gone"}));
    EXPECT_EQ(S().contents[0], (Lines{"Replace the disk.", "Then rebuild."}));
    EXPECT_TRUE(S().contents[1].empty());
    EXPECT_EQ(S().fieldChanged, 0);
}

TEST_F(EmailPageTest, TheTlsRequirementIsShownStoredAndLeftOutUntilSet) {
    FillIn();
    ASSERT_TRUE(page->Image3_OKClick());
    {
        RegistryKey reader(file);
        ASSERT_TRUE(reader.Open(false));
        EXPECT_FALSE(reader.ReadInteger(kRequireTlsValue).has_value()) << "never set, never written";
        EXPECT_FALSE(reader.ReadString(kCaFileValue).has_value());
    }
    Start();
    page->SetRequireTls(true);
    page->SetCaFile("/etc/kestrel/ca.pem");
    ASSERT_TRUE(page->Image3_OKClick());
    Start();
    EXPECT_TRUE(S().requireTls);
    EXPECT_EQ(S().caFile, "/etc/kestrel/ca.pem");
    EXPECT_TRUE(store->RequireTls());

    // Ignore brings back what is stored.
    page->SetRequireTls(false);
    page->SetCaFile("");
    page->Image3_IgnoreClick();
    EXPECT_TRUE(S().requireTls);
    EXPECT_EQ(S().caFile, "/etc/kestrel/ca.pem");
}

TEST_F(EmailPageTest, AddingFollowsTheAtSignRuleAndTheTenAddressLimit) {
    Type(kEmailHddFail, "no-at-sign.example.com");
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "E-Mail Address formula error!");
    EXPECT_EQ(boxes.shown[0].caption, "E-Mail Message");
    EXPECT_EQ(S().entries[0], "") << "the entry box is emptied";
    EXPECT_TRUE(S().addresses.empty());

    // What would break the SMTP envelope is refused with the same box.
    for (const char* bad : {"a@b.com>x", "<a@b.com", "a b@c.com", "a@b.com\t"}) Type(kEmailHddFail, bad);
    EXPECT_EQ(boxes.shown.size(), 5u);
    EXPECT_TRUE(S().addresses.empty());

    Type(kEmailHddFail, "");  // silently nothing
    EXPECT_EQ(boxes.shown.size(), 5u);

    for (int i = 0; i < 10; ++i) Type(kEmailDeviceRemove, "user" + std::to_string(i) + "@example.com");
    ASSERT_EQ(S().addresses.size(), 10u);
    Type(kEmailHddFail, "eleventh@example.com");
    Type(kEmailHddFail, "no-at-sign");
    EXPECT_EQ(S().addresses.size(), 10u);
    EXPECT_EQ(boxes.shown.size(), 5u) << "a full list refuses silently, even a bad address";
}

TEST_F(EmailPageTest, BothGridsShowTheOneWorkingList) {
    Type(kEmailHddFail, "ops@example.com");
    page->SelectSubPage(kEmailDeviceRemove);
    page->StringGridSelectCell(1, 0);
    EXPECT_EQ(S().entries[1], "ops@example.com") << "added on HDD_Fail, shown on DeviceRemove";
    page->StringGridSelectCell(1, 5);
    EXPECT_EQ(S().entries[1], "") << "rows past the last address are empty";
    EXPECT_EQ(page->GridCell(9), "");

    // Changing the sub-page empties both entry boxes.
    page->SetEntry(0, "typed");
    page->SetEntry(1, "typed");
    page->SelectSubPage(kEmailHddFail);
    EXPECT_EQ(S().entries, (std::array<std::string, 2>{"", ""}));

    // On Setup the add and remove images do nothing.
    page->SelectSubPage(kEmailSetup);
    page->SetEntry(0, "x@example.com");
    page->Image3_1PClick();
    page->Image3_1MClick();
    EXPECT_EQ(S().addresses, Lines{"ops@example.com"});
}

TEST_F(EmailPageTest, RemovingTakesTheSelectedRowOnly) {
    for (const char* a : {"a@x.com", "b@x.com", "c@x.com"}) Type(kEmailHddFail, a);
    page->SelectSubPage(kEmailDeviceRemove);
    page->Image3_1MClick();  // nothing selected
    EXPECT_EQ(S().addresses.size(), 3u);
    page->StringGridSelectCell(1, 7);
    page->Image3_1MClick();  // an empty row
    EXPECT_EQ(S().addresses.size(), 3u);
    page->StringGridSelectCell(1, 1);
    EXPECT_EQ(S().entries[1], "b@x.com");
    page->Image3_1MClick();
    EXPECT_EQ(S().addresses, (Lines{"a@x.com", "c@x.com"}));
    EXPECT_EQ(S().entries[1], "");
    // The other grid's selection does not count here.
    page->StringGridSelectCell(0, 0);
    page->StringGridSelectCell(1, 5);
    page->Image3_1MClick();
    EXPECT_EQ(S().addresses.size(), 2u);
}

TEST_F(EmailPageTest, UncheckingAuthenticationStoresTheSwitchOff) {
    FillIn();
    ASSERT_TRUE(page->Image3_OKClick());
    Start();
    ASSERT_TRUE(S().authentication);
    page->CheckBox8Click(false);
    EXPECT_TRUE(page->Unstored());
    ASSERT_TRUE(page->Image3_OKClick());
    EXPECT_FALSE(page->Unstored());
    EXPECT_EQ(S().fieldChanged, 0);
    Start();
    EXPECT_FALSE(S().authentication);
    EXPECT_EQ(store->AuthSwitch(), 0);
    EXPECT_EQ(S().fields[kPasswordSetting], "secret");
}

TEST_F(EmailPageTest, RevertKeepsTheDontSendTicksAndDropsWhatWasTyped) {
    FillIn();
    ASSERT_TRUE(page->Image3_OKClick());
    page->FieldEdited(kSmtpSetting, "typo.example.com");
    page->SetDontSend(0, true);
    page->SetDontSend(1, false);
    Type(kEmailHddFail, "extra@example.com");
    page->Image3_IgnoreClick();
    EXPECT_EQ(S().fields[kSmtpSetting], "smtp.example.com") << "the store's reload is served before the fill";
    EXPECT_EQ(S().dontSend, (std::array<bool, 2>{true, false}));
    EXPECT_EQ(S().addresses.size(), 2u);
    EXPECT_EQ(S().subPage, kEmailHddFail);
    EXPECT_EQ(S().fieldChanged, 0);
}

TEST_F(EmailPageTest, RevertWithoutStoredSettingsClearsWhatWasTyped) {
    FillIn();
    page->Image3_IgnoreClick();
    EXPECT_EQ(S().fields, (std::array<std::string, 6>{"25", "", "", "", "0", ""}));
    EXPECT_TRUE(S().addresses.empty());
    EXPECT_EQ(S().dontSend, (std::array<bool, 2>{false, true}));
}

TEST_F(EmailPageTest, NothingReachesTheFileUntilStoredAndARefusedStoreKeepsTheEdits) {
    FillIn();
    EXPECT_FALSE(RegistryKey(file).Open(false)) << "typing writes nothing";
    page->FieldEdited(kPasswordSetting, std::string(16, 'p'));
    EXPECT_FALSE(page->Image3_OKClick());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_NE(boxes.shown[0].text.find("password"), std::string::npos);
    EXPECT_EQ(S().addresses.size(), 2u);
    EXPECT_EQ(S().fieldChanged, 0x3F);
    EXPECT_FALSE(store->KeyPresent());
}

}  // namespace
}  // namespace kestrel
