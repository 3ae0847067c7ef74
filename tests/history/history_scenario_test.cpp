// The history as the program keeps it: a scenario's polls, on the clock the
// event log pass takes, end as the rows the export prints; the user's
// warning temperature goes through the over-heat alert and the day log.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <QSettings>
#include <algorithm>
#include <map>

#include "app/main_module.h"
#include "history/history_export.h"
#include "notify/alert_mail.h"
#include "monitor/enclosure_health.h"
#include "platform/headless_ui.h"
#include "support/recording_ui.h"
#include "support/sim_scenarios.h"

namespace kestrel {
namespace {

const char* kWarmingBox = R"({
  "enclosures": [{"name": "desk", "paths": ["mailbox"],
    "identity": {"model": "DESK BOX", "firmwareRevision": "100126.1", "serial": "KS1"},
    "status": {"diskState": "0x22", "sensorSupport": "0x11", "envFlags": "0xA0", "fanRpm": 2100, "temperature": 41,
               "disk1Serial": "A1", "disk2Serial": "B2"}}],
  "drives": [{"number": 0}, {"number": 1, "enclosure": "desk"}],
  "timeline": [
    {"afterStatusReads": 9, "enclosure": "desk", "action": "set", "fields": {"temperature": 47, "fanRpm": 2400}},
    {"afterStatusReads": 23, "enclosure": "desk", "action": "set", "fields": {"temperature": 53}},
    {"afterStatusReads": 31, "enclosure": "desk", "action": "pull-disk", "disk": 2},
    {"afterStatusReads": 47, "enclosure": "desk", "action": "set", "fields": {"temperature": 44, "fanRpm": 1900}}
  ]
})";

struct Poll {
    int64_t ms;
    int temperature, fan, state;
};

