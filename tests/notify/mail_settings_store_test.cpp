#include "notify/mail_settings_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <fstream>
#include <memory>

#include "platform/headless_ui.h"
#include "support/recording_ui.h"

namespace kestrel {
namespace {

using Lines = std::vector<std::string>;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

bool Exists(const std::string& path) { return QFile::exists(QString::fromStdString(path)); }

MailPageFields Page(Lines addresses = {"ops@example.com"}) {
    MailPageFields page;
    page.fields = {"", "smtp.example.com", "RAID box", "raid@example.com", "", "secret"};
    page.fieldChanged = 0x3F;
    page.authentication = true;
    page.addresses = std::move(addresses);
    page.subjects = {"Disk failure", "Enclosure gone"};
    page.contents = {Lines{"Replace the disk.", "Then rebuild."}, Lines{"Check the cable."}};
    return page;
}

class MailSettingsStoreTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::string file = Path("kestrel-raid-gui.ini");
    std::unique_ptr<RegistryKey> key;
    MailFlags flags;
    MemoryStatusBar bar;
    testing::RecordingMessageBoxes boxes;
    std::function<void()> pump = [] {};
    std::unique_ptr<MailSettingsStore> store;

    std::string Path(const std::string& name) const { return (dir.path() + "/" + QString::fromStdString(name)).toStdString(); }

