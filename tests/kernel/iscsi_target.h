#pragma once
// A small iSCSI target on 127.0.0.1 (a port the system chooses) serving
// SimulatedLuns under one target name: enough of the protocol for QEMU's
// iSCSI driver (one connection per session, no digests, no
// authentication, error recovery level 0). Each connection runs on its own
// thread; Stop ends them all.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kernel/simulated_luns.h"

namespace kestrel::kernelloop {

class IscsiTarget {
public:
    static constexpr const char* kName = "iqn.2026-01.kestrel:sim";

    explicit IscsiTarget(SimulatedLuns& luns) : luns_(luns) {}
    ~IscsiTarget();
    IscsiTarget(const IscsiTarget&) = delete;
    IscsiTarget& operator=(const IscsiTarget&) = delete;

    // Listens on 127.0.0.1; false with the reason in error.
    bool Start(std::string& error);
    uint16_t Port() const { return port_; }
    void Stop();
    // Protocol events worth a line (logins, logouts, refusals).
    std::vector<std::string> Events() const;

private:
    void Accept();
    void Serve(int fd);
    void Note(const std::string& line);

    SimulatedLuns& luns_;
    int listenFd_ = -1;
    int wakeFd_[2] = {-1, -1};
    uint16_t port_ = 0;
    std::thread acceptor_;
    mutable std::mutex mutex_;
    std::vector<std::thread> connections_;
    std::vector<int> connectionFds_;
    std::vector<std::string> events_;
    std::atomic<bool> stopping_{false};
};

}  // namespace kestrel::kernelloop
