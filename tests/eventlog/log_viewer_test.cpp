// The viewer's behaviour over a real event log and real files: mirroring,
// pausing, the rebuild after a new day, the frozen file view.
#include "eventlog/log_viewer.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "eventlog/log_fixture.h"

namespace kestrel {
namespace {

using namespace std::string_literals;
using testing::LogFixture;
using testing::WriteBytes;

// The memo text of log lines: each followed by a line feed.
QString Joined(const std::vector<std::string>& lines, size_t from = 0) {
    QString out;
    for (size_t i = from; i < lines.size(); ++i) out += QString::fromLatin1(lines[i].c_str()) + '\n';
    return out;
}

// Adds lines to the log as the presence watch and the next pass would.
void DeviceChange(LogFixture& f) {
    f.log->QueueDeviceLine("D1 New Device was found.");
    f.log->QueueDeviceLine("    Device had changed.");
    f.Pass();
}

struct ViewerTest : ::testing::Test {
    ViewerTest() { f.Start(); }
    LogViewer Viewer() {
        return LogViewer(*f.log, [this] { return active; });
    }
    LogFixture f;
    bool active = true;
};

TEST_F(ViewerTest, OpenedWhilePausedShowsGreyAndCatchesUpOnceActive) {
    active = false;
    LogViewer viewer = Viewer();
    const ViewerUpdate shown = viewer.Show();
    EXPECT_EQ(shown.caption, "Event log - Real Time( Paused )");
    EXPECT_EQ(shown.tone, ViewerTone::GrayText);
    EXPECT_EQ(shown.memo, ViewerUpdate::Memo::Replace);
    EXPECT_EQ(shown.lines.text, Joined(f.log->Lines()));
    const size_t before = f.log->LineCount();

    DeviceChange(f);
    const ViewerUpdate paused = viewer.Timer1Tick();
    EXPECT_EQ(paused.memo, ViewerUpdate::Memo::Keep);
    EXPECT_EQ(paused.caption, "Event log - Real Time( Paused )");
    EXPECT_EQ(viewer.ShownLineCount(), before);

    active = true;
    const ViewerUpdate resumed = viewer.Timer1Tick();
    EXPECT_EQ(resumed.caption, "Event log - Real Time");
    EXPECT_EQ(resumed.tone, ViewerTone::WindowText);
    EXPECT_EQ(resumed.memo, ViewerUpdate::Memo::Append);
    EXPECT_EQ(resumed.lines.text, Joined(f.log->Lines(), before));
    EXPECT_EQ(viewer.ShownLineCount(), f.log->LineCount());
    EXPECT_EQ(viewer.Timer1Tick().memo, ViewerUpdate::Memo::Keep) << "nothing new";
}

TEST_F(ViewerTest, ANewDayRebuildsTheView) {
    DeviceChange(f);
    DeviceChange(f);
    LogViewer viewer = Viewer();
    viewer.Show();
    f.now = f.now.addDays(1);
    f.Pass();
    ASSERT_LT(f.log->LineCount(), viewer.ShownLineCount());
    const ViewerUpdate u = viewer.Timer1Tick();
    EXPECT_EQ(u.memo, ViewerUpdate::Memo::Replace);
    EXPECT_EQ(u.lines.text, Joined(f.log->Lines()));
    EXPECT_EQ(viewer.ShownLineCount(), f.log->LineCount());
}

TEST_F(ViewerTest, ANewDayLongerThanTheOldOneIsRebuiltToo) {
    // The old day ends short; the new one starts with two device blocks, so
    // its list is longer than what is shown, and appending its tail would
    // mix the two days.
    LogFixture g;
    g.Start(0x00);
    LogViewer viewer(*g.log, [] { return true; });
    viewer.Show();
    g.drives.EnclosureCount = 2;
    g.now = g.now.addDays(1);
    g.Pass(0x03);
    ASSERT_GT(g.log->LineCount(), viewer.ShownLineCount());
    const ViewerUpdate u = viewer.Timer1Tick();
    EXPECT_EQ(u.memo, ViewerUpdate::Memo::Replace);
    EXPECT_EQ(u.lines.text, Joined(g.log->Lines()));
}

TEST_F(ViewerTest, ViewingAFileFreezesUntilRealTimeLog) {
    const QString old = QDir(f.dirPath).filePath("110224.log");
    WriteBytes(old, "first\r\nsecond\r\n");
    LogViewer viewer = Viewer();
    viewer.Show();

    viewer.StopMirroring();  // the dialog is up; then cancelled
    DeviceChange(f);
    EXPECT_FALSE(viewer.Timer1Tick().caption) << "a stopped viewer changes nothing";

    const ViewerUpdate file = viewer.ViewLogFile(old.toStdString());
    EXPECT_EQ(file.caption, "Event log - 110224.log");
    EXPECT_EQ(file.memo, ViewerUpdate::Memo::Replace);
    EXPECT_EQ(file.lines.text, "first\nsecond\n");
    EXPECT_FALSE(file.tone) << "the colour stays as it was";
    EXPECT_EQ(viewer.ViewedLogPath(), old.toStdString());
    EXPECT_FALSE(viewer.Mirroring());
    DeviceChange(f);
    EXPECT_EQ(viewer.Timer1Tick().memo, ViewerUpdate::Memo::Keep);

    active = false;
    const ViewerUpdate back = viewer.RealTimeLog();
    EXPECT_TRUE(viewer.Mirroring());
    EXPECT_EQ(back.caption, "Event log - Real Time( Paused )");
    EXPECT_EQ(back.memo, ViewerUpdate::Memo::Replace);
    EXPECT_EQ(back.lines.text, Joined(f.log->Lines()));
    EXPECT_EQ(viewer.ShownLineCount(), f.log->LineCount());
}

TEST_F(ViewerTest, AFileIsShownAsItIs) {
    // CR LF and LF lines, a last line without an end; a NUL, an escape and a
    // lone CR are not text; a Latin-1 byte and a UTF-8 pair are.
    const std::string bytes = "crlf\r\nlf\nnul\0x\r\nesc\x1b lone\rcr\r\nlatin \xe9\nutf8 \xc3\xa9\r\nend"s;
    const QString path = QDir(f.dirPath).filePath("odd name.txt");
    WriteBytes(path, bytes);
    LogViewer viewer = Viewer();
    viewer.StopMirroring();
    const ViewerUpdate u = viewer.ViewLogFile(path.toStdString());
    EXPECT_EQ(u.caption, "Event log - odd name.txt");
    EXPECT_EQ(u.lines.text, QString::fromUtf8("crlf\nlf\nnul?x\nesc? lone?cr\nlatin \u00e9\nutf8 \u00e9\nend"));
    EXPECT_EQ(u.lines.count, 7u);
    EXPECT_EQ(u.lines.lfLines, (std::vector<size_t>{1, 4}));
    EXPECT_FALSE(viewer.LoadingFile());
}

TEST_F(ViewerTest, AFileThatCannotBeShownChangesNothing) {
    LogViewer viewer = Viewer();
    viewer.Show();
    viewer.StopMirroring();
    const std::string missing = QDir(f.dirPath).filePath("gone.log").toStdString();
    const ViewerUpdate u = viewer.ViewLogFile(missing);
    EXPECT_EQ(u.error, "Cannot read log file " + missing);
    EXPECT_EQ(u.memo, ViewerUpdate::Memo::Keep);
    EXPECT_FALSE(u.caption);
    EXPECT_TRUE(viewer.ViewedLogPath().empty());

    const QString huge = QDir(f.dirPath).filePath("huge.log");
    QFile file(huge);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(file.resize(kMaxLogFileBytes + 1));  // sparse: nothing is written
    file.close();
    EXPECT_EQ(viewer.ViewLogFile(huge.toStdString()).error, "Log file too large: " + huge.toStdString());
    EXPECT_FALSE(viewer.LoadingFile());
}

TEST_F(ViewerTest, ALargeFileComesInStepsThatEndAtLineEnds) {
    std::string bytes;
    QString expected;
    for (int i = 0; bytes.size() < 3 * LogViewer::kChunkBytes + 100; ++i) {
        const std::string line = "line " + std::to_string(i) + std::string(static_cast<size_t>(i % 97), 'x');
        bytes += line + (i % 5 == 0 ? "\n" : "\r\n");
        expected += QString::fromLatin1(line.c_str()) + '\n';
    }
    const QString path = QDir(f.dirPath).filePath("big.log");
    WriteBytes(path, bytes);
    LogViewer viewer = Viewer();
    viewer.StopMirroring();
    ViewerUpdate u = viewer.ViewLogFile(path.toStdString());
    QString text = u.lines.text;
    size_t lines = u.lines.count;
    int steps = 1;
    while (viewer.LoadingFile()) {
        u = viewer.NextFileChunk();
        ASSERT_EQ(u.memo, ViewerUpdate::Memo::Append);
        ASSERT_TRUE(u.lines.text.endsWith('\n'));
        ASSERT_LT(static_cast<size_t>(u.lines.text.size()), LogViewer::kChunkBytes + 200);
        ASSERT_EQ(u.lines.lfLines.front() % 5, (5 - lines % 5) % 5) << "indexes count within the step";
        text += u.lines.text;
        lines += u.lines.count;
        ++steps;
    }
    EXPECT_GE(steps, 3);
    EXPECT_EQ(text, expected);

    // "Real Time Log" in the middle of a file drops the rest of it.
    viewer.ViewLogFile(path.toStdString());
    ASSERT_TRUE(viewer.LoadingFile());
    viewer.RealTimeLog();
    EXPECT_FALSE(viewer.LoadingFile());
}

TEST(ViewerDialog, FilterOffersLogFilesAndAllFiles) {
    EXPECT_EQ(DialogNameFilters(kOpenDialogFilter), (QStringList{"Log File (*.log)", "All File (*)"}));
}

}  // namespace
}  // namespace kestrel
