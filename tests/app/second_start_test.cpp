// Starts that cannot take the single-instance lock: each says once on
// standard error why it ends, and a monitor without a window fails, so that
// a service manager tries again; a lock folder that cannot hold the lock is
// named with its own error.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>
#include <memory>

#include "support/program.h"

namespace kestrel {
namespace {

using testing::Program;

bool WaitForFile(const QString& path, int ms = 20000) {
    QDeadlineTimer deadline(ms);
    while (!QFile::exists(path) && !deadline.hasExpired()) QThread::msleep(20);
    return QFile::exists(path);
}

// The monitor holds the lock once it has published its first state.
bool WaitFor(const Program& program, QProcess* monitor) {
    return monitor->state() == QProcess::Running &&
           WaitForFile(program.runtimeDir() + "/status-" + QString::number(::geteuid()) + ".json");
}

TEST(SecondStart, AHeadlessStartBesideThisUsersMonitorSaysWhyItEnds) {
    Program program;
    std::unique_ptr<QProcess> first(program.Start(program.WithFiles({"--headless", "--time-scale", "0.1"})));
    ASSERT_TRUE(WaitFor(program, first.get()));

    const Program::Result second = program.RunToEnd(program.WithFiles({"--headless"}));
    EXPECT_TRUE(second.finished);
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_EQ(second.err.count('\n'), 1) << second.err.toStdString();
    EXPECT_TRUE(second.err.contains(QString("already runs for this user (process %1)").arg(first->processId())))
        << second.err.toStdString();
    first->terminate();
    ASSERT_TRUE(first->waitForFinished(10000));
    EXPECT_EQ(first->exitCode(), 0);
}

TEST(SecondStart, AMonitorStartDuringAnUpgradeSaysSo) {
    Program program;
    const QString image = program.logDir() + "/sample.bin";
    ASSERT_EQ(program.RunToEnd({"--write-sample-image", image}).exitCode, 0);
    std::unique_ptr<QProcess> upgrade(program.Start(program.WithFiles({"--upgrade-firmware", image})));
    QByteArray out;
    QDeadlineTimer deadline(30000);
    while (!out.contains("Process 1 / 3") && !deadline.hasExpired() && upgrade->state() == QProcess::Running) {
        upgrade->waitForReadyRead(100);
        out += upgrade->readAllStandardOutput();
    }
    ASSERT_TRUE(out.contains("Process 1 / 3")) << out.toStdString();
    // Held still while the starts ask.
    const pid_t pid = static_cast<pid_t>(upgrade->processId());
    ASSERT_EQ(::kill(pid, SIGSTOP), 0);
    const Program::Result headless = program.RunToEnd(program.WithFiles({"--headless"}));
    const Program::Result status = program.RunToEnd(program.WithFiles({"--status"}));
    ASSERT_EQ(::kill(pid, SIGCONT), 0);
    EXPECT_EQ(headless.exitCode, 1);
    EXPECT_EQ(headless.err.count('\n'), 1) << headless.err.toStdString();
    EXPECT_TRUE(headless.err.contains(QString("a firmware upgrade runs (process %1)").arg(pid))) << headless.err.toStdString();
    EXPECT_EQ(status.exitCode, 3);
    EXPECT_TRUE(status.err.contains("A firmware upgrade runs")) << status.err.toStdString();
    ASSERT_TRUE(upgrade->waitForFinished(120000));
    EXPECT_EQ(upgrade->exitCode(), 0);
}

TEST(SecondStart, ALockThatCannotBeMadeIsNamedWithItsOwnError) {
    Program program;
    // Something that is not a lock file at its name: a folder, a dangling link.
    ASSERT_TRUE(QDir(program.runtimeDir()).mkdir("KESTREL_GUI.lock"));
    Program::Result r = program.RunToEnd(program.WithFiles({"--headless"}));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("cannot create the lock")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("Is a directory")) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains("only root and members")) << r.err.toStdString();

    ASSERT_TRUE(QDir(program.runtimeDir()).rmdir("KESTREL_GUI.lock"));
    ASSERT_TRUE(QFile::link(program.runtimeDir() + "/nowhere", program.runtimeDir() + "/KESTREL_GUI.lock"));
    r = program.RunToEnd(program.WithFiles({"--headless"}));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("symbolic links")) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(program.runtimeDir() + "/nowhere")) << "the link was followed";
}

}  // namespace
}  // namespace kestrel
