#include "app/main_module.h"

namespace kestrel {

MainModule::MainModule(const Options& options, ProductVariant variant, UiPorts ports)
    : options_(options), variant_(variant), ports_(ports), shell_(variant, drives_) {}

MainModule::~MainModule() { FormClose(); }

void MainModule::FormCreate() {
    ShellModel& m = shell_.Model();
    // Detection state starts empty: nothing selected but slot 0, nothing locked.
    drives_ = DriveTable{};
    m.detectText = "Drive detecting";
    m.detectTextVisible = true;
    // Page buttons and the upgrade controls wait for the first detection.
    m.pageButtonsEnabled = false;
    m.loadEnabled = false;
    m.upgradeEnabled = false;
    m.logButtonVisible = false;
    m.deviceBoxVisible = {false, false};
    m.firstStatusPending = true;
    shell_.ApplyProductVariant();
    m.slotPicturesVisible = {false, false};
    m.currentPage = kPageStatus;
    shell_.ShowPageButtons();
    m.statusPageDevice = 0;
    m.upgradePageDevice = 0;
    shell_.ShowUpgradePageDevice();
}

void MainModule::FormClose() {
    if (closed_) return;
    closed_ = true;
}

void MainModule::StatusBar1DblClick() {}

}  // namespace kestrel
