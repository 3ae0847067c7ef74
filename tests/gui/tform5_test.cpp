// The viewer window on the offscreen platform, over a real event log: the
// widgets follow the viewer's behaviour; ticks are called directly.
#include "gui/tform5.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTest>
#include <QTimer>

#include "eventlog/log_fixture.h"
#include "support/recording_ui.h"

namespace kestrel {
namespace {

using namespace std::string_literals;
using testing::Crlf;
using testing::LogFixture;
using testing::ReadBytes;
using testing::WriteBytes;

QString Joined(const std::vector<std::string>& lines) {
    QString out;
    for (const std::string& line : lines) out += QString::fromLatin1(line.c_str()) + '\n';
    return out;
}

QColor MemoColour(const TForm5& form) { return form.Memo1->palette().color(QPalette::Text); }
QColor Grey() { return QApplication::palette().color(QPalette::Disabled, QPalette::WindowText); }
QColor WindowText() { return QApplication::palette().color(QPalette::Active, QPalette::WindowText); }

struct ViewerWindow : ::testing::Test {
    ViewerWindow() : form(LogViewerLinks{*f.log, [this] { return active; }, 0.5, boxes}) {
        form.OpenDialog1->setOption(QFileDialog::DontUseNativeDialog);
    }
    void MoreLines() {
        f.log->QueueDeviceLine("D1 Device was removed.");
        f.Pass();
    }
    // Answers the file dialog once it is up: with a file, or cancels.
    void AnswerDialog(const QString& path) {
        QTimer::singleShot(0, form.OpenDialog1, [this, path] {
            if (path.isEmpty()) {
                form.OpenDialog1->reject();
                return;
            }
            form.OpenDialog1->selectFile(path);
            static_cast<QDialog*>(form.OpenDialog1)->accept();
        });
    }
    void FinishLoading() {
        while (form.LoadingFile()) QCoreApplication::processEvents();
    }

    static bool Started(LogFixture& log) {
        log.Start();
        return true;
    }

    LogFixture f;
    bool started = Started(f);  // the viewer opens on a log that has lines
    bool active = true;
    testing::RecordingMessageBoxes boxes;
    TForm5 form;
};

TEST_F(ViewerWindow, HasTheDesignedControls) {
    EXPECT_EQ(form.windowTitle(), "Event Log");
    EXPECT_EQ(form.size(), QSize(465, 273));
    EXPECT_EQ(form.Memo1->geometry(), QRect(0, 0, 465, 241));
    EXPECT_TRUE(form.Memo1->font().bold());
    EXPECT_EQ(form.Memo1->font().family(), "System");
    EXPECT_EQ(form.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_FALSE(form.Memo1->isReadOnly());
    EXPECT_EQ(form.Button1->text(), "Real Time Log");
    EXPECT_EQ(form.Button1->size(), QSize(83, 33));
    EXPECT_EQ(form.Button2->text(), "View Log File");
    EXPECT_EQ(form.Button2->size(), QSize(81, 33));
    EXPECT_FALSE(form.Timer1->isActive());
    EXPECT_EQ(form.Timer1->interval(), 500) << "1000 ms at time scale 0.5";
    EXPECT_EQ(form.OpenDialog1->nameFilters(), (QStringList{"Log File (*.log)", "All File (*)"}));
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
}

TEST_F(ViewerWindow, OpenedWhilePausedGreyUntilMonitoringRuns) {
    active = false;
    const QString atOpening = Joined(f.log->Lines());
    form.show();
    EXPECT_TRUE(form.Timer1->isActive());
    EXPECT_EQ(form.windowTitle(), "Event log - Real Time( Paused )");
    EXPECT_EQ(MemoColour(form), Grey());
    EXPECT_NE(Grey(), WindowText());
    EXPECT_EQ(form.Memo1->toPlainText(), atOpening);

    MoreLines();
    form.Timer1Timer();
    EXPECT_EQ(form.Memo1->toPlainText(), atOpening);
    active = true;
    form.Timer1Timer();
    EXPECT_EQ(form.windowTitle(), "Event log - Real Time");
    EXPECT_EQ(MemoColour(form), WindowText());
    EXPECT_EQ(form.Memo1->toPlainText(), Joined(f.log->Lines()));
}

TEST_F(ViewerWindow, ADayChangeWithAShorterLogIsRebuilt) {
    for (int i = 0; i < 3; ++i) MoreLines();
    form.show();
    f.now = f.now.addDays(1);
    f.Pass();
    ASSERT_LT(f.log->LineCount(), form.viewer().ShownLineCount());
    form.Timer1Timer();
    EXPECT_EQ(form.Memo1->toPlainText(), Joined(f.log->Lines()));
    EXPECT_EQ(form.Memo1->verticalScrollBar()->value(), form.Memo1->verticalScrollBar()->maximum())
        << "the newest lines in view";
}

TEST_F(ViewerWindow, AnEarlierDaysFileIsShownExactlyAndCopiedWithItsLineEnds) {
    const QString earlier = QDir(f.dirPath).filePath("110224.log");
    const std::string bytes = "one\r\ntwo\nthree\0\r\n\r\nfour \xe9\n"s;
    WriteBytes(earlier, bytes);
    form.show();
    AnswerDialog(earlier);
    form.Button2->click();
    FinishLoading();
    EXPECT_EQ(form.windowTitle(), "Event log - 110224.log");
    EXPECT_EQ(form.Memo1->toPlainText(), QString::fromLatin1("one\ntwo\nthree?\n\nfour \xe9\n"));
    EXPECT_EQ(form.viewer().ViewedLogPath(), earlier.toStdString());
    EXPECT_FALSE(form.Timer1->isActive());

    form.Memo1->selectAll();
    const QString copied = QString::fromLatin1("one\r\ntwo\nthree?\r\n\r\nfour \xe9\n");
    EXPECT_EQ(form.Memo1->SelectedText(), copied);
    form.Memo1->copy();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), copied);

