// The command-line upgrade as a user runs it from a shell: the options, the
// exit codes, the texts on the terminal, and the refusal while the monitor
// runs.
#include <gtest/gtest.h>

#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QThread>
#include <csignal>
#include <memory>

#include "app/command_line.h"
#include "support/program.h"

namespace kestrel {
namespace {

using testing::Program;

ParseOutcome Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "kestrel-raid-gui");
    return ParseCommandLine(args, ProductVariant::Raid, true);
}

TEST(UpgradeCommand, OptionsAndTheirMistakes) {
    const ParseOutcome plain = Parse({"--upgrade-firmware", "fw.bin"});
    ASSERT_EQ(plain.kind, ParseOutcome::Kind::Run);
    EXPECT_EQ(plain.options.upgradeFirmware, "fw.bin");
    EXPECT_EQ(plain.options.slot, 1);
    EXPECT_EQ(Parse({"--simulate", "--upgrade-firmware", "fw.bin", "--slot", "2"}).options.slot, 2);
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--upgrade-firmware"}, {"--upgrade-firmware", "fw.bin", "--slot", "3"},
          {"--upgrade-firmware", "fw.bin", "--slot", "0"}, {"--upgrade-firmware", "fw.bin", "--slot", "x"},
          {"--slot", "1"}, {"--upgrade-firmware", ""}}) {
        const ParseOutcome o = Parse(bad);
        EXPECT_EQ(o.kind, ParseOutcome::Kind::Exit);
        EXPECT_EQ(o.exitCode, 2) << bad.back();
        EXPECT_FALSE(o.err.empty());
    }
    EXPECT_NE(Parse({"--help"}).out.find("--upgrade-firmware"), std::string::npos);
}

class UpgradeCommandRun : public ::testing::Test {
protected:
    UpgradeCommandRun() {
        sample_ = program_.logDir() + "/sample.bin";
        const Program::Result r = program_.RunToEnd({"--write-sample-image", sample_});
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    }
    Program::Result Upgrade(QStringList more) {
        // The demo's flash takes its time; a twentieth of it will do here.
        return program_.RunToEnd(program_.WithFiles(QStringList{"--time-scale", "0.05", "--upgrade-firmware"} + more),
                                 60000);
    }
    Program program_;
    QString sample_;
};

TEST_F(UpgradeCommandRun, VerifiedUpgradeExitsZero) {
    for (const char* slot : {"1", "2"}) {
        const Program::Result r = Upgrade({sample_, "--slot", slot});
        ASSERT_TRUE(r.finished);
        EXPECT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
        const std::string out = r.out.toStdString();
        EXPECT_NE(out.find("File:" + sample_.toStdString()), std::string::npos);
        EXPECT_NE(out.find("Chksum:"), std::string::npos);
        EXPECT_NE(out.find("Process 2 / 3"), std::string::npos);
        EXPECT_NE(out.find("SPI Verify OK"), std::string::npos);
        EXPECT_NE(out.find("Firmware Upgrade 3/3 completed!"), std::string::npos);
        // Not a terminal: plain lines, no carriage returns.
        EXPECT_EQ(out.find('\r'), std::string::npos);
    }
    // The day log holds each upgrade's start and result.
    QString log;
    for (const QString& name : QDir(program_.logDir()).entryList({"*.log"})) {
        QFile day(program_.logDir() + "/" + name);
        if (day.open(QIODevice::ReadOnly)) log += QString::fromUtf8(day.readAll());
    }
    for (const char* line : {"\r\nD1 Firmware upgrade started: F/W Rev. ", "\r\nD1 Firmware upgrade verified: F/W Rev. ",
                             "\r\nD2 Firmware upgrade started: F/W Rev. ", "\r\nD2 Firmware upgrade verified: F/W Rev. "})
        EXPECT_TRUE(log.contains(line)) << line << log.toStdString();
}

