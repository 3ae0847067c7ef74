#pragma once
// The main window's module: owns the state the subsystems share, wires them
// together and runs the start-up and close sequences. Created by the
// composition root; the window (or the headless service) hands it the
// user-interface ports.
#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/command_line.h"
#include "app/shell.h"
#include "device/detection.h"
#include "wire/drive_table.h"
#include "monitor/presence_watch.h"
#include "device/transport.h"
#include "eventlog/event_log.h"
#include "history/history_recorder.h"
#include "history/history_writer.h"
#include "history/history_store.h"
#include "history/temperature_warning.h"
#include "maintenance/firmware_image.h"
#include "maintenance/firmware_upgrade.h"
#include "maintenance/flash_access.h"
#include "maintenance/maintenance_lock.h"
#include "maintenance/disk_operations.h"
#include "maintenance/setup_page.h"
#include "monitor/main_timers.h"
#include "monitor/scheduler_flags.h"
#include "monitor/status_page.h"
#include "monitor/status_poll.h"
#include "monitor/status_report.h"
#include "device/status_reader.h"
#include "monitor/worker_threads.h"
#include "monitor/enclosure_health.h"
#include "notify/alert_mail.h"
#include "notify/daily_reminder.h"
#include "notify/desktop_alerts.h"
#include "notify/email_page.h"
#include "notify/mail_delivery.h"
#include "notify/mail_flags.h"
#include "notify/mail_settings_store.h"
#include "platform/com_setup.h"
#include "app/device_io_choice.h"
#include "platform/device_notifier.h"
#include "platform/management_query.h"
#include "platform/registry_key.h"
#include "sim/sim_clock.h"
#include "platform/user_interface.h"
#include "sysinfo/system_info_block.h"

namespace kestrel {

class EventFeed;
class EventProgram;

// What answers the system information questions: the simulated PC's host,
// or this machine's.
std::unique_ptr<ManagementQuery> HostQuery(const DeviceIoChoice& devices);

struct UiPorts {
    MessageBoxes& messages;
    StatusBar& statusBar;
};

class MainModule {
public:
    // devices: the simulated PC or the real devices, already chosen.
    MainModule(const Options& options, ProductVariant variant, UiPorts ports, DeviceIoChoice devices,
               ComSetup::Security security = ComSetup::Security::Succeeds);
    ~MainModule();
    MainModule(const MainModule&) = delete;
    MainModule& operator=(const MainModule&) = delete;

    // The security set-up that precedes the creation handler; false after
    // it has said "CoInitializeSecurity error!": the program then ends.
    bool ComReady();
    // The creation handler's steps, in order; then the first detection runs.
    void FormCreate();
    // Stops the worker threads, then releases what the module holds and
    // stops the periodic work. Run it where no nested event loop is on the
    // stack: the threads' last hand-overs are served while they stop.
    void FormClose();
    // Receives the monitored enclosures' state after every poll, for the status query of another process.
    void SetStatePublisher(std::function<void(const StatusReport&)> publish) { publish_ = std::move(publish); }
    // After every committed detection, and after the window's firmware
    // upgrade (slot 0-based, verified or not): for the event program.
    void SetDetectionListener(std::function<void()> listener) { detectionListener_ = std::move(listener); }
    void SetUpgradeListener(std::function<void(int slot, bool verified)> listener) {
        upgradeListener_ = std::move(listener);
    }
    // How the program closes when a scenario asks it to quit.
    void SetCloseRequest(std::function<void()> close) { closeRequest_ = std::move(close); }

    const Options& options() const { return options_; }
    ProductVariant variant() const { return variant_; }
    DriveTable& drives() { return drives_; }
    Shell& shell() { return shell_; }
    SchedulerFlags& flags() { return flags_; }
    MainTimers& timers() { return timers_; }
    StatusPage& statusPage() { return statusPage_; }
    StatusPoll& statusPoll() { return statusPoll_; }
    PresenceWatch& presenceWatch() { return presenceWatch_; }
    EventLog& eventLog() { return eventLog_; }
    MailSettingsStore& mailSettings() { return mailSettings_; }
    MailDelivery& mailDelivery() { return mailDelivery_; }
    EmailPage& emailPage() { return emailPage_; }
    // The window shows the E-mail page's state after it was filled.
    void SetEmailPageView(std::function<void()> view) { emailPageView_ = std::move(view); }
    // The Setup sub-page's "Send test mail": offers to store what is typed
    // first, then has the mail thread send it with the stored settings.
    void SendTestMailClick();
    const SystemInfoBlock& systemInfo() const { return systemInfo_; }
    sim::SimulatedPc* simulatedPc() { return devices_.simulated; }
    MessageBoxes& messages() { return ports_.messages; }
    StatusBar& statusBar() { return ports_.statusBar; }

