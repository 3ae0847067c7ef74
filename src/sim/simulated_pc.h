#pragma once
// The simulated PC behind --simulate: physical drives 0-9 (plain disks and
// enclosure controllers; one enclosure may answer on two drive numbers),
// logical volumes with letters, drive types and extents, and the timeline of
// its scenario. It decodes the same request blocks the transport builds and
// answers them as the hardware would; a malformed request fails, never
// crashes.
//
// Thread-safe: one lock serialises every call, so detection on its worker
// thread and the user-interface thread may both use it. The hooks run
// without that lock held, on the thread that caused them.
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "wire/drive_table.h"
#include "platform/device_io.h"
#include "platform/pass_through.h"
#include "sim/controller.h"
#include "sim/scenario.h"

namespace kestrel::sim {

struct RequestRecord {
    RequestKind kind = RequestKind::Other;
    int drive = -1;  // physical drive number; for a volume, the disk of its extent (or -1)
    std::chrono::steady_clock::time_point time;
    bool ok = false;
};

class SimulatedPc final : public DeviceIo {
public:
    explicit SimulatedPc(const Scenario& scenario);

    DeviceHandle Open(const std::string& path) override;
    bool Control(DeviceHandle handle, uint32_t code, std::span<uint8_t> buffer, size_t inLength,
                 size_t& returned) override;
    void Close(DeviceHandle handle) override;
    uint32_t LogicalDrives() override;
    unsigned DriveType(const std::string& rootPath) override;

    // Stretches the flash timing of the scenario (if it has it on) by this
    // factor, as --time-scale does for the timers.
    void SetTimeScale(double scale);
    const FlashTiming& Timing() const { return timing_; }

    // Runs after every simulated device change: an enclosure plugged or
    // unplugged, or a USB device event that adds no drive.
    void SetDeviceChangeHook(std::function<void()> hook);
    // Runs when the timeline says "quit".
    void SetQuitHook(std::function<void()> hook);
    // The host's fixed management answers (never changes).
    const HostInfo& Host() const { return host_; }

    // Fires the timed steps that are due at this scenario time (the
    // scenario's own milliseconds, before any time scale).
    void AdvanceTo(std::chrono::milliseconds scenarioTime);
    // Runs one step now, whatever its trigger says.
    void RunStep(const Step& step);
    // True when no timed step is left to fire.
    bool TimelineDone() const;

    std::vector<RequestRecord> Requests() const;
    void ClearRequests();

    // Views for tests and tools; nullopt for an unknown enclosure name.
    std::optional<Block512> StatusOf(const std::string& enclosure) const;
    std::optional<ControllerModes> ModesOf(const std::string& enclosure) const;
    std::optional<std::vector<uint8_t>> FlashOf(const std::string& enclosure) const;
    unsigned StatusReadsOf(const std::string& enclosure) const;
    // The configuration, initialise and rebuild command sectors the
    // enclosure received, in order, as written (refused ones too).
    std::vector<Block512> CommandsOf(const std::string& enclosure) const;
    bool OverwriteFlash(const std::string& enclosure, uint32_t offset, std::span<const uint8_t> data);

private:
    struct Drive {
        int enclosure = -1;  // index of the controller; -1 for a plain disk
        PathSet paths;
        Block512 identify{};  // plain disks
    };
    struct OpenHandle {
        int drive = -1;
        char letter = 0;
    };
    struct Hooks {
        int changes = 0;  // one call per device change
        bool quit = false;
    };
    struct Outcome {
        RequestKind kind = RequestKind::Other;
        bool ok = false;
    };

    bool DriveVisible(int number) const;
    const VolumeConfig* VisibleVolume(char letter) const;
    Controller* ControllerOf(const std::string& name);
    const Controller* ControllerOf(const std::string& name) const;
    Outcome Scsi(const OpenHandle& h, std::span<uint8_t> buffer, size_t inLength, bool& malformed, Hooks& hooks);
    Outcome Bridge(const Drive& d, Controller& c, const passthrough::ScsiRequest& r, uint32_t& transferred);
    Outcome Ide(const OpenHandle& h, std::span<uint8_t> buffer, size_t inLength, size_t& returned);
    void StatusServed(int enclosure, Hooks& hooks);
    void Fire(const Step& step, Hooks& hooks);
    void Record(RequestKind kind, int drive, bool ok);
    void RunHooks(const Hooks& hooks);

    // How long a request that succeeded keeps the caller, in milliseconds.
    double HoldMs(RequestKind kind) const;

    mutable std::mutex mutex_;
    HostInfo host_;
    FlashTiming timing_;
    double timeScale_ = 1.0;
    std::vector<Controller> controllers_;
    std::array<std::optional<Drive>, DriveTable::kPhysicalDrives> drives_;
    std::vector<VolumeConfig> volumes_;
    std::map<DeviceHandle, OpenHandle> handles_;
    DeviceHandle nextHandle_ = 1;
    std::deque<RequestRecord> log_;
    std::vector<Step> timeline_;
    std::vector<bool> fired_;
    std::function<void()> changeHook_;
    std::function<void()> quitHook_;
};

}  // namespace kestrel::sim
