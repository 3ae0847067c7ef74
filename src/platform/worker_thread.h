#pragma once
// A worker thread that sleeps until woken and then runs one step of its loop.
// Stopping it from the user-interface thread keeps serving that thread's
// events, since the worker may be waiting in a blocking hand-over to it.
#include <atomic>
#include <thread>

#include "platform/wake_signal.h"

namespace kestrel {

class WorkerThread {
public:
    WorkerThread() = default;
    virtual ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Ends the loop and joins.
    void Stop();
    bool Running() const { return thread_.joinable(); }

protected:
    // Derived classes start the thread once they are constructed.
    void Start(WakeSignal& wake);
    // One pass of the loop; returns true when it did work (the loop then
    // looks again at once), false to sleep until woken.
    virtual bool Step() = 0;
    bool Stopping() const { return stopping_.load(); }

private:
    void Loop();

    WakeSignal* wake_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> finished_{false};
};

}  // namespace kestrel
