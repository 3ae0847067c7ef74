// What the running program hands to the tools people already run: the
// event program (the shipped examples against a local HTTP server, every
// event of the demo in order, a program that hangs) and the metrics file,
// read by promtool and by the Python client's parser.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <memory>

#include "app/event_feed.h"
#include "support/program.h"

namespace kestrel {
namespace {

using testing::Program;

template <typename F>
bool WaitFor(F done, int ms = 60000) {
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QThread::msleep(20);
    }
    return true;
}

QByteArray Read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString Executable(const QTemporaryDir& dir, const QString& name, const QByteArray& text) {
    const QString path = dir.path() + "/" + name;
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(text);
    f.close();
    f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

// tests/support/http_sink.py: keeps each POST as request-N.json.
class HttpSink {
public:
    HttpSink() {
        process_.start("/usr/bin/python3", {KESTREL_SOURCE_DIR "/tests/support/http_sink.py", dir_.path()});
        process_.waitForStarted(5000);
        QByteArray out;
        WaitFor([&] {
            process_.waitForReadyRead(100);
            out += process_.readAllStandardOutput();
            if (out.startsWith("PORT ")) port_ = out.mid(5).trimmed().toInt();
            return port_ != 0 || process_.state() != QProcess::Running;
        }, 10000);
    }
    ~HttpSink() {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(5000)) process_.kill();
    }
    QString Url(const QString& path) const { return QString("http://127.0.0.1:%1%2").arg(port_).arg(path); }
    QJsonObject Request(int n) const {
        return QJsonDocument::fromJson(Read(dir_.path() + QString("/request-%1.json").arg(n))).object();
    }

private:
    QTemporaryDir dir_;
    QProcess process_;
    int port_ = 0;
};

TEST(EventProgram, AnAlertMailIsAnEventWhenItArrivesOrIsGivenUpNotBefore) {
    MailOutcome outcome;
    outcome.subject = "Device1 fan fail.";
    for (MailOutcome::Kind pending : {MailOutcome::Kind::Queued, MailOutcome::Kind::Delayed}) {
        outcome.kind = pending;
        EXPECT_FALSE(MailEvent(outcome));
    }
    outcome.kind = MailOutcome::Kind::Delivered;
    std::optional<ProgramEvent> event = MailEvent(outcome);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->kind, "mail-delivered");
    EXPECT_EQ(event->result, "ok");
    EXPECT_NE(event->message.find("Device1 fan fail."), std::string::npos);
    outcome.kind = MailOutcome::Kind::Undelivered;
    outcome.reason = "550 no such user";
    event = MailEvent(outcome);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->kind, "mail-undelivered");
    EXPECT_EQ(event->result, "failed");
    EXPECT_NE(event->message.find("550 no such user"), std::string::npos);
}

TEST(EventProgramExamples, BothReachALocalServerWithTheTestEvent) {
    HttpSink sink;
    Program program;
    program.env().insert("NTFY_URL", sink.Url("/raid-topic"));
    program.env().insert("WEBHOOK_URL", sink.Url("/hook"));
    Program::Result r = program.RunToEnd(
        program.WithFiles({"--test-event", "--event-program", KESTREL_SOURCE_DIR "/docs/examples/ntfy-push"}), 30000);
    ASSERT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    QJsonObject push = sink.Request(1);
    EXPECT_EQ(push["path"].toString(), "/raid-topic");
    EXPECT_EQ(push["headers"].toObject()["Title"].toString(), "test") << push["headers"].toObject().keys().join(",").toStdString();
    EXPECT_EQ(push["headers"].toObject()["Priority"].toString(), "default");
    EXPECT_TRUE(push["body"].toString().startsWith("RAID GUI")) << push["body"].toString().toStdString();

    r = program.RunToEnd(
        program.WithFiles({"--test-event", "--event-program", KESTREL_SOURCE_DIR "/docs/examples/json-webhook"}), 30000);
    ASSERT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("Event program: | " + sink.Url("/hook") + ": HTTP 200")) << r.err.toStdString();
    const QJsonObject hook = QJsonDocument::fromJson(sink.Request(2)["body"].toString().toUtf8()).object();
    EXPECT_EQ(hook["event"].toString(), "test");
    EXPECT_EQ(hook["severity"].toString(), "info");
    EXPECT_FALSE(hook["timestamp"].toString().isEmpty());

    // Without a program there is nothing to test: a usage error.
    r = program.RunToEnd(program.WithFiles({"--test-event"}), 10000);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("No event program is set")) << r.err.toStdString();
}

