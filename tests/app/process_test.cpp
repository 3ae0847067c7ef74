// The program as a process: options, single instance, signals.
#include <gtest/gtest.h>
#include <signal.h>

#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <memory>

#include "support/program.h"

namespace kestrel {
namespace {

using testing::Program;

TEST(Process, BadOptionsPrintOneLineAndExit2) {
    Program program;
    for (const QStringList& args : {QStringList{"--bogus"}, QStringList{"--time-scale", "0"},
                                    QStringList{"--simulate", "/nonexistent/scenario.json"}}) {
        const Program::Result r = program.RunToEnd(args);
        ASSERT_TRUE(r.finished);
        EXPECT_EQ(r.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
    }
    EXPECT_EQ(program.RunToEnd({"--version"}).out, "RAID GUI V0.23.6\n");
    EXPECT_EQ(Program(KESTREL_HYBRID_EXE).RunToEnd({"--version"}).out, "HyBrid GUI V0.23.6\n");
}

TEST(Process, HeadlessEndsCleanlyOnSigtermAndSigint) {
    for (int sig : {SIGTERM, SIGINT}) {
        Program program;
        std::unique_ptr<QProcess> p(program.Start(program.WithFiles({"--headless"})));
        ASSERT_EQ(p->state(), QProcess::Running);
        QThread::msleep(1000);
        ::kill(static_cast<pid_t>(p->processId()), sig);
        ASSERT_TRUE(p->waitForFinished(10000));
        EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p->exitCode(), 0);
    }
}

TEST(Process, WindowEndsCleanlyOnSigterm) {
    Program program;
    program.env().insert("QT_QPA_PLATFORM", "offscreen");
    program.env().insert("DISPLAY", ":none");  // a display is "available"; offscreen draws anyway
    std::unique_ptr<QProcess> p(program.Start(program.WithFiles({})));
    QThread::msleep(1000);
    ASSERT_EQ(p->state(), QProcess::Running);
    ::kill(static_cast<pid_t>(p->processId()), SIGTERM);
    ASSERT_TRUE(p->waitForFinished(10000));
    EXPECT_EQ(p->exitCode(), 0);
}

// Without a window the second start says once why it ends, and fails, so
// that a service manager tries again (the window's stays silent).
TEST(Process, SecondHeadlessInstanceLeavesAtOnceAndSaysWhy) {
    Program program;
    std::unique_ptr<QProcess> first(program.Start(program.WithFiles({"--headless"})));
    QThread::msleep(500);
    QElapsedTimer clock;
    clock.start();
    const Program::Result second = program.RunToEnd(program.WithFiles({"--headless"}), 5000);
    EXPECT_TRUE(second.finished);
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_TRUE(second.out.isEmpty());
    EXPECT_EQ(second.err.count('\n'), 1) << second.err.toStdString();
    EXPECT_TRUE(second.err.contains("already runs for this user")) << second.err.toStdString();
    EXPECT_EQ(first->state(), QProcess::Running);
    first->terminate();
    first->waitForFinished(10000);

    // Once the first has gone, the next start runs.
    std::unique_ptr<QProcess> third(program.Start(program.WithFiles({"--headless"})));
    QThread::msleep(500);
    EXPECT_EQ(third->state(), QProcess::Running);
    third->terminate();
    EXPECT_TRUE(third->waitForFinished(10000));
}

TEST(Process, LockLeftByACrashedInstanceDoesNotLockTheNextOneOut) {
    Program program;
    std::unique_ptr<QProcess> crashed(program.Start(program.WithFiles({"--headless"})));
    QThread::msleep(500);
    ::kill(static_cast<pid_t>(crashed->processId()), SIGKILL);
    crashed->waitForFinished(5000);
    ASSERT_TRUE(QFile::exists(program.runtimeDir() + "/KESTREL_GUI.lock"));

    std::unique_ptr<QProcess> next(program.Start(program.WithFiles({"--headless"})));
    QThread::msleep(700);
    EXPECT_EQ(next->state(), QProcess::Running);
    next->terminate();
    EXPECT_TRUE(next->waitForFinished(10000));
}

}  // namespace
}  // namespace kestrel
