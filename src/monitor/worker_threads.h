#pragma once
// The two monitoring workers. TRaidThread hands one job at a time to the
// user-interface thread and waits for it; DriveDetectThread runs the
// enclosure detection on its own thread. Both sleep on the flags' condition
// instead of waking every 50 or 100 ms, and still react at once.
#include <QObject>
#include <functional>
#include <thread>

#include "monitor/scheduler_flags.h"

namespace kestrel {

class WorkerThread {
public:
    WorkerThread() = default;
    virtual ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Ends the loop and joins. Must be called on the user-interface thread,
    // which keeps serving a pending hand-over meanwhile.
    void Stop();
    bool Running() const { return thread_.joinable(); }

protected:
    void Start(SchedulerFlags& flags);
    // One check of the loop; returns true when it did work.
    virtual bool Step() = 0;
    bool Stopping() const { return stopping_.load(); }

private:
    void Loop();

    SchedulerFlags* flags_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> finished_{false};
};

class TRaidThread final : public WorkerThread {
public:
    // dispatch runs on the user-interface thread (ui's thread), one job.
    TRaidThread(SchedulerFlags& flags, QObject* ui, std::function<void()> dispatch);
    ~TRaidThread() override { Stop(); }

private:
    bool Step() override;
    SchedulerFlags& flags_;
    QObject* ui_;
    std::function<void()> dispatch_;
};

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
