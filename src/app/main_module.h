#pragma once
// The main window's module: owns the state the subsystems share and runs the
// start-up and close sequences. Created by the composition root; the window
// (or the headless service) hands it the user-interface ports.
#include <memory>
#include <string>

#include "app/command_line.h"
#include "app/shell.h"
#include "device/drive_table.h"
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
    MessageBoxes& messages() { return ports_.messages; }
    StatusBar& statusBar() { return ports_.statusBar; }

    // Status bar double click: the system information block, when built.
    void StatusBar1DblClick();

private:
    Options options_;
    ProductVariant variant_;
    UiPorts ports_;
    DriveTable drives_;
    Shell shell_;
    bool closed_ = false;
};

}  // namespace kestrel
