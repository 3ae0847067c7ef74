// The History window over a history file: what it draws for a range, the
// reading the keyboard's cursor shows, and the Status page's button. With
// KESTREL_HISTORY_SHOTS=DIR (under Xvfb, KESTREL_TEST_ON_DISPLAY=1) it also
// fills DIR with a day of the demo and a simulated year and shows each.
#include "gui/history_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QPalette>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

#include "app/device_io_choice.h"
#include "gui/tform1.h"
#include "app/window/main_window.h"
#include "history/history_recorder.h"
#include "support/status_builder.h"

namespace kestrel {
namespace {

constexpr int64_t kMinute = 60000;

EnclosureStatus Reading(unsigned temperature, unsigned fan, ArrayState array = ArrayState::Normal) {
    return testing::SensorReading(temperature, fan, array);
}

const EnclosureKey kDesk{.model = "KESTREL DUAL RAID", .serial = "KS10012601", .serials = {"A", "B"}, .firmware = "1"};

// A day of minutes ending at end: warm in the afternoon, degraded for two
// hours with a disk event at its start.
void WriteDay(const std::string& path, int64_t end) {
    HistoryStore store;
    ASSERT_TRUE(store.Open(path, HistoryStore::Mode::Write));
    HistoryRecorder recorder([&](HistoryBatch b) { ASSERT_TRUE(store.Write(b)); });
    const int64_t start = end - 1440 * kMinute;
    for (int m = 0; m < 1440; ++m) {
        const bool degraded = m >= 600 && m < 720;
        if (m == 600) recorder.Line(start + m * kMinute, 0, "D1 HDD2 was removed, ");
        recorder.Poll(start + m * kMinute, 0, kDesk,
                      Reading(38 + (m > 800 && m < 1100 ? 6 : 0) + m % 3, 2200 - m / 10,
                              degraded ? ArrayState::SingleDisk : ArrayState::Normal));
    }
    recorder.Flush();
}

TEST(HistoryWindow, DrawsTheRangeWithItsStateAndEventsAndTheCursorFollowsTheKeys) {
    QTemporaryDir dir;
    const std::string path = HistoryFilePath(dir.path().toStdString());
    const int64_t end = 1'796'823'000'000;
    WriteDay(path, end);
    HistoryWindow window(path, kDesk, [end] { return end; });
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.Range(), HistoryRange::Day);
    const ChartData& d = window.Data();
    ASSERT_FALSE(d.points.empty());
    ASSERT_EQ(d.bands.size(), 1u);
    EXPECT_EQ(std::string(StateName(d.bands[0].state)), "degraded");
    EXPECT_NEAR(static_cast<double>(d.bands[0].fromMs), static_cast<double>(end - 840 * kMinute), 10.0 * kMinute);
    ASSERT_EQ(d.events.size(), 1u);
    EXPECT_EQ(d.events[0].kind, "disk");
    EXPECT_LE(d.tempLow, 38);
    EXPECT_GE(d.tempHigh, 46);

    // The keyboard: End is the newest reading, Left one before it.
    QWidget* chart = window.findChild<QWidget*>("HistoryChart");
    ASSERT_NE(chart, nullptr);
    chart->setFocus();
    QTest::keyClick(chart, Qt::Key_End);
    const QString newest = window.ReadingShown();
    QTest::keyClick(chart, Qt::Key_Left);
    EXPECT_NE(window.ReadingShown(), newest);
    EXPECT_TRUE(window.ReadingShown().contains(QString::fromUtf8("\u00b0C"))) << window.ReadingShown().toStdString();
    QTest::keyClick(chart, Qt::Key_Home);
    EXPECT_TRUE(window.ReadingShown().startsWith(QDateTime::fromMSecsSinceEpoch(d.points[0].ms).toString("yyyy-MM-dd HH:mm")));

