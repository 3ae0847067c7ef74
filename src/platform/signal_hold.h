#pragma once
// Keeps signals from ending the process while something must not be cut
// short (the flash of an enclosure being erased and programmed). Every
// signal whose default action ends the process, and that still has that
// default, is caught and remembered instead; a fault the kernel raises
// (a crash) still ends the process as before. SIGKILL cannot be held.
#include <string>
#include <vector>

namespace kestrel {

class SignalHold {
public:
    SignalHold();
    ~SignalHold();
    SignalHold(const SignalHold&) = delete;
    SignalHold& operator=(const SignalHold&) = delete;

    // Puts the earlier actions back; returns the signals that arrived
    // meanwhile, each once, in ascending order. Later calls return nothing.
    std::vector<int> Release();

private:
    std::vector<int> installed_;
    bool released_ = false;
};

// Lets each held signal take its default action now.
void RaiseHeldSignals(const std::vector<int>& signals);

// "SIGUSR1, SIGRTMIN+3"
std::string SignalNames(const std::vector<int>& signals);

// A write to a closed pipe, or past the file size limit, fails with an
// error instead of ending the process. For the whole program, at its start.
void IgnoreWriteSignals();

}  // namespace kestrel
