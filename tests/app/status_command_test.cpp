// The status query as a script runs it: exit codes on scenarios of each
// state, JSON checked against the published schema, and the hand-over to a
// running monitor's published state.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <functional>
#include <memory>
#include <vector>

#include "monitor/status_report.h"
#include "platform/single_instance.h"
#include "support/program.h"

namespace kestrel {
namespace {

using testing::Program;

// One enclosure on drive 1 with these status fields.
QString Scenario(const QTemporaryDir& dir, const QString& name, const QString& status, const QString& extra = {}) {
    const QString path = dir.path() + "/" + name + ".json";
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(QString(R"({
  "enclosures": [{"name": "desk", "identity": {"model": "DESK BOX", "firmwareRevision": "100126.1"},
                  "status": {"raidMode": 1, "sensorSupport": "0x11", "envFlags": "0xA0", "fanRpm": 2000,
                             "temperature": 40, "disk1Model": "DISK ONE", "disk1Serial": "S1", "disk1Capacity": 1000000,
                             "disk2Model": "DISK TWO", "disk2Serial": "S2", "disk2Capacity": 1000000, %1}}],
  "drives": [{"number": 0}, {"number": 1, "enclosure": "desk"}] %2
})").arg(status, extra).toUtf8());
    return path;
}

// The state this user's monitor publishes.
QString StatePath(const Program& program) {
    return program.runtimeDir() + "/status-" + QString::number(::geteuid()) + ".json";
}

// Waits for a condition the program brings about; the watchdog ends a hang.
template <typename F>
bool WaitFor(F done, int ms = 20000) {
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QThread::msleep(20);
    }
    return true;
}

TEST(StatusCommand, ExitCodeOfEachStateFromTheDevices) {
    QTemporaryDir dir;
    Program program;
    struct Case {
        const char* name;
        QString status;
        QString extra;
        int code;
        const char* text;
    };
    const Case cases[] = {
        {"normal", R"("diskState": "0x22")", {}, 0, "Normal"},
        {"degraded", R"("diskState": "0x42")", {}, 1, "Single HDD Present"},
        {"rebuild", R"("diskState": "0x22", "activityFlags": 2, "progress": 40)", {}, 1, "Rebuilding HDD2 40%"},
        {"failed", R"("diskState": "0x82")", {}, 2, "HDD2: failed"},
        {"fan", R"("diskState": "0x22", "envFlags": "0xA1")", {}, 2, "(Fan failure)"},
        {"hot", R"("diskState": "0x22", "envFlags": "0xA4", "temperature": 66)", {}, 2, "temperature: 66 C (Over temperature)"},
        {"silent", R"("diskState": "0x22")",
         R"(, "timeline": [{"afterStatusReads": 1, "enclosure": "desk", "action": "fail", "request": "status", "times": 50}])",
         2, "Not answering"},
    };
    for (const Case& c : cases) {
        const Program::Result r = program.RunToEnd({"--status", "--simulate", Scenario(dir, c.name, c.status, c.extra)});
        ASSERT_TRUE(r.finished) << c.name;
        EXPECT_EQ(r.exitCode, c.code) << c.name << "\n" << r.out.toStdString() << r.err.toStdString();
        EXPECT_TRUE(r.out.contains(c.text)) << c.name << "\n" << r.out.toStdString();
    }
    // No enclosure at all: one clear line and 3.
    const QString empty = dir.path() + "/empty.json";
    QFile f(empty);
    f.open(QIODevice::WriteOnly);
    f.write(R"({"drives": [{"number": 0}]})");
    f.close();
    const Program::Result none = program.RunToEnd({"--status", "--simulate", empty});
    EXPECT_EQ(none.exitCode, 3);
    EXPECT_EQ(none.out.count('\n'), 1);
    EXPECT_TRUE(none.out.startsWith("No enclosure found")) << none.out.toStdString();
}

// Empty when the document follows docs/status.schema.json, else why not.
std::string SchemaErrors(const QTemporaryDir& dir, const QByteArray& json) {
    const QString out = dir.path() + "/out.json";
    QFile f(out);
    f.open(QIODevice::WriteOnly);
    f.write(json);
    f.close();
    QProcess check;
    check.start("/usr/bin/python3", {"-c",
                                     "import json,sys,jsonschema; jsonschema.validate(json.load(open(sys.argv[2])), "
                                     "json.load(open(sys.argv[1])))",
                                     KESTREL_SOURCE_DIR "/docs/status.schema.json", out});
    if (!check.waitForFinished(30000)) return "the check did not end";
    return check.exitCode() == 0 ? std::string() : check.readAllStandardError().toStdString() + json.toStdString();
}

TEST(StatusCommand, JsonFollowsTheSchema) {
    QTemporaryDir dir;
    Program program;
    const QString silent = R"(, "timeline": [{"afterStatusReads": 1, "enclosure": "desk", "action": "fail", "request": "status", "times": 50}])";
    for (const auto& [status, extra] : std::vector<std::pair<QString, QString>>{
             {R"("diskState": "0x22")", {}},
             {R"("diskState": "0x82", "activityFlags": 1, "progress": 7)", {}},
             {R"("diskState": "0x22")", silent}}) {
        const Program::Result r = program.RunToEnd({"--status", "--json", "--simulate", Scenario(dir, "s", status, extra)});
        ASSERT_TRUE(r.finished);
        EXPECT_EQ(SchemaErrors(dir, r.out.toUtf8()), "");
    }
    // An enclosure whose box is unticked, as a monitor publishes it.
    StatusReport report;
    report.enclosures.push_back(EnclosureReport{});
    report.enclosures.back().answering = report.enclosures.back().monitored = false;
    report.enclosures.back().kind = ReportState::NotMonitored;
    report.enclosures.back().state = ReportStateText(ReportState::NotMonitored);
    report.source = "monitor";
    EXPECT_EQ(SchemaErrors(dir, QByteArray::fromStdString(StatusJson(report))), "");
    // The schema ties the monitor's fields to the source.
    report.source = "devices";
    QByteArray forged = QByteArray::fromStdString(StatusJson(report));
    forged.replace("\"enclosures\"", "\"monitorPid\": 7, \"enclosures\"");
    EXPECT_NE(SchemaErrors(dir, forged), "");
}

TEST(StatusCommand, TheHybridProgramAsksTheHybridDemo) {
    const Program::Result r = Program(KESTREL_HYBRID_EXE).RunToEnd({"--status", "--simulate"}, 30000);
    EXPECT_TRUE(r.out.contains("KESTREL HYBRID DUO")) << r.out.toStdString() << r.err.toStdString();
    EXPECT_FALSE(r.out.contains("KESTREL DUAL RAID")) << r.out.toStdString();
}

// A query while the monitor has not polled yet: a document that follows the
// schema, state "starting", code 3, after a bounded wait.
TEST(StatusCommand, AQueryWhileTheMonitorStartsSaysSo) {
    QTemporaryDir dir;
    Program program;
    // Slowed down, its detection takes long; stopped once it has said that
    // it starts, it certainly polls no sooner than the query asks.
    std::unique_ptr<QProcess> monitor(program.Start(program.WithFiles({"--headless", "--time-scale", "20"})));
    const QString state = StatePath(program);
    ASSERT_TRUE(WaitFor([&] {
        QFile f(state);
        return f.open(QIODevice::ReadOnly) && f.readAll().contains("\"starting\"");
    })) << "no starting state";
    const pid_t pid = static_cast<pid_t>(monitor->processId());
    ASSERT_EQ(::kill(pid, SIGSTOP), 0);
    QFile f(state);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    ASSERT_TRUE(f.readAll().contains("\"starting\""));
    const Program::Result r = program.RunToEnd({"--status", "--json", "--time-scale", "0.01"});
    EXPECT_EQ(r.exitCode, 3) << r.err.toStdString();
    EXPECT_EQ(SchemaErrors(dir, r.out.toUtf8()), "");
    EXPECT_TRUE(r.out.contains("\"state\": \"starting\"")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QString("\"monitorPid\": %1").arg(pid))) << r.out.toStdString();
    const Program::Result text = program.RunToEnd({"--status", "--time-scale", "0.01"});
    EXPECT_EQ(text.exitCode, 3);
    EXPECT_TRUE(text.out.startsWith("The monitor (process")) << text.out.toStdString();
    ::kill(pid, SIGCONT);
    monitor->terminate();
    ASSERT_TRUE(monitor->waitForFinished(10000));
}

