// --history: its options, and what it prints from a history file.
#include "app/history_command.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <cstdio>

#include "history/history_recorder.h"
#include "history/history_store.h"

namespace kestrel {
namespace {

ParseOutcome Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "kestrel-raid-gui");
    return ParseCommandLine(args, ProductVariant::Raid, false);
}

TEST(HistoryCommand, OptionsGoTogetherAndDatesAreLocalDaysOrTimes) {
    const ParseOutcome ok = Parse({"--history", "--since", "2026-12-01", "--until", "2026-12-02", "--slot", "2", "--json"});
    ASSERT_EQ(ok.kind, ParseOutcome::Kind::Run) << ok.err;
    EXPECT_TRUE(ok.options.history);
    EXPECT_EQ(ok.options.historyOutput, HistoryOutput::Json);
    EXPECT_EQ(ok.options.historySlot, 2);
    EXPECT_EQ(ok.options.historySinceMs, QDateTime(QDate(2026, 12, 1), QTime(0, 0)).toMSecsSinceEpoch());
    EXPECT_EQ(ok.options.historyUntilMs, QDateTime(QDate(2026, 12, 3), QTime(0, 0)).toMSecsSinceEpoch())
        << "a day as --until reaches to its end";
    EXPECT_EQ(ParseHistoryDate("2026-12-09T13:30:00Z", false), 1'796'823'000'000);
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--history", "--csv", "--json"}, {"--since", "2026-12-01"}, {"--csv"},
          {"--history", "--since", "yesterday"}, {"--history", "--status"}, {"--history", "--slot", "3"}}) {
        const ParseOutcome o = Parse(bad);
        EXPECT_EQ(o.exitCode, 2) << bad[0] << " " << bad[1];
        EXPECT_FALSE(o.err.empty());
    }
}

std::string Printed(const Options& options, int& code) {
    char* text = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    std::FILE* err = std::fopen("/dev/null", "w");
    code = RunHistoryCommand(options, out, err);
    std::fclose(out);
    std::fclose(err);
    std::string printed(text, size);
    std::free(text);
    return printed;
}

TEST(HistoryCommand, PrintsJsonOfTheRangeAndFailsWithoutAHistory) {
    QTemporaryDir dir;
    Options options;
    options.history = true;
    options.stateDir = dir.path().toStdString();
    int code = 0;
    EXPECT_EQ(Printed(options, code), "");
    EXPECT_EQ(code, 1) << "no history file";

    {
        HistoryStore store;
        ASSERT_TRUE(store.Open(HistoryFilePath(options.stateDir), HistoryStore::Mode::Write));
        HistoryRecorder recorder([&](HistoryBatch b) { ASSERT_TRUE(store.Write(b)); });
        EnclosureStatus s;
        s.environmentShown = true;
        s.temperature = 42;
        s.fanRpm = 2000;
        const EnclosureKey key{.model = "DESK BOX", .serial = "KS1", .serials = {"A", "B"}, .firmware = "1"};
        for (int minute = 0; minute < 3; ++minute) recorder.Poll(1'796'823'000'000 + minute * 60000, 1, key, s);
        recorder.Flush();
    }
    options.historyOutput = HistoryOutput::Json;
    options.historySinceMs = 1'796'823'060'000;
    options.historySlot = 2;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(Printed(options, code)));
    EXPECT_EQ(code, 0);
    const QJsonArray enclosures = doc.object()["enclosures"].toArray();
    ASSERT_EQ(enclosures.size(), 1);
    const QJsonArray readings = enclosures[0].toObject()["readings"].toArray();
    ASSERT_EQ(readings.size(), 2) << "the first minute is before --since";
    EXPECT_EQ(readings[0].toObject()["temperature"].toObject()["mean"].toDouble(), 42.0);
    EXPECT_EQ(readings[0].toObject()["slot"].toInt(), 2);
    options.historySlot = 1;
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(Printed(options, code))).object()["enclosures"].toArray().size(), 0);
}

}  // namespace
}  // namespace kestrel
