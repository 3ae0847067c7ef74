#pragma once
// The two monitoring workers. TRaidThread hands one job at a time to the
// user-interface thread and waits for it; DriveDetectThread runs the
// enclosure detection on its own thread. Each sleeps on its own signal
// instead of waking every 50 or 100 ms, and still reacts at once.
#include <QObject>
#include <atomic>
#include <functional>
#include <memory>

#include "monitor/scheduler_flags.h"
#include "platform/worker_thread.h"

namespace kestrel {

class TRaidThread final : public WorkerThread {
public:
    // dispatch runs on the user-interface thread (ui's thread), one job.
    TRaidThread(SchedulerFlags& flags, QObject* ui, std::function<void()> dispatch);
    ~TRaidThread() override { Stop(); }

private:
    bool Step() override;
    SchedulerFlags& flags_;
    // Receives the hand-overs on the user-interface thread; one still queued
    // when the thread is destroyed goes with it.
    std::unique_ptr<QObject> receiver_;
    std::function<void()> dispatch_;
    // A job was handed over and has not returned yet. The thread waits for
    // its end in the same sleep as for new work, and the end wakes it only
    // when there is more to do: an idle poll costs the thread one wake-up.
    std::atomic<bool> jobRunning_{false};
};

// TRaidThread's job on the user-interface thread: exactly one job, by
// priority, the status poll before the configuration write. A bit is cleared
// only after its job returns, so a request for the same job raised during it
// is absorbed by it.
struct RefreshJobs {
    std::function<void()> statusPoll;
    std::function<void()> configWrite;  // empty until the settings page exists
};
void DispatchRefresh(SchedulerFlags& flags, const RefreshJobs& jobs);

class DriveDetectThread final : public WorkerThread {
public:
    // redetect runs on this thread.
    DriveDetectThread(SchedulerFlags& flags, std::function<void()> redetect);
    ~DriveDetectThread() override { Stop(); }

private:
    bool Step() override;
    SchedulerFlags& flags_;
    std::function<void()> redetect_;
};

}  // namespace kestrel
