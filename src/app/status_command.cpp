#include "app/status_command.h"

#include <QDateTime>
#include <QFile>
#include <QSaveFile>

#include "app/device_io_choice.h"
#include "app/direct_detection.h"
#include "platform/headless_ui.h"

namespace kestrel {

namespace {

// Boxes of the transport answer at once and show nothing.
class SilentBoxes final : public MessageBoxes {
public:
    MessageAnswer Show(const std::string&, const std::string&, MessageButtons buttons) override {
        return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
    }
    bool ShowAsync(const std::string& text, const std::string& caption, MessageButtons buttons,
                   MessageAnswered answered) override {
        const MessageAnswer answer = Show(text, caption, buttons);
        if (answered) answered(answer);
        return true;
    }
};

std::string Age(int64_t ms) {
    const int64_t s = ms / 1000;
    if (s < 120) return std::to_string(s) + " s";
    if (s < 7200) return std::to_string(s / 60) + " min";
    return std::to_string(s / 3600) + " h";
}

// The enclosures themselves: a detection, then one status read each.
StatusReport QueryDevices(const Options& options, std::FILE* err, bool& usable) {
    DeviceIoChoice devices = ChooseDeviceIo(options.simulate, options.scenarioFile);
    usable = devices.io != nullptr;
    if (!usable) {
        std::fprintf(err, "%s\n", devices.error.c_str());
        return {};
    }
    // Message boxes and status texts of the transport are not the query's
    // answer; they stay out of its output.
    SilentBoxes boxes;
    MemoryStatusBar bar(nullptr);
    // What detection says about drives it leaves out goes to standard error.
    DirectDetection found(devices, options.timeScale, boxes, bar,
                          [err](const std::string& text) { std::fprintf(err, "%s\n", text.c_str()); });
    DriveTable& drives = found.drives;
    StatusReader& reader = found.reader;
    std::vector<bool> answering;
    for (unsigned slot = 0; slot < drives.EnclosureCount; ++slot) {
        const unsigned drive = drives.DriveOfSlot(slot);
        Block512 record{};
        const bool ok = drive < drives.CurrentStatus.size() && reader.ReadFor(drives.EnclosureFlags[slot], record);
        if (ok) drives.CurrentStatus[drive] = record;
        answering.push_back(ok);
    }
    StatusReport report = ReportFromDrives(drives, answering);
    report.publishedAtMs = QDateTime::currentMSecsSinceEpoch();
    return report;
}

std::optional<StatusReport> ReadPublished(const std::string& path, std::string& error) {
    QFile file(QString::fromLocal8Bit(path.c_str()));
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString().toStdString();
        return std::nullopt;
    }
    return ParseStatusJson(file.read(1 << 20).toStdString(), error);
}

}  // namespace

std::string PublishedStatePath(const std::string& runFolder) { return runFolder + "/status.json"; }

bool PublishState(const std::string& path, const StatusReport& report) {
    QSaveFile file(QString::fromLocal8Bit(path.c_str()));
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup);
    const std::string text = StatusJson(report);
    file.write(text.data(), static_cast<qint64>(text.size()));
    return file.commit();
}

bool StatusQueryRunning(const std::string& runFolder) {
    SingleInstance mark(kStatusQueryMark, runFolder);
    return !mark.Acquire() && !mark.Refused();
}

int RunStatusCommand(const Options& options, SingleInstance& instance, const std::string& runFolder, std::FILE* out,
                     std::FILE* err) {
    const std::string statePath = PublishedStatePath(runFolder);
    StatusReport report;
    const int64_t now = QDateTime::currentMSecsSinceEpoch();
    std::string error;
    // The mark first, then the lock (and the lock let go first): a monitor
    // that finds the lock held sees the mark. Another query that holds the
    // mark has its answer in a moment.
    SingleInstance mark(kStatusQueryMark, runFolder);
    if (!mark.Acquire() && !mark.Refused()) mark.Acquire(kStatusQueryWaitMs);
    if (!instance.Acquire()) {
        // The monitor runs: its state, never requests of our own beside its polls.
        std::optional<StatusReport> published = ReadPublished(statePath, error);
        if (!published) {
            std::fprintf(err, "The monitor runs (process %lld) but its state cannot be read: %s\n",
                         instance.HolderPid(), error.c_str());
            return 3;
        }
        report = *published;
        if (now - report.publishedAtMs > kStateOldSeconds * 1000)
            std::fprintf(err, "The running monitor's state is %s old.\n", Age(now - report.publishedAtMs).c_str());
    } else {
        // No monitor: a state left behind is stale; the lock stays held while
        // the enclosures are asked, so that no monitor starts polling meanwhile.
        if (std::optional<StatusReport> left = ReadPublished(statePath, error))
            std::fprintf(err, "The published state is %s old and its monitor no longer runs; reading the enclosures.\n",
                         Age(now - left->publishedAtMs).c_str());
        bool usable = false;
        report = QueryDevices(options, err, usable);
        instance.Release();
        if (!usable) return 3;
    }

    const int code = StatusExitCode(report);
    if (options.statusFormat == StatusFormat::Json) {
        std::fputs(StatusJson(report).c_str(), out);
    } else if (options.statusFormat == StatusFormat::Prometheus) {
        std::fputs(StatusPrometheus(report).c_str(), out);
    } else if (report.enclosures.empty()) {
        std::fputs("No enclosure found: none is attached, or this user may not reach the disks "
                   "(run as root or as a member of group disk).\n", out);
    } else {
        std::fputs(StatusText(report).c_str(), out);
    }
    return code;
}

}  // namespace kestrel