    // The window applies status page redraws; headless mode leaves it unset.
    // Where the event log pass takes its time; the system clock by default.
    void SetLogClock(LogClock clock) { logClock_ = std::move(clock); }
    void SetStatusPageView(std::function<void(const StatusPageUpdate&)> view) { statusPageView_ = std::move(view); }
    void DrawStatusPage(bool force);
    void BuildDeviceLabels();
    // Status bar double click: the system information block.
    void StatusBar1DblClick();

    // The Upgrade page. Loading asks for a file only when no maintenance
    // operation runs; OpenDialog1CanClose loads the chosen file.
    bool Image2_LoadClickAllowed() const { return !maintenance_.Busy(); }
    bool OpenDialog1CanClose(const std::string& path, ImageFile* file = nullptr);
    [[nodiscard]] UpgradeOutcome Image2_UpgradeClick();
    const FirmwareImage& firmwareImage() const { return firmwareImage_; }
    MaintenanceLock& maintenance() { return maintenance_; }
    FlashAccess& flash() { return flash_; }
    // The Hybrid program's Setup page and its disk operations.
    SetupPage& setupPage() { return setupPage_; }
    DiskOperations& diskOperations() { return diskOperations_; }
    // A close request: false when the program may close now; true when a
    // maintenance operation holds it and close runs once it ends.
    bool HoldClose(std::function<void()> close) { return maintenance_.HoldClose(std::move(close)); }
    // What the flash operations run between blocks; by default the event
    // loop's pending events. Tests click through it.
    void SetBetweenBlocks(std::function<void()> run) { betweenBlocks_ = std::move(run); }

    // The desktop: notes for alerts and outcomes, the enclosures' summary
    // (updated after each poll and detection, then the view is told), and
    // the choice to keep running in the tray, stored beside the settings.
    DesktopAlerts& desktopAlerts() { return desktopAlerts_; }
    const HealthBoard& health() const { return health_; }
    void SetDesktopView(std::function<void()> view) { desktopView_ = std::move(view); }
    // After a change no poll follows (both device boxes unchecked).
    void RefreshDesktop() { UpdateHealth({}); }
    bool KeepInTray() const { return keepInTray_; }

    // The history of every enclosure: its file (empty without a state
    // folder), the recorder the polls feed, and who the enclosure in a slot
    // is for it.
    const std::string& HistoryPath() const { return historyPath_; }
    HistoryRecorder& history() { return history_; }
    std::optional<EnclosureKey> HistoryKeyOfSlot(int slot) const;
    // The user's warning temperature (0 off), stored beside the settings;
    // false (and the status bar says why) when it was not written.
    unsigned WarningTemperature() const { return history_.WarningTemperature(); }
    bool SetWarningTemperature(unsigned celsius);
    // False (and the status bar says why) when the settings file was not written.
    bool SetKeepInTray(bool on);
    // The daily reminder mail while a problem lasts, stored beside the
    // settings; off by default.
    bool DailyReminderOn() const { return dailyReminderOn_; }
    bool SetDailyReminder(bool on);