    // Nothing is mirrored while the file is shown.
    MoreLines();
    form.Timer1Timer();
    EXPECT_EQ(form.windowTitle(), "Event log - 110224.log");
}

TEST_F(ViewerWindow, CancelKeepsTheViewAndStopsMirroringUntilRealTimeLog) {
    form.show();
    const QString before = form.Memo1->toPlainText();
    AnswerDialog({});
    form.Button2->click();
    EXPECT_EQ(form.windowTitle(), "Event log - Real Time");
    EXPECT_EQ(form.Memo1->toPlainText(), before);
    EXPECT_FALSE(form.Timer1->isActive());
    MoreLines();
    form.Timer1Timer();
    EXPECT_EQ(form.Memo1->toPlainText(), before);

    form.Button1->click();
    EXPECT_TRUE(form.Timer1->isActive());
    EXPECT_EQ(form.Memo1->toPlainText(), Joined(f.log->Lines()));
}

TEST_F(ViewerWindow, TypedTextStaysInTheWindow) {
    form.show();
    form.Memo1->moveCursor(QTextCursor::End);
    QTest::keyClicks(form.Memo1, "my note");
    const std::vector<std::string> logBefore = f.log->Lines();
    MoreLines();
    form.Timer1Timer();
    // New lines start on a line of their own.
    const std::vector<std::string> added(f.log->Lines().begin() + long(logBefore.size()), f.log->Lines().end());
    EXPECT_EQ(form.Memo1->toPlainText(), Joined(logBefore) + "my note\n" + Joined(added));
    for (const std::string& line : f.log->Lines()) EXPECT_EQ(line.find("my note"), std::string::npos);
    EXPECT_EQ(ReadBytes(f.FilePath()), Crlf(f.log->Lines()));
    EXPECT_EQ(std::vector<std::string>(f.log->Lines().begin(), f.log->Lines().begin() + long(logBefore.size())),
              logBefore);
}

TEST_F(ViewerWindow, ALargeFileLoadsInStepsAndRealTimeLogStopsIt) {
    std::string bytes;
    while (bytes.size() < 2 * LogViewer::kChunkBytes) bytes += "2011/02/24 12:00:00 D1 HDD2 rebuilding 42%\r\n";
    const QString big = QDir(f.dirPath).filePath("big.log");
    WriteBytes(big, bytes);
    form.show();
    form.ViewLogFile(big);
    EXPECT_TRUE(form.LoadingFile()) << "the rest follows between events";
    form.Button1->click();
    EXPECT_FALSE(form.LoadingFile());
    QCoreApplication::processEvents();
    EXPECT_EQ(form.Memo1->toPlainText(), Joined(f.log->Lines()));

    form.ViewLogFile(big);
    FinishLoading();
    EXPECT_EQ(form.Memo1->blockCount(), int(bytes.size() / 44) + 1);
}

TEST_F(ViewerWindow, AHugeLineIsShownInPiecesAndCopiedWhole) {
    std::string bytes = "first\n";
    for (int i = 0; bytes.size() < 3 * LogViewer::kChunkBytes; ++i) bytes += char('a' + i % 26);
    bytes += "\xc3\xa9\r\nlast";  // a UTF-8 pair right after the long run
    const QString odd = QDir(f.dirPath).filePath("image.bin");
    WriteBytes(odd, bytes);
    form.show();
    form.ViewLogFile(odd);
    FinishLoading();
    int longest = 0;
    for (QTextBlock b = form.Memo1->document()->begin(); b.isValid(); b = b.next())
        longest = std::max(longest, b.length() - 1);
    EXPECT_LE(longest, kMaxMemoLine);
    EXPECT_GT(form.Memo1->blockCount(), 3 * int(LogViewer::kChunkBytes) / int(kMaxMemoLine));
    form.Memo1->selectAll();
    EXPECT_TRUE(form.Memo1->SelectedText() == QString::fromUtf8(bytes.c_str())) << "the file, line ends and all";
}

TEST_F(ViewerWindow, AnUnreadableFileIsReportedAndNothingChanges) {
    form.show();
    const QString before = form.Memo1->toPlainText();
    const QString missing = QDir(f.dirPath).filePath("gone.log");
    form.ViewLogFile(missing);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Cannot read log file " + missing.toStdString());
    EXPECT_EQ(boxes.shown[0].caption, "Error");
    EXPECT_EQ(form.Memo1->toPlainText(), before);
    EXPECT_EQ(form.windowTitle(), "Event log - Real Time");
}

}  // namespace
}  // namespace kestrel
