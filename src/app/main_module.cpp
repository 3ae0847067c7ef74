#include "app/main_module.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <cstdio>

#include "app/event_feed.h"
#include "device/device_labels.h"
#include "eventlog/kept_log_lines.h"
#include "eventlog/log_text.h"
#include "platform/headless_ui.h"
#include "notify/test_mail.h"
#include "device/presence_report.h"
#include "wire/device_text.h"
#include "wire/enclosure_status.h"
#include "platform/linux/linux_management_query.h"
#include "sim/fixed_management_query.h"

namespace kestrel {

namespace {

// Beside the specified values in the settings file: keep running in the
// tray when the window is closed (1) or close as always (0, or absent).
constexpr char kKeepInTrayValue[] = "KeepInTray";

TransportOptions ScaledTransport(double timeScale, std::function<void(std::chrono::milliseconds)> pause) {
    TransportOptions t;
    t.identifyPause = std::chrono::milliseconds(ScaledMs(500, timeScale));
    t.pause = std::move(pause);
    return t;
}

}  // namespace

std::unique_ptr<ManagementQuery> HostQuery(const DeviceIoChoice& devices) {
    if (devices.simulated) {
        const sim::HostInfo& h = devices.simulated->Host();
        return std::make_unique<sim::FixedManagementQuery>(
            sim::HostAnswers{h.boardVendor, h.boardName, h.systemName, h.ipAddresses});
    }
    return std::make_unique<linuxio::LinuxManagementQuery>();
}

namespace {

EventLogConfig LogConfig(const Options& options, ProductVariant variant, Shell& shell, SchedulerFlags& flags,
                         const LogClock& clock, std::function<void(unsigned, const std::string&)> enclosureLine) {
    EventLogConfig c;
    c.enclosureLine = std::move(enclosureLine);
    c.logDir = options.logDir;
    c.baseTitle = BaseTitleFor(variant);
    c.firstStatusPending = [&shell] { return shell.Model().firstStatusPending; };
    // The pass stamps its lines with the time it takes at its start, and
    // keeps it as the last tick: taken only when needed, so no timer wakes
    // the idle program to keep it fresh.
    c.clock = [&flags, &clock] {
        flags.LastTick = clock();
        return flags.LastTick;
    };
    if (!options.stateDir.empty()) {
        c.keptLinesFile = KeptLogLinesPath(options.stateDir);
        c.knownEnclosuresFile = options.stateDir + "/enclosures";
    }
    if (options.headless) c.echoLines = EventLinesTo(stdout);
    // Headless, panel 4 itself reaches standard error.
    else c.problems = LineEchoTo(stderr);
    // Alarms and losses on standard error too, unless it is the journal that
    // standard output already reaches.
    if (!options.headless || !IsJournalStream(stdout) || !IsJournalStream(stderr))
        c.notable = [echo = EventLinesTo(stderr)](const std::string& line) { echo({line}); };
    return c;
}

}  // namespace

MainModule::MainModule(const Options& options, ProductVariant variant, UiPorts ports, DeviceIoChoice devices,
                       ComSetup::Security security)
    : options_(options),
      variant_(variant),
      ports_(ports),
      devices_(std::move(devices)),
      com_(security),
      shell_(variant, drives_),
      timers_(options.timeScale),
      transport_(*devices_.io, monitorBoxes_, ports.statusBar, ScaledTransport(options.timeScale, [this](std::chrono::milliseconds d) { IdentifyPause(d); })),
      reader_(transport_),
      detection_(drives_, transport_, *devices_.io, reader_),
      registryKey_(options.registryFile),
      mailSettings_(registryKey_, mailFlags_, ports.statusBar, ports.messages),
      managementQuery_(HostQuery(devices_)),
      composer_(drives_, mailSettings_, mailFlags_, BaseTitleFor(variant),
                [this] { return std::vector<std::string>(systemInfo_.lines.begin(), systemInfo_.lines.end()); }),
      eventLog_(drives_, desktopAlerts_, ports.statusBar, LogConfig(options, variant, shell_, flags_, logClock_,
                                  [this](unsigned enclosure, const std::string& line) {
                                      history_.Line(flags_.LastTick.toMSecsSinceEpoch(),
                                                    static_cast<int>(enclosure), line);
                                  })),
      statusPage_(variant, drives_, shell_, ports.messages,
                  StatusPageLinks{
                      .buzzerMuteClicked = [this] { setupPage_.OptionBoxClick(); },
                      .autoScanClicked = [this] { setupPage_.OptionBoxClick(); },
                      .startRebuild =
                          [this](int slot) {
                              (void)diskOperations_.StartRebuild(slot);  // its steps' panel texts tell the outcome
                          },
                  }),
      statusPoll_(flags_, drives_, shell_, ports.statusBar,
                  StatusPollLinks{
                      .readStatus =
                          [this](unsigned slot, Block512& record) {
                              return reader_.ReadSlot(drives_, slot, record).ok;  // the transport showed why not
                          },
                      .lastProgress = [this](int slot) { return eventLog_.LastProgress(static_cast<unsigned>(slot)); },
                      .listeners = {},
                  }),
      presenceWatch_(flags_, drives_, shell_, ports.statusBar,
                     PresenceLinks{
                         .countLogicalDrives = [this] { return detection_.EnumerateLogicalDrives(); },
                         .countPhysicalDrives = [this] { return detection_.CountPhysicalDrives(); },
                         .commitDetection = [this] { CommitDetection(); },
                         .buildDeviceLabels = [this] { BuildDeviceLabels(); },
                         .drawStatusPage = [this](bool force) { DrawStatusPage(force); },
                         .showUpgradeFirmware = [this](int slot) { ShowUpgradeFirmware(slot); },
                         .startMonitoring = [this] { timers_.Timer2.start(); },
                         .runTimer4 =
                             [this](bool run) {
                                 if (!run) timers_.Timer4.stop();
                                 else if (!timers_.Timer4.isActive()) timers_.Timer4.start();
                             },
                     }),
      mailDelivery_(&timers_, mailFlags_, mailSettings_, composer_, ports.statusBar),
      maintenance_(flags_, drives_, shell_),
      betweenBlocks_([] { QCoreApplication::processEvents(QEventLoop::AllEvents); }),
      flash_(transport_, drives_, flags_, [this] {
          if (betweenBlocks_) betweenBlocks_();
      }),
      upgrade_(flash_, maintenance_, reader_, drives_, flags_, shell_,
               UpgradePorts{.boxes = ports.messages,
                            .bar = ports.statusBar,
                            .timer1 = [this](bool on) { RunTimer1(on); },
                            .ended = [this](UpgradeOutcome outcome) { UpgradeEnded(outcome); },
                            .logLine = DayLogLine()}),
      diskOperations_(transport_, maintenance_, drives_, flags_, shell_,
                      DiskOperationPorts{ports.messages, ports.statusBar, [this](bool on) { RunTimer1(on); },
                                         [this] {
                                             if (betweenBlocks_) betweenBlocks_();
                                         },
                                         DayLogLine()}),
      setupPage_(variant, transport_, maintenance_, drives_, flags_, shell_, diskOperations_) {
    // A close held by a maintenance operation runs after its handler returned.
    maintenance_.SetPoster([this](std::function<void()> close) {
        QMetaObject::invokeMethod(&timers_, std::move(close), Qt::QueuedConnection);
    });
    setupPage_.SetLogLine(DayLogLine());
    if (devices_.simulated) devices_.simulated->SetTimeScale(options.timeScale);
    ShellHooks& hooks = shell_.Hooks();
    hooks.drawStatusPage = [this](bool force) { DrawStatusPage(force); };
    hooks.buildDeviceLabels = [this] { BuildDeviceLabels(); };
    hooks.clearPollCounter = [this](int slot) { statusPoll_.ClearPollCounter(slot); };
    hooks.showUpgradeFirmware = [this](int slot) { ShowUpgradeFirmware(slot); };
    hooks.loadScheduleControls = [this] { setupPage_.LoadScheduleControls(); };
    hooks.showSetupSubPage = [this] { setupPage_.ShowSubPage(); };
    hooks.showEmailPage = [this] {
        emailPage_.Open();
        if (emailPageView_) emailPageView_();
    };
    // Each poll's round, to each listener once, in this order.
    statusPoll_.AddListener([this](const PollRound& round) { eventLog_.LogStatusChanges(round.records); });
    statusPoll_.AddListener([this](const PollRound& round) {
        UpdateHealth(round.records);
        RemindLastingProblems();
    });
    statusPoll_.AddListener([this](const PollRound& round) { RecordHistory(round); });
    statusPoll_.AddListener([this](const PollRound& round) {
        if (round.statusPageDue) ShowStatusPage(statusPage_.DrawStatusPage(round.forcePage, round.records));
    });
    // The state goes out after every poll job, also one that a detection or
    // maintenance cut short, so that its age tells whether the monitor runs.
    statusPoll_.AddListenerOfEveryRound([this](const PollRound&) { PublishState(); });
    ConnectTimers();
    mailDelivery_.SetOutcomeListener([this](bool testMail, bool delivered, const std::string& text) {
        if (testMail) desktopAlerts_.TestMailEnded(delivered, text);
    });
    mailDelivery_.AddAlertMailListener([this](const MailOutcome& outcome) {
        desktopAlerts_.AlertMailOutcome(outcome);
        if (outcome.kind != MailOutcome::Kind::Queued && desktopView_) desktopView_();  // the mails waiting
    });
    mailDelivery_.SetRetryPauses(ScaledMs(30000, options.timeScale), ScaledMs(15 * 60000, options.timeScale));
    // Headless, panel 3 itself reaches standard error.
    if (!options.headless) mailDelivery_.SetReport(LineEchoTo(stderr));
    // Always there, so that a program named later hears the events from then on.
    eventFeed_ = std::make_unique<EventFeed>(*this, EventProgramFor(options, variant));
}

MainModule::~MainModule() {
    FormClose();
    StopWorkers();
    if (devices_.simulated) {
        devices_.simulated->SetDeviceChangeHook(nullptr);
        devices_.simulated->SetQuitHook(nullptr);
    }
}

bool MainModule::ComReady() { return InitializeComSecurity(com_, ports_.messages); }

void MainModule::ConnectTimers() {
    QObject::connect(&timers_.Timer1, &QTimer::timeout, &timers_, [this] { maintenance_.Timer1Timer(); });
    QObject::connect(&timers_.Timer2, &QTimer::timeout, &timers_, [this] { Timer2Tick(flags_); });
    QObject::connect(&timers_.Timer4, &QTimer::timeout, &timers_, [this] { presenceWatch_.Timer4Timer(); });
}

void MainModule::RunTimer1(bool on) {
    if (on) timers_.Timer1.start();
    else timers_.Timer1.stop();
}

void MainModule::WatchDeviceChanges() {
    // Headless, panel 4 reaches standard error by itself.
    if (!options_.headless)
        detection_.SetNotice([](const std::string& text) {
            std::fprintf(stderr, "%s\n", text.c_str());
            std::fflush(stderr);
        });
    // Any device change restarts the quiet wait of the presence watch; the
    // notification may come from the detection thread, so it is posted.
    auto changed = [this] {
        QMetaObject::invokeMethod(&timers_, [this] { presenceWatch_.DeviceChanged(); }, Qt::QueuedConnection);
    };
    if (devices_.simulated) {
        devices_.simulated->SetDeviceChangeHook(changed);
        devices_.simulated->SetQuitHook([this] {
            QMetaObject::invokeMethod(&timers_, [this] { if (closeRequest_) closeRequest_(); }, Qt::QueuedConnection);
        });
        return;
    }
    if (devices_.real)
        devices_.real->SetProblemReport([this](const std::string& text) {
            ports_.statusBar.SetPanel(kErrorPanel, text);
            std::fprintf(stderr, "%s\n", text.c_str());
        });
    notifier_ = CreateUdevNotifier([this] { presenceWatch_.DeviceChanged(); });
    if (!notifier_->Active())
        ports_.statusBar.SetPanel(4, "No hot-plug: " + notifier_->Error());
}

void MainModule::FormCreate() {
    ShellModel& m = shell_.Model();
    // Lines the last stop could not write reach their files before this
    // run's first line.
    if (const size_t kept = eventLog_.WriteKeptLines())
        std::fprintf(stderr, "%zu log lines kept at the last stop are now written to their log files.\n", kept);
    // Device notifications, then an empty detection state.
    WatchDeviceChanges();
    flags_.DetectCountdown = 0;
    flags_.MaintenanceBusy = 0;
    drives_.SelectedEnclosure = 0;
    drives_.LockedEnclosure = DriveTable::kNoEnclosure;
    drives_.EnclosureCount = 0;
    drives_.ProbeCount = 0;
    drives_.ResponderCount = 0;
    m.detectText = "Drive detecting";
    m.detectTextVisible = true;
    // The baseline for recognising a device change.
    drives_.LogicalDriveCount = detection_.EnumerateLogicalDrives();
    drives_.PhysicalDriveCount = detection_.CountPhysicalDrives();

    // The first detection is requested before the workers start.
    flags_.DetectPending = 0;
    flags_.DetectDone = 0;
    presenceWatch_.RaiseDetection();  // starts Timer4
    flags_.RefreshFlags = 0;
    mailFlags_.Reset();
    driveDetectThread_ = std::make_unique<DriveDetectThread>(flags_, [this] { Redetect(); });
    raidThread_ = std::make_unique<TRaidThread>(flags_, &timers_, [this] { Dispatch(); });
    mailDelivery_.Start();

    timers_.Timer1.stop();
    timers_.Timer2.stop();
    // Page buttons and the upgrade controls wait for the first detection.
    m.pageButtonsEnabled = false;
    m.loadEnabled = false;
    m.upgradeEnabled = false;
    m.logButtonVisible = false;
    m.deviceBoxVisible = {false, false};
    m.firstStatusPending = true;
    statusPageDrawn_ = false;
    shell_.ApplyProductVariant();
    flags_.PollBackoff = {0, 0};
    // The system information is gathered once, before the settings load.
    systemInfo_ = BuildSystemInfoBlock(*managementQuery_);
    mailSettings_.Startup();
    // Alert mails a stop or a crash left undelivered go out first.
    if (const size_t kept = mailDelivery_.LoadQueue(MailQueueFolder(options_.stateDir)))
        std::fprintf(stderr, "%zu alert mails not delivered before the last stop are sent now.\n", kept);
    keepInTray_ = registryKey_.ReadInteger(kKeepInTrayValue).value_or(0) != 0;
    dailyReminderOn_ = registryKey_.ReadInteger(kDailyReminderValue).value_or(0) != 0;
    StartHistory();
    m.slotPicturesVisible = {false, false};
    m.currentPage = kPageStatus;
    shell_.ShowPageButtons();
    m.statusPageDevice = 0;
    m.upgradePageDevice = 0;
    shell_.ShowUpgradePageDevice();
    if (devices_.simulated) {
        simClock_ = std::make_unique<sim::SimClock>(*devices_.simulated, options_.timeScale);
        simClock_->Start();
    }
}

void MainModule::StartHistory() {
    history_.SetWarningTemperature(ReadWarningTemperature(registryKey_));
    // The user's warning goes where the enclosure's own over-heat goes: the
    // same alert (mail, desktop) and a day-log line of its own.
    history_.SetWarningPorts(TemperatureWarningPorts{
        .started =
            [this](int slot, double mean, unsigned limit) {
                eventLog_.AddLine(WarningLine(slot, mean, limit, true));
                desktopAlerts_.ComposeAlert(static_cast<int>(NotificationEvent::OverHeat), slot, 0);
            },
        .ended = [this](int slot, double mean,
                        unsigned limit) { eventLog_.AddLine(WarningLine(slot, mean, limit, false)); },
    });
    historyPath_ = HistoryFilePath(options_.stateDir);
    if (historyPath_.empty() || historyWriter_) return;
    const bool echo = !options_.headless;
    historyWriter_ = std::make_unique<HistoryWriter>(historyPath_, [this, echo](const std::string& text) {
        // From the writer's thread: the panel on this one; headless, the
        // panel itself reaches standard error.
        if (echo) {
            std::fprintf(stderr, "%s\n", text.c_str());
            std::fflush(stderr);
        }
        QMetaObject::invokeMethod(&timers_, [this, text] { ports_.statusBar.SetPanel(kErrorPanel, text); },
                                  Qt::QueuedConnection);
    });
}

void MainModule::RecordHistory(const PollRound& round) {
    // The time of this poll's event log pass, the time its lines carry.
    const int64_t now = flags_.LastTick.isValid() ? flags_.LastTick.toMSecsSinceEpoch() : logClock_().toMSecsSinceEpoch();
    for (unsigned slot = 0; slot < 2; ++slot)
        if (const std::optional<EnclosureStatus>& record = round.records[slot])
            history_.Poll(now, static_cast<int>(slot), KeyOf(drives_.IdentifyOfSlot(slot), *record), *record);
}

std::optional<EnclosureKey> MainModule::HistoryKeyOfSlot(int slot) const {
    const unsigned s = static_cast<unsigned>(slot);
    if (s >= drives_.EnclosureCount || drives_.DriveOfSlot(s) >= static_cast<unsigned>(DriveTable::kPhysicalDrives))
        return std::nullopt;
    return KeyOf(drives_.IdentifyOfSlot(s), SlotStatus(drives_, s));
}

void MainModule::Redetect() { detection_.Redetect(!statusPageDrawn_.load()); }

void MainModule::CommitDetection() {
    detection_.CommitDetection(shell_.Model().firstStatusPending, [this] { ReportPresenceChanges(); });
    UpdateHealth({});
    if (detectionListener_) detectionListener_();
}

void MainModule::UpdateHealth(const SlotRecords& polled) {
    for (const RebuildEnd& end : health_.Update(drives_, shell_.Model().deviceChecked, polled))
        desktopAlerts_.RebuildEnded(end.slot, end.completed);
    if (desktopView_) desktopView_();
}

bool MainModule::SetKeepInTray(bool on) {
    keepInTray_ = on;
    return StoreSetting(kKeepInTrayValue, on ? 1u : 0u);
}

bool MainModule::SetDailyReminder(bool on) {
    dailyReminderOn_ = on;
    return StoreSetting(kDailyReminderValue, on ? 1u : 0u);
}

void MainModule::RemindLastingProblems() {
    // The time of this poll's event log pass.
    const QDateTime now = flags_.LastTick.isValid() ? flags_.LastTick : logClock_();
    for (const HealthRow& row : health_.Rows()) {
        const HealthState state = row.health.state;
        const bool problem = row.known && row.monitored &&
                             (state == HealthState::Degraded || state == HealthState::Failed ||
                              state == HealthState::FanFailure || state == HealthState::OverHeated);
        const std::optional<int64_t> since = reminder_.Check(row.slot, problem, now.toMSecsSinceEpoch());
        if (!since || !dailyReminderOn_) continue;
        const std::string problemText = HealthText(row.health);
        const std::string began = TimestampText(QDateTime::fromMSecsSinceEpoch(*since));
        eventLog_.AddLine(logtext::ReminderLine(static_cast<unsigned>(row.slot), problemText, began));
        desktopAlerts_.RaiseAlert(
            Alert{0, row.slot, 0, row.label + " reminder: " + problemText + " since " + began + ".", {}});
    }
}

bool MainModule::SetWarningTemperature(unsigned celsius) {
    if (celsius > kWarningTemperatureMax) celsius = 0;
    history_.SetWarningTemperature(celsius);
    return StoreSetting(kWarningTemperatureValue, celsius);
}

bool MainModule::StoreSetting(const char* name, uint32_t value) {
    return StoreWritten([name, value](RegistryKey& key) { key.WriteInteger(name, value); });
}

bool MainModule::StoreSetting(const char* name, const std::string& value) {
    return StoreWritten([name, &value](RegistryKey& key) { key.WriteString(name, value); });
}

bool MainModule::StoreWritten(const std::function<void(RegistryKey&)>& write) {
    if (!registryKey_.IsOpen() && !registryKey_.Open(true)) {
        ports_.statusBar.SetPanel(kErrorPanel, "Settings not saved: " + registryKey_.Error());
        return false;
    }
    write(registryKey_);
    if (!registryKey_.Flush()) {
        registryKey_.DiscardPendingWrites();
        ports_.statusBar.SetPanel(kErrorPanel, "Settings not saved: " + registryKey_.Error());
        return false;
    }
    return true;
}

EventProgram& MainModule::eventProgram() { return eventFeed_->program(); }

bool MainModule::SetEventProgram(const std::string& path) {
    if (const std::string problem = EventProgramProblem(path); !problem.empty()) {
        ports_.statusBar.SetPanel(kErrorPanel, "Event program not stored: " + problem);
        return false;
    }
    if (!StoreSetting(kEventProgramValue, path)) return false;
    // What the user stored is what runs, also over the command line's.
    options_.eventProgram = path;
    options_.eventProgramOnCommandLine = false;
    eventFeed_->program().SetProgram(path);
    return true;
}

void MainModule::ReloadSettings() {
    mailSettings_.RequestReload();
    Options stored = options_;
    TakeStoredSettings(stored);
    auto say = [](const char* what, const std::string& now) {
        std::fprintf(stderr, "%s%s now: %s\n", IsJournalStream(stderr) ? "<5>" : "", what,
                     now.empty() ? "none" : now.c_str());
        std::fflush(stderr);
    };
    if (stored.eventProgram != options_.eventProgram) {
        options_.eventProgram = stored.eventProgram;
        eventFeed_->program().SetProgram(stored.eventProgram);
        say("Event program", stored.eventProgram);
    }
    if (stored.metricsFile != options_.metricsFile) {
        options_.metricsFile = stored.metricsFile;
        if (metricsFileListener_) metricsFileListener_(stored.metricsFile);
        say("Metrics file", stored.metricsFile);
    }
}

void MainModule::TestEventClick(const std::string& path) {
    StatusBar& bar = ports_.statusBar;
    if (path.empty()) {
        bar.SetPanel(kErrorPanel, "No event program is set.");
        return;
    }
    if (const std::string problem = EventProgramProblem(path); !problem.empty()) {
        bar.SetPanel(kErrorPanel, "Event program not run: " + problem);
        return;
    }
    bar.SetPanel(kErrorPanel, "Event program: running the test event");
    // The panel takes text from any thread.
    if (!eventFeed_->program().Post(TestEvent(variant_), [&bar](int code) { bar.SetPanel(kErrorPanel, TestEventOutcome(code)); },
                                    path))
        bar.SetPanel(kErrorPanel, "Event program: the test event was not run, too many events wait");
}

UpgradeOutcome MainModule::Image2_UpgradeClick() {
    return upgrade_.Upgrade(static_cast<unsigned>(shell_.Model().upgradePageDevice), firmwareImage_);
}

void MainModule::UpgradeEnded(UpgradeOutcome outcome) {
    // Told before the closing box waits for a person; the slot cannot change
    // while the upgrade runs.
    const int slot = shell_.Model().upgradePageDevice;
    if (outcome == UpgradeOutcome::Verified)
        desktopAlerts_.UpgradeEnded(slot, true, "The new firmware was written and verified.");
    else if (outcome == UpgradeOutcome::Failed)
        desktopAlerts_.UpgradeEnded(slot, false, "The new firmware did not verify; see the status bar.");
    if (upgradeListener_ && (outcome == UpgradeOutcome::Verified || outcome == UpgradeOutcome::Failed))
        upgradeListener_(slot, outcome == UpgradeOutcome::Verified);
}

void MainModule::PublishState() {
    if (!publish_ || closed_) return;
    // The two slots the monitor polls; one that failed its last read, or
    // dropped out of monitoring, counts as not answering; one whose box the
    // user unticked is not monitored.
    const ShellModel& m = shell_.Model();
    StatusReport report;
    for (unsigned slot = 0; slot < std::min(2u, drives_.EnclosureCount); ++slot) {
        const bool monitored = m.deviceChecked[slot] || statusPoll_.DroppedOut(slot);
        report.enclosures.push_back(
            ReportEnclosure(drives_, slot, m.deviceChecked[slot] && flags_.PollBackoff[slot] == 0, monitored));
    }
    report.source = "monitor";
    publish_(report);
}

void MainModule::ReportPresenceChanges() {
    const PresenceChanges changes = ComparePresence(drives_);
    if (changes.lines.empty()) return;
    for (const std::string& line : changes.lines) eventLog_.QueueDeviceLine(line);
    eventLog_.QueueDeviceLine("    Device had changed.");
    for (int slot : changes.removed) {
        health_.EnclosureRemoved(slot);
        history_.Event(logClock_().toMSecsSinceEpoch(), slot, "enclosure", "Enclosure removed");
        desktopAlerts_.ComposeAlert(static_cast<int>(NotificationEvent::DeviceRemoved), slot, 0);
    }
}

void MainModule::BuildDeviceLabels() {
    ShellModel& m = shell_.Model();
    const LabelResult r = kestrel::BuildDeviceLabels(
        drives_, LabelInputs{m.currentPage, m.statusPageDevice, m.upgradePageDevice, m.deviceChecked, m.baseTitle});
    if (!r.applied) return;
    m.deviceHint = r.hints;
    m.caption = r.caption;
    shell_.Sync();
}

void MainModule::ShowUpgradeFirmware(int slot) {
    const unsigned s = static_cast<unsigned>(slot);
    if (s >= drives_.EnclosureCount) return;
    shell_.Model().upgradeFirmware = DeviceText(SlotRevision(drives_, s)) + "." + SlotStatus(drives_, s).firmwareCode;
}

void MainModule::Dispatch() {
    if (closed_) return;
    DispatchRefresh(flags_, RefreshJobs{.statusPoll = [this] { statusPoll_.Run(); },
                                        .configWrite = [this] {
        (void)setupPage_.SendSettingsCommand(static_cast<unsigned>(shell_.Model().statusPageDevice));  // the panels tell it
    }});
}

void MainModule::DrawStatusPage(bool force) { ShowStatusPage(statusPage_.DrawStatusPage(force)); }

void MainModule::ShowStatusPage(const StatusPageUpdate& update) {
    if (!shell_.Model().firstStatusPending) statusPageDrawn_ = true;
    if (statusPageView_) statusPageView_(update);
}

void MainModule::SendTestMailClick() {
    if (emailPage_.Unstored() &&
        ports_.messages.Show("The e-mail settings on this page are not stored. Store them and send the test mail "
                             "with them?\n(No: the test mail uses the settings stored before.)",
                             kAddressErrorCaption, MessageButtons::YesNo) == MessageAnswer::Yes &&
        !emailPage_.Image3_OKClick())
        return;
    const std::vector<std::string> info(systemInfo_.lines.begin(), systemInfo_.lines.end());
    mailDelivery_.RequestTestMail(TestMailText(BaseTitleFor(variant_), info));
}

void MainModule::StatusBar1DblClick() { ShowSystemInfo(ports_.messages, systemInfo_); }

bool MainModule::OpenDialog1CanClose(const std::string& path, ImageFile* file) {
    if (maintenance_.Busy()) return false;
    shell_.Model().maintenance.firmwareFile = path;
    shell_.Sync();
    std::unique_ptr<ImageFile> real;
    if (!file) {
        real = OpenRealImageFile();
        file = real.get();
    }
    // Headless, panel 4 reaches standard error by itself.
    std::function<void(const std::string&)> refused;
    if (!options_.headless) refused = [](const std::string& why) { std::fprintf(stderr, "%s\n", why.c_str()); };
    return LoadFirmwareImage(path, firmwareImage_, {ports_.statusBar, ports_.messages, std::move(refused)}, *file);
}

void MainModule::IdentifyPause(std::chrono::milliseconds pause) {
    // Stopping the workers wakes this wait, so that a close never waits out
    // the pauses of a detection in progress.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + pause;
    uint64_t seen = flags_.wake.Generation();
    while (!closing_.load() && Clock::now() < end) seen = flags_.wake.WaitForChange(seen, end - Clock::now());
}

void MainModule::StopWorkers() {
    closing_ = true;
    // Mail first: an alert not yet sent is not sent once the window closed,
    // and an exchange under way is cut off.
    mailDelivery_.Stop();
    raidThread_.reset();
    driveDetectThread_.reset();
}

void MainModule::FormClose() {
    if (closed_) return;
    closed_ = true;
    // The workers stop before anything they touch is let go; what they
    // still hand to this thread meanwhile is served and does nothing.
    if (simClock_) simClock_.reset();
    StopWorkers();
    // The minute under way is written too; the writer ends once it has
    // written what it holds.
    history_.Flush();
    historyWriter_.reset();
    firmwareImage_.Release();
    mailSettings_.ReleaseLists();
    composer_.ReleaseLists();
    systemInfo_ = {};
    timers_.Timer1.stop();
    flags_.RefreshFlags.fetch_and(static_cast<uint8_t>(~refresh::kMonitoring));
    if (!eventLog_.Flush()) {
        // Nothing may be lost quietly: what could not be written waits for
        // the next start, and the stop says so.
        const EventLog::KeepOutcome kept = eventLog_.KeepUnsaved();
        if (kept.lines > 0 && !kept.keptIn.empty())
            std::fprintf(stderr, "%zu log lines could not be written to %s; they wait in %s and are written at the next start.\n",
                         kept.lines, options_.logDir.c_str(), kept.keptIn.c_str());
        else if (kept.lines > 0)
            std::fprintf(stderr, "%zu log lines could not be written to %s and are lost: %s\n", kept.lines,
                         options_.logDir.c_str(), kept.error.c_str());
        std::fflush(stderr);
    }
    registryKey_.Close();
}

}  // namespace kestrel