    // A new run of the program on the same files.
    void Start() {
        store.reset();
        key = std::make_unique<RegistryKey>(file);
        store = std::make_unique<MailSettingsStore>(*key, flags, bar, boxes, [this] { pump(); });
        store->Startup();
    }
    // What the mail step does first.
    void ServeReload() {
        if (flags.Test(mail_flag::kReloadSettings)) store->LoadMailSettings();
    }
    void Save(const MailPageFields& page) {
        ASSERT_TRUE(store->SaveMailSettings(page).ok) << (boxes.shown.empty() ? "" : boxes.shown.back().text);
        ServeReload();
    }
    // The key as another reader finds it in the file.
    std::unique_ptr<RegistryKey> Stored() {
        auto reader = std::make_unique<RegistryKey>(file);
        EXPECT_TRUE(reader->Open(false));
        return reader;
    }
    void WriteKey(const std::string& body) { WriteAll(file, "[KESTREL_RAID_GUI]\n" + body); }
};

TEST_F(MailSettingsStoreTest, FirstSaveCreatesTheKeyWithEveryValue) {
    Start();
    EXPECT_FALSE(store->KeyPresent());
    EXPECT_EQ(flags.Value(), 0) << "nothing to load without the key";
    EXPECT_EQ(store->FilePath(), dir.path().toStdString() + "/");

    ASSERT_TRUE(store->SaveMailSettings(Page()).ok);
    EXPECT_TRUE(store->KeyPresent());
    EXPECT_TRUE(flags.Test(mail_flag::kReloadSettings));
    EXPECT_FALSE(store->SettingsLoaded());
    const auto stored = Stored();
    EXPECT_EQ(stored->ValueNames(), (Lines{"Addr", "EMailSend", "FilePath", "Port", "ProductID", "SMTP", "TimeOut",
                                           "ToAddrCount", "ToAddr_00", "UserName"}));
    EXPECT_EQ(stored->ReadString("Port"), "25");
    EXPECT_EQ(stored->ReadString("TimeOut"), "0");
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(ReadAll(Path("EmailSubject Hard Disks Fail.txt")), "Disk failure\r\n");
    EXPECT_EQ(ReadAll(Path("EmailContens Hard Disks Fail.txt")), "Replace the disk.\r\nThen rebuild.\r\n");

    // The next run finds the key and loads all of it.
    Start();
    EXPECT_TRUE(store->KeyPresent());
    ASSERT_TRUE(flags.Test(mail_flag::kReloadSettings));
    ServeReload();
    EXPECT_TRUE(store->SettingsLoaded());
    EXPECT_EQ(flags.Value(), 0);
    EXPECT_EQ(store->MailSettings(), (Lines{"25", "smtp.example.com", "RAID box", "raid@example.com", "0", "secret"}));
    EXPECT_EQ(store->AuthSwitch(), 1);
    EXPECT_EQ(store->RecipientList(), Lines{"ops@example.com"});
    EXPECT_EQ(store->SubjectList(1), Lines{"Disk failure"});
    EXPECT_EQ(store->ContentsList(1), (Lines{"Replace the disk.", "Then rebuild."}));
    EXPECT_EQ(store->ContentsList(2), Lines{"Check the cable."});
    EXPECT_TRUE(store->SubjectList(3).empty());
}

TEST_F(MailSettingsStoreTest, LaterSavesWriteOnlyChangedFieldsAndTheirMuteBits) {
    Start();
    Save(Page());
    // Changed by hand behind the program's back.
    auto writer = Stored();
    writer->WriteString("Port", "587");
    writer->WriteString("TimeOut", "30");
    writer->WriteInteger("EMailSend", 12);
    ASSERT_TRUE(writer->Flush());
    store->RequestReload();
    ServeReload();

    MailPageFields page = Page();
    page.fields[kPortSetting] = "";
    page.fieldChanged = field_changed::kTimeOut;  // emptied: stored as "0"
    page.dontSend = {true, false};
    Save(page);
    EXPECT_EQ(Stored()->ReadString("Port"), "587");
    EXPECT_EQ(Stored()->ReadString("TimeOut"), "0");
    EXPECT_EQ(store->EMailSend(), 13u) << "bits 2 and 3 are kept";
    page.dontSend = {false, true};
    Save(page);
    EXPECT_EQ(store->EMailSend(), 14u);
}

TEST_F(MailSettingsStoreTest, PasswordsAndTheAuthenticationSwitchRoundTrip) {
    Start();
    MailPageFields page = Page();
    page.fieldChanged = field_changed::kPassword;
    for (const std::string password : {"123456789012345", ""}) {
        page.fields[kPasswordSetting] = password;
        Save(page);
        EXPECT_EQ(store->MailSetting(kPasswordSetting), password);
    }

    page.authentication = false;
    page.fieldChanged = 0;
    const std::vector<uint8_t> before = *Stored()->ReadBinary("ProductID");
    EXPECT_TRUE(store->SaveMailSettings(page).fieldChanged & field_changed::kPassword);
    const std::vector<uint8_t> after = *Stored()->ReadBinary("ProductID");
    ASSERT_EQ(after.size(), 18u);
    EXPECT_EQ(after[17], before[17] ^ 1);
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + 17, after.begin()));
    ServeReload();
    EXPECT_EQ(store->AuthSwitch(), 0);
    EXPECT_FALSE(store->SaveMailSettings(page).fieldChanged & field_changed::kPassword);

    // A tampered check byte, a short value and no value at all.
    std::vector<uint8_t> tampered = after;
    tampered[17] ^= 0x06;
    for (const std::vector<uint8_t>& value : {tampered, std::vector<uint8_t>(after.begin(), after.begin() + 9)}) {
        auto writer = Stored();
        writer->WriteBinary("ProductID", value);
        ASSERT_TRUE(writer->Flush());
        store->RequestReload();
        ServeReload();
        EXPECT_EQ(store->MailSetting(kPasswordSetting), "ErrorFormat");
        EXPECT_EQ(store->AuthSwitch(), 2);
    }
    WriteKey("EMailSend=0\nToAddrCount=1\nToAddr_00=a@b.c\n");
    Start();
    ServeReload();
    EXPECT_EQ(store->MailSetting(kPasswordSetting), "ErrorFormat");
    EXPECT_EQ(store->RecipientList(), Lines{"a@b.c"}) << "the load goes on";
}

TEST_F(MailSettingsStoreTest, DeletingARecipientRewritesTheListAndLeavesTheStaleValue) {
    Start();
    Save(Page({"a@x.org", "b@x.org", "c@x.org"}));
    EXPECT_TRUE(store->SaveMailSettings(Page({"a@x.org", "c@x.org"})).fieldChanged & field_changed::kAddresses);
    const auto stored = Stored();
    EXPECT_EQ(stored->ReadInteger("ToAddrCount"), 2);
    EXPECT_EQ(stored->ReadString("ToAddr_00"), "a@x.org");
    EXPECT_EQ(stored->ReadString("ToAddr_01"), "c@x.org");
    EXPECT_EQ(stored->ReadString("ToAddr_02"), "c@x.org") << "left in the key";
    ServeReload();
    EXPECT_EQ(store->RecipientList(), (Lines{"a@x.org", "c@x.org"}));
    EXPECT_FALSE(store->SaveMailSettings(Page({"a@x.org", "c@x.org"})).fieldChanged & field_changed::kAddresses);
}