// The file found at the start is not a history: it is set aside, and the
// polls and the history go on in a new one.
TEST(HistoryScenario, TheExportIsWhatTheScenariosReadingsGiveAndTheWarningAlertsOnce) {
    QTemporaryDir dir;
    Options options;
    options.simulate = true;
    options.headless = true;
    options.logDir = dir.path().toStdString();
    options.stateDir = dir.path().toStdString();
    options.registryFile = (dir.path() + "/registry.ini").toStdString();
    options.timeScale = 0.01;
    {
        QSettings ini(QString::fromStdString(options.registryFile), QSettings::IniFormat);
        ini.setValue(QString(RegistryKey::kDefaultKeyName) + "/WarningTemperature", 50);
    }
    {
        QFile damaged(dir.path() + "/history.sqlite");
        ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
        damaged.write("SQLite format 3" + QByteArray(4000, '\x01'));
    }
    auto pc = std::make_unique<sim::SimulatedPc>(testing::ScenarioFrom(kWarmingBox));
    DeviceIoChoice choice;
    choice.simulated = pc.get();
    choice.io = std::move(pc);
    testing::RecordingMessageBoxes boxes;
    MemoryStatusBar bar;
    MainModule module(options, ProductVariant::Raid, UiPorts{boxes, bar}, std::move(choice));
    // The simulator's clock: each pass is one poll interval later.
    QDateTime now(QDate(2026, 5, 1), QTime(10, 0, 30));
    module.SetLogClock([&] { return now = now.addMSecs(4000); });
    std::vector<std::string> notes;
    module.desktopAlerts().SetFallback([&](const DesktopNote& note) { notes.push_back(note.summary); });
    std::vector<Poll> polls;
    module.statusPoll().AddListener([&](const PollRound& round) {
        if (const auto& r = round.records[0])
            polls.push_back({module.flags().LastTick.toMSecsSinceEpoch(), static_cast<int>(r->temperature),
                             static_cast<int>(r->fanRpm), static_cast<int>(ReadHealth(*r).state)});
    });
    module.FormCreate();
    QElapsedTimer t;
    t.start();
    while (polls.size() < 70 && t.elapsed() < 60000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    ASSERT_GE(polls.size(), 70u);
    module.FormClose();
    QCoreApplication::processEvents();
    EXPECT_NE(bar.Panel(4).find("set aside as " + dir.path().toStdString() + "/history.sqlite.damaged-"),
              std::string::npos)
        << bar.Panel(4);
    const std::vector<std::string>& log = module.eventLog().Lines();

    // The rows, computed here from the readings alone.
    struct Minute {
        int polls = 0, tmin = 1000, tmax = -1, fmin = 1 << 30, fmax = -1, state = 0;
        int64_t tsum = 0, fsum = 0;
    };
    std::map<int64_t, Minute> minutes;
    for (const Poll& p : polls) {
        Minute& m = minutes[p.ms / 60000];
        ++m.polls;
        m.tmin = std::min(m.tmin, p.temperature);
        m.tmax = std::max(m.tmax, p.temperature);
        m.fmin = std::min(m.fmin, p.fan);
        m.fmax = std::max(m.fmax, p.fan);
        m.tsum += p.temperature;
        m.fsum += p.fan;
        m.state = std::max(m.state, p.state);
    }
    std::string expected;
    for (const auto& [minute, m] : minutes) {
        const long tenths = std::lround(m.tsum * 10.0 / m.polls);
        expected += "reading," + ExportTime(minute * 60000) + ",1,DESK BOX,KS1,1,1," + std::to_string(m.polls) + "," +
                    std::to_string(m.tmin) + "," + std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) +
                    "," + std::to_string(m.tmax) + "," + std::to_string(m.fmin) + "," +
                    std::to_string(std::lround(static_cast<double>(m.fsum) / m.polls)) + "," + std::to_string(m.fmax) +
                    "," + StateName(m.state) + ",,\n";
    }

    HistoryStore store;
    ASSERT_TRUE(store.Open(module.HistoryPath(), HistoryStore::Mode::Read)) << store.Error();
    const std::string csv = ExportHistory(store, {}, HistoryFormat::Csv);
    const size_t firstEvent = csv.find("\nevent,");
    ASSERT_NE(firstEvent, std::string::npos) << csv;
    EXPECT_EQ(csv.substr(csv.find('\n') + 1, firstEvent - csv.find('\n')), expected);
    // The disk's event carries the time of the poll that saw it go.
    const auto pulled = std::find_if(polls.begin(), polls.end(),
                                     [](const Poll& p) { return p.state == static_cast<int>(HealthState::Degraded); });
    ASSERT_NE(pulled, polls.end());
    EXPECT_NE(csv.find("event," + ExportTime(pulled->ms) + ",1,DESK BOX,KS1,1,,,,,,,,,,disk,D1 HDD2 was removed\n"),
              std::string::npos)
        << csv;

    // 53 °C for more than a minute passes the warning of 50 once, and 44
    // ends it: one over-heat alert, two day-log lines.
    const std::string events = csv.substr(firstEvent);
    EXPECT_NE(events.find(",alarm,\"Temperature warning: 5"), std::string::npos) << events;
    EXPECT_NE(events.find(",alarm,\"Temperature warning ended: 4"), std::string::npos) << events;
    int started = 0, ended = 0;
    for (const std::string& line : log) {
        started += line.rfind("D1 Temperature warning: ", 0) == 0;
        ended += line.rfind("D1 Temperature warning ended: ", 0) == 0;
    }
    EXPECT_EQ(started, 1);
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(std::count(notes.begin(), notes.end(), AlertHeading(static_cast<int>(NotificationEvent::OverHeat), 0, 0)), 1)
        << "the over-heat alert, once";
}

// Not a test: with KESTREL_HISTORY_DAY_DIR and KESTREL_HISTORY_DAY_SCENARIO
// it runs the program's monitoring on that scenario for a day of polls on
// the simulator's clock, leaving the history in the folder (for the
// History window's screenshots).
TEST(HistoryDemoDay, WritesADayOfPolls) {
    const QString folder = qEnvironmentVariable("KESTREL_HISTORY_DAY_DIR");
    const QString scenario = qEnvironmentVariable("KESTREL_HISTORY_DAY_SCENARIO");
    if (folder.isEmpty() || scenario.isEmpty()) GTEST_SKIP() << "writes a day of history for the screenshots";
    Options options;
    options.simulate = true;
    options.headless = true;
    options.logDir = folder.toStdString();
    options.stateDir = folder.toStdString();
    options.registryFile = (folder + "/registry.ini").toStdString();
    options.timeScale = 0.001;
    DeviceIoChoice choice = ChooseDeviceIo(true, scenario.toStdString());
    ASSERT_TRUE(choice.io) << choice.error;
    testing::RecordingMessageBoxes boxes;
    MemoryStatusBar bar;
    MainModule module(options, ProductVariant::Raid, UiPorts{boxes, bar}, std::move(choice));
    QDateTime now(QDate(2026, 12, 8), QTime(13, 0, 0));
    const QDateTime end = now.addDays(1);
    module.SetLogClock([&] { return now = now.addMSecs(4000); });
    module.FormCreate();
    while (now < end) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    module.FormClose();
}

}  // namespace
}  // namespace kestrel
