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

    void Wake() { wake.Wake(); }
    WakeSignal wake;

};

}  // namespace kestrel