TEST_F(MailSettingsStoreTest, EmptyTextsDeleteTheirFilesAndFilesOfAnyShapeLoad) {
    Start();
    Save(Page());
    MailPageFields page = Page();
    page.subjects[1].clear();
    page.contents[1].clear();
    Save(page);
    EXPECT_FALSE(Exists(Path("EmailSubject Device Removed.txt")));
    EXPECT_FALSE(Exists(Path("EmailContens Device Removed.txt")));
    EXPECT_TRUE(Exists(Path("EmailSubject Hard Disks Fail.txt")));
    Save(page);  // deleting what is already gone is no failure

    WriteAll(Path("EmailSubject Over Heat.txt"), "Too hot\r\nsecond line");
    WriteAll(Path("EmailContens Over Heat.txt"), std::string("a\nb\rc\r\n\r\nd\0e", 12));
    WriteAll(Path("EmailContens Fan Fail.txt"), std::string(2 << 20, 'x'));
    store->RequestReload();
    ServeReload();
    EXPECT_TRUE(store->SubjectList(2).empty());
    EXPECT_EQ(store->SubjectList(3), (Lines{"Too hot", "second line"}));
    EXPECT_EQ(store->ContentsList(3), (Lines{"a", "b", "c", "", std::string("d\0e", 3)}));
    ASSERT_EQ(store->ContentsList(4).size(), 1u);
    EXPECT_EQ(store->ContentsList(4)[0].size(), static_cast<size_t>(kMaxAlertTextBytes));
    EXPECT_NE(bar.Panel(4).find("EmailContens Fan Fail.txt"), std::string::npos) << bar.Panel(4);
}

TEST_F(MailSettingsStoreTest, HandEditedValuesLoadWithinLimits) {
    std::string addresses;
    for (int j = 0; j < 12; ++j) addresses += std::string("ToAddr_0") + "0123456789AB"[j] + "=r" + std::to_string(j) + "@x\n";
    const std::vector<std::pair<std::string, size_t>> cases = {
        {"", 0}, {"ToAddrCount=\n", 0}, {"ToAddrCount=many\n", 0}, {"ToAddrCount=-1\n", 0},
        {"ToAddrCount=4294967296\n", 0}, {"ToAddrCount=99\n", 10}, {"ToAddrCount=3\n", 3}};
    int run = 0;
    for (const auto& [count, expected] : cases) {
        file = Path("case" + std::to_string(run++) + ".ini");
        WriteKey(count + addresses + "EMailSend=x\n");
        Start();
        ServeReload();
        EXPECT_EQ(store->RecipientList().size(), expected) << count;
        EXPECT_EQ(store->EMailSend(), 0u);
    }
    // No mask at all: start-up adds it. A gap in the list is skipped, and a
    // relative folder is not used for the texts.
    file = Path("gap.ini");
    WriteKey("ToAddrCount=3\nToAddr_00=a@x\nToAddr_02=c@x\nFilePath=C:\\\\Windows\\\\\n");
    Start();
    EXPECT_EQ(Stored()->ReadInteger("EMailSend"), 0);
    ServeReload();
    EXPECT_EQ(store->RecipientList(), (Lines{"a@x", "c@x"}));
    EXPECT_EQ(store->FilePath(), dir.path().toStdString() + "/");
    EXPECT_NE(bar.Panel(4).find("FilePath"), std::string::npos);
}

TEST_F(MailSettingsStoreTest, UnreadableFileLoadsAsNoKeyAndIsNeverOverwritten) {
    const std::string broken = "[KESTREL_RAID_GUI]\nPort=25\nthis line is damaged\n";
    WriteAll(file, broken);
    Start();
    EXPECT_FALSE(store->KeyPresent());
    EXPECT_EQ(flags.Value(), 0);
    EXPECT_NE(bar.Panel(4).find("line 3"), std::string::npos) << bar.Panel(4);

    EXPECT_FALSE(store->SaveMailSettings(Page()).ok);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].caption, "Error");
    EXPECT_NE(boxes.shown[0].text.find(file), std::string::npos);
    EXPECT_EQ(ReadAll(file), broken);
    EXPECT_FALSE(store->KeyPresent());
    EXPECT_EQ(flags.Value(), 0);
}