TEST(StatusCommand, ReadsTheRunningMonitorsStateAndFallsBackWhenItDied) {
    QTemporaryDir dir;
    Program program;
    // The monitor sees HDD2 fail two (scaled) seconds in; a query of the
    // devices themselves sees the scenario from its start, healthy.
    const QString scenario = Scenario(dir, "monitor", R"("diskState": "0x22")",
                                      R"(, "timeline": [{"at": 2000, "enclosure": "desk", "action": "set", "fields": {"diskState": "0x82"}}])");
    std::unique_ptr<QProcess> monitor(program.Start(program.WithFiles({"--headless", "--simulate", scenario, "--time-scale", "0.1"})));
    const QString state = StatePath(program);
    ASSERT_TRUE(WaitFor([&] {
        QFile f(state);
        return f.open(QIODevice::ReadOnly) && f.readAll().contains("\"failed\"");
    })) << "no published state";
    EXPECT_EQ(QFile::permissions(state) & (QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::WriteGroup), 0);

    Program::Result r = program.RunToEnd({"--status", "--json", "--simulate", scenario});
    EXPECT_EQ(r.exitCode, 2) << r.out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("\"source\": \"monitor\"")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QString("\"monitorPid\": %1").arg(monitor->processId()))) << r.out.toStdString();

    // The monitor dies: its state stays behind, is called stale, and the
    // enclosures answer instead.
    ::kill(static_cast<pid_t>(monitor->processId()), SIGKILL);
    monitor->waitForFinished(5000);
    ASSERT_TRUE(QFile::exists(state));
    r = program.RunToEnd({"--status", "--simulate", scenario});
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("old and its monitor no longer runs")) << r.err.toStdString();

    // A monitor that ends cleanly takes its state away.
    monitor.reset(program.Start(program.WithFiles({"--headless", "--simulate", scenario, "--time-scale", "0.1"})));
    ASSERT_TRUE(WaitFor([&] {
        QFile f(state);
        return f.open(QIODevice::ReadOnly) && f.readAll().contains(QString("\"monitorPid\": %1").arg(monitor->processId()).toUtf8());
    }));
    monitor->terminate();
    ASSERT_TRUE(monitor->waitForFinished(10000));
    EXPECT_EQ(monitor->exitCode(), 0);
    EXPECT_FALSE(QFile::exists(state));
}

