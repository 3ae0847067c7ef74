#pragma once
// The window programs' main window: the widgets (TForm1) with the module the
// composition root builds for them, as the process entry drives it.
#include <memory>
#include <string>

#include "app/application.h"
#include "app/device_io_choice.h"
#include "app/main_module.h"
#include "gui/tform1.h"

namespace kestrel {

class WindowRaiseServer;

class MainWindow final : public TForm1, public ProgramWindow {
public:
    // security: tests may make the start-up security call fail.
    MainWindow(const Options& options, ProductVariant variant, DeviceIoChoice devices,
               ComSetup::Security security = ComSetup::Security::Succeeds);
    ~MainWindow() override;

    MainModule& module() override { return *module_; }
    bool Started() const override { return TForm1::Started(); }
    void Show() override { show(); }
    void Close() override { close(); }
    void ListenForRaise(const std::string& runFolder) override;

private:
    std::unique_ptr<MainModule> module_;
    std::unique_ptr<WindowModule> links_;
    std::unique_ptr<WindowRaiseServer> raiser_;
};

const WindowProgram& MainWindowProgram();

}  // namespace kestrel
