// The history: minute rows that add up the polls, thinning and dropping by
// age, who an enclosure is, the user's warning episodes, the writer that
// sets a damaged or locked file aside, and rows that survive a kill.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include "history/history_export.h"
#include "history/history_recorder.h"
#include "history/history_store.h"
#include "history/history_writer.h"
#include "support/status_builder.h"

namespace kestrel {
namespace {

constexpr int64_t kMinute = 60000;
constexpr int64_t kStart = 1'780'002'000'000;  // an hour boundary in 2026

EnclosureStatus Reading(unsigned temperature, unsigned fan, ArrayState array = ArrayState::Normal) {
    return testing::SensorReading(temperature, fan, array);
}

EnclosureKey Box(const std::string& serial, std::array<std::string, 2> disks = {"D1", "D2"}) {
    return EnclosureKey{.model = "DESK BOX", .serial = serial, .serials = std::move(disks), .firmware = "100126.1.R1A"};
}

// Batches collected as the writer would get them, written to a store.
struct Fixture {
    Fixture() : path(dir.path().toStdString() + "/history.sqlite") {
        EXPECT_TRUE(store.Open(path, HistoryStore::Mode::Write)) << store.Error();
    }
    QTemporaryDir dir;
    std::string path;
    HistoryStore store;
    int batches = 0;
    HistoryRecorder recorder{[this](HistoryBatch b) {
        ++batches;
        EXPECT_TRUE(store.Write(b)) << store.Error();
    }};
};

TEST(History, AMinuteRowAddsUpItsPollsAndTheWorstStateAndIsHandedOverOnceAMinute) {
    Fixture f;
    // Polls every 4 s: 15 a minute.
    const unsigned temps[] = {40, 44, 41};
    for (int i = 0; i < 45; ++i) {
        const int minute = i / 15;
        const ArrayState array = (minute == 1 && i % 15 == 7) ? ArrayState::SingleDisk : ArrayState::Normal;
        f.recorder.Poll(kStart + i * 4000, 0, Box("KS1"), Reading(temps[minute] + (i % 3), 2000 + 10 * (i % 15), array));
    }
    EXPECT_EQ(f.batches, 2) << "two minutes closed, the third still open";
    f.recorder.Flush();
    const std::vector<ReadingRow> rows = f.store.Readings(0, 0, INT64_MAX / kMinute);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].minute, kStart / kMinute);
    EXPECT_EQ(rows[1].polls, 15);
    EXPECT_EQ(rows[1].tempMin, 44);
    EXPECT_EQ(rows[1].tempMax, 46);
    EXPECT_EQ(rows[1].tempMeanTenths, 450);  // 44, 45, 46 five times each
    EXPECT_EQ(rows[1].fanMin, 2000);
    EXPECT_EQ(rows[1].fanMax, 2140);
    EXPECT_EQ(rows[1].fanMean, 2070);
    EXPECT_EQ(std::string(StateName(rows[1].state)), "degraded") << "one degraded poll makes the minute's worst";
    EXPECT_EQ(std::string(StateName(rows[0].state)), "normal");

    // A restart within a minute adds to its row instead of replacing it.
    HistoryRecorder again([&](HistoryBatch b) { ASSERT_TRUE(f.store.Write(b)); });
    again.Poll(kStart + 2 * kMinute + 50000, 0, Box("KS1"), Reading(60, 1000));
    again.Flush();
    const std::vector<ReadingRow> merged = f.store.Readings(0, kStart / kMinute + 2, kStart / kMinute + 3);
    ASSERT_EQ(merged.size(), 1u);
    EXPECT_EQ(merged[0].polls, 16);
    EXPECT_EQ(merged[0].tempMax, 60);
    EXPECT_EQ(merged[0].fanMin, 1000);
}

