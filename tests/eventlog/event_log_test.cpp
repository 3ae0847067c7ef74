#include "eventlog/event_log.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTemporaryDir>
#include <sys/stat.h>

#include "eventlog/log_file.h"
#include "eventlog/log_fixture.h"
#include "eventlog/log_text.h"

namespace kestrel {
namespace {

using testing::Crlf;
using testing::kSep;
using testing::kTitle;
using testing::LogFixture;
using testing::ReadBytes;
using testing::Record;
using testing::WriteBytes;

// Two enclosures: a mirror with both disks in service (HDD1's model all
// blanks), and an enclosure with a failed HDD1 and an absent HDD2.
void TwoEnclosures(LogFixture& f) {
    f.drives.EnclosureCount = 2;
    f.Status(0) = Record()
                      .mode(1)
                      .firmwareCode("C01")
                      .capacity(1953525168)
                      .diskState(0x22)
                      .speed(0x32)
                      .disk(0, "", "WD-123", 1953525168)
                      .disk(1, "ST2000DM001-1CH164", "Z1E2ABCD", 3907029168);
    // HDD2's fields are all zero: its serial text is empty.
    f.Status(1) = Record().mode(4).firmwareCode("c01").diskState(0x48).activity(0x90).disk(0, "SSD", "X9", 1000);
}

std::vector<std::string> Blocks() {
    return {"Device1 information :",
            "Model# KESTREL RAID BOX",
            "Mirroring(RAID1), F/W Rev. 100125.1.C01",
            "Configured Capacity : 931 GB(1953525168 Sectors)",
            "  HDD1 is present.(SATA3G)",
            "    Model no.:       ",
            "    Serial no.: \"WD-123              \"",
            "    Capacity : 931 GB(1953525168 Sectors)",
            "  HDD2 is present.(SATA6G)",
            "    Model no.: ST2000DM001-1CH164",
            "    Serial no.: \"Z1E2ABCD            \"",
            "    Capacity : 1863 GB(3907029168 Sectors)",
            "Device2 information :",
            "Model# KESTREL DUO",
            "Undefine, F/W Rev. 100301.2.C00",
            "Configured Capacity : 0 GB(0 Sectors)",
            "  HDD1 was failed, Matched SSD, Reboot.",
            "    Model no.: SSD   ",
            "    Serial no.: \"X9                  \"",
            "    Capacity : 0 GB(1000 Sectors)",
            "  HDD2 is absent. "};
}

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(EventLogFile, FirstStartOnADayWithoutAFileWritesTitleBlocksAndSeparators) {
    LogFixture f;
    TwoEnclosures(f);
    f.log->LogStatusChanges(SlotStatuses(f.drives, 0x03));
    std::vector<std::string> run = Join({kSep, kTitle + f.Ts()}, Blocks());
    run.push_back(kSep);
    EXPECT_EQ(f.File(), Crlf(run));
    EXPECT_EQ(f.echoed, run) << "headless output holds the same lines";
    EXPECT_EQ(f.log->LineCount(), run.size());
    EXPECT_EQ(f.log->Line(1), kTitle + f.Ts());
    EXPECT_EQ(f.log->Line(run.size()), "") << "an index past the end reads as an empty line";

    // Until the status page is drawn every pass repeats the start-up lines;
    // with nothing refreshed there is no device block.
    f.log->LogStatusChanges(SlotStatuses(f.drives, 0x00));
    run.insert(run.end(), {kSep, kTitle + f.Ts(), kSep});
    EXPECT_EQ(f.File(), Crlf(run));
    // A problem found at the start is alerted once, with no event line:
    // the block says it.
    EXPECT_EQ(f.alerts.calls, (std::vector<std::tuple<int, int, int>>{{1, 1, 1}}));
}

TEST(EventLogFile, StartOnADayWhoseFileExistsKeepsTheEarlierRuns) {
    LogFixture f;
    const std::string earlier = Crlf({kSep, kTitle + "earlier", "D1 HDD1 Scan 5%, earlier"});
    WriteBytes(f.FilePath(), earlier);
    f.Pass(0x00);
    EXPECT_EQ(f.File(), earlier + Crlf({kSep, kTitle + f.Ts(), kSep}));
    EXPECT_EQ(f.echoed, (std::vector<std::string>{kSep, kTitle + f.Ts(), kSep}))
        << "lines of an earlier run are not echoed again";

    // A second program start the same day: a fresh event log loads it all.
    f.Make();
    f.Pass(0x00);
    EXPECT_EQ(f.File(), earlier + Crlf({kSep, kTitle + f.Ts(), kSep, kSep, kTitle + f.Ts(), kSep}));
}

TEST(EventLogFile, PassWithoutChangeLeavesTheFileUntouched) {
    LogFixture f;
    f.Start();
    const std::string marked = f.File() + "touched?";
    WriteBytes(f.FilePath(), marked);
    f.log->LogStatusChanges(SlotStatuses(f.drives, 0x01));
    f.log->LogStatusChanges(SlotStatuses(f.drives, 0x00));
    EXPECT_EQ(f.File(), marked);

    // A disk state change that yields no line is still recorded: 0x22 to
    // 0x2A keeps HDD1's deciding bit "present".
    f.Status(0) = Record().diskState(0x2A);
    f.log->LogStatusChanges(SlotStatuses(f.drives, 0x01));
    EXPECT_EQ(f.File(), Crlf(f.log->Lines()));
}

TEST(EventLogFile, QueuedDeviceLinesWaitForTheStatusPageThenAreStampedWithTheBlocks) {
    LogFixture f;
    f.log->QueueDeviceLine("D1 Device was removed.");
    f.log->QueueDeviceLine("    Device had changed.");
    f.Pass(0x00);
    EXPECT_TRUE(f.log->DeviceChangePending()) << "held while the first status page is pending";
    EXPECT_EQ(f.log->PendingEventLines().size(), 2u);

    f.firstStatusPending = false;
    f.Status(0) = Record().diskState(0x24).disk(1, "M", "", 0);
    const auto added = f.Pass(0x01);
    EXPECT_EQ(added, (std::vector<std::string>{kSep, "D1 Device was removed." + f.Ts(),
                                               "    Device had changed." + f.Ts(), "Device1 information :",
                                               "Model# KESTREL RAID BOX", "Striping(RAID0), F/W Rev. 100125.1.C00",
                                               "Configured Capacity : 0 GB(0 Sectors)", "  HDD1 is absent. ",
                                               "  HDD2 is present.(SATA)", "    Model no.: M     ",
                                               "    Serial no.: \"                    \"",
                                               "    Capacity : 0 GB(0 Sectors)", kSep}))
        << "disk state changes are not repeated as events in a pass that wrote device blocks";
    EXPECT_FALSE(f.log->DeviceChangePending());
    EXPECT_TRUE(f.log->PendingEventLines().empty());
    // An enclosure never seen before with a disk missing: alerted once.
    EXPECT_EQ(f.alerts.calls, (std::vector<std::tuple<int, int, int>>{{1, 0, 0}}));
    // The state written in the block is the one remembered.
    EXPECT_TRUE(f.Pass(0x01).empty());
}

TEST(EventLogFile, NewDayStartsANewFileWithASeparatorAndTheDeviceBlocks) {
    LogFixture f;
    f.now = QDateTime(QDate(2011, 2, 25), QTime(23, 59, 58));
    f.Start();
    const std::string yesterday = f.File();
    const QString yesterdayPath = f.FilePath();
    const uint64_t epoch = f.log->Epoch();

    f.now = QDateTime(QDate(2011, 2, 26), QTime(0, 0, 2));
    const auto added = f.Pass(Record().diskState(0x22).activity(0x01).progress(40));
    EXPECT_TRUE(f.FilePath().endsWith("110226.log"));
    EXPECT_EQ(f.log->Lines(), added) << "the new day's list holds only the new day";
    EXPECT_EQ(added, (std::vector<std::string>{kSep, "Device1 information :", "Model# KESTREL RAID BOX",
                                               "Striping(RAID0), F/W Rev. 100125.1.C00",
                                               "Configured Capacity : 0 GB(0 Sectors)", "  HDD1 is present.(SATA)",
                                               "    Model no.: ", "    Serial no.: \"\"",
                                               "    Capacity : 0 GB(0 Sectors)", "  HDD2 is present.(SATA)",
                                               "    Model no.: ", "    Serial no.: \"\"",
                                               "    Capacity : 0 GB(0 Sectors)", kSep,
                                               "D1 HDD2 --> HDD1 40%, " + f.Ts()}));
    EXPECT_EQ(ReadBytes(yesterdayPath), yesterday);
    EXPECT_NE(f.log->Epoch(), epoch) << "a viewer must re-read from the top";
}

TEST(EventLogFile, LinesOfAnyDeviceTextStayOneLineAndTheListenerHearsEachChangingPass) {
    LogFixture f;
    int heard = 0;
    f.log->SetChangeListener([&] { ++heard; });
    Record r = Record().diskState(0x22);
    testing::PutAta(r.b, testing::at::kDisk1Model, testing::at::kModelLength, "EVIL\r\nD1 HDD2 was removed, forged");
    testing::PutAta(r.b, testing::at::kDisk1Serial, testing::at::kSerialLength, "\x1b]0;pwned\x07\x9b\xe9");
    f.Pass(r);
    EXPECT_EQ(heard, 1);
    EXPECT_EQ(f.log->Line(7), "    Model no.: EVIL  D1 HDD2 was removed, forged");
    EXPECT_EQ(f.log->Line(8), "    Serial no.: \"?]0;pwned??\xc3\xa9        \"")
        << "control bytes shown as '?', Latin-1 written as UTF-8";
    EXPECT_EQ(f.echoed[8], f.log->Line(8)) << "standard output gets the same text";
    f.firstStatusPending = false;
    f.Pass(0x01);
    EXPECT_EQ(heard, 1) << "a pass that adds nothing is not announced";
}

TEST(EventLogFile, UnwritableDirectoryKeepsTheLinesAndWritesThemOnceItCan) {
    QTemporaryDir root;
    const QString dir = root.filePath("logs");
    WriteBytes(dir, "a file where the directory should be");
    LogFixture f(dir);
    f.log->LogStatusChanges(SlotStatuses(f.drives, 0x01));
    EXPECT_EQ(f.bar.Panel(4), "Cannot create log folder " + dir.toStdString());
    EXPECT_EQ(f.problems, std::vector<std::string>{f.bar.Panel(4)}) << "said on standard error too";
    EXPECT_TRUE(f.log->HasUnsavedLines());
    const size_t startLines = f.log->LineCount();
    EXPECT_EQ(startLines, 15u);

    // Said once: later failures leave the panel alone, and the lines are
    // not thrown away as if a new day had begun.
    f.bar.SetPanel(4, "other");
    f.firstStatusPending = false;
    f.Status(0) = Record().diskState(0x22).activity(0x01).progress(3);
    f.log->LogStatusChanges(SlotStatuses(f.drives, 0x01));
    EXPECT_EQ(f.bar.Panel(4), "other");
    EXPECT_EQ(f.log->LineCount(), startLines + 1);

    QFile::remove(dir);
    QDir().mkpath(dir);
    f.log->LogStatusChanges(SlotStatuses(f.drives, 0x01));
    EXPECT_EQ(f.File(), "<missing>") << "a pass without a change does not write";
    f.Status(0) = Record().diskState(0x22).activity(0x01).progress(4);
    f.log->LogStatusChanges(SlotStatuses(f.drives, 0x01));
    EXPECT_EQ(f.log->LineCount(), startLines + 2);
    EXPECT_EQ(f.File(), Crlf(f.log->Lines()));
    EXPECT_FALSE(f.log->HasUnsavedLines());
}

TEST(EventLogFile, UnsavedLinesOfThePreviousDayGetALastTryAtTheDayChange) {
    QTemporaryDir root;
    const QString dir = root.filePath("logs");
    WriteBytes(dir, "not a directory");
    LogFixture f(dir);
    f.now = QDateTime(QDate(2011, 2, 25), QTime(23, 59, 59));
    f.log->LogStatusChanges(SlotStatuses(f.drives, 0x01));
    f.firstStatusPending = false;
    const std::vector<std::string> yesterday = f.log->Lines();
    const QString yesterdayPath = f.FilePath();

    QFile::remove(dir);
    QDir().mkpath(dir);
    f.now = QDateTime(QDate(2011, 2, 26), QTime(0, 0, 3));
    f.Pass(0x01);
    EXPECT_EQ(ReadBytes(yesterdayPath), Crlf(yesterday));
    EXPECT_EQ(f.log->Line(0), kSep);
    EXPECT_FALSE(f.log->HasUnsavedLines());
}

TEST(EventLogFile, LinkOrFifoAtTodaysNameIsRefusedAndTheLinesKept) {
    LogFixture f;
    const QString victim = f.dir.filePath("victim");
    WriteBytes(victim, "precious\r\n");
    ASSERT_TRUE(QFile::link(victim, f.FilePath()));
    f.log->LogStatusChanges(SlotStatuses(f.drives, 0x01));
    const std::string refused = "Log file is not a regular file: " + f.FilePath().toStdString();
    EXPECT_EQ(f.bar.Panel(4), refused);
    EXPECT_EQ(f.problems, std::vector<std::string>{refused});
    EXPECT_EQ(ReadBytes(victim), "precious\r\n");
    EXPECT_TRUE(f.log->HasUnsavedLines());
    const std::vector<std::string> run = f.log->Lines();
    ASSERT_EQ(run.size(), 15u);

    // A FIFO in its place: neither read (which would block) nor replaced.
    f.firstStatusPending = false;
    QFile::remove(f.FilePath());
    ASSERT_EQ(::mkfifo(f.FilePath().toLocal8Bit().constData(), 0600), 0);
    f.Status(0) = Record().diskState(0x22).activity(0x01).progress(5);
    f.log->LogStatusChanges(SlotStatuses(f.drives, 0x01));
    EXPECT_EQ(f.log->LineCount(), run.size() + 1);
    EXPECT_EQ(f.problems.size(), 1u) << "the same problem is said once";

    // Once it is gone, every line reaches the file.
    QFile::remove(f.FilePath());
    f.Status(0) = Record().diskState(0x22).activity(0x01).progress(6);
    f.log->LogStatusChanges(SlotStatuses(f.drives, 0x01));
    EXPECT_EQ(f.File(), Crlf(f.log->Lines()));
    EXPECT_EQ(f.log->LineCount(), run.size() + 2);
    EXPECT_FALSE(f.log->HasUnsavedLines());
}

TEST(EventLogFile, AnotherDaysExistingFileIsLoadedNotReplaced) {
    LogFixture f;
    f.Start();
    const std::string today = f.File();

    // The clock is set back to a day whose file exists.
    f.now = QDateTime(QDate(2011, 2, 24), QTime(9, 0, 0));
    WriteBytes(f.FilePath(), "yesterday's line\r\n");
    f.Status(0) = Record().diskState(0x22).activity(0x01).progress(9);
    f.log->LogStatusChanges(SlotStatuses(f.drives, 0x01));
    EXPECT_EQ(f.File(), Crlf({"yesterday's line", "D1 HDD2 --> HDD1 9%, " + f.Ts()}));
    f.now = QDateTime(QDate(2011, 2, 25), QTime(13, 30, 0));
    EXPECT_EQ(f.File(), today) << "the other day's file is left as it was";
}

TEST(EventLogFile, PreviousDaysUnwrittenLinesAreKeptUntilTheyCanBeWritten) {
    LogFixture f;
    const QString elsewhere = f.dir.filePath("elsewhere");
    WriteBytes(elsewhere, "");
    f.now = QDateTime(QDate(2011, 2, 25), QTime(23, 59, 59));
    const QString day1 = f.FilePath();
    ASSERT_TRUE(QFile::link(elsewhere, day1));
    f.log->LogStatusChanges(SlotStatuses(f.drives, 0x01));
    f.firstStatusPending = false;
    const std::vector<std::string> firstDay = f.log->Lines();

    f.now = QDateTime(QDate(2011, 2, 26), QTime(0, 0, 3));
    f.Pass(Record().diskState(0x22).activity(0x01).progress(1));
    EXPECT_TRUE(f.log->HasUnsavedLines()) << "the first day's lines are not dropped";

    QFile::remove(day1);
    f.Pass(Record().diskState(0x22).activity(0x01).progress(2));
    EXPECT_EQ(ReadBytes(day1), Crlf(firstDay)) << "written with the next write";
    EXPECT_FALSE(f.log->HasUnsavedLines());
    EXPECT_EQ(ReadBytes(elsewhere), "");
}

TEST(EventLogFile, MissingLogFolderIsCreatedWithItsParents) {
    QTemporaryDir root;
    const QString dir = root.filePath("var/log/kestrel");
    LogFixture f(dir);
    f.Start();
    EXPECT_EQ(f.File(), Crlf(f.log->Lines()));
    EXPECT_TRUE(f.problems.empty());
}

TEST(EventLogFile, UnreadableFileOfTodayIsNeverReplaced) {
    LogFixture f;
    {
        QFile big(f.FilePath());
        ASSERT_TRUE(big.open(QIODevice::WriteOnly));
        ASSERT_TRUE(big.resize(kMaxLogFileBytes + 1));  // sparse: nothing is really written
    }
    f.log->LogStatusChanges(SlotStatuses(f.drives, 0x01));
    f.firstStatusPending = false;
    EXPECT_EQ(QFileInfo(f.FilePath()).size(), kMaxLogFileBytes + 1);
    EXPECT_EQ(f.bar.Panel(4), "Log file too large: " + f.FilePath().toStdString());
    EXPECT_TRUE(f.log->HasUnsavedLines());
    const std::vector<std::string> run = f.log->Lines();

    // Once the file is readable again the run follows its content.
    WriteBytes(f.FilePath(), "kept\r\n");
    f.Status(0) = Record().diskState(0x22).activity(0x01).progress(7);
    f.log->LogStatusChanges(SlotStatuses(f.drives, 0x01));
    std::vector<std::string> all = Join({"kept"}, run);
    all.push_back("D1 HDD2 --> HDD1 7%, " + f.Ts());
    EXPECT_EQ(f.File(), Crlf(all));
}

TEST(EventLogFile, LoadsBinaryAndOverlongLinesAsTheyAre) {
    LogFixture f;
    const std::string longLine(3 * 1024 * 1024, 'x');
    std::string bytes = "unix line\nwindows line\r\n";
    bytes += std::string("nul\0byte\rlone cr\xff\x80", 18) + "\r\n" + longLine + "\n\n" + "no end";
    WriteBytes(f.FilePath(), bytes);
    f.firstStatusPending = false;
    f.log->LogStatusChanges(SlotStatuses(f.drives, 0x00));
    ASSERT_EQ(f.log->LineCount(), 6u);
    EXPECT_EQ(f.log->Line(0), "unix line");
    EXPECT_EQ(f.log->Line(1), "windows line");
    EXPECT_EQ(f.log->Line(2), std::string("nul\0byte\rlone cr\xff\x80", 18));
    EXPECT_EQ(f.log->Line(3), longLine);
    EXPECT_EQ(f.log->Line(4), "");
    EXPECT_EQ(f.log->Line(5), "no end");
    EXPECT_EQ(f.File(), bytes) << "loading alone writes nothing";

    f.Status(0) = Record().diskState(0x22).activity(0x01).progress(1);
    f.log->LogStatusChanges(SlotStatuses(f.drives, 0x01));
    EXPECT_EQ(f.File(), Crlf(f.log->Lines()));
}

TEST(EventLogText, DeviceBlockMemberLinesAndFieldsOfAnyContent) {
    using logtext::DeviceBlock;
    const Block512 id = testing::IdentifyBlock(std::string(40, 'M'), "REV-0001");
    auto members = [&](const Record& r) {
        auto lines = DeviceBlock(0, id, testing::Decoded(r));
        EXPECT_EQ(lines[1], "Model# " + std::string(40, 'M')) << "a full field without NUL ends at its end";
        return std::vector<std::string>(lines.begin() + 4, lines.end());
    };
    EXPECT_EQ(members(Record().diskState(0x44).disk(0, "OLD1", "S1", 1 << 21).disk(1, "OLD2", "S2", 0)),
              (std::vector<std::string>{"  HDD1 is absent. ", "    Model no.:OLD1  ",
                                        "    Serial no.: \"S1                  \"",
                                        "    Capacity : 1 GB(2097152 Sectors)", "  HDD2 is absent. ",
                                        "    Model no.: OLD2  ", "    Serial no.: \"S2                  \"",
                                        "    Capacity : 0 GB(0 Sectors)"}));
    EXPECT_EQ(members(Record().diskState(0x88).activity(0x80))[0], "  HDD1 was failed, Capacity too small.");
    EXPECT_EQ(members(Record().diskState(0x88).activity(0x80))[4], "  HDD2 was failed, Capacity too small.");
    EXPECT_EQ(members(Record().diskState(0x18))[0], "  HDD1 was failed, Unmatched SSD.");
    EXPECT_EQ(members(Record().diskState(0x18))[4], "HDD2 was inserted.");
    EXPECT_TRUE(members(Record().diskState(0x00)).empty());
    EXPECT_EQ(members(Record().diskState(0x02).speed(0x07))[0], "  HDD1 is present.(SATA)") << "no label above 3";

    // A serial that fills its field is not continued by the next field.
    Record full = Record().diskState(0x22).disk(0, std::string(40, '\xfe'), std::string(20, 'A'), 0)
                      .disk(1, "", std::string(20, 'B'), 0);
    const auto lines = members(full);
    std::string thorns;
    for (int i = 0; i < 40; ++i) thorns += "\xc3\xbe";  // U+00FE in UTF-8
    EXPECT_EQ(lines[1], "    Model no.: " + thorns);
    EXPECT_EQ(lines[2], "    Serial no.: \"" + std::string(20, 'A') + "\"");
}

TEST(LogClock, TimestampAndFileNameOfThePassTime) {
    const QDateTime t(QDate(2011, 2, 25), QTime(13, 4, 5, 678));
    locale_t c = newlocale(LC_ALL_MASK, "C", nullptr);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(TimestampText(t, c), "02/25/11 13:04:05");
    freelocale(c);
    EXPECT_EQ(LogFileName(t), "110225.log");
    EXPECT_EQ(LogFileName(QDateTime(QDate(2000, 1, 9), QTime(0, 0))), "000109.log");
}

}  // namespace
}  // namespace kestrel
