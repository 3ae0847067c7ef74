#pragma once
// The flag bytes through which the timers, the handlers and the worker
// threads cooperate. Every read-modify-write happens on the user-interface
// thread; the workers only test them. Each change that a worker waits for is
// followed by Wake(), so a worker can sleep on a condition instead of polling.
#include <QDateTime>
#include <array>
#include <atomic>
#include <cstdint>
#include "platform/wake_signal.h"

namespace kestrel {

namespace refresh {
inline constexpr uint8_t kStatusPoll = 0x01;
inline constexpr uint8_t kConfigWrite = 0x02;
inline constexpr uint8_t kMonitoring = 0x10;
inline constexpr uint8_t kWork = kStatusPoll | kConfigWrite;
}  // namespace refresh

class SchedulerFlags {
public:
    std::atomic<uint8_t> RefreshFlags{0};
    std::atomic<uint8_t> DetectCountdown{0};
    std::atomic<uint8_t> DetectRequest{0};
    std::atomic<uint8_t> DetectPending{0};
    std::atomic<uint8_t> DetectDone{0};
    std::atomic<uint8_t> Probing{0};
    std::atomic<uint8_t> MaintenanceBusy{0};
    std::atomic<uint32_t> ProgressCounter{0};

    // User-interface thread only.
    std::array<uint8_t, 2> PollBackoff{};
    uint8_t BadRecordCount = 0;
    QDateTime LastTick;

    // OR bits into RefreshFlags (user-interface thread) and wake the worker.
    void RequestRefresh(uint8_t bits) {
        RefreshFlags.fetch_or(bits);
        Wake();
    }

    // The detection hand-shake, one rule for all its parties. A detection
    // is in flight from its request until Timer4 has taken the finished
    // result; meanwhile no second request is raised, the count check waits
    // and TRaidThread hands nothing over, so the probe tables have one
    // writer at a time and the commit never copies tables being rewritten.
    bool DetectionInFlight() const { return DetectPending.load() != 0 || DetectDone.load() != 0; }
    // User-interface thread: asks the detection thread for a detection.
    // Returns false, changing nothing, while one is in flight.
    bool RaiseDetection() {
        if (DetectionInFlight()) return false;
        Probing.store(1);
        DetectPending.store(1);
        DetectRequest.store(1);
        detectWake.Wake();
        return true;
    }
    // Detection thread: takes the request, if there is one.
    bool TakeDetectionRequest() {
        uint8_t raised = 1;
        return DetectRequest.compare_exchange_strong(raised, 0);
    }
    // Detection thread, after the run. Done is set before Pending clears,
    // so the detection never looks finished and idle at the same time.
    // Nobody sleeps on this: Timer4 runs while a detection is in flight.
    void DetectionFinished() {
        DetectDone.store(1);
        DetectPending.store(0);
    }
    // User-interface thread (Timer4): takes the finished result to commit.
    // TRaidThread may go on from here, so it is woken.
    bool TakeFinishedDetection() {
        uint8_t done = 1;
        if (!DetectDone.compare_exchange_strong(done, 0)) return false;
        Wake();
        return true;
    }

    // Each worker sleeps on its own signal, so that a poll request does not
    // wake the detection thread and a detection request not TRaidThread.
    void Wake() { wake.Wake(); }
    WakeSignal wake;        // TRaidThread
    WakeSignal detectWake;  // DriveDetectThread
};

}  // namespace kestrel