TEST(History, OldMinutesBecomeHoursAndRowsOlderThanTheKeepGo) {
    Fixture f;
    // Two polls an hour, at :10 and :40, for 40 days.
    const int64_t days = 40;
    for (int64_t half = 0; half < days * 48; ++half)
        f.recorder.Poll(kStart + half * 30 * kMinute + 10 * kMinute, 0, Box("KS1"),
                        Reading(half % 2 ? 50 : 40, half % 2 ? 3000 : 2000));
    f.recorder.Flush();
    const int64_t now = kStart / kMinute + days * 1440;
    const std::vector<ReadingRow> rows = f.store.Readings(0, 0, now + 1);
    const int64_t cutoff = (now - kMinuteRowsKeptMinutes) / 60 * 60;
    int hours = 0;
    for (const ReadingRow& r : rows) {
        if (r.minute < cutoff - 60) {
            ++hours;
            ASSERT_EQ(r.span, 60) << "at " << r.minute;
            EXPECT_EQ(r.polls, 2);
            EXPECT_EQ(r.tempMin, 40);
            EXPECT_EQ(r.tempMax, 50);
            EXPECT_EQ(r.tempMeanTenths, 450);
            EXPECT_EQ(r.fanMean, 2500);
        } else if (r.minute >= cutoff + 60) {
            EXPECT_EQ(r.span, 1);
        }
    }
    EXPECT_GT(hours, 8 * 24);

    // A poll 401 days later: everything before the keep is gone.
    HistoryRecorder later([&](HistoryBatch b) { ASSERT_TRUE(f.store.Write(b)); });
    later.Poll(kStart + 401 * 1440 * kMinute, 0, Box("KS1"), Reading(30, 1000));
    later.Flush();
    const std::vector<ReadingRow> left = f.store.Readings(0, 0, INT64_MAX / kMinute);
    ASSERT_FALSE(left.empty());
    EXPECT_GE(left.front().minute, kStart / kMinute + 1440) << "rows older than 400 days are dropped";
}

TEST(History, AnEnclosureKeepsItsHistoryAcrossSlotsAndADiskReplacement) {
    Fixture f;
    f.recorder.Poll(kStart, 0, Box("KS1"), Reading(40, 2000));
    f.recorder.Poll(kStart, 1, Box("KS2"), Reading(41, 2000));
    // Re-plugged into the other slot, and upgraded meanwhile.
    EnclosureKey upgraded = Box("KS1");
    upgraded.firmware = "100126.2.R1A";
    f.recorder.Poll(kStart + kMinute, 1, upgraded, Reading(42, 2000));
    // Two of a model without a controller serial: their disks tell them
    // apart, and a replaced disk keeps the enclosure.
    f.recorder.Poll(kStart + 2 * kMinute, 0, Box("", {"A", "B"}), Reading(43, 2000));
    f.recorder.Poll(kStart + 2 * kMinute, 1, Box("", {"C", "D"}), Reading(44, 2000));
    f.recorder.Poll(kStart + 3 * kMinute, 0, Box("", {"A", "E"}), Reading(45, 2000));
    f.recorder.Flush();
    const std::vector<StoredEnclosure> all = f.store.Enclosures();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0].key.serial, "KS1");
    EXPECT_EQ(all[0].lastSlot, 1);
    EXPECT_EQ(all[2].key.serials[1], "E");
    EXPECT_EQ(f.store.Readings(all[0].id, 0, INT64_MAX / kMinute).size(), 2u);
    EXPECT_EQ(f.store.Readings(all[2].id, 0, INT64_MAX / kMinute).size(), 2u);
    const std::vector<EventRow> events = f.store.Events(all[0].id, 0, INT64_MAX);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, "upgrade");
    EXPECT_EQ(events[0].text, "Firmware 100126.1.R1A is now 100126.2.R1A");
    EXPECT_EQ(f.store.Readings(0, 0, INT64_MAX / kMinute, 1).size(), 3u) << "--slot 2";
}