TEST_F(UpgradeCommandRun, RefusedOrFailedExitsOne) {
    const QString bad = program_.logDir() + "/bad.bin";
    QFile f(bad);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(0x78001, 'x'));
    f.close();
    Program::Result r = Upgrade({bad});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.toStdString().find("The firmware file is not correct."), std::string::npos);

    r = Upgrade({program_.logDir() + "/none.bin"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.toStdString().find("Fail to open firmware file"), std::string::npos);

    // The demo has two enclosures; a PC with one has no slot 2.
    const QString one = program_.logDir() + "/one.json";
    QFile s(one);
    ASSERT_TRUE(s.open(QIODevice::WriteOnly));
    s.write(R"({"enclosures": [{"name": "e", "paths": ["mailbox"]}], "drives": [{"number": 0, "enclosure": "e"}]})");
    s.close();
    r = program_.RunToEnd({"--simulate", one, "--upgrade-firmware", sample_, "--slot", "2", "--registry",
                           program_.registry()}, 60000);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.toStdString().find("No Upgrade Mode !"), std::string::npos);

    // The steps at 0 ms set the PC up: here the 1024th page program fails.
    const QString failing = program_.logDir() + "/failing.json";
    QFile g(failing);
    ASSERT_TRUE(g.open(QIODevice::WriteOnly));
    g.write(R"({"enclosures": [{"name": "e", "paths": ["ata"]}], "drives": [{"number": 0, "enclosure": "e"}],
               "timeline": [{"at": 0, "enclosure": "e", "action": "fail", "request": "flash-program", "after": 1023}]})");
    g.close();
    r = program_.RunToEnd({"--simulate", failing, "--upgrade-firmware", sample_, "--registry", program_.registry()},
                          60000);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.toStdString().find("Error code 201\nSPI Program Fail.\nMessage: SPI Program Fail.\n"),
              std::string::npos)
        << r.out.toStdString();
}

// Behind a pipe that a reader closes (`... | head -4`), and with signals
// sent while the flash is erased: the upgrade goes on to its verified end.
TEST_F(UpgradeCommandRun, NeitherAClosedPipeNorASignalCutsTheFlashShort) {
    QProcess p;
    p.setProcessEnvironment(program_.env());
    p.start(KESTREL_RAID_EXE, program_.WithFiles({"--time-scale", "0.05", "--upgrade-firmware", sample_}));
    ASSERT_TRUE(p.waitForStarted(5000));
    QByteArray out;
    auto seen = [&](const char* text) {
        QDeadlineTimer deadline(60000);
        while (!out.contains(text) && !deadline.hasExpired() && p.state() == QProcess::Running) {
            p.waitForReadyRead(100);
            out += p.readAllStandardOutput();
        }
        return out.contains(text);
    };
    ASSERT_TRUE(seen("Process 1 / 3")) << out.toStdString();
    for (const int s : {SIGUSR1, SIGUSR2, SIGALRM, SIGRTMIN + 2}) ::kill(static_cast<pid_t>(p.processId()), s);
    ASSERT_TRUE(seen("Process 2 / 3")) << out.toStdString();
    p.closeReadChannel(QProcess::StandardOutput);
    ASSERT_TRUE(p.waitForFinished(120000));
    const std::string err = p.readAllStandardError().toStdString();
    ASSERT_EQ(p.exitStatus(), QProcess::NormalExit) << "ended by a signal; " << err;
    EXPECT_EQ(p.exitCode(), 0) << err;
    EXPECT_NE(err.find("SIGUSR1, SIGUSR2, SIGALRM, SIGRTMIN+2 came during the upgrade"), std::string::npos) << err;
}

TEST_F(UpgradeCommandRun, RefusedWhileTheMonitorRuns) {
    std::unique_ptr<QProcess> monitor(program_.Start(program_.WithFiles({"--headless"})));
    // Wait for the monitor to hold the single-instance lock: it publishes
    // its state after its first poll.
    QElapsedTimer clock;
    clock.start();
    const QString state = program_.runtimeDir() + "/status-" + QString::number(::geteuid()) + ".json";
    while (!QFile::exists(state) && clock.elapsed() < 20000) QThread::msleep(20);
    const Program::Result r = Upgrade({sample_});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.toStdString().find("already running"), std::string::npos);
    EXPECT_EQ(r.out.toStdString().find("Process"), std::string::npos) << "nothing was sent";
    monitor->terminate();
    EXPECT_TRUE(monitor->waitForFinished(10000));
}

}  // namespace
}  // namespace kestrel
