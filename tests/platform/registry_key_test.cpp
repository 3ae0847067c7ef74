#include "platform/registry_key.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QTemporaryDir>
#include <fstream>

namespace kestrel {
namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

unsigned Mode(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0;
}

class RegistryKeyTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::string Path(const std::string& name) const { return (dir.path() + "/" + QString::fromStdString(name)).toStdString(); }
    void Write(const std::string& name, const std::string& text) { std::ofstream(Path(name), std::ios::binary) << text; }
};

TEST_F(RegistryKeyTest, CreatesAPrivateFileThatReadsLikeTheKey) {
    const std::string file = Path("new/kestrel.ini");
    RegistryKey key(file);
    EXPECT_EQ(key.Probe(), RegistryKey::Presence::Absent);
    EXPECT_FALSE(key.Open(false));
    ASSERT_TRUE(key.Open(true));
    EXPECT_EQ(Mode(file), 0600u);
    EXPECT_EQ(Mode(Path("new")), 0700u);
    EXPECT_EQ(key.Probe(), RegistryKey::Presence::Absent) << "a key without values does not exist yet";

    key.WriteString("Port", "25");
    key.WriteString("UserName", "Smith, John");
    key.WriteInteger("EMailSend", 3);
    key.WriteBinary("ProductID", {0x00, 0xFF, 0x40, 0x28});
    EXPECT_EQ(key.ReadString("Port"), "25") << "readable before the flush";
    chmod(file.c_str(), 0644);
    ASSERT_TRUE(key.Flush());
    EXPECT_EQ(Mode(file), 0600u);
    EXPECT_EQ(key.Probe(), RegistryKey::Presence::Present);
    const std::string text = ReadAll(file);
    for (const char* line : {"[KESTREL_RAID_GUI]", "\nPort=25\n", "\nEMailSend=3\n", "\nProductID=@ByteArray("})
        EXPECT_NE(text.find(line), std::string::npos) << text;

    RegistryKey again(file);
    ASSERT_TRUE(again.Open(false));
    EXPECT_EQ(again.ValueNames(), (std::vector<std::string>{"EMailSend", "Port", "ProductID", "UserName"}));
    EXPECT_EQ(again.ReadString("UserName"), "Smith, John");
    EXPECT_EQ(again.ReadInteger("EMailSend"), 3);
    EXPECT_EQ(again.ReadBinary("ProductID"), (std::vector<uint8_t>{0x00, 0xFF, 0x40, 0x28}));
    EXPECT_EQ(again.ReadBinary("Port"), std::nullopt) << "a text is not binary";
}

TEST_F(RegistryKeyTest, HandEditedValuesReadByType) {
    Write("k.ini", "[KESTREL_RAID_GUI]\nA=-3\nB=4294967295\nC=99999999999\nD=twelve\nE=\nF= 7 \n"
                   "G=@ByteArray(\\x\nH=a, b,c\nI=@Rect(1 2 3 4)\n");
    RegistryKey key(Path("k.ini"));
    ASSERT_TRUE(key.Open(false));
    EXPECT_EQ(key.ReadInteger("A"), -3);
    EXPECT_EQ(key.ReadInteger("B"), -1) << "the full 32-bit range, as a DWORD";
    for (const char* name : {"C", "D", "E", "G", "I"}) EXPECT_EQ(key.ReadInteger(name), std::nullopt) << name;
    EXPECT_EQ(key.ReadInteger("F"), 7);
    EXPECT_EQ(key.ReadBinary("G"), std::nullopt);
    EXPECT_EQ(key.ReadString("H"), "a, b, c") << "an unquoted comma splits the value in Qt's syntax";
    EXPECT_EQ(key.ReadString("I"), std::nullopt);
}

TEST_F(RegistryKeyTest, UnreadableFilesAreToldApartFromMissingKeys) {
    Write("empty.ini", "");
    Write("other.ini", "[Elsewhere]\nPort=25\n");
    Write("broken.ini", "[KESTREL_RAID_GUI\nPort=25\n");
    QDir(dir.path()).mkdir("folder.ini");
    EXPECT_EQ(RegistryKey(Path("empty.ini")).Probe(), RegistryKey::Presence::Absent);
    EXPECT_EQ(RegistryKey(Path("other.ini")).Probe(), RegistryKey::Presence::Absent);
    EXPECT_EQ(RegistryKey(Path("broken.ini")).Probe(), RegistryKey::Presence::Unreadable);
    EXPECT_EQ(RegistryKey(Path("folder.ini")).Probe(), RegistryKey::Presence::Unreadable);

    // Qt has parsed the broken file by now and would not report it again.
    RegistryKey broken(Path("broken.ini"));
    EXPECT_FALSE(broken.Open(true));
    EXPECT_NE(broken.Error().find("line 1"), std::string::npos) << broken.Error();
    EXPECT_EQ(ReadAll(Path("broken.ini")), "[KESTREL_RAID_GUI\nPort=25\n");
}

// Found by fuzz_settings: Qt reads a NUL byte of a value list, but writes
// the list back empty, so a flush lost the value. A NUL is no text: a file
// holding one is left as it is.
TEST_F(RegistryKeyTest, AFileWithANulByteIsNotWrittenOver) {
    const std::string text = std::string("[KESTREL_RAID_GUI]\nSMTP=a,b\0c\n", 30);
    Write("nul.ini", text);
    RegistryKey key(Path("nul.ini"));
    ASSERT_TRUE(key.Open(false));
    key.WriteInteger("EMailSend", 0);
    EXPECT_FALSE(key.Flush());
    EXPECT_NE(key.Error().find("line 2"), std::string::npos) << key.Error();
    EXPECT_EQ(ReadAll(Path("nul.ini")), text);

    // The same character written as an escape.
    Write("escaped.ini", "[KESTREL_RAID_GUI]\nSMTP=a,b\\0d\n");
    RegistryKey escaped(Path("escaped.ini"));
    ASSERT_TRUE(escaped.Open(false));
    escaped.WriteInteger("EMailSend", 0);
    EXPECT_FALSE(escaped.Flush());
    EXPECT_NE(escaped.Error().find("SMTP"), std::string::npos) << escaped.Error();
    EXPECT_EQ(ReadAll(Path("escaped.ini")), "[KESTREL_RAID_GUI]\nSMTP=a,b\\0d\n");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 2) << "no file is left behind";
}

}  // namespace
}  // namespace kestrel