// Device text with quotes, $() and backquotes reaches the webhook's JSON as
// those characters; nothing evaluates it.
TEST(EventProgram, HostileDeviceTextReachesTheWebhookAsPlainData) {
    QTemporaryDir dir;
    HttpSink sink;
    // At most 40 characters: the marker is named relative to the folder
    // the program runs in, this test's own.
    const QString marker = QDir::current().filePath("pwned");
    QFile::remove(marker);
    const QString model = "X\\\"$(touch pwned)`touch pwned`'";
    const QString scenario = dir.path() + "/hostile.json";
    QFile f(scenario);
    f.open(QIODevice::WriteOnly);
    f.write(QString(R"js({
  "enclosures": [{"name": "desk", "identity": {"model": "%1", "firmwareRevision": "100126.1"},
                  "status": {"raidMode": 1, "diskState": "0x22", "activityFlags": 2, "progress": 10,
                             "disk1Model": "ONE", "disk1Serial": "S1", "disk1Capacity": 1000,
                             "disk2Model": "TWO", "disk2Serial": "$(id)", "disk2Capacity": 1000}}],
  "drives": [{"number": 0}, {"number": 1, "enclosure": "desk"}]
})js").arg(model).toUtf8());
    f.close();
    Program p;
    p.env().insert("WEBHOOK_URL", sink.Url("/hook"));
    std::unique_ptr<QProcess> monitor(p.Start(p.WithFiles({"--headless", "--simulate", scenario, "--time-scale", "0.1",
                                                           "--event-program", KESTREL_SOURCE_DIR "/docs/examples/json-webhook"})));
    QJsonObject started;
    ASSERT_TRUE(WaitFor([&] {
        for (int n = 1; n < 10; ++n) {
            const QJsonObject e = QJsonDocument::fromJson(sink.Request(n)["body"].toString().toUtf8()).object();
            if (e["event"].toString() == "rebuild-start") started = e;
        }
        return !started.isEmpty();
    })) << monitor->readAllStandardError().toStdString();
    monitor->terminate();
    ASSERT_TRUE(monitor->waitForFinished(10000));
    EXPECT_EQ(started["enclosure_model"].toString(), QString(model).replace("\\\"", "\""));
    EXPECT_EQ(started["disk_serial"].toString().toStdString(), "$(id)") << QJsonDocument(started).toJson().toStdString();
    EXPECT_EQ(started["args"].toArray().first().toString().toStdString(), "rebuild-start") << QJsonDocument(started).toJson().toStdString();
    EXPECT_FALSE(QFile::exists(marker));
}

