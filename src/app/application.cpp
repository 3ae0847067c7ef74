#include "app/application.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/signalfd.h>
#include <unistd.h>

#include "app/command_line.h"
#include "app/event_feed.h"
#include "app/status_command.h"
#include "app/history_command.h"
#include "app/main_module.h"
#include "app/test_mail_command.h"
#include "platform/linux/freedesktop_notifications.h"
#include "app/upgrade_command.h"
#include "app/device_io_choice.h"
#include "platform/headless_ui.h"
#include "platform/run_folder.h"
#include "platform/signal_hold.h"
#include "platform/single_instance.h"

namespace kestrel {

namespace {

// SIGINT and SIGTERM end the program as closing the main window does; SIGHUP
// reloads the settings. They are blocked in every thread and read from
// a signalfd by the event loop, so no handler runs in signal context.
sigset_t TerminationSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

std::unique_ptr<QSocketNotifier> WatchTerminationSignals(const std::function<void()>& onSignal,
                                                         const std::function<void()>& onHangup) {
    const sigset_t set = TerminationSignals();
    const int fd = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd < 0) return nullptr;
    auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [fd, onSignal, onHangup] {
        signalfd_siginfo info{};
        bool end = false, hangup = false;
        while (::read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            if (info.ssi_signo == SIGHUP) hangup = true;
            else end = true;
        }
        if (hangup) onHangup();
        if (end) onSignal();
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

// SIGHUP: the settings file is read again; the mail thread loads the mail
// settings before its next step.
std::function<void()> ReloadSettings(MainModule& module) {
    return [&module] {
        std::fprintf(stderr, "%sSIGHUP: reloading the settings\n", IsJournalStream(stderr) ? "<5>" : "");
        std::fflush(stderr);
        module.ReloadSettings();
    };
}

// Publishes the monitor's state for the status query of other processes, and
// takes it away when the monitor ends, so that no query reads a state whose
// monitor has gone.
class StatePublication {
public:
    StatePublication(MainModule& module, std::string path, std::string logDir)
        : path_(std::move(path)), metrics_(module.MetricsFilePath()) {
        // A metrics file named later is written from the next poll on.
        module.SetMetricsFileListener([this](const std::string& file) { metrics_.SetPath(file); });
        const int64_t started = QDateTime::currentMSecsSinceEpoch();
        auto publish = [this, logDir, started](const StatusReport& report) {
            StatusReport r = report;
            r.publishedAtMs = QDateTime::currentMSecsSinceEpoch();
            r.monitorPid = ::getpid();
            r.logDir = logDir;
            r.monitorStartMs = started;
            metrics_.Write(r);
            if (path_.empty()) return;
            // The old state stays when the new one cannot be written; said
            // once until a state is published again.
            const ReplaceResult published = PublishState(path_, r);
            if (published) {
                failing_ = false;
            } else if (!failing_) {
                failing_ = true;
                std::fprintf(stderr, "%sCannot publish the state for --status: %s\n",
                             IsJournalStream(stderr) ? "<4>" : "", published.error.c_str());
                std::fflush(stderr);
            }
        };
        // Until its first poll a query learns that the monitor starts.
        StatusReport starting;
        starting.source = "monitor";
        starting.starting = true;
        publish(starting);
        module.SetStatePublisher(publish);
    }
    ~StatePublication() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }

private:
    std::string path_;
    bool failing_ = false;
    MetricsFile metrics_;
};

// Why a start that found the lock held ends, said once on standard error
// where it matters; its exit code. A monitor without a window (a service)
// that cannot monitor fails, so that its service manager tries again later.
int SecondStart(const Options& options, ProductVariant variant, const SingleInstance& instance,
                const std::string& runFolder, const WindowProgram* window, int argc, char** argv) {
    const std::string title = BaseTitleFor(variant);
    const bool upgrade = !options.upgradeFirmware.empty();
    const long long pid = instance.HolderPid();
    const long long holder = instance.HolderUid();
    const std::string role = instance.HolderRole();
    const bool own = holder >= 0 && holder == static_cast<long long>(::getuid());
    const bool headless = options.headless || !window;
    const int refused = headless || upgrade ? 1 : 0;
    if (upgrade) {
        std::fprintf(stderr, "%s is already running (process %lld); close it before upgrading firmware.\n",
                     title.c_str(), pid);
        return 1;
    }
    if (role == "upgrade") {
        std::fprintf(stderr, "%s: a firmware upgrade runs (process %lld); start again when it has ended.\n",
                     title.c_str(), pid);
        return refused;
    }
    if (!own) {
        // A service (or another user) monitors the enclosures; where its log is.
        std::string error;
        std::string logDir = "its log folder";
        if (std::optional<StatusReport> r =
                ReadPublishedState(PublishedStatePath(runFolder, holder), holder, pid, error))
            if (!r->logDir.empty()) logDir = r->logDir;
        std::fprintf(stderr, "%s already runs as a service (process %lld); its log is in %s. Ask it with --status.\n",
                     title.c_str(), pid, logDir.c_str());
        return refused;
    }
    if (headless) {
        std::fprintf(stderr, "%s already runs for this user (process %lld); this start ends.\n", title.c_str(), pid);
        return 1;
    }
    // This user's own window comes to the front; the start itself stays silent.
    if (window) {
        QCoreApplication app(argc, argv);
        window->askToRaise(runFolder);
    }
    return 0;
}

// A lock that cannot be created or opened, and why.
std::string LockRefusal(ProductVariant variant, const SingleInstance& instance, const std::string& folder) {
    const int error = instance.RefusedErrno();
    std::string text = BaseTitleFor(variant) + ": cannot create the lock " + instance.LockPath() + ": ";
    if (!instance.RefusedReason().empty()) return text + instance.RefusedReason() + ".";
    if (error == EACCES || error == EPERM)
        return text + "only root and members of the group that owns " + folder + " may run it.";
    if (error == EINVAL) return text + "it is not a regular file.";
    return text + std::strerror(error) + ".";
}

int RunHeadless(const Options& options, ProductVariant variant, int argc, char** argv, DeviceIoChoice devices,
                const std::string& statePath) {
    QCoreApplication app(argc, argv);
    StderrMessageBoxes messages;
    MemoryStatusBar statusBar(stderr);
    MainModule module(options, variant, UiPorts{messages, statusBar}, std::move(devices));
    module.desktopAlerts().SetNotifications(DesktopService(variant));
    // A service that could not start fails, so that its manager tries again.
    if (!module.ComReady()) return 1;
    // As with the window, a close during an upgrade waits for its end.
    std::function<void()> close;
    close = [&module, &close] {
        if (module.HoldClose(close)) return;
        QCoreApplication::exit(0);
    };
    module.SetCloseRequest(close);
    StatePublication publication(module, statePath, options.logDir);
    module.FormCreate();
    auto notifier = WatchTerminationSignals(close, ReloadSettings(module));
    app.exec();
    FinishClose(module);
    return 0;
}

int RunWindow(const WindowProgram& window, const Options& options, ProductVariant variant, int argc, char** argv,
              DeviceIoChoice devices, const std::string& statePath, const std::string& runFolder) {
    const std::unique_ptr<QCoreApplication> app = window.makeApplication(argc, argv);
    auto form = window.makeWindow(options, variant, std::move(devices));
    form->module().desktopAlerts().SetNotifications(DesktopService(variant));
    if (!form->Started()) return 0;
    StatePublication publication(form->module(), statePath, options.logDir);
    auto notifier = WatchTerminationSignals([&form] { form->Close(); }, ReloadSettings(form->module()));
    form->ListenForRaise(runFolder);
    form->Show();
    QCoreApplication::exec();
    FinishClose(form->module());
    form.reset();
    return 0;
}

}  // namespace

int Run(ProductVariant variant, int argc, char** argv, const WindowProgram* window) {
    // A closed pipe or a full disk makes a write fail; it never ends the program.
    IgnoreWriteSignals();
    const std::vector<std::string> args(argv, argv + argc);
    const ParseOutcome parsed = ParseCommandLine(args, variant, window && DisplayAvailable());
    if (parsed.kind == ParseOutcome::Kind::Exit) {
        if (!parsed.out.empty()) std::fputs(parsed.out.c_str(), stdout);
        if (!parsed.err.empty()) std::fprintf(stderr, "%s\n", parsed.err.c_str());
        return parsed.exitCode;
    }

    if (!parsed.options.writeSampleImage.empty()) return WriteSampleImage(parsed.options.writeSampleImage, stderr);
    Options options = parsed.options;
    if (options.logDir.empty()) options.logDir = DefaultLogDir(LogDirInputsFromEnvironment());
    if (options.stateDir.empty()) options.stateDir = DefaultStateDir(LogDirInputsFromEnvironment());

    TakeStoredSettings(options);
    // Reads the history file beside the monitor that writes it.
    if (options.history) {
        QCoreApplication app(argc, argv);
        return RunHistoryCommand(options, stdout, stderr);
    }
    // Touches no device: runs beside a running monitor.
    if (options.testEvent) return RunTestEventCommand(options, variant, stdout);
    if (parsed.options.testMail) {
        QCoreApplication::setApplicationName(variant == ProductVariant::Hybrid ? "kestrel-hybrid-gui" : "kestrel-raid-gui");
        QCoreApplication::setOrganizationName("kestrel");
        QCoreApplication app(argc, argv);
        return RunTestMailCommand(parsed.options, variant, stdout);
    }

    const RunFolder folder = ChooseRunFolder(RunFolderInputsFromEnvironment());
    if (folder.path.empty()) {
        std::fprintf(stderr, "%s: %s\n", BaseTitleFor(variant).c_str(), folder.error.c_str());
        return options.status ? 3 : 1;
    }
    const std::string statePath = PublishedStatePath(folder.path, static_cast<long long>(::geteuid()));
    SingleInstance instance("KESTREL_GUI", folder.path, folder.machineWide);

    if (options.status) {
        QCoreApplication app(argc, argv);
        return RunStatusCommand(options, variant, instance, folder.path, stdout, stderr);
    }

    // Before any thread exists, so that every thread inherits the mask.
    const sigset_t signals = TerminationSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    const bool upgrade = !options.upgradeFirmware.empty();
    const std::string role = upgrade ? "upgrade" : "monitor";
    // A status query asking the enclosures holds the lock for a moment: wait
    // for it rather than leave as if a monitor ran.
    if (!instance.Acquire(0, role) && !instance.Refused() && StatusQueryRunning(folder.path))
        instance.Acquire(kStatusQueryWaitMs, role);
    if (!instance.Held()) {
        if (instance.Refused()) {
            std::fprintf(stderr, "%s\n", LockRefusal(variant, instance, folder.path).c_str());
            return 1;
        }
        return SecondStart(options, variant, instance, folder.path, window, argc, argv);
    }

    // A scenario is checked whole before anything starts.
    DeviceIoChoice devices = ChooseDeviceIo(options.simulate, options.scenarioFile, variant);
    if (!devices.io) {
        std::fprintf(stderr, "%s\n", devices.error.c_str());
        return 2;
    }

    QCoreApplication::setApplicationName(variant == ProductVariant::Hybrid ? "kestrel-hybrid-gui" : "kestrel-raid-gui");
    QCoreApplication::setOrganizationName("kestrel");
    if (upgrade) {
        // SIGINT and SIGTERM stay blocked: an upgrade is not to be cut short.
        QCoreApplication app(argc, argv);
        const int code = RunUpgradeCommand(options, variant, std::move(devices), stdout, ::isatty(1) != 0);
        instance.Release();
        return code;
    }
    const int code = options.headless || !window
                         ? RunHeadless(options, variant, argc, argv, std::move(devices), statePath)
                         : RunWindow(*window, options, variant, argc, argv, std::move(devices), statePath,
                                     folder.path);
    instance.Release();
    return code;
}

}  // namespace kestrel