TEST(History, TheWarningTemperatureAlertsOncePerEpisodeAndTellsItsEnd) {
    Fixture f;
    std::vector<std::string> said;
    f.recorder.SetWarningTemperature(50);
    f.recorder.SetWarningPorts({
        .started = [&](int slot, double mean, unsigned limit) {
            said.push_back("start " + std::to_string(slot) + " " + std::to_string(int(mean * 10)) + " " + std::to_string(limit));
        },
        .ended = [&](int slot, double mean, unsigned) { said.push_back("end " + std::to_string(slot) + " " + std::to_string(int(mean * 10))); },
    });
    // Minute means: 45, 50, 51, 53, 50, 49, 52.
    const std::vector<std::vector<unsigned>> minutes = {{45, 45}, {55, 45}, {50, 52}, {53, 53}, {50, 50}, {49, 49}, {52, 52}};
    for (size_t m = 0; m < minutes.size(); ++m)
        for (size_t i = 0; i < minutes[m].size(); ++i)
            f.recorder.Poll(kStart + static_cast<int64_t>(m) * kMinute + static_cast<int64_t>(i) * 4000, 1, Box("KS1"),
                            Reading(minutes[m][i], 2000));
    f.recorder.Flush();
    EXPECT_EQ(said, (std::vector<std::string>{"start 1 510 50", "end 1 500", "start 1 520 50"}))
        << "50 is not above 50; 51, 53 are one episode";
    const std::vector<EventRow> events = f.store.Events(0, 0, INT64_MAX);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].kind, "alarm");
    EXPECT_EQ(events[0].timeMs, kStart + 3 * kMinute) << "at the end of the minute that passed it";
}

std::string SetAsideFile(const QTemporaryDir& dir) {
    const QStringList aside = QDir(dir.path()).entryList({"history.sqlite.damaged-*"}, QDir::Files);
    for (const QString& name : aside)
        if (!name.endsWith("-wal") && !name.endsWith("-shm")) return name.toStdString();
    return {};
}

HistoryBatch OneMinute(int64_t minute, unsigned temperature) {
    HistoryBatch b;
    ReadingRow r;
    r.enclosure = Box("KS1");
    r.minute = minute;
    r.polls = r.sensorPolls = 15;
    r.tempMin = r.tempMax = static_cast<int>(temperature);
    r.tempMeanTenths = static_cast<int>(temperature * 10);
    b.readings.push_back(r);
    b.nowMinute = minute + 1;
    return b;
}

TEST(HistoryWriter, ADamagedOrLockedFileIsSetAsideWithAMessageAndANewOneBegun) {
    for (const bool locked : {false, true}) {
        QTemporaryDir dir;
        const std::string path = dir.path().toStdString() + "/history.sqlite";
        std::unique_ptr<HistoryStore> holder;
        if (locked) {
            // Another program holds the file's write lock and does not let go.
            holder = std::make_unique<HistoryStore>();
            ASSERT_TRUE(holder->Open(path, HistoryStore::Mode::Write));
            holder->Close();
            QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "locker");
            other.setDatabaseName(QString::fromStdString(path));
            ASSERT_TRUE(other.open());
            QSqlQuery q(other);
            ASSERT_TRUE(q.exec("BEGIN EXCLUSIVE"));
        } else {
            QFile garbage(QString::fromStdString(path));
            ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
            garbage.write(QByteArray(8192, '\x5a'));
        }
        std::vector<std::string> messages;
        std::mutex m;
        {
            HistoryWriter writer(path, [&](const std::string& text) {
                std::lock_guard<std::mutex> lock(m);
                messages.push_back(text);
            });
            writer.Submit(OneMinute(kStart / kMinute, 40));
            writer.Submit(OneMinute(kStart / kMinute + 1, 41));
            EXPECT_EQ(writer.WaitUntilWritten(), 2u) << (locked ? "locked" : "damaged");
        }
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_NE(messages[0].find("set aside as"), std::string::npos) << messages[0];
        EXPECT_NE(SetAsideFile(dir), "");
        if (locked) {
            QSqlDatabase::database("locker").rollback();
            QSqlDatabase::database("locker").close();
            QSqlDatabase::removeDatabase("locker");
        } else {
            QFile aside(dir.path() + "/" + QString::fromStdString(SetAsideFile(dir)));
            ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
            EXPECT_EQ(aside.readAll(), QByteArray(8192, '\x5a')) << "kept as it was, for whoever looks";
        }
        HistoryStore fresh;
        ASSERT_TRUE(fresh.Open(path, HistoryStore::Mode::Read)) << fresh.Error();
        EXPECT_EQ(fresh.Readings(0, 0, INT64_MAX / kMinute).size(), 2u);
    }
}