TEST(StatusCommand, AMonitorStartingWhileAQueryAsksTheEnclosuresWaitsForIt) {
    Program program;
    // The lock and the mark as a status query holds them while it reads the
    // enclosures.
    auto mark = std::make_unique<SingleInstance>("KESTREL_STATUS_QUERY", program.runtimeDir().toStdString());
    auto query = std::make_unique<SingleInstance>("KESTREL_GUI", program.runtimeDir().toStdString());
    ASSERT_TRUE(mark->Acquire(0, "status"));
    ASSERT_TRUE(query->Acquire(0, "status"));

    std::unique_ptr<QProcess> monitor(program.Start(program.WithFiles({"--headless", "--time-scale", "0.1"})));
    // Give a monitor that would leave the chance to; the one that waits
    // passes whatever this wait is.
    EXPECT_FALSE(monitor->waitForFinished(1000));
    query.reset();  // the query ends
    mark.reset();
    ASSERT_TRUE(WaitFor([&] { return QFile::exists(StatePath(program)); }))
        << "the monitor left: " << monitor->readAllStandardError().toStdString();
    EXPECT_EQ(monitor->state(), QProcess::Running);
    monitor->terminate();
    ASSERT_TRUE(monitor->waitForFinished(10000));
    EXPECT_EQ(monitor->exitCode(), 0);
}

