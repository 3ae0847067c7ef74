// The program under a private session bus with a notification service of the
// test's own: the demo's alerts reach the desktop once each, with no mail set
// up.
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <algorithm>
#include <map>

#include "sim/scenario.h"
#include "support/program.h"

namespace kestrel {
namespace {

using testing::Program;

// Why the bus test cannot run here; empty when it can.
QString MissingTools() {
    if (!QFile::exists("/usr/bin/dbus-run-session")) return "dbus-run-session is missing (package dbus-daemon)";
    QProcess probe;
    probe.start("/usr/bin/python3", {"-c", "import dbus, dbus.service, dbus.mainloop.glib, gi.repository.GLib"});
    if (!probe.waitForFinished(20000) || probe.exitCode() != 0)
        return "python3 cannot import dbus and gi (packages python3-dbus, python3-gi)";
    return {};
}

// The demo, with its steps counted in status reads of their enclosure
// instead of milliseconds (one read per 4 s poll), so that no step can slip
// between two polls on a busy machine; it ends itself once its rebuild and
// fan alarm are over.
QByteArray DemoThatQuits() {
    const std::string_view demo = sim::BuiltInScenarioText();
    QJsonObject scenario = QJsonDocument::fromJson(QByteArray(demo.data(), static_cast<qsizetype>(demo.size()))).object();
    QJsonArray timeline;
    for (const QJsonValue& value : scenario["timeline"].toArray()) {
        QJsonObject step = value.toObject();
        step["afterStatusReads"] = std::max(1, step.take("at").toInt() / 4000);
        timeline.append(step);
    }
    timeline.append(QJsonObject{{"afterStatusReads", 30}, {"enclosure", "desk"}, {"action", "quit"}});
    scenario["timeline"] = timeline;
    scenario["flashTiming"] = false;
    return QJsonDocument(scenario).toJson();
}

TEST(DesktopNotification, TheDemosDiskPullAndFanFailureEachNotifyOnceWithNoMailSetUp) {
    if (const QString missing = MissingTools(); !missing.isEmpty()) GTEST_SKIP() << missing.toStdString();
    Program program;
    const QString scenario = program.logDir() + "/demo.json";
    const QString notes = program.logDir() + "/notes.jsonl";
    {
        QFile f(scenario);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(DemoThatQuits());
    }
    // The window, drawn offscreen; the bus is the private one only.
    program.env().remove("DBUS_SESSION_BUS_ADDRESS");
    QProcess run;
    run.setProcessEnvironment(program.env());
    run.start("/usr/bin/dbus-run-session",
              QStringList{"--", "/usr/bin/python3", KESTREL_SOURCE_DIR "/tests/support/notification_server.py", notes, "--",
                          KESTREL_RAID_EXE} +
                  program.WithFiles({"--simulate", scenario, "--time-scale", "0.1"}));
    ASSERT_TRUE(run.waitForFinished(90000)) << "the demo did not end";
    EXPECT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();

    QFile f(notes);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << run.readAllStandardError().toStdString();
    std::map<std::string, int> count;
    std::vector<QJsonObject> all;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.trimmed().isEmpty()) continue;
        all.push_back(QJsonDocument::fromJson(line).object());
        ++count[all.back()["summary"].toString().toStdString()];
    }
    std::string seen;
    for (const auto& [summary, n] : count) seen += summary + " x" + std::to_string(n) + "\n";
    EXPECT_EQ(count["Device1 HDD2 was removed."], 1) << seen;
    EXPECT_EQ(count["Device2 fan fail."], 1) << seen;
    EXPECT_EQ(count["Device1 rebuild finished."], 1) << seen;
    for (const QJsonObject& note : all) {
        EXPECT_EQ(note["app"].toString(), "RAID GUI");
        if (note["summary"].toString().endsWith(" fail.") || note["summary"].toString().endsWith(" was removed.")) {
            EXPECT_EQ(note["body"].toString(), "No alert mail: mail is not set up (no recipient).");
        }
    }
    // Nothing but the demo's episodes: no note is repeated by the polls.
    for (const auto& [summary, n] : count) EXPECT_EQ(n, 1) << summary;
}

}  // namespace
}  // namespace kestrel
