#include "monitor/worker_threads.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include "support/serve_until.h"

namespace kestrel {
namespace {

using testing::ServeUntil;

TEST(TRaidThread, RunsOneJobAtATimeOnTheUserInterfaceThreadByPriority) {
    SchedulerFlags flags;
    QObject ui;
    std::vector<std::string> jobs;
    bool onUiThread = true;
    bool pollAgain = true;
    const RefreshJobs work{
        .statusPoll =
            [&] {
                onUiThread = onUiThread && QThread::currentThread() == ui.thread();
                jobs.push_back("poll");
                // A poll asked for during the poll is absorbed by it, once.
                if (pollAgain) flags.RequestRefresh(refresh::kStatusPoll);
                pollAgain = false;
            },
        .configWrite = [&] { jobs.push_back("write"); },
    };
    TRaidThread worker(flags, &ui, [&] { DispatchRefresh(flags, work); });
    flags.RequestRefresh(refresh::kConfigWrite | refresh::kStatusPoll | refresh::kMonitoring);
    ASSERT_TRUE(ServeUntil([&] { return jobs.size() == 2; }));
    EXPECT_EQ(jobs, (std::vector<std::string>{"poll", "write"}));
    EXPECT_TRUE(onUiThread);
    EXPECT_EQ(flags.RefreshFlags.load(), refresh::kMonitoring);
}

TEST(DispatchRefresh, OneJobPerCallByPriorityAndAMissingJobStillClearsItsBit) {
    SchedulerFlags flags;
    std::vector<std::string> jobs;
    const RefreshJobs work{.statusPoll = [&] { jobs.push_back("poll"); }, .configWrite = nullptr};
    flags.RefreshFlags = refresh::kMonitoring | refresh::kConfigWrite | refresh::kStatusPoll;
    DispatchRefresh(flags, work);
    EXPECT_EQ(jobs, std::vector<std::string>{"poll"});
    EXPECT_EQ(flags.RefreshFlags.load(), refresh::kMonitoring | refresh::kConfigWrite);
    DispatchRefresh(flags, work);
    EXPECT_EQ(flags.RefreshFlags.load(), refresh::kMonitoring) << "a write with nothing to write is done";
    DispatchRefresh(flags, work);
    EXPECT_EQ(jobs.size(), 1u) << "monitoring alone is no job";
}

TEST(TRaidThread, HandsNothingOverWhileADetectionIsPending) {
    SchedulerFlags flags;
    QObject ui;
    int jobs = 0;
    TRaidThread worker(flags, &ui, [&] {
        ++jobs;
        flags.RefreshFlags = 0;
    });
    flags.DetectPending = 1;
    flags.RequestRefresh(refresh::kStatusPoll);
    ServeUntil([] { return false; }, 500);  // half a second of chances
    EXPECT_EQ(jobs, 0);
    flags.DetectPending = 0;
    flags.Wake();
    EXPECT_TRUE(ServeUntil([&] { return jobs == 1; }));
}

TEST(TRaidThread, TakesUpWorkThatWaitedOnceTheDetectionIsCommitted) {
    SchedulerFlags flags;
    QObject ui;
    int jobs = 0;
    TRaidThread worker(flags, &ui, [&] {
        ++jobs;
        flags.RefreshFlags = 0;
    });
    ASSERT_TRUE(flags.RaiseDetection());
    flags.RequestRefresh(refresh::kConfigWrite);  // a click during the detection
    ASSERT_TRUE(flags.TakeDetectionRequest());
    flags.DetectionFinished();
    QCoreApplication::processEvents();
    EXPECT_EQ(jobs, 0) << "finished is not committed yet";
    // No new request follows the commit: taking the result alone must wake
    // the worker, which otherwise sleeps until its safety time-out.
    ASSERT_TRUE(flags.TakeFinishedDetection());
    EXPECT_TRUE(ServeUntil([&] { return jobs == 1; }));
}

TEST(DriveDetectThread, RunsTheDetectionOffTheUserInterfaceThreadAndSignalsDone) {
    SchedulerFlags flags;
    std::atomic<int> runs{0};
    std::atomic<bool> offUiThread{false};
    QThread* ui = QThread::currentThread();
    DriveDetectThread worker(flags, [&] {
        offUiThread = QThread::currentThread() != ui;
        ++runs;
    });
    ASSERT_TRUE(flags.RaiseDetection());
    ASSERT_TRUE(ServeUntil([&] { return flags.DetectDone.load() == 1; }));
    EXPECT_EQ(runs.load(), 1);
    EXPECT_TRUE(offUiThread.load());
    EXPECT_EQ(flags.DetectPending.load(), 0);
    EXPECT_EQ(flags.DetectRequest.load(), 0);
}

TEST(WorkerThread, StopsWhileAHandOverWaitsForTheUserInterface) {
    SchedulerFlags flags;
    QObject ui;
    std::atomic<int> calls{0};
    auto worker = std::make_unique<TRaidThread>(flags, &ui, [&] { ++calls; });
    flags.RequestRefresh(refresh::kStatusPoll);  // never cleared: the worker keeps asking
    // Once it has been served, its next hand-over waits for this thread,
    // which serves nothing more until it stops the worker.
    ASSERT_TRUE(ServeUntil([&] { return calls.load() >= 1; }));
    worker.reset();  // returns at all: no dead-lock
    EXPECT_GE(calls.load(), 1);
}

}  // namespace
}  // namespace kestrel