// Every kind of event the demo brings, in order, with its environment.
TEST(EventProgram, TheDemosEventsInOrderWithTheirFacts) {
    QTemporaryDir dir;
    const QString log = dir.path() + "/events";
    const QString program = Executable(
        dir, "record",
        ("#!/bin/sh\nprintf '%s|%s|%s|%s|%s|%s|%s\\n' \"$1\" \"$2\" \"$KESTREL_DISK\" \"$KESTREL_ENCLOSURE_MODEL\" "
         "\"$KESTREL_DISK_SERIAL\" \"$KESTREL_RESULT\" \"$KESTREL_SEVERITY\" >> '" +
         log + "'\n")
            .toUtf8());
    Program p;
    std::unique_ptr<QProcess> monitor(
        p.Start(p.WithFiles({"--headless", "--time-scale", "0.1", "--event-program", program})));
    const QList<QByteArray> wanted = {
        "enclosure-found|Device1||KESTREL DUAL RAID|||info",
        "enclosure-found|Device2||KESTREL USB RAID|||info",
        "disk-lost|Device1|HDD2|KESTREL DUAL RAID|",  // the pulled disk's serial follows
        "disk-inserted|Device1|HDD2|KESTREL DUAL RAID|WD-WCC6Y0NEW001||info",
        "disk-lost-end|Device1|HDD2|",
        "rebuild-start|Device1|HDD2|KESTREL DUAL RAID|WD-WCC6Y0NEW001||attention",
        "fan-failure|Device2||KESTREL USB RAID|||alarm",
        "rebuild-end|Device1|HDD2|KESTREL DUAL RAID|WD-WCC6Y0NEW001|ok|info",
        "fan-failure-end|Device2||KESTREL USB RAID|||info",
    };
    auto lines = [&] { return Read(log).split('\n'); };
    ASSERT_TRUE(WaitFor([&] { return Read(log).contains("fan-failure-end") && Read(log).contains("rebuild-end"); }, 90000))
        << Read(log).toStdString();
    monitor->terminate();
    ASSERT_TRUE(monitor->waitForFinished(10000));
    // The wanted lines appear in this order; the rebuild's end may come
    // before or after the fan alarm, as the two run at once.
    QList<QByteArray> got = lines();
    int at = 0;
    for (const QByteArray& w : wanted) {
        const auto found = std::find_if(got.begin(), got.end(), [&](const QByteArray& l) { return l.startsWith(w); });
        ASSERT_NE(found, got.end()) << w.toStdString() << "\n" << Read(log).toStdString();
        const int index = static_cast<int>(found - got.begin());
        if (!w.startsWith("rebuild-end") && !w.startsWith("fan-failure|")) {
            EXPECT_GE(index, at) << w.toStdString() << "\n" << Read(log).toStdString();
            at = index;
        }
    }
}

TEST(EventProgram, AHangingProgramIsKilledAtItsBoundAndThePollGoesOn) {
    QTemporaryDir dir;
    const QString program = Executable(dir, "hang", "#!/bin/sh\nexec sleep 1000\n");
    Program p;
    const QString metrics = dir.path() + "/kestrel.prom";
    // The first event (an enclosure found) comes before the first poll; the
    // program then hangs for 9 s (30 s scaled), while the polls go on.
    std::unique_ptr<QProcess> monitor(p.Start(
        p.WithFiles({"--headless", "--time-scale", "0.3", "--event-program", program, "--metrics-file", metrics})));
    QByteArray err;
    auto said = [&](const char* text) {
        monitor->waitForReadyRead(20);
        err += monitor->readAllStandardError();
        return err.contains(text);
    };
    ASSERT_TRUE(WaitFor([&] { return Read(metrics).contains("kestrel_last_poll_timestamp_seconds"); }));
    EXPECT_FALSE(said("was killed")) << err.toStdString();
    ASSERT_TRUE(WaitFor([&] { return said("(enclosure-found) did not end within 9 s and was killed"); }))
        << err.toStdString();
    monitor->terminate();
    ASSERT_TRUE(monitor->waitForFinished(10000));
    EXPECT_EQ(monitor->exitCode(), 0);
    err += monitor->readAllStandardError();
    // The second enclosure's event ran next and was still running.
    EXPECT_TRUE(err.contains("was killed: the program is closing")) << err.toStdString();
}

TEST(EventProgram, TheCommandLineUpgradeTellsItsOutcome) {
    QTemporaryDir dir;
    const QString log = dir.path() + "/events";
    const QString program = Executable(
        dir, "record", ("#!/bin/sh\necho \"$1 $2 $KESTREL_RESULT\" >> '" + log + "'\n").toUtf8());
    Program p;
    const QString image = dir.path() + "/sample.bin";
    ASSERT_EQ(p.RunToEnd({"--write-sample-image", image}).exitCode, 0);
    const Program::Result r = p.RunToEnd(
        p.WithFiles({"--time-scale", "0.05", "--upgrade-firmware", image, "--event-program", program}), 60000);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(Read(log), "upgrade-end Device1 ok\n");
}