    // The Hour button by keyboard: the last hour, in minutes.
    QPushButton* hour = window.findChild<QPushButton*>("RangeHour");
    ASSERT_NE(hour, nullptr);
    hour->setFocus();
    QTest::keyClick(hour, Qt::Key_Space);
    EXPECT_EQ(window.Range(), HistoryRange::Hour);
    EXPECT_EQ(window.Data().points.size(), 60u);
    EXPECT_TRUE(window.Data().bands.empty());
}

TEST(HistoryWindow, TheStatusPageOpensOneForTheShownEnclosure) {
    QTemporaryDir dir;
    Options o;
    o.simulate = true;
    o.logDir = dir.path().toStdString();
    o.stateDir = dir.path().toStdString();
    o.registryFile = (dir.path() + "/registry.ini").toStdString();
    o.timeScale = 0.01;
    MainWindow form(o, ProductVariant::Raid, ChooseDeviceIo(true, ""));
    form.show();
    QElapsedTimer t;
    t.start();
    while (form.module().shell().Model().firstStatusPending && t.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    ASSERT_FALSE(form.module().shell().Model().firstStatusPending);
    QTest::mouseClick(form.Button_History, Qt::LeftButton);
    ASSERT_NE(form.historyWindow(), nullptr);
    HistoryWindow* first = form.historyWindow();
    QTest::mouseClick(form.Button_History, Qt::LeftButton);
    EXPECT_EQ(form.historyWindow(), first) << "one at a time";
    EXPECT_EQ(form.findChildren<HistoryWindow*>().size(), 1);
    form.Quit();
}

// Screenshots: a day of the demo and a simulated year, each window shown on
// the display and the screen taken with ImageMagick's import.
TEST(HistoryWindowShots, ADayAndAYear) {
    const QString shots = qEnvironmentVariable("KESTREL_HISTORY_SHOTS");
    if (shots.isEmpty()) GTEST_SKIP() << "KESTREL_HISTORY_SHOTS names the folder for the screenshots";
    const QString scenario = qEnvironmentVariable("KESTREL_HISTORY_SHOT_DB");
    // KESTREL_HISTORY_DARK=1: a dark desktop's palette.
    const QPalette before = QApplication::palette();
    if (qEnvironmentVariable("KESTREL_HISTORY_DARK") == "1") {
        QPalette dark;
        dark.setColor(QPalette::Window, QColor("#202124"));
        dark.setColor(QPalette::WindowText, QColor("#e8eaed"));
        dark.setColor(QPalette::Base, QColor("#2b2c2f"));
        dark.setColor(QPalette::Text, QColor("#e8eaed"));
        dark.setColor(QPalette::Button, QColor("#303134"));
        dark.setColor(QPalette::ButtonText, QColor("#e8eaed"));
        QApplication::setPalette(dark);
    }
    auto take = [&](const std::string& db, HistoryRange range, const QString& name, int64_t end) {
        HistoryWindow window(db, kDesk, [end] { return end; });
        window.resize(1000, 600);
        window.move(0, 0);
        window.ShowRange(range);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        QWidget* chart = window.findChild<QWidget*>("HistoryChart");
        chart->setFocus();
        for (int i = 0; i < static_cast<int>(window.Data().points.size()) / 3; ++i) QTest::keyClick(chart, Qt::Key_Left);
        QTest::qWait(300);
        EXPECT_EQ(QProcess::execute("import", {"-window", "root", shots + "/" + name}), 0);
        window.grab().save(shots + "/" + name.chopped(4) + "-window.png");
    };
    if (!scenario.isEmpty()) {
        HistoryStore s;
        ASSERT_TRUE(s.Open(scenario.toStdString(), HistoryStore::Mode::Read));
        int64_t last = 0;
        for (const StoredEnclosure& e : s.Enclosures()) last = std::max(last, e.lastMs);
        s.Close();
        take(scenario.toStdString(), HistoryRange::Day, qEnvironmentVariable("KESTREL_HISTORY_SHOT_NAME", "shot.png"), last);
    } else {
        // A simulated year, a reading a minute: a daily and a summer swing,
        // a fan that wears, a week degraded with its rebuild, an upgrade.
        QTemporaryDir dir;
        const std::string path = HistoryFilePath(dir.path().toStdString());
        const int64_t end = 1'796'823'000'000;
        {
            HistoryStore store;
            ASSERT_TRUE(store.Open(path, HistoryStore::Mode::Write));
            HistoryRecorder recorder([&](HistoryBatch b) { ASSERT_TRUE(store.Write(b)); });
            const int64_t minutes = 365 * 1440;
            EnclosureKey key = kDesk;
            for (int64_t m = 0; m < minutes; ++m) {
                const double year = static_cast<double>(m) / minutes;
                const double day = static_cast<double>(m % 1440) / 1440;
                const unsigned t = static_cast<unsigned>(37 + 4 * (day > 0.45 && day < 0.8) +
                                                         7 * std::max(0.0, std::sin((year - 0.35) * 6.283)) + m % 2);
                const unsigned fan = static_cast<unsigned>(2450 - 350 * year + 20 * (m % 3));
                ArrayState array = ArrayState::Normal;
                EnclosureStatus s = Reading(t, fan);
                if (year > 0.62 && year < 0.64) s.array = ArrayState::SingleDisk;
                if (year >= 0.64 && year < 0.645) s.activity = Activity::Rebuild;
                (void)array;
                const int64_t ms = end - (minutes - m) * kMinute;
                if (m == static_cast<int64_t>(0.62 * minutes)) recorder.Line(ms, 0, "D1 HDD2 was removed, ");
                if (m == static_cast<int64_t>(0.64 * minutes)) recorder.Line(ms, 0, "D1 HDD2 was inserted, ");
                if (m == static_cast<int64_t>(0.645 * minutes)) recorder.Line(ms, 0, "D1  HDD1 --> HDD2 Done, ");
                if (m == static_cast<int64_t>(0.3 * minutes)) key.firmware = "2";
                recorder.Poll(ms, 0, key, s);
            }
            recorder.Flush();
        }
        const QString suffix = qEnvironmentVariable("KESTREL_HISTORY_SHOT_SUFFIX");
        take(path, HistoryRange::Year, "year" + suffix + ".png", end);
        take(path, HistoryRange::Month, "year-last-month" + suffix + ".png", end);
    }
    QApplication::setPalette(before);
}

}  // namespace
}  // namespace kestrel
