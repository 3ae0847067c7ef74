#pragma once
// The mail request byte. Detection and the settings store raise bits on the
// user-interface thread; the mail step serves and clears them; TEmailThread
// only tests the byte for non-zero.
#include <atomic>
#include <cstdint>

#include "platform/wake_signal.h"

namespace kestrel {

namespace mail_flag {
inline constexpr uint8_t kReloadSettings = 0x01;  // load the settings before anything else
inline constexpr uint8_t kSendPending = 0x02;     // a composed alert waits to be sent
inline constexpr uint8_t kTestMail = 0x04;        // a user asked for a test mail
}  // namespace mail_flag

class MailFlags {
public:
    // Read-modify-write: user-interface thread only.
    // Setting a bit wakes TEmailThread.
    void Set(uint8_t bits) {
        value_.fetch_or(bits);
        wake.Wake();
    }
    void Clear(uint8_t bits) { value_.fetch_and(static_cast<uint8_t>(~bits)); }
    void Reset() { value_.store(0); }

    // Any thread.
    bool Test(uint8_t bits) const { return (value_.load() & bits) != 0; }
    uint8_t Value() const { return value_.load(); }

    WakeSignal wake;

private:
    std::atomic<uint8_t> value_{0};
};

}  // namespace kestrel