    // The event program and the metrics file in use: the command line's,
    // else the settings file's. A change reaches the next event, the next
    // poll. The E-mail page stores the event program (false, and the
    // status bar says why, when it is not stored or not a full path).
    const std::string& EventProgramPath() const { return options_.eventProgram; }
    bool SetEventProgram(const std::string& path);
    const std::string& MetricsFilePath() const { return options_.metricsFile; }
    // Told the new metrics file (empty: none) when it changes.
    void SetMetricsFileListener(std::function<void(const std::string&)> listener) {
        metricsFileListener_ = std::move(listener);
    }
    // SIGHUP: the mail settings, the event program and the metrics file
    // are read again (those the command line named stay).
    void ReloadSettings();
    // The E-mail page's Test: runs path (as typed) once with the test
    // event, on the event program's thread; the status bar tells the end.
    void TestEventClick(const std::string& path);
    EventProgram& eventProgram();

private:
    void UpdateHealth(const SlotRecords& polled);
    void RemindLastingProblems();
    // What the maintenance operations tell the day log: a line of their own.
    std::function<void(const std::string&)> DayLogLine() {
        return [this](const std::string& line) { eventLog_.AddLine(line); };
    }
    // Marks the Status page drawn and hands the redraw to the window.
    void ShowStatusPage(const StatusPageUpdate& update);
    bool StoreSetting(const char* name, uint32_t value);
    bool StoreSetting(const char* name, const std::string& value);
    bool StoreWritten(const std::function<void(RegistryKey&)>& write);
    void Dispatch();  // TRaidThread's job, on the user-interface thread
    void ConnectTimers();
    void RunTimer1(bool on);
    void WatchDeviceChanges();
    void Redetect();  // on DriveDetectThread
    void CommitDetection();
    void ReportPresenceChanges();
    void ShowUpgradeFirmware(int slot);
    void UpgradeEnded(UpgradeOutcome outcome);
    void StopWorkers();
    void PublishState();
    void IdentifyPause(std::chrono::milliseconds pause);
    void RecordHistory(const PollRound& round);
    void StartHistory();

    Options options_;
    ProductVariant variant_;
    UiPorts ports_;
    // The transport's boxes come up during polls and detection, which never
    // wait for a person.
    NonBlockingBoxes monitorBoxes_{ports_.messages};
    DeviceIoChoice devices_;
    ComSetup com_;
    DriveTable drives_;
    Shell shell_;
    SchedulerFlags flags_;
    LogClock logClock_ = SystemLogClock();
    MainTimers timers_;
    Transport transport_;
    StatusReader reader_;
    DriveDetection detection_;
    RegistryKey registryKey_;
    MailFlags mailFlags_;
    MailSettingsStore mailSettings_;
    std::unique_ptr<ManagementQuery> managementQuery_;
    SystemInfoBlock systemInfo_;
    AlertComposer composer_;
    DesktopAlerts desktopAlerts_{composer_, mailSettings_};
    HealthBoard health_;
    std::function<void()> desktopView_;
    bool keepInTray_ = false;
    bool dailyReminderOn_ = false;
    DailyReminder reminder_;
    EventLog eventLog_;
    StatusPage statusPage_;
    StatusPoll statusPoll_;
    PresenceWatch presenceWatch_;
    MailDelivery mailDelivery_;
    EmailPage emailPage_{mailSettings_, ports_.messages};
    std::function<void()> emailPageView_;
    FirmwareImage firmwareImage_;
    MaintenanceLock maintenance_;
    std::function<void()> betweenBlocks_;
    FlashAccess flash_;
    FirmwareUpgrade upgrade_;
    DiskOperations diskOperations_;
    SetupPage setupPage_;
    std::unique_ptr<DeviceNotifier> notifier_;
    std::unique_ptr<sim::SimClock> simClock_;
    std::string historyPath_;
    std::unique_ptr<HistoryWriter> historyWriter_;
    HistoryRecorder history_{[this](HistoryBatch batch) {
        if (historyWriter_) historyWriter_->Submit(std::move(batch));
    }};
    std::function<void(const StatusPageUpdate&)> statusPageView_;
    std::function<void()> closeRequest_;
    std::function<void(const StatusReport&)> publish_;
    std::function<void()> detectionListener_;
    std::function<void(int, bool)> upgradeListener_;
    // The detection thread reads this instead of the window's flag.
    std::atomic<bool> statusPageDrawn_{false};
    std::unique_ptr<DriveDetectThread> driveDetectThread_;
    std::unique_ptr<TRaidThread> raidThread_;
    bool closed_ = false;
    // Set when closing begins: a detection in progress skips its pauses.
    std::atomic<bool> closing_{false};
    std::function<void(const std::string&)> metricsFileListener_;
    // Last: it listens to the parts above and stops first.
    std::unique_ptr<EventFeed> eventFeed_;
};

}  // namespace kestrel