// What stands at the state's name while the monitor is stopped (so that it
// cannot replace it meanwhile): only its own state is believed, and nothing
// makes the query wait. Once it runs again, its next poll puts its state back.
TEST(StatusCommand, OnlyTheLockHoldersOwnStateIsBelieved) {
    QTemporaryDir dir;
    Program program;
    const QString scenario = Scenario(dir, "failing", R"("diskState": "0x82")");
    std::unique_ptr<QProcess> monitor(
        program.Start(program.WithFiles({"--headless", "--simulate", scenario, "--time-scale", "0.1"})));
    const QString state = StatePath(program);
    const QByteArray own = QString("\"monitorPid\": %1").arg(monitor->processId()).toUtf8();
    auto published = [&] {
        QFile f(state);
        return f.open(QIODevice::ReadOnly) && f.readAll().contains(own);
    };
    ASSERT_TRUE(WaitFor(published)) << "no published state";
    QFile real(state);
    ASSERT_TRUE(real.open(QIODevice::ReadOnly));
    const QByteArray genuine = real.readAll();
    real.close();
    const pid_t pid = static_cast<pid_t>(monitor->processId());
    ASSERT_EQ(::kill(pid, SIGSTOP), 0);

    struct Plant {
        const char* what;
        std::function<void()> make;
        const char* reason;
    };
    auto forged = [&](const QByteArray& text) {
        QFile::remove(state);
        QFile f(state);
        f.open(QIODevice::WriteOnly);
        f.write(text);
    };
    QByteArray normal = genuine;
    normal.replace("\"failed\"", "\"present\"").replace("\"Failure\"", "\"Normal\"");
    normal.replace(own, "\"monitorPid\": 1");
    const std::vector<Plant> plants = {
        {"a state another process wrote", [&] { forged(normal); }, "not by the monitor"},
        {"a FIFO", [&] { QFile::remove(state); ::mkfifo(state.toLocal8Bit().constData(), 0644); }, "not a regular file"},
        {"a link to a secret", [&] { QFile::remove(state); QFile::link("/etc/shadow", state); }, "symbolic link"},
        {"a huge file", [&] { forged(genuine + QByteArray(300 * 1024, ' ')); }, "too large"},
    };
    for (const Plant& plant : plants) {
        SCOPED_TRACE(plant.what);
        plant.make();
        const Program::Result r = program.RunToEnd({"--status", "--json", "--simulate", scenario}, 5000);
        EXPECT_TRUE(r.finished) << "the query waited";
        EXPECT_EQ(r.exitCode, 3) << r.out.toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("state is refused")) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(plant.reason)) << r.err.toStdString();
    }
    // The FIFO last: the monitor replaces whatever stands at the name.
    QFile::remove(state);
    ::mkfifo(state.toLocal8Bit().constData(), 0644);
    ASSERT_EQ(::kill(pid, SIGCONT), 0);
    ASSERT_TRUE(WaitFor([&] {
        struct stat st {};
        return ::lstat(state.toLocal8Bit().constData(), &st) == 0 && S_ISREG(st.st_mode) && published();
    })) << "the monitor left the FIFO in place";
    const Program::Result r = program.RunToEnd({"--status", "--json", "--simulate", scenario}, 5000);
    EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
    monitor->terminate();
    ASSERT_TRUE(monitor->waitForFinished(10000));
}

// A state that cannot be published is said once, the query refuses what
// stands at the name, and the next poll that can publishes again.
TEST(StatusCommand, AStateThatCannotBePublishedIsSaidOnce) {
    Program program;
    const QString state = StatePath(program);
    ASSERT_TRUE(QDir().mkdir(state));
    std::unique_ptr<QProcess> monitor(program.Start(program.WithFiles({"--headless", "--time-scale", "0.1"})));
    QByteArray err;
    ASSERT_TRUE(WaitFor([&] {
        monitor->waitForReadyRead(50);
        err += monitor->readAllStandardError();
        return err.contains("Cannot publish the state");
    })) << err.toStdString();
    const Program::Result r = program.RunToEnd({"--status", "--simulate"}, 5000);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_TRUE(r.err.contains("not a regular file")) << r.err.toStdString();
    ASSERT_TRUE(QDir().rmdir(state));
    ASSERT_TRUE(WaitFor([&] { return QFileInfo(state).isFile(); }));
    monitor->terminate();
    ASSERT_TRUE(monitor->waitForFinished(10000));
    err += monitor->readAllStandardError();
    EXPECT_EQ(err.count("Cannot publish the state"), 1) << err.toStdString();
}

}  // namespace
}  // namespace kestrel
