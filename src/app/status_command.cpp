#include "app/status_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDeadlineTimer>
#include <QThread>
#include <cerrno>
#include <cstring>

#include "app/device_io_choice.h"
#include "app/direct_detection.h"
#include "platform/headless_ui.h"
#include "platform/time_scale.h"

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
StatusReport QueryDevices(const Options& options, ProductVariant variant, std::FILE* err, bool& usable) {
    DeviceIoChoice devices = ChooseDeviceIo(options.simulate, options.scenarioFile, variant);
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

}  // namespace

std::string PublishedStatePath(const std::string& runFolder, long long uid) {
    return runFolder + "/status-" + std::to_string(uid) + ".json";
}

std::optional<StatusReport> ReadPublishedState(const std::string& path, long long ownerUid, long long writerPid,
                                               std::string& error) {
    // No link is followed, and a FIFO neither blocks the open nor the read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errno == ELOOP ? path + " is a symbolic link" : path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error = path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        error = path + " is not a regular file";
        return std::nullopt;
    }
    if (ownerUid >= 0 && static_cast<long long>(st.st_uid) != ownerUid) {
        error = path + " belongs to user " + std::to_string(st.st_uid) + ", not to the monitor's user " +
                std::to_string(ownerUid);
        return std::nullopt;
    }
    if (st.st_size > kMaxStateBytes) {
        error = path + " is too large for a state";
        return std::nullopt;
    }
    std::string text(static_cast<size_t>(kMaxStateBytes) + 1, '\0');
    size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = path + ": " + std::strerror(errno);
            return std::nullopt;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    if (got > static_cast<size_t>(kMaxStateBytes)) {
        error = path + " is too large for a state";
        return std::nullopt;
    }
    text.resize(got);
    std::optional<StatusReport> report = ParseStatusJson(text, error);
    if (report && writerPid > 0 && report->monitorPid != writerPid) {
        error = path + " was written by process " + std::to_string(report->monitorPid) + ", not by the monitor (process " +
                std::to_string(writerPid) + ")";
        return std::nullopt;
    }
    if (!report) error = path + ": " + error;
    return report;
}

ReplaceResult PublishState(const std::string& path, const StatusReport& report) {
    ReplaceOptions options;
    options.mode = 0640;
    return ReplaceFile(path, StatusJson(report), options);
}

void MetricsFile::Write(const StatusReport& report) {
    if (path_.empty()) return;
    ReplaceOptions options;
    options.mode = 0644;
    const ReplaceResult written = ReplaceFile(path_, StatusPrometheus(report), options);
    if (written) {
        failing_ = false;
    } else if (!failing_) {
        failing_ = true;
        std::fprintf(err_, "%sCannot write the metrics file: %s\n", IsJournalStream(err_) ? "<4>" : "",
                     written.error.c_str());
        std::fflush(err_);
    }
}

void MetricsFile::SetPath(const std::string& path) {
    if (path == path_) return;
    if (!path_.empty() && ::unlink(path_.c_str()) != 0 && errno != ENOENT) {
        std::fprintf(err_, "%sCannot remove the old metrics file %s: %s\n", IsJournalStream(err_) ? "<4>" : "",
                     path_.c_str(), std::strerror(errno));
        std::fflush(err_);
    }
    path_ = path;
    failing_ = false;
}

bool StatusQueryRunning(const std::string& runFolder) {
    SingleInstance mark(kStatusQueryMark, runFolder);
    return !mark.Acquire(0, "status") && !mark.Refused();
}

int RunStatusCommand(const Options& options, ProductVariant variant, SingleInstance& instance,
                     const std::string& runFolder, std::FILE* out, std::FILE* err) {
    StatusReport report;
    const int64_t now = QDateTime::currentMSecsSinceEpoch();
    std::string error;
    // The mark first, then the lock (and the lock let go first): a monitor
    // that finds the lock held sees the mark. Another query that holds the
    // mark has its answer in a moment.
    SingleInstance mark(kStatusQueryMark, runFolder);
    if (!mark.Acquire(0, "status") && !mark.Refused()) mark.Acquire(kStatusQueryWaitMs, "status");
    if (!instance.Acquire(0, "status")) {
        // Another process holds the lock: only the state its own process
        // published is believed, never requests of our own beside its polls.
        const long long pid = instance.HolderPid();
        if (pid <= 0) {
            std::fprintf(err, "The lock %s cannot be used: %s\n", instance.LockPath().c_str(),
                         std::strerror(instance.RefusedErrno() ? instance.RefusedErrno() : EINVAL));
            return 3;
        }
        if (instance.HolderRole() == "upgrade") {
            std::fprintf(err, "A firmware upgrade runs (process %lld); the enclosures are not asked meanwhile.\n", pid);
            return 3;
        }
        const long long uid = instance.HolderUid();
        const std::string path = PublishedStatePath(runFolder, uid);
        // A monitor that has just started publishes that it starts, then
        // its first poll's state: that is waited for, a bounded time.
        const QDeadlineTimer deadline(ScaledMs(kStartingWaitMs, options.timeScale));
        std::optional<StatusReport> published;
        bool missing = false;
        for (;;) {
            struct stat st {};
            missing = ::lstat(path.c_str(), &st) != 0 && errno == ENOENT;
            published = missing ? std::nullopt : ReadPublishedState(path, uid, pid, error);
            if ((!missing && !published) || (published && !published->starting) || deadline.hasExpired()) break;
            QThread::msleep(50);
        }
        if (missing) {
            // Between taking the lock and its first word: starting too.
            published = StatusReport{};
            published->source = "monitor";
            published->starting = true;
            published->monitorPid = pid;
            published->publishedAtMs = now;
        }
        if (!published) {
            std::fprintf(err, "The monitor runs (process %lld) but its state is refused: %s\n", pid, error.c_str());
            return 3;
        }
        report = *published;
        if (!report.starting && now - report.publishedAtMs > kStateOldSeconds * 1000)
            std::fprintf(err, "The running monitor's state is %s old.\n", Age(now - report.publishedAtMs).c_str());
    } else {
        // No monitor: a state this user's monitor left is stale; the lock
        // stays held while the enclosures are asked, so that no monitor
        // starts polling meanwhile.
        const long long self = static_cast<long long>(::geteuid());
        if (std::optional<StatusReport> left = ReadPublishedState(PublishedStatePath(runFolder, self), self, -1, error))
            std::fprintf(err, "The published state is %s old and its monitor no longer runs; reading the enclosures.\n",
                         Age(now - left->publishedAtMs).c_str());
        bool usable = false;
        report = QueryDevices(options, variant, err, usable);
        instance.Release();
        if (!usable) return 3;
    }

    const int code = StatusExitCode(report);
    if (options.statusFormat == StatusFormat::Json) {
        std::fputs(StatusJson(report).c_str(), out);
    } else if (options.statusFormat == StatusFormat::Prometheus) {
        std::fputs(StatusPrometheus(report).c_str(), out);
    } else if (report.enclosures.empty() && !report.starting) {
        std::fputs("No enclosure found: none is attached, or this user may not reach the disks "
                   "(run as root or as a member of group disk).\n", out);
    } else {
        std::fputs(StatusText(report).c_str(), out);
    }
    return code;
}

}  // namespace kestrel