TEST_F(MailSettingsStoreTest, FailedWritesAreReportedAndRetriedByTheNextSave) {
    MailPageFields tooLong = Page();
    tooLong.fields[kPasswordSetting] = "0123456789abcdef";
    QDir(dir.path()).mkdir("conf");
    file = Path("conf/k.ini");
    Start();
    EXPECT_FALSE(store->SaveMailSettings(tooLong).ok);
    EXPECT_FALSE(store->SaveMailSettings(Page(Lines(11, "a@x"))).ok);
    EXPECT_EQ(boxes.shown.size(), 2u);
    EXPECT_FALSE(Exists(file)) << "refused before anything is written";
    Save(Page());
    ASSERT_TRUE(store->SettingsLoaded());

    ASSERT_TRUE(QDir(dir.path()).rename("conf", "conf.away"));
    WriteAll(Path("conf"), "not a folder");
    MailPageFields page = Page();
    page.fields[kSmtpSetting] = "relay.example.com";
    page.fieldChanged = field_changed::kHost;
    EXPECT_FALSE(store->SaveMailSettings(page).ok);
    ASSERT_EQ(boxes.shown.size(), 3u);
    EXPECT_EQ(boxes.shown[2].caption, "Error");
    EXPECT_FALSE(flags.Test(mail_flag::kReloadSettings)) << "nothing new to load";
    EXPECT_TRUE(store->SettingsLoaded()) << "the loaded settings stay in use";

    ASSERT_TRUE(QFile::remove(QString::fromStdString(Path("conf"))));
    ASSERT_TRUE(QDir(dir.path()).rename("conf.away", "conf"));
    Save(page);
    EXPECT_EQ(store->MailSetting(kSmtpSetting), "relay.example.com");
}

TEST_F(MailSettingsStoreTest, SaveDuringALoadKeepsItsReloadRequest) {
    Start();
    Save(Page());
    MailPageFields page = Page();
    page.fields[kUserNameSetting] = "Renamed";
    page.fieldChanged = field_changed::kUserName;
    bool saved = false;
    pump = [&] {
        if (!saved) store->SaveMailSettings(page);
        saved = true;
    };
    store->RequestReload();
    store->LoadMailSettings();
    EXPECT_TRUE(flags.Test(mail_flag::kReloadSettings));
    EXPECT_FALSE(store->SettingsLoaded());
    ServeReload();
    EXPECT_EQ(store->MailSetting(kUserNameSetting), "Renamed");
    EXPECT_TRUE(store->SettingsLoaded());
}

TEST_F(MailSettingsStoreTest, AFailedSaveLeavesEverythingAsItWas) {
    Start();
    Save(Page());
    const std::string subjectFile = Path("EmailSubject Hard Disks Fail.txt");
    const std::string contentsFile = Path("EmailContens Device Removed.txt");
    // A folder where the settings file was: the key cannot be written.
    const std::string keyBefore = ReadAll(file);
    ASSERT_TRUE(QFile::rename(QString::fromStdString(file), QString::fromStdString(file + ".away")));
    ASSERT_TRUE(QDir().mkdir(QString::fromStdString(file)));

    MailPageFields page = Page();
    page.dontSend = {true, true};
    page.subjects = {"Changed", ""};
    page.contents[1].clear();
    page.fields[kSmtpSetting] = "relay.example.com";
    page.fieldChanged = field_changed::kHost;
    EXPECT_FALSE(store->SaveMailSettings(page).ok);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_NE(boxes.shown[0].text.find("is not a file"), std::string::npos) << boxes.shown[0].text;
    EXPECT_EQ(store->EMailSend(), 0u) << "no alert muted";
    ASSERT_TRUE(QDir().rmdir(QString::fromStdString(file)));
    ASSERT_TRUE(QFile::rename(QString::fromStdString(file + ".away"), QString::fromStdString(file)));
    EXPECT_EQ(ReadAll(file), keyBefore);
    EXPECT_EQ(ReadAll(subjectFile), "Disk failure\r\n");
    EXPECT_EQ(ReadAll(contentsFile), "Check the cable.\r\n");
    EXPECT_TRUE(store->SettingsLoaded());
    store->RequestReload();
    ServeReload();
    EXPECT_EQ(store->MailSetting(kSmtpSetting), "smtp.example.com") << "the unwritten value is not read back";
    EXPECT_EQ(store->SubjectList(1), Lines{"Disk failure"});
    EXPECT_EQ(store->EMailSend(), 0u);
}

