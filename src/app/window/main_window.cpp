#include "app/window/main_window.h"

#include "gui/window_raise.h"

namespace kestrel {

namespace {

// The window's controls as the main module and its navigation serve them.
class ModuleForWindow final : public WindowModule {
public:
    explicit ModuleForWindow(MainModule& module) : m_(module) {}

    bool ComReady() override { return m_.ComReady(); }
    void FormCreate() override { m_.FormCreate(); }
    void FormClose() override { m_.FormClose(); }
    bool HoldClose(std::function<void()> close) override { return m_.HoldClose(std::move(close)); }
    void SetCloseRequest(std::function<void()> close) override { m_.SetCloseRequest(std::move(close)); }

    void SetShellView(ShellView* view) override { m_.shell().SetView(view); }
    void SetStatusPageView(std::function<void(const StatusPageUpdate&)> view) override {
        m_.SetStatusPageView(std::move(view));
    }
    void SetDesktopView(std::function<void()> view) override { m_.SetDesktopView(std::move(view)); }
    void SetEmailPageView(std::function<void()> view) override { m_.SetEmailPageView(std::move(view)); }

    const ShellModel& Model() const override { return m_.shell().Model(); }
    void PageClick(int page) override {
        Shell& shell = m_.shell();
        switch (page) {
            case kPageStatus: shell.Image_StsClick(); break;
            case kPageSetup: shell.Image_SetupClick(); break;
            case kPageUpgrade: shell.Image_FWUpgClick(); break;
            case kPageEmail: shell.Image_EmailClick(); break;
            case kPageAbout: shell.Image_AboutClick(); break;
            default: break;
        }
    }
    void StatusPageDeviceClick(int slot) override {
        slot == 0 ? m_.shell().Image0_D1Click() : m_.shell().Image0_D2Click();
    }
    void UpgradePageDeviceClick(int slot) override {
        slot == 0 ? m_.shell().Image2_D1Click() : m_.shell().Image2_D2Click();
    }
    void SetDeviceChecked(int slot, bool checked) override { m_.shell().SetDeviceChecked(slot, checked); }

    EmailPage& emailPage() override { return m_.emailPage(); }
    SetupPage& setupPage() override { return m_.setupPage(); }
    const StatusPage& statusPage() const override { return m_.statusPage(); }
    EventLog& eventLog() override { return m_.eventLog(); }
    SchedulerFlags& flags() override { return m_.flags(); }
    DesktopAlerts& desktopAlerts() override { return m_.desktopAlerts(); }
    const HealthBoard& health() const override { return m_.health(); }
    size_t MailsWaiting() const override { return m_.mailDelivery().MailsWaiting(); }
    double TimeScale() const override { return m_.options().timeScale; }

    void SendTestMailClick() override { m_.SendTestMailClick(); }
    void RefreshDesktop() override { m_.RefreshDesktop(); }
    bool KeepInTray() const override { return m_.KeepInTray(); }
    bool SetKeepInTray(bool on) override { return m_.SetKeepInTray(on); }
    const FirmwareImage& firmwareImage() const override { return m_.firmwareImage(); }
    const std::string& HistoryPath() const override { return m_.HistoryPath(); }
    std::optional<EnclosureKey> HistoryKeyOfSlot(int slot) const override { return m_.HistoryKeyOfSlot(slot); }
    unsigned WarningTemperature() const override { return m_.WarningTemperature(); }
    bool SetWarningTemperature(unsigned celsius) override { return m_.SetWarningTemperature(celsius); }
    std::string EventProgramPath() const override { return m_.EventProgramPath(); }
    bool SetEventProgram(const std::string& path) override { return m_.SetEventProgram(path); }
    void TestEventClick(const std::string& path) override { m_.TestEventClick(path); }
    bool DailyReminderOn() const override { return m_.DailyReminderOn(); }
    bool SetDailyReminder(bool on) override { return m_.SetDailyReminder(on); }
    void StatusBar1DblClick() override { m_.StatusBar1DblClick(); }
    bool Image2_LoadClickAllowed() const override { return m_.Image2_LoadClickAllowed(); }
    void OpenDialog1CanClose(const std::string& path) override {
        (void)m_.OpenDialog1CanClose(path);  // a refused file is told in a box
    }
    UpgradeOutcome Image2_UpgradeClick() override { return m_.Image2_UpgradeClick(); }

private:
    MainModule& m_;
};

std::unique_ptr<ProgramWindow> MakeWindow(const Options& options, ProductVariant variant, DeviceIoChoice devices) {
    return std::make_unique<MainWindow>(options, variant, std::move(devices));
}

bool AskToRaise(const std::string& runFolder) { return AskRunningWindowToRaise(WindowSocketPath(runFolder)); }

}  // namespace

MainWindow::MainWindow(const Options& options, ProductVariant variant, DeviceIoChoice devices,
                       ComSetup::Security security)
    : module_(std::make_unique<MainModule>(options, variant, UiPorts{messagePort(), statusBarPort()}, std::move(devices),
                                           security)),
      links_(std::make_unique<ModuleForWindow>(*module_)) {
    Start(*links_);
}

MainWindow::~MainWindow() {
    raiser_.reset();
    // The module outlives no widget it reports to.
    Detach();
    module_.reset();
}

void MainWindow::ListenForRaise(const std::string& runFolder) {
    raiser_ = std::make_unique<WindowRaiseServer>(WindowSocketPath(runFolder), [this] { ShowAndRaise(*this); });
}

const WindowProgram& MainWindowProgram() {
    static const WindowProgram program{MakeWindowApplication, MakeWindow, AskToRaise};
    return program;
}

}  // namespace kestrel
