#pragma once
// What the main window drives: the behaviour behind its controls. The
// programs' composition root builds it and hands it to the window, which
// owns none of it and names no composition-root type.
#include <functional>
#include <string>

#include <optional>

#include "eventlog/event_log.h"
#include "history/history_recorder.h"
#include "history/temperature_warning.h"
#include "maintenance/firmware_upgrade.h"
#include "maintenance/setup_page.h"
#include "monitor/enclosure_health.h"
#include "monitor/scheduler_flags.h"
#include "monitor/status_page.h"
#include "monitor/window_state.h"
#include "notify/desktop_alerts.h"
#include "notify/email_page.h"

namespace kestrel {

class WindowModule {
public:
    virtual ~WindowModule() = default;

    // The start-up and close sequences (see TForm1's constructor and close).
    virtual bool ComReady() = 0;
    virtual void FormCreate() = 0;
    virtual void FormClose() = 0;
    virtual bool HoldClose(std::function<void()> close) = 0;
    virtual void SetCloseRequest(std::function<void()> close) = 0;

    // Where the module reports what the window shows; null detaches.
    virtual void SetShellView(ShellView* view) = 0;
    virtual void SetStatusPageView(std::function<void(const StatusPageUpdate&)> view) = 0;
    virtual void SetDesktopView(std::function<void()> view) = 0;
    virtual void SetEmailPageView(std::function<void()> view) = 0;

    // Navigation: the window's model, the page buttons, the D1/D2 pictures
    // of the Status and Upgrade pages, the device boxes.
    virtual const ShellModel& Model() const = 0;
    virtual void PageClick(int page) = 0;
    virtual void StatusPageDeviceClick(int slot) = 0;
    virtual void UpgradePageDeviceClick(int slot) = 0;
    virtual void SetDeviceChecked(int slot, bool checked) = 0;

    // The pages' own behaviour and what the window reads.
    virtual EmailPage& emailPage() = 0;
    virtual SetupPage& setupPage() = 0;
    virtual const StatusPage& statusPage() const = 0;
    virtual EventLog& eventLog() = 0;
    virtual SchedulerFlags& flags() = 0;
    virtual DesktopAlerts& desktopAlerts() = 0;
    virtual const HealthBoard& health() const = 0;
    // Alert mails queued and not yet taken by the mail server.
    virtual size_t MailsWaiting() const = 0;
    virtual double TimeScale() const = 0;

    // Handlers without a page object of their own.
    virtual void SendTestMailClick() = 0;
    virtual void RefreshDesktop() = 0;
    virtual bool KeepInTray() const = 0;
    // False (and the status bar says why) when the setting was not stored.
    virtual bool SetKeepInTray(bool on) = 0;
    virtual void StatusBar1DblClick() = 0;
    virtual bool Image2_LoadClickAllowed() const = 0;
    virtual void OpenDialog1CanClose(const std::string& path) = 0;
    [[nodiscard]] virtual UpgradeOutcome Image2_UpgradeClick() = 0;
    // The image the Upgrade page loaded (empty when none is).
    virtual const FirmwareImage& firmwareImage() const = 0;
    // The history file and the identity under which slot's enclosure is kept.
    virtual const std::string& HistoryPath() const = 0;
    virtual std::optional<EnclosureKey> HistoryKeyOfSlot(int slot) const = 0;
    // The user's warning temperature in °C (0: off); false when it was not stored.
    virtual unsigned WarningTemperature() const = 0;
    virtual bool SetWarningTemperature(unsigned celsius) = 0;
    // The event program's path (empty: none); false when it was not stored.
    // Its test runs what is typed, off the window's thread.
    virtual std::string EventProgramPath() const = 0;
    virtual bool SetEventProgram(const std::string& path) = 0;
    virtual void TestEventClick(const std::string& path) = 0;
    // The daily reminder mail while a problem lasts; false when it was not stored.
    virtual bool DailyReminderOn() const = 0;
    virtual bool SetDailyReminder(bool on) = 0;
};

}  // namespace kestrel
