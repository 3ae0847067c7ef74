#pragma once
// The main window's behaviour without its widgets: page navigation, the two
// device slots and the window-level state other subsystems change. TForm1
// forwards its handlers here and mirrors the model; headless mode and the
// tests drive the same object without a window.
#include <array>
#include <functional>
#include <string>

#include "monitor/window_state.h"
#include "platform/product_variant.h"
#include "wire/drive_table.h"

namespace kestrel {

// Work of other subsystems that navigation triggers; each is set by the
// composition root once its subsystem exists, and does nothing until then.
struct ShellHooks {
    std::function<void(bool force)> drawStatusPage;
    std::function<void()> buildDeviceLabels;
    std::function<void(int slot)> clearPollCounter;
    std::function<void()> loadScheduleControls;
    std::function<void()> showSetupSubPage;
    std::function<void()> showEmailPage;
    std::function<void(int slot)> showUpgradeFirmware;  // Label54 of the slot
};

class Shell : public WindowState {
public:
    Shell(ProductVariant variant, DriveTable& drives);

    ShellModel& Model() override { return model_; }
    const ShellModel& Model() const override { return model_; }
    ShellHooks& Hooks() { return hooks_; }
    void SetView(ShellView* view) { view_ = view; }
    void Sync() override;

    void ApplyProductVariant();
    void ShowPageButtons();
    void ShowStatusPageDevice();
    void ShowUpgradePageDevice();

    // Page buttons; ignored before the first status page and while an
    // enclosure is locked for maintenance.
    bool PageClicksAllowed() const;
    void Image_StsClick();
    void Image_SetupClick();
    void Image_FWUpgClick();
    void Image_EmailClick();
    void Image_AboutClick();

    // A device check box changed (by the user or by the program): the click
    // handler of the slot runs, as the window framework does for both.
    void SetDeviceChecked(int slot, bool checked) override;
    void CheckBox1Click() { DeviceCheckBoxClick(0); }
    void CheckBox3Click() { DeviceCheckBoxClick(1); }

    void Image0_D1Click() { SelectStatusPageDevice(0); }
    void Image0_D2Click() { SelectStatusPageDevice(1); }
    void Image2_D1Click() { SelectUpgradePageDevice(0); }
    void Image2_D2Click() { SelectUpgradePageDevice(1); }

private:
    void DeviceCheckBoxClick(int slot);
    void SelectStatusPageDevice(int slot);
    void SelectUpgradePageDevice(int slot);
    void SetCurrentPage(int page);
    template <typename... Args, typename F>
    static void Call(const F& hook, Args... args) {
        if (hook) hook(args...);
    }

    ShellModel model_;
    DriveTable& drives_;
    ShellView* view_ = nullptr;
    ShellHooks hooks_;
};

}  // namespace kestrel
