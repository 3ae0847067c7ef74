#include "app/application.h"

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/signalfd.h>
#include <unistd.h>

#include "app/command_line.h"
#include "app/main_module.h"
#include "app/tform1.h"
#include "app/test_mail_command.h"
#include "platform/linux/freedesktop_notifications.h"
#include "app/upgrade_command.h"
#include "app/device_io_choice.h"
#include "platform/headless_ui.h"
#include "platform/single_instance.h"

namespace kestrel {

namespace {

// SIGINT and SIGTERM end the program as closing the main window does. They
// are blocked in every thread and read from a signalfd by the event loop, so
// no handler runs in signal context.
sigset_t TerminationSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

std::unique_ptr<QSocketNotifier> WatchTerminationSignals(const std::function<void()>& onSignal) {
    const sigset_t set = TerminationSignals();
    const int fd = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd < 0) return nullptr;
    auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [fd, onSignal] {
        signalfd_siginfo info{};
        while (::read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        }
        onSignal();
    });
    QObject::connect(notifier.get(), &QObject::destroyed, [fd] { ::close(fd); });
    return notifier;
}

// Finishes a close once the event loop has returned, with no nested loop
// left on the stack. The application stays marked as quitting, so that a
// box one of the stopping workers' last hand-overs might open returns at
// once instead of waiting for a person.
void FinishClose(MainModule& module) {
    QCoreApplication::exit(0);
    module.FormClose();
}

// The session's notification service, where the session has a bus.
std::unique_ptr<DesktopNotifications> DesktopService(ProductVariant variant) {
    if (!linuxio::SessionBusConfigured()) return nullptr;
    return std::make_unique<linuxio::FreedesktopNotifications>(variant == ProductVariant::Hybrid ? "HyBrid GUI" : "RAID GUI");
}

bool DisplayAvailable() {
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    // The offscreen and minimal platforms draw without a display.
    const bool drawsAnyway = platform && (std::string(platform) == "offscreen" || std::string(platform) == "minimal");
    return (x && *x) || (w && *w) || drawsAnyway;
}

int RunHeadless(const Options& options, ProductVariant variant, int argc, char** argv, DeviceIoChoice devices) {
    QCoreApplication app(argc, argv);
    StderrMessageBoxes messages;
    MemoryStatusBar statusBar(stderr);
    MainModule module(options, variant, UiPorts{messages, statusBar}, std::move(devices));
    module.desktopAlerts().SetNotifications(DesktopService(variant));
    if (!module.ComReady()) return 0;
    // As with the window, a close during an upgrade waits for its end.
    std::function<void()> close;
    close = [&module, &close] {
        if (module.HoldClose(close)) return;
        QCoreApplication::exit(0);
    };
    module.SetCloseRequest(close);
    module.FormCreate();
    auto notifier = WatchTerminationSignals(close);
    app.exec();
    FinishClose(module);
    return 0;
}

int RunWindow(const Options& options, ProductVariant variant, int argc, char** argv, DeviceIoChoice devices) {
    QApplication app(argc, argv);
    app.setApplicationDisplayName(QString());
    auto form = std::make_unique<TForm1>(options, variant, std::move(devices));
    form->module().desktopAlerts().SetNotifications(DesktopService(variant));
    if (!form->Started()) return 0;
    auto notifier = WatchTerminationSignals([&form] { form->close(); });
    form->show();
    app.exec();
    FinishClose(form->module());
    form.reset();
    return 0;
}

}  // namespace

int Run(ProductVariant variant, int argc, char** argv) {
    const std::vector<std::string> args(argv, argv + argc);
    const ParseOutcome parsed = ParseCommandLine(args, variant, DisplayAvailable());
    if (parsed.kind == ParseOutcome::Kind::Exit) {
        if (!parsed.out.empty()) std::fputs(parsed.out.c_str(), stdout);
        if (!parsed.err.empty()) std::fprintf(stderr, "%s\n", parsed.err.c_str());
        return parsed.exitCode;
    }

    if (!parsed.options.writeSampleImage.empty()) return WriteSampleImage(parsed.options.writeSampleImage, stderr);

    // Touches no device: runs beside a running monitor.
    if (parsed.options.testMail) {
        QCoreApplication::setApplicationName(variant == ProductVariant::Hybrid ? "kestrel-hybrid-gui" : "kestrel-raid-gui");
        QCoreApplication::setOrganizationName("kestrel");
        QCoreApplication app(argc, argv);
        return RunTestMailCommand(parsed.options, variant, stdout);
    }

    // Before any thread exists, so that every thread inherits the mask.
    const sigset_t signals = TerminationSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    const bool upgrade = !parsed.options.upgradeFirmware.empty();
    SingleInstance instance("KESTREL_GUI");
    if (!instance.Acquire()) {
        // The running copy polls the same enclosures over the same requests.
        if (upgrade) std::fprintf(stderr, "%s is already running; close it before upgrading firmware.\n", BaseTitleFor(variant).c_str());
        return upgrade ? 1 : 0;  // the monitor itself leaves silently
    }

    // A scenario is checked whole before anything starts.
    DeviceIoChoice devices = ChooseDeviceIo(parsed.options.simulate, parsed.options.scenarioFile);
    if (!devices.io) {
        std::fprintf(stderr, "%s\n", devices.error.c_str());
        return 2;
    }

    QCoreApplication::setApplicationName(variant == ProductVariant::Hybrid ? "kestrel-hybrid-gui" : "kestrel-raid-gui");
    QCoreApplication::setOrganizationName("kestrel");
    if (upgrade) {
        // SIGINT and SIGTERM stay blocked: an upgrade is not to be cut short.
        QCoreApplication app(argc, argv);
        const int code = RunUpgradeCommand(parsed.options, variant, std::move(devices), stdout, ::isatty(1) != 0);
        instance.Release();
        return code;
    }
    const int code = parsed.options.headless ? RunHeadless(parsed.options, variant, argc, argv, std::move(devices))
                                             : RunWindow(parsed.options, variant, argc, argv, std::move(devices));
    instance.Release();
    return code;
}

}  // namespace kestrel
