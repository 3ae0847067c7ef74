#include "gui/window_program.h"

#include <QApplication>

#include "gui/tform1.h"
#include "gui/window_raise.h"

namespace kestrel {

namespace {

class MainWindow : public ProgramWindow {
public:
    MainWindow(const Options& options, ProductVariant variant, DeviceIoChoice devices)
        : form_(std::make_unique<TForm1>(options, variant, std::move(devices))) {}
    ~MainWindow() override {
        raiser_.reset();
        form_.reset();
    }

    MainModule& module() override { return form_->module(); }
    bool Started() const override { return form_->Started(); }
    void Show() override { form_->show(); }
    void Close() override { form_->close(); }
    void ListenForRaise(const std::string& runFolder) override {
        raiser_ = std::make_unique<WindowRaiseServer>(WindowSocketPath(runFolder), [this] { ShowAndRaise(*form_); });
    }

private:
    std::unique_ptr<TForm1> form_;
    std::unique_ptr<WindowRaiseServer> raiser_;
};

std::unique_ptr<QCoreApplication> MakeApplication(int& argc, char** argv) {
    auto app = std::make_unique<QApplication>(argc, argv);
    app->setApplicationDisplayName(QString());
    return app;
}

std::unique_ptr<ProgramWindow> MakeWindow(const Options& options, ProductVariant variant, DeviceIoChoice devices) {
    return std::make_unique<MainWindow>(options, variant, std::move(devices));
}

bool AskToRaise(const std::string& runFolder) { return AskRunningWindowToRaise(WindowSocketPath(runFolder)); }

}  // namespace

const WindowProgram& MainWindowProgram() {
    static const WindowProgram program{MakeApplication, MakeWindow, AskToRaise};
    return program;
}

}  // namespace kestrel
