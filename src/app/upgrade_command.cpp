#include "app/upgrade_command.h"

#include "app/event_feed.h"

#include <QCoreApplication>

#include "app/direct_detection.h"
#include "eventlog/event_log.h"
#include "maintenance/firmware_upgrade.h"
#include "platform/file_replace.h"
#include "platform/signal_hold.h"
#include "sim/controller.h"
#include "wire/status_sector.h"

namespace kestrel {

namespace {

// Boxes and status texts as terminal lines; the progress line, when on a
// terminal, is rewritten in place and cleared before any other line.
class Terminal final : public MessageBoxes, public StatusBar {
public:
    Terminal(std::FILE* out, bool tty) : out_(out), tty_(tty) {}

    MessageAnswer Show(const std::string& text, const std::string& caption, MessageButtons buttons) override {
        Line((caption.empty() ? std::string() : caption + ": ") + text);
        return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
    }
    bool ShowAsync(const std::string& text, const std::string& caption, MessageButtons buttons,
                   MessageAnswered answered) override {
        const MessageAnswer answer = Show(text, caption, buttons);
        if (answered) answered(answer);
        return true;
    }
    void SetPanel(int index, const std::string& text) override {
        if (index < 0 || index >= kPanelCount) return;
        panels_[static_cast<size_t>(index)] = text;
        // The operation's own texts; the file name and checksum too.
        if ((index == kFilePanel || index == kChecksumPanel) && !text.empty()) Line(text);
    }
    std::string Panel(int index) const override {
        return index >= 0 && index < kPanelCount ? panels_[static_cast<size_t>(index)] : std::string();
    }

    void Progress(const std::string& step, int percent) {
        if (step == lastStep_ && percent == lastPercent_) return;
        if (tty_) {
            std::fprintf(out_, "\r\033[K%s  %3d%%", step.c_str(), percent);
            progressShown_ = true;
        } else if (step != lastStep_ || percent / 10 != lastPercent_ / 10) {
            std::fprintf(out_, "%s  %d%%\n", step.c_str(), percent);
        }
        std::fflush(out_);
        lastStep_ = step;
        lastPercent_ = percent;
    }
    void Line(const std::string& text) {
        if (progressShown_) std::fputs("\r\033[K", out_);
        progressShown_ = false;
        lastStep_.clear();
        std::fprintf(out_, "%s\n", text.c_str());
        std::fflush(out_);
    }

private:
    std::FILE* out_;
    bool tty_;
    std::array<std::string, kPanelCount> panels_;
    bool progressShown_ = false;
    std::string lastStep_;
    int lastPercent_ = -1;
};

// The one-shot command raises no alert; its outcome is its exit status.
class NoAlerts final : public AlertSink {
public:
    void ComposeAlert(int, int, int) override {}
};

}  // namespace

int RunUpgradeCommand(const Options& options, ProductVariant variant, DeviceIoChoice devices, std::FILE* out,
                      bool outIsTerminal) {
    Terminal terminal(out, outIsTerminal);
    DirectDetection found(devices, options.timeScale, terminal, terminal);
    Transport& transport = found.transport;
    StatusReader& reader = found.reader;
    DriveTable& drives = found.drives;

    FirmwareImage image;
    std::unique_ptr<ImageFile> file = OpenRealImageFile();
    if (!LoadFirmwareImage(options.upgradeFirmware, image, {terminal, terminal}, *file)) return 1;

    WindowlessState window;
    SchedulerFlags flags;
    MaintenanceLock lock(flags, drives, window);
    FlashAccess flash(transport, drives, flags, [&] {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        const uint32_t done = flags.ProgressCounter.load();
        terminal.Progress(window.Model().maintenance.stepText,
                          static_cast<int>(std::min<uint32_t>(done, kUpgradeProgressSteps) * 100 / kUpgradeProgressSteps));
    });
    // A signal that came during the flash has waited for its end; the
    // command's own outcome then stands.
    auto held = [](const std::vector<int>& signals) {
        std::fprintf(stderr, "%s came during the upgrade and waited until the flash was complete.\n",
                     SignalNames(signals).c_str());
    };
    // The day log records the upgrade as the monitor's would; no monitor
    // runs meanwhile (the command holds the single-instance lock).
    NoAlerts noAlerts;
    EventLogConfig logConfig;
    logConfig.logDir = options.logDir;
    logConfig.baseTitle = BaseTitleFor(variant);
    EventLog log(drives, noAlerts, terminal, std::move(logConfig));
    FirmwareUpgrade upgrade(flash, lock, reader, drives, flags, window,
                            {terminal, terminal, nullptr, held, nullptr,
                             [&log](const std::string& line) { log.AddLine(line); }});
    const unsigned slot = static_cast<unsigned>(options.slot - 1);
    std::string model;
    if (slot < drives.EnclosureCount) {
        const Block512& identify = drives.IdentifyOfSlot(slot);
        model = status::IdentifyModel(identify);
        while (!model.empty() && (model.back() == ' ' || model.back() == '\0')) model.pop_back();
        terminal.Line("Upgrading the enclosure in slot " + std::to_string(options.slot) + " (" + model +
                      ", physical drive " + std::to_string(drives.DriveOfSlot(slot)) + ")");
    }
    const UpgradeOutcome outcome = upgrade.Upgrade(slot, image);
    // The flash was touched: the event program hears how it ended (bounded).
    if (!options.eventProgram.empty() && (outcome == UpgradeOutcome::Verified || outcome == UpgradeOutcome::Failed))
        (void)RunEventProgram(EventProgramFor(options, variant),
                              UpgradeEvent(static_cast<int>(slot), model, outcome == UpgradeOutcome::Verified));
    return outcome == UpgradeOutcome::Verified ? 0 : 1;
}

int WriteSampleImage(const std::string& path, std::FILE* err) {
    const std::vector<uint8_t> image = sim::MakeDefaultFlashImage();
    const ReplaceResult written =
        ReplaceFile(path, std::string_view(reinterpret_cast<const char*>(image.data()), image.size()));
    if (written) return 0;
    std::fprintf(err, "%s\n", written.error.c_str());
    return 1;
}

}  // namespace kestrel
