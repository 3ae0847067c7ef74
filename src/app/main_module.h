#pragma once
// The main window's module: owns the state the subsystems share and runs the
// start-up and close sequences. Created by the composition root; the window
// (or the headless service) hands it the user-interface ports.
#include <QObject>
#include <functional>
#include <memory>
#include <string>

#include "app/command_line.h"
#include "app/shell.h"
#include "device/drive_table.h"
#include "device/presence_watch.h"
#include "monitor/main_timers.h"
#include "monitor/scheduler_flags.h"
#include "monitor/status_page.h"
#include "monitor/status_poll.h"
#include "monitor/worker_threads.h"
#include "platform/user_interface.h"

namespace kestrel {

struct UiPorts {
    MessageBoxes& messages;
    StatusBar& statusBar;
};

class MainModule {
public:
    MainModule(const Options& options, ProductVariant variant, UiPorts ports);
    ~MainModule();
    MainModule(const MainModule&) = delete;
    MainModule& operator=(const MainModule&) = delete;

    // The creation handler's steps, in order; then the first detection runs.
    void FormCreate();
    // Releases what the module holds and stops the periodic work.
    void FormClose();

    const Options& options() const { return options_; }
    ProductVariant variant() const { return variant_; }
    DriveTable& drives() { return drives_; }
    Shell& shell() { return shell_; }
    SchedulerFlags& flags() { return flags_; }
    MainTimers& timers() { return timers_; }
    StatusPage& statusPage() { return statusPage_; }
    StatusPoll& statusPoll() { return statusPoll_; }
    PresenceWatch& presenceWatch() { return presenceWatch_; }
    MessageBoxes& messages() { return ports_.messages; }
    StatusBar& statusBar() { return ports_.statusBar; }

    // The window applies status page redraws; headless mode leaves it unset.
    void SetStatusPageView(std::function<void(const StatusPageUpdate&)> view) { statusPageView_ = std::move(view); }
    void DrawStatusPage(bool force);

    // Status bar double click: the system information block, when built.
    void StatusBar1DblClick();

private:
    // TRaidThread's job, on the user-interface thread.
    void Dispatch();
    void ConnectTimers();

    Options options_;
    ProductVariant variant_;
    UiPorts ports_;
    DriveTable drives_;
    Shell shell_;
    SchedulerFlags flags_;
    MainTimers timers_;
    StatusPage statusPage_;
    StatusPoll statusPoll_;
    PresenceWatch presenceWatch_;
    std::function<void(const StatusPageUpdate&)> statusPageView_;
    std::unique_ptr<DriveDetectThread> driveDetectThread_;
    std::unique_ptr<TRaidThread> raidThread_;
    bool closed_ = false;
};

}  // namespace kestrel