TEST(HistoryExport, ReadsBesideAWriterInTheMiddleOfItsTransaction) {
    Fixture f;
    f.recorder.Poll(kStart, 0, Box("KS, \"1\""), Reading(40, 2000));
    f.recorder.Flush();
    std::string csv;
    {
        QSqlDatabase writer = QSqlDatabase::addDatabase("QSQLITE", "midway");
        writer.setDatabaseName(QString::fromStdString(f.path));
        ASSERT_TRUE(writer.open());
        {
            QSqlQuery q(writer);
            ASSERT_TRUE(q.exec("BEGIN IMMEDIATE"));
            ASSERT_TRUE(q.exec("DELETE FROM minutes"));
        }
        HistoryStore reader;
        ASSERT_TRUE(reader.Open(f.path, HistoryStore::Mode::Read)) << reader.Error();
        csv = ExportHistory(reader, {}, HistoryFormat::Csv);
        writer.rollback();
        writer.close();
    }
    QSqlDatabase::removeDatabase("midway");
    EXPECT_NE(csv.find("reading," + ExportTime(kStart) + ",1,DESK BOX,\"KS, \"\"1\"\"\",1,1,1,40,40.0,40,2000,2000,2000,normal,,\n"),
              std::string::npos)
        << csv;
}

// The body of the writer process that the test below starts and kills;
// as part of the normal suite it does nothing. Each minute it records,
// once the writer says it is written, how many minutes are in the file.
constexpr char kKillDirVariable[] = "KESTREL_HISTORY_KILL_DIR";

TEST(HistoryWriterProcess, WritesMinutesUntilKilled) {
    const QString dir = QString::fromLocal8Bit(qgetenv(kKillDirVariable));
    if (dir.isEmpty()) GTEST_SKIP() << "runs only as the child of the kill test";
    HistoryWriter writer((dir + "/history.sqlite").toStdString(), nullptr);
    HistoryRecorder recorder([&](HistoryBatch b) { writer.Submit(std::move(b)); });
    QElapsedTimer alive;
    alive.start();
    for (int64_t poll = 0; alive.elapsed() < 60000; ++poll) {
        recorder.Poll(kStart + poll * 4000, 0, Box("KS1"), Reading(40 + poll % 7, 2000));
        if (poll % 15 != 14) continue;
        writer.WaitUntilWritten();
        QSaveFile progress(dir + "/written");
        progress.open(QIODevice::WriteOnly);
        progress.write(QByteArray::number(static_cast<qlonglong>(poll / 15)));  // minutes before the open one
        progress.commit();
    }
}

TEST(HistoryWriter, RowsSurviveAKillWithAtMostTheLastMinuteLost) {
    for (int round = 0; round < 3; ++round) {
        QTemporaryDir dir;
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(kKillDirVariable, dir.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=HistoryWriterProcess.*"});
        ASSERT_TRUE(child.waitForStarted(10000));
        auto written = [&] {
            QFile f(dir.path() + "/written");
            return f.open(QIODevice::ReadOnly) ? f.readAll().toLongLong() : -1;
        };
        QElapsedTimer waited;
        waited.start();
        while (written() < 20 && waited.elapsed() < 30000) QThread::msleep(1);
        ASSERT_GE(written(), 20) << "the child never wrote";
        QThread::msleep(QRandomGenerator::global()->bounded(30));
        child.kill();  // SIGKILL
        ASSERT_TRUE(child.waitForFinished(10000));
        const int64_t confirmed = written();

        HistoryStore store;
        ASSERT_TRUE(store.Open(dir.path().toStdString() + "/history.sqlite", HistoryStore::Mode::Write)) << store.Error();
        const std::vector<ReadingRow> rows = store.Readings(0, 0, INT64_MAX / kMinute);
        ASSERT_GE(static_cast<int64_t>(rows.size()), confirmed) << "every minute the writer confirmed is there";
        for (size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(rows[i].minute, kStart / kMinute + static_cast<int64_t>(i)) << "no gap";
            EXPECT_EQ(rows[i].polls, 15) << "no half-written minute";
        }
    }
}

}  // namespace
}  // namespace kestrel
