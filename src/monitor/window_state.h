#pragma once
// The parts of the main window's state that monitoring reads and changes:
// the shown page and slots, the device boxes and the detection text. The
// window (or the headless shell) owns it; monitoring reaches it through
// WindowState, so it never depends on the window code.
#include <array>
#include <string>

#include "platform/product_variant.h"

namespace kestrel {

enum Page : int { kPageStatus = 0, kPageSetup = 1, kPageUpgrade = 2, kPageEmail = 3, kPageAbout = 4 };
inline constexpr int kPageCount = 5;
inline constexpr std::array<const char*, kPageCount> kPageCaptions = {"Status", "schedule_backup", "Upgrade",
                                                                      "E-mail", "About"};

// Bit i of a mask stands for page button i (Status, Setup, Upgrade, E-mail,
// About). Returns, for each button, the layout slot it takes, or -1 when
// hidden: shown buttons take the slots in order, leaving no gap.
inline std::array<int, kPageCount> PageButtonSlots(unsigned mask) {
    std::array<int, kPageCount> slots{};
    int next = 0;
    for (int i = 0; i < kPageCount; ++i) slots[static_cast<size_t>(i)] = (mask & (1u << i)) ? next++ : -1;
    return slots;
}
inline unsigned PageButtonMask(ProductVariant variant) { return variant == ProductVariant::Hybrid ? 31u : 29u; }

// What a maintenance operation shows: the Upgrade page's caption, step
// panel and progress bar, and the device boxes it disables.
struct MaintenanceView {
    bool deviceBoxesEnabled = true;  // CheckBox1, CheckBox3
    std::string firmwareFile;        // Edit9
    std::string updateText;          // Label12
    bool stepPanelVisible = false;   // Panel1
    std::string stepText;            // Panel1's caption, "Process 1 / 3" ...
    bool closeHeld = false;          // a close waits for the operation to end
    int progressMax = 100;           // ProgressBar1, or ProgressBar2 on the Setup page
    int progressPosition = 0;
    int setupProgressMax = 100;
    int setupProgressPosition = 0;
    // Initialize on the Setup page: Panel8, its caption and Label1.
    bool setupStepPanelVisible = false;
    std::string setupStepText;
    std::string setupUpdateText;
};

struct ShellModel {
    ProductVariant variant = ProductVariant::Raid;
    std::string baseTitle;
    std::string caption;         // window caption
    std::string aboutText;       // Label63

    int currentPage = kPageStatus;
    int statusPageDevice = 0;    // D1/D2 on the Status page
    int upgradePageDevice = 0;   // D1/D2 on the Upgrade page
    bool firstStatusPending = true;

    std::array<bool, 2> deviceChecked{};       // CheckBox1, CheckBox3
    std::array<bool, 2> deviceBoxVisible{};
    std::array<bool, 2> slotPicturesVisible{}; // Image0_Dn and Image2_Dn
    std::array<std::string, 2> deviceHint;     // label of each slot
    std::string upgradeFirmware;               // Label54

    bool pageButtonsEnabled = false;
    bool loadEnabled = false;      // Image2_Load
    bool upgradeEnabled = false;   // Image2_Upgrade
    bool logButtonVisible = false; // Image0_Log
    bool autoScanBoxEnabled = true; // CheckBox7

    std::string detectText = "Drive detecting";  // StaticText1
    bool detectTextVisible = true;
    bool slotSwitching = false;
    MaintenanceView maintenance;
};

// The window side: applies the model to the controls.
class ShellView {
public:
    virtual ~ShellView() = default;
    virtual void Sync(const ShellModel& model) = 0;
};

class WindowState {
public:
    virtual ~WindowState() = default;
    virtual ShellModel& Model() = 0;
    virtual const ShellModel& Model() const = 0;
    // Applies the model to the window, if there is one.
    virtual void Sync() = 0;
    // Checks or unchecks a device box and runs its click handler.
    virtual void SetDeviceChecked(int slot, bool checked) = 0;
};

// The state without a window: a one-shot command's maintenance operation
// keeps its texts here; nothing is drawn.
class WindowlessState final : public WindowState {
public:
    ShellModel& Model() override { return model_; }
    const ShellModel& Model() const override { return model_; }
    void Sync() override {}
    void SetDeviceChecked(int slot, bool checked) override {
        if (slot == 0 || slot == 1) model_.deviceChecked[static_cast<size_t>(slot)] = checked;
    }

private:
    ShellModel model_;
};

}  // namespace kestrel
