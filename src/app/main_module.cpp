#include "app/main_module.h"

namespace kestrel {

MainModule::MainModule(const Options& options, ProductVariant variant, UiPorts ports)
    : options_(options),
      variant_(variant),
      ports_(ports),
      shell_(variant, drives_),
      timers_(options.timeScale),
      statusPage_(variant, drives_, shell_, ports.messages, StatusPageLinks{}),
      statusPoll_(flags_, drives_, shell_, ports.statusBar,
                  StatusPollLinks{
                      .readStatus = nullptr,
                      .lastProgress = nullptr,
                      .logStatusChanges = nullptr,
                      .drawStatusPage = [this](bool force) { DrawStatusPage(force); },
                  }),
      presenceWatch_(flags_, drives_, shell_, ports.statusBar,
                     PresenceLinks{
                         .countLogicalDrives = nullptr,
                         .countPhysicalDrives = nullptr,
                         .commitDetection = nullptr,
                         .buildDeviceLabels = nullptr,
                         .startMonitoring =
                             [this] {
                                 timers_.Timer2.start();
                                 timers_.Timer3.start();
                             },
                         .stopTimer3 = [this] { timers_.Timer3.stop(); },
                     }) {
    ShellHooks& hooks = shell_.Hooks();
    hooks.drawStatusPage = [this](bool force) { DrawStatusPage(force); };
    hooks.clearPollCounter = [this](int slot) { statusPoll_.ClearPollCounter(slot); };
    ConnectTimers();
}

MainModule::~MainModule() {
    FormClose();
    // The workers end before the state they read goes away.
    raidThread_.reset();
    driveDetectThread_.reset();
}

void MainModule::ConnectTimers() {
    QObject::connect(&timers_.Timer2, &QTimer::timeout, &timers_, [this] { Timer2Tick(flags_); });
    QObject::connect(&timers_.Timer3, &QTimer::timeout, &timers_,
                     [this] { flags_.LastTick = QDateTime::currentDateTime(); });
    QObject::connect(&timers_.Timer4, &QTimer::timeout, &timers_, [this] { presenceWatch_.Timer4Timer(); });
}

void MainModule::FormCreate() {
    ShellModel& m = shell_.Model();
    // Detection state starts empty: nothing selected but slot 0, nothing locked.
    drives_ = DriveTable{};
    flags_.DetectCountdown = 0;
    flags_.MaintenanceBusy = 0;
    m.detectText = "Drive detecting";
    m.detectTextVisible = true;

    // The first detection is requested before the workers start.
    flags_.DetectRequest = 1;
    flags_.DetectPending = 1;
    flags_.DetectDone = 0;
    flags_.Probing = 1;
    flags_.RefreshFlags = 0;
    driveDetectThread_ = std::make_unique<DriveDetectThread>(flags_, [] {});
    raidThread_ = std::make_unique<TRaidThread>(flags_, &timers_, [this] { Dispatch(); });
    timers_.Timer3.start();
    timers_.Timer4.start();

    timers_.Timer1.stop();
    timers_.Timer2.stop();
    // Page buttons and the upgrade controls wait for the first detection.
    m.pageButtonsEnabled = false;
    m.loadEnabled = false;
    m.upgradeEnabled = false;
    m.logButtonVisible = false;
    m.deviceBoxVisible = {false, false};
    m.firstStatusPending = true;
    shell_.ApplyProductVariant();
    flags_.PollBackoff = {0, 0};
    m.slotPicturesVisible = {false, false};
    m.currentPage = kPageStatus;
    shell_.ShowPageButtons();
    m.statusPageDevice = 0;
    m.upgradePageDevice = 0;
    shell_.ShowUpgradePageDevice();
}

void MainModule::Dispatch() {
    const uint8_t pending = flags_.RefreshFlags.load();
    if (pending & refresh::kStatusPoll) {
        statusPoll_.Run();
        flags_.RefreshFlags.fetch_and(static_cast<uint8_t>(~refresh::kStatusPoll));
    } else if (pending & refresh::kConfigWrite) {
        flags_.RefreshFlags.fetch_and(static_cast<uint8_t>(~refresh::kConfigWrite));
    }
}

void MainModule::DrawStatusPage(bool force) {
    const StatusPageUpdate update = statusPage_.DrawStatusPage(force);
    if (statusPageView_) statusPageView_(update);
}

void MainModule::FormClose() {
    if (closed_) return;
    closed_ = true;
    timers_.Timer3.stop();
    flags_.RefreshFlags.fetch_and(static_cast<uint8_t>(~refresh::kMonitoring));
}

void MainModule::StatusBar1DblClick() {}

}  // namespace kestrel
