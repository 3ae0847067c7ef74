// The event program: which changes become events, and how the program is
// run (its environment as plain data, in order, bounded).
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>

#include "notify/event_program.h"
#include "notify/program_events.h"
#include "support/status_builder.h"

namespace kestrel {
namespace {

using testing::Record;

Record Healthy() {
    return Record{}.diskState(0x22).mode(1).sensorSupport(0x11).env(0xA0).temperature(40).disk(0, "DISK ONE", "S1", 1000).disk(
        1, "DISK TWO", "S2", 1000);
}

std::string Kinds(const std::vector<ProgramEvent>& events) {
    std::string out;
    for (const ProgramEvent& e : events) out += (out.empty() ? "" : " ") + e.kind + (e.disk ? ":" + std::to_string(e.disk) : "");
    return out;
}

TEST(ProgramEvents, EachChangeIsOneEventAndEveryAlarmHasItsEnd) {
    ProgramEventRules rules;
    auto observe = [&rules](const Block512& record) {
        return Kinds(rules.Observe(0, testing::Decoded(record, false, true), "BOX", "state"));
    };
    EXPECT_EQ(Kinds(rules.Detected({std::string("BOX"), std::nullopt})), "enclosure-found");
    EXPECT_EQ(observe(Healthy()), "");
    EXPECT_EQ(observe(Healthy()), "");
    EXPECT_EQ(observe(Healthy().diskState(0x42)), "disk-lost:2");
    EXPECT_EQ(observe(Healthy().diskState(0x42)), "");
    EXPECT_EQ(observe(Healthy().diskState(0x12)), "disk-inserted:2 disk-lost-end:2");
    EXPECT_EQ(observe(Healthy().diskState(0x12).activity(0x02).progress(5)), "rebuild-start:2");
    EXPECT_EQ(observe(Healthy().diskState(0x12).activity(0x02).progress(50)), "");
    const std::vector<ProgramEvent> end = rules.Observe(0, testing::Decoded(Healthy(), false, true), "BOX", "Normal");
    ASSERT_EQ(Kinds(end), "rebuild-end:2");
    EXPECT_EQ(end[0].result, "ok");
    EXPECT_EQ(end[0].diskSerial, "S2");
    EXPECT_EQ(end[0].state, "Normal");
    EXPECT_EQ(observe(Healthy().env(0xA5)), "fan-failure over-temperature");
    EXPECT_EQ(observe(Healthy().env(0xA1)), "over-temperature-end");
    EXPECT_EQ(observe(Healthy()), "fan-failure-end");
    EXPECT_EQ(Kinds(rules.Detected({std::nullopt, std::nullopt})), "enclosure-removed");
    // A new enclosure in the slot starts afresh: what is wrong already is
    // an event at once, an inserted disk of the first record is not.
    EXPECT_EQ(Kinds(rules.Detected({std::string("OTHER"), std::nullopt})), "enclosure-found");
    EXPECT_EQ(observe(Healthy().diskState(0x41).env(0xA1)), "disk-lost:2 fan-failure");
}

class EventProgramRun : public ::testing::Test {
protected:
    // A program that appends its arguments and chosen variables to a file.
    QString Script(const QString& body) {
        const QString path = dir_.path() + "/program";
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(("#!/bin/sh\n" + body + "\n").toUtf8());
        f.close();
        f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        return path;
    }
    QByteArray Output() {
        QFile f(dir_.path() + "/out");
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }
    EventProgramConfig Config(const QString& program) {
        EventProgramConfig c;
        c.program = program.toStdString();
        c.title = "RAID GUI";
        c.err = err_;
        return c;
    }
    std::string Said() {
        std::fflush(err_);
        std::rewind(err_);
        std::string text;
        for (int c; (c = std::fgetc(err_)) != EOF;) text += static_cast<char>(c);
        return text;
    }
    void TearDown() override { std::fclose(err_); }

    QTemporaryDir dir_;
    std::FILE* err_ = std::tmpfile();
};

TEST_F(EventProgramRun, HostileDeviceTextArrivesAsPlainData) {
    const QString marker = dir_.path() + "/pwned";
    ProgramEvent e;
    e.kind = "disk-lost";
    e.slot = 1;
    e.enclosureModel = "A\"B'$(touch " + marker.toStdString() + ")`touch " + marker.toStdString() + "`;\nC";
    e.diskSerial = "$HOME *";
    const QString program = Script("printf '%s|%s|%s|%s' \"$1\" \"$2\" \"$KESTREL_ENCLOSURE_MODEL\" \"$KESTREL_DISK_SERIAL\" > '" +
                                   dir_.path() + "/out'; echo said; exit 3");
    EXPECT_EQ(RunEventProgram(Config(program), e), 3);
    EXPECT_EQ(Output().toStdString(), "disk-lost|Device1|" + e.enclosureModel + "|$HOME *");
    EXPECT_FALSE(QFile::exists(marker));
    const std::string said = Said();
    EXPECT_NE(said.find("Event program: | said\n"), std::string::npos) << said;
    EXPECT_NE(said.find("(disk-lost) exit status 3"), std::string::npos) << said;
}

TEST_F(EventProgramRun, InOrderOneAtATimeAndAHangingProgramIsKilledAtItsBound) {
    // Each run appends; one that overlapped another would interleave. The
    // first waits for the test, so that the others certainly queue behind it.
    const QString out = dir_.path() + "/out";
    const QString go = dir_.path() + "/go";
    const QString program = Script("echo \"$KESTREL_EVENT start $KESTREL_DROPPED\" >> '" + out + "'; " +
                                   "if [ \"$KESTREL_EVENT\" = one ]; then while [ ! -e '" + go +
                                   "' ]; do sleep 0.02; done; fi; " +
                                   "[ \"$KESTREL_EVENT\" = hang ] && exec sleep 1000; " +
                                   "echo \"$KESTREL_EVENT end\" >> '" + out + "'");
    EventProgramConfig config = Config(program);
    config.bound = std::chrono::milliseconds(1000);
    config.queueLimit = 3;
    {
        EventProgram runner(config);
        auto post = [&runner](const char* kind) {
            ProgramEvent e;
            e.kind = kind;
            runner.Post(e);
        };
        post("one");
        for (int i = 0; i < 3000 && !Output().contains("one start"); ++i) QThread::msleep(10);
        ASSERT_TRUE(Output().contains("one start"));
        for (const char* kind : {"hang", "two", "three", "dropped", "dropped"}) post(kind);
        QFile(go).open(QIODevice::WriteOnly);
        ASSERT_TRUE(runner.WaitIdle(std::chrono::seconds(60)));
        post("four");
        ASSERT_TRUE(runner.WaitIdle(std::chrono::seconds(60)));
    }
    EXPECT_EQ(Output().toStdString(),
              "one start 0\none end\nhang start 2\ntwo start 0\ntwo end\nthree start 0\nthree end\nfour start 0\nfour end\n");
    const std::string said = Said();
    EXPECT_NE(said.find("(hang) did not end within 1 s and was killed"), std::string::npos) << said;
    EXPECT_NE(said.find("2 events were dropped"), std::string::npos) << said;
}

TEST_F(EventProgramRun, AProgramThatCannotStartIsSaid) {
    ProgramEvent e;
    e.kind = "test";
    EXPECT_EQ(RunEventProgram(Config(dir_.path() + "/missing"), e), 126);
    EXPECT_NE(Said().find("cannot be started"), std::string::npos);
}

}  // namespace
}  // namespace kestrel
