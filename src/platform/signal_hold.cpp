#include "platform/signal_hold.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>

namespace kestrel {

namespace {

// A signal handler has no context but the process: the signals it caught,
// one bit each (signal n is bit n - 1).
std::atomic<uint64_t> g_heldSignals{0};
static_assert(std::atomic<uint64_t>::is_always_lock_free);

void Remember(int signal, siginfo_t* info, void*) {
    const bool fault = signal == SIGSEGV || signal == SIGBUS || signal == SIGILL || signal == SIGFPE ||
                       signal == SIGTRAP || signal == SIGSYS;
    if (fault && info && info->si_code > 0) {
        // Raised by the kernel for this process's own fault: give the crash
        // its default action when the instruction runs again.
        ::signal(signal, SIG_DFL);
        return;
    }
    g_heldSignals.fetch_or(uint64_t{1} << (signal - 1));
}

// Default action: end the process (with or without a core).
std::vector<int> EndingSignals() {
    std::vector<int> list = {SIGHUP,  SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT, SIGBUS, SIGFPE,
                             SIGUSR1, SIGSEGV, SIGUSR2,   SIGPIPE, SIGALRM, SIGTERM, SIGXCPU, SIGXFSZ,
                             SIGVTALRM, SIGPROF, SIGIO, SIGPWR,  SIGSYS};
#ifdef SIGSTKFLT
    list.push_back(SIGSTKFLT);
#endif
    for (int s = SIGRTMIN; s <= SIGRTMAX && s <= 64; ++s) list.push_back(s);
    return list;
}

}  // namespace

SignalHold::SignalHold() {
    for (const int s : EndingSignals()) {
        struct sigaction old {};
        if (::sigaction(s, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) || old.sa_handler != SIG_DFL) continue;
        struct sigaction hold {};
        hold.sa_sigaction = Remember;
        hold.sa_flags = SA_SIGINFO | SA_RESTART;
        sigfillset(&hold.sa_mask);
        g_heldSignals.fetch_and(~(uint64_t{1} << (s - 1)));
        if (::sigaction(s, &hold, nullptr) == 0) installed_.push_back(s);
    }
}

SignalHold::~SignalHold() { Release(); }

std::vector<int> SignalHold::Release() {
    std::vector<int> held;
    if (released_) return held;
    released_ = true;
    for (const int s : installed_) {
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        sigemptyset(&dfl.sa_mask);
        ::sigaction(s, &dfl, nullptr);
    }
    const uint64_t bits = g_heldSignals.load();
    for (const int s : installed_)
        if (bits & (uint64_t{1} << (s - 1))) held.push_back(s);
    std::sort(held.begin(), held.end());
    return held;
}

void RaiseHeldSignals(const std::vector<int>& signals) {
    for (const int s : signals) ::raise(s);
}

std::string SignalNames(const std::vector<int>& signals) {
    std::string text;
    for (const int s : signals) {
        if (!text.empty()) text += ", ";
        if (s >= SIGRTMIN && s <= SIGRTMAX) {
            text += "SIGRTMIN+" + std::to_string(s - SIGRTMIN);
        } else if (const char* abbrev = ::sigabbrev_np(s)) {
            text += std::string("SIG") + abbrev;
        } else {
            text += "signal " + std::to_string(s);
        }
    }
    return text;
}

void IgnoreWriteSignals() {
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace kestrel
