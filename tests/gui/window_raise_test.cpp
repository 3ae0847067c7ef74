// A second start of the same user's window: the running window comes back
// to the front through a socket only its user may use; the second process
// ends at once, with code 0 and nothing printed.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <memory>
#include <thread>

#include "gui/window_raise.h"
#include "support/program.h"

namespace kestrel {
namespace {

TEST(WindowRaise, AskShowsAndRaisesTheMinimisedWindow) {
    QTemporaryDir dir;
    const std::string path = WindowSocketPath(dir.path().toStdString());
    QWidget window;
    window.showMinimized();
    window.hide();
    QEventLoop loop;
    bool raised = false;
    WindowRaiseServer server(path, [&] {
        ShowAndRaise(window);
        raised = true;
    });
    ASSERT_TRUE(server.Listening());
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u) << "other users could connect";

    // The second instance asks from its own thread of control; a watchdog
    // ends the wait if nothing arrives.
    std::atomic<bool> answered{false}, done{false};
    std::thread second([&] {
        answered = AskRunningWindowToRaise(path, 5000);
        done = true;
    });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done) loop.quit();
    });
    poll.start(10);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    second.join();
    EXPECT_TRUE(raised);
    EXPECT_TRUE(answered);
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.windowState() & Qt::WindowMinimized);
}

// Local input is bounded: a peer that sends endless bytes without the
// request is cut off, and the window still answers the next real request.
TEST(WindowRaise, EndlessBytesAreCutOffAndTheNextAskIsServed) {
    QTemporaryDir dir;
    const std::string path = WindowSocketPath(dir.path().toStdString());
    int raised = 0;
    WindowRaiseServer server(path, [&] { ++raised; });
    ASSERT_TRUE(server.Listening());

    std::atomic<bool> done{false}, cutOff{false};
    std::thread flood([&] {
        QLocalSocket socket;
        socket.connectToServer(QString::fromStdString(path));
        if (socket.waitForConnected(5000)) {
            const QByteArray chunk(1 << 16, 'x');
            // 64 MiB at most; the server must hang up long before.
            for (int i = 0; i < 1024 && socket.state() == QLocalSocket::ConnectedState; ++i) {
                socket.write(chunk);
                socket.waitForBytesWritten(1000);
            }
            cutOff = socket.state() != QLocalSocket::ConnectedState || socket.waitForDisconnected(10000);
        }
        done = true;
    });
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done) loop.quit();
    });
    poll.start(10);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();
    flood.join();
    EXPECT_TRUE(cutOff) << "the window kept reading endless input";
    EXPECT_EQ(raised, 0);

    done = false;
    std::atomic<bool> answered{false};
    std::thread second([&] {
        answered = AskRunningWindowToRaise(path, 5000);
        done = true;
    });
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    second.join();
    EXPECT_TRUE(answered);
    EXPECT_EQ(raised, 1);
}

TEST(WindowRaise, NoWindowNoWait) {
    QTemporaryDir dir;
    EXPECT_FALSE(AskRunningWindowToRaise(WindowSocketPath(dir.path().toStdString()), 5000));
    // A socket left by a crashed window is taken over by the next one.
    const std::string path = WindowSocketPath(dir.path().toStdString());
    QFile(QString::fromStdString(path)).open(QIODevice::WriteOnly);
    WindowRaiseServer server(path, [] {});
    EXPECT_TRUE(server.Listening());
}

TEST(WindowRaise, SecondStartOfTheWindowEndsSilentlyAndTheFirstKeepsRunning) {
    testing::Program program;
    program.env().insert("DISPLAY", ":none");  // a display is "available"; offscreen draws anyway
    std::unique_ptr<QProcess> first(program.Start(program.WithFiles({})));
    const QString socket = QString::fromStdString(WindowSocketPath(program.runtimeDir().toStdString()));
    QDeadlineTimer deadline(20000);
    while (!QFile::exists(socket) && !deadline.hasExpired()) QThread::msleep(20);
    ASSERT_TRUE(QFile::exists(socket));

    const testing::Program::Result second = program.RunToEnd(program.WithFiles({}), 10000);
    EXPECT_TRUE(second.finished);
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_TRUE(second.out.isEmpty()) << second.out.toStdString();
    EXPECT_TRUE(second.err.isEmpty()) << second.err.toStdString();
    EXPECT_EQ(first->state(), QProcess::Running);
    first->terminate();
    ASSERT_TRUE(first->waitForFinished(10000));
    EXPECT_EQ(first->exitCode(), 0);
    EXPECT_FALSE(QFile::exists(socket));
}

}  // namespace
}  // namespace kestrel