TEST_F(MailSettingsStoreTest, StartUpNeverRewritesWhatTheFileHolds) {
    // For Qt's reader the backslash joins the next line to this one, so
    // "EMailSend" would look missing and be written as 0.
    const std::string continued = "[KESTREL_RAID_GUI]\nUserName=RAID box\\\nEMailSend=3\nToAddrCount=1\nToAddr_00=a@x\n";
    const std::string quoted = "[KESTREL_RAID_GUI]\nUserName=\"RAID box\nEMailSend=3\n\"\nToAddrCount=0\n";
    for (const std::string& text : {continued, quoted}) {
        WriteAll(file, text);
        Start();
        EXPECT_EQ(ReadAll(file), text);
        EXPECT_NE(bar.Panel(4).find("line 2 runs on into the next line"), std::string::npos) << bar.Panel(4);
        EXPECT_FALSE(store->KeyPresent());
        EXPECT_FALSE(store->SaveMailSettings(Page()).ok) << "nor does a save";
        EXPECT_EQ(ReadAll(file), text);
    }

    // Bytes that are not UTF-8 would come back as replacement characters.
    const std::string latin1 = "[KESTREL_RAID_GUI]\nUserName=M\xfcller\nToAddrCount=1\nToAddr_00=a@x\n";
    WriteAll(file, latin1);
    Start();
    EXPECT_EQ(ReadAll(file), latin1);
    EXPECT_NE(bar.Panel(4).find("line 2 is not UTF-8 text"), std::string::npos) << bar.Panel(4);
    ServeReload();
    EXPECT_EQ(store->RecipientList(), Lines{"a@x"}) << "the settings are still used";
    EXPECT_EQ(store->EMailSend(), 0u);
}

TEST_F(MailSettingsStoreTest, ALinkedSettingsFileIsNotWrittenThroughAndOwnersStay) {
    const std::string target = Path("real.ini");
    const std::string text = "[KESTREL_RAID_GUI]\nToAddrCount=0\n";
    WriteAll(target, text);
    file = Path("link.ini");
    ASSERT_EQ(symlink(target.c_str(), file.c_str()), 0);
    Start();
    EXPECT_EQ(ReadAll(target), text);
    EXPECT_NE(bar.Panel(4).find("symbolic link"), std::string::npos) << bar.Panel(4);
    EXPECT_FALSE(store->SaveMailSettings(Page()).ok);
    struct stat st {};
    ASSERT_EQ(lstat(file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadAll(target), text);

    if (geteuid() != 0) GTEST_SKIP() << "the owner part needs root";
    file = Path("owned.ini");
    WriteAll(file, text);
    ASSERT_EQ(chown(file.c_str(), 4321, 4322), 0);
    Start();
    Save(Page());
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 4322u);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(store->RecipientList(), Lines{"ops@example.com"});
}

TEST_F(MailSettingsStoreTest, AddressesThatWouldInjectParametersAreRefused) {
    WriteKey("ToAddrCount=3\nToAddr_00=a@x> NOTIFY=NEVER\nToAddr_01=b@x\nToAddr_02=c d@x\nAddr=me@x SIZE=1\n");
    Start();
    ServeReload();
    EXPECT_EQ(store->RecipientList(), Lines{"b@x"}) << "the others keep their mail";
    EXPECT_NE(bar.Panel(4).find("is not"), std::string::npos) << bar.Panel(4);

    file = Path("fresh.ini");
    Start();
    for (const MailPageFields& page : {Page({"ok@x", "bad@x>"}), Page({"tab\t@x"})}) {
        EXPECT_FALSE(store->SaveMailSettings(page).ok);
        EXPECT_NE(boxes.shown.back().text.find("cannot be used"), std::string::npos) << boxes.shown.back().text;
    }
    MailPageFields sender = Page();
    sender.fields[kAddrSetting] = "raid@example.com SMTPUTF8";
    EXPECT_FALSE(store->SaveMailSettings(sender).ok);
    EXPECT_FALSE(Exists(file)) << "nothing was written";
}

TEST_F(MailSettingsStoreTest, TheTlsRequirementIsReadAndKeptBySaves) {
    WriteKey("EMailSend=0\nSMTPRequireTLS=1\nSMTPCAFile=/etc/kestrel/ca.pem\n");
    Start();
    ServeReload();
    EXPECT_TRUE(store->RequireTls());
    EXPECT_EQ(store->CaFile(), "/etc/kestrel/ca.pem");
    Save(Page());
    EXPECT_TRUE(store->RequireTls());
    EXPECT_EQ(Stored()->ReadInteger("SMTPRequireTLS"), 1);
    EXPECT_EQ(Stored()->ReadString("SMTPCAFile"), "/etc/kestrel/ca.pem");
}

}  // namespace
}  // namespace kestrel