// The metrics file after each poll, as the textfile collector reads it.
TEST(MetricsFile, WrittenAfterEveryPollAndReadableByPrometheusTools) {
    QTemporaryDir dir;
    Program p;
    const QString metrics = dir.path() + "/kestrel.prom";
    std::unique_ptr<QProcess> monitor(
        p.Start(p.WithFiles({"--headless", "--time-scale", "0.1", "--metrics-file", metrics})));
    ASSERT_TRUE(WaitFor([&] { return Read(metrics).contains("kestrel_last_poll_timestamp_seconds"); }))
        << Read(metrics).toStdString();
    // A later poll replaced it: its time stamp moved on.
    const QByteArray first = Read(metrics);
    auto stamp = [](const QByteArray& text) {
        for (const QByteArray& line : text.split('\n'))
            if (line.startsWith("kestrel_last_poll_timestamp_seconds ")) return line.mid(36).toDouble();
        return 0.0;
    };
    ASSERT_TRUE(WaitFor([&] { return stamp(Read(metrics)) > stamp(first); }));
    EXPECT_EQ(QFileInfo(metrics).permissions() & QFileDevice::ReadOther, QFileDevice::ReadOther);
    const QByteArray text = Read(metrics);
    monitor->terminate();
    ASSERT_TRUE(monitor->waitForFinished(10000));
    for (const char* line : {"kestrel_monitor_start_time_seconds ", "kestrel_enclosure_info{slot=\"1\",model=\"KESTREL DUAL RAID\"",
                             "kestrel_enclosure_state{slot=\"2\",state=\"normal\"} "})
        EXPECT_TRUE(text.contains(line)) << line << "\n" << text.toStdString();
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size() == 1)
        << QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).join(",").toStdString();

    QFile copy(dir.path() + "/check.prom");
    copy.open(QIODevice::WriteOnly);
    copy.write(text);
    copy.close();
    if (QFileInfo::exists("/usr/bin/promtool")) {
        QProcess promtool;
        promtool.setStandardInputFile(copy.fileName());
        promtool.start("/usr/bin/promtool", {"check", "metrics"});
        ASSERT_TRUE(promtool.waitForFinished(30000));
        EXPECT_EQ(promtool.exitCode(), 0) << promtool.readAllStandardOutput().toStdString()
                                          << promtool.readAllStandardError().toStdString();
        // Lint remarks are printed too; there must be none.
        EXPECT_TRUE(promtool.readAllStandardError().trimmed().isEmpty());
    } else {
        std::printf("promtool missing (Debian package prometheus): not checked with it\n");
    }
    QProcess python;
    python.start("/usr/bin/python3",
                 {"-c",
                  "import sys\ntry:\n from prometheus_client.parser import text_string_to_metric_families as p\n"
                  "except ImportError:\n print('absent'); sys.exit(0)\n"
                  "f = {m.name: m for m in p(open(sys.argv[1]).read())}\n"
                  "s = [x for x in f['kestrel_enclosure_state'].samples if x.value == 1]\n"
                  "print(len(s), sorted(x.labels['slot'] for x in s), f['kestrel_enclosure_info'].type)",
                  copy.fileName()});
    ASSERT_TRUE(python.waitForFinished(30000));
    const QByteArray parsed = python.readAllStandardOutput().trimmed();
    if (parsed == "absent") {
        std::printf("python3-prometheus-client missing: not parsed with it\n");
    } else {
        EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
        EXPECT_EQ(parsed, "2 ['1', '2'] gauge") << parsed.toStdString() << python.readAllStandardError().toStdString();
    }
}

}  // namespace
}  // namespace kestrel
