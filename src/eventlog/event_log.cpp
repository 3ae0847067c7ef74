#include "eventlog/event_log.h"

#include <QCoreApplication>
#include <QDir>
#include <algorithm>

#include "eventlog/kept_log_lines.h"
#include "eventlog/log_file.h"
#include "eventlog/log_text.h"
#include "platform/headless_ui.h"

namespace kestrel {

namespace {
constexpr unsigned kMaxLoggedEnclosures = 4;
constexpr int kOperationPanel = 4;
}  // namespace

std::function<void(const std::string&)> LineEchoTo(std::FILE* out) {
    return [out](const std::string& line) {
        std::fwrite(line.data(), 1, line.size(), out);
        std::fputc('\n', out);
        std::fflush(out);
    };
}

std::function<void(const std::vector<std::string>&)> EventLinesTo(std::FILE* out) {
    const bool journal = IsJournalStream(out);
    return [out, journal](const std::vector<std::string>& lines) {
        std::string text;
        for (const std::string& line : lines) {
            if (journal) text += "<" + std::to_string(logtext::LinePriority(line)) + ">";
            text += line + "\n";
        }
        std::fwrite(text.data(), 1, text.size(), out);
        std::fflush(out);
    };
}

EventLog::EventLog(const DriveTable& drives, AlertSink& alerts, StatusBar& statusBar, EventLogConfig config)
    : drives_(drives),
      alerts_(alerts),
      statusBar_(statusBar),
      config_(std::move(config)),
      events_(alerts),
      known_(config_.knownEnclosuresFile) {
    if (config_.logDir.empty()) config_.logDir = QCoreApplication::applicationDirPath().toLocal8Bit().toStdString();
    if (!config_.clock) config_.clock = SystemLogClock();
    if (!config_.firstStatusPending) config_.firstStatusPending = [] { return false; };
}

std::string EventLog::LogFilePath(const QDateTime& time) const {
    const QString dir = QString::fromLocal8Bit(config_.logDir.c_str());
    return QDir(dir).filePath(QString::fromLatin1(LogFileName(time).c_str())).toLocal8Bit().toStdString();
}

const std::string& EventLog::Line(size_t index) const {
    static const std::string kNone;
    return index < lines_.size() ? lines_[index] : kNone;
}

void EventLog::QueueDeviceLine(const std::string& text) {
    pending_.push_back(text);
    deviceChangePending_ = true;
}

void EventLog::Append(std::string line) {
    // One entry is one line of the file: a line break inside a device text
    // must not split it or forge a line of its own.
    for (char& c : line)
        if (c == '\r' || c == '\n') c = ' ';
    if (config_.echo) config_.echo(line);
    if (config_.echoLines) echoed_.push_back(line);
    if (config_.notable && logtext::LinePriority(line) <= 5) config_.notable(line);
    lines_.push_back(std::move(line));
    ++revision_;
}

void EventLog::ClearLines() {
    lines_.clear();
    saved_ = 0;
    ++epoch_;
    ++revision_;
}

std::optional<EnclosureStatus> EventLog::StatusOf(unsigned index) const {
    if (drives_.DriveOfSlot(index) >= static_cast<unsigned>(DriveTable::kPhysicalDrives)) return std::nullopt;
    return SlotStatus(drives_, index);
}

void EventLog::RememberDiskStates(unsigned limit) {
    for (unsigned i = 0; i < limit; ++i)
        if (const std::optional<EnclosureStatus> s = StatusOf(i)) events_.SetLastDiskState(i, s->diskState);
}

void EventLog::LogStatusChanges(const SlotRecords& polled) {
    const uint64_t revisionBefore = revision_;
    const unsigned limit = std::min(drives_.EnclosureCount, kMaxLoggedEnclosures);
    passTime_ = config_.clock();
    const std::string ts = TimestampText(passTime_);
    const std::string path = LogFilePath(passTime_);
    bool changed = false;
    const bool firstStatusPending = config_.firstStatusPending();
    bool headerDue = OpenFile(path, firstStatusPending);

    if (firstStatusPending) {
        Append(logtext::Separator());
        Append(config_.baseTitle + " has started from " + ts);
        headerDue = true;
        RememberDiskStates(limit);
    } else if (deviceChangePending_) {
        // Enclosures plugged in again are compared with their last state.
        compared_.clear();
        Append(logtext::Separator());
        for (const std::string& line : pending_) Append(line + ts);
        pending_.clear();
        deviceChangePending_ = false;
        headerDue = true;
        RememberDiskStates(limit);
    }

    const unsigned polledLimit = std::min(limit, static_cast<unsigned>(polled.size()));
    if (headerDue) {
        for (unsigned i = 0; i < polledLimit; ++i) {
            const std::optional<EnclosureStatus>& s = polled[i];
            if (!s) continue;
            for (std::string& line : logtext::DeviceBlock(i, drives_.IdentifyOfSlot(i), *s)) Append(std::move(line));
        }
        Append(logtext::Separator());
        changed = true;
        // At the start and after a device change: what changed while this
        // program did not watch the enclosure, and the problems it has
        // that were not alerted before.
        for (unsigned i = 0; i < polledLimit; ++i) {
            const std::optional<EnclosureStatus>& s = polled[i];
            if (s && compared_.insert(EnclosureIdentity(drives_.IdentifyOfSlot(i))).second)
                CompareWithLastSeen(i, *s, ts);
        }
    }

    for (unsigned i = 0; i < polledLimit; ++i) {
        const std::optional<EnclosureStatus>& s = polled[i];
        if (!s) continue;
        const StatusEvents::Emit emit = [this, i, &ts](std::string line) {
            if (config_.enclosureLine) {
                const bool stamped = line.size() >= ts.size() && line.compare(line.size() - ts.size(), ts.size(), ts) == 0;
                config_.enclosureLine(i, stamped ? line.substr(0, line.size() - ts.size()) : line);
            }
            Append(std::move(line));
        };
        changed |= events_.Apply(i, *s, !headerDue, ts, emit);
    }

    if (changed) Save();
    KeepStates(polled, polledLimit);
    FlushEcho();
    if (revision_ != revisionBefore && listener_) listener_();
}

bool EventLog::CompareWithLastSeen(unsigned index, const EnclosureStatus& s, const std::string& ts) {
    const std::optional<KnownState> known = known_.Find(EnclosureIdentity(drives_.IdentifyOfSlot(index)));
    bool wrote = false;
    for (int disk = 0; disk < 2; ++disk) {
        const MemberStatus& now = s.disks[static_cast<size_t>(disk)];
        bool wasAbsent = false;
        if (known) {
            const DiskCondition was = DiskConditionIn(known->diskState, disk);
            wasAbsent = was == DiskCondition::Absent;
            if (was != now.condition) {
                Append(logtext::DeviceTag(index) + " " + logtext::MemberName(disk) + " changed while not monitored: " +
                       ConditionName(was) + ", now " + ConditionName(now.condition) + ", " + ts);
                wrote = true;
            }
        }
        if (now.Absent() && !wasAbsent)
            alerts_.ComposeAlert(static_cast<int>(NotificationEvent::HddFail), static_cast<int>(index), disk);
    }
    if (known) events_.SetLastEnvFlags(index, known->envFlags);
    return wrote;
}

void EventLog::KeepStates(const SlotRecords& polled, unsigned limit) {
    for (unsigned i = 0; i < limit; ++i) {
        const std::optional<EnclosureStatus>& s = polled[i];
        if (!s) continue;
        const std::string error = known_.Update(EnclosureIdentity(drives_.IdentifyOfSlot(i)),
                                                KnownState{s->diskState, events_.LastEnvFlags(i)});
        if (!error.empty()) ReportFileProblem("Cannot keep the enclosures' state: " + error);
    }
}

void EventLog::FlushEcho() {
    if (echoed_.empty()) return;
    config_.echoLines(echoed_);
    echoed_.clear();
}

void EventLog::AddLine(const std::string& text) {
    const uint64_t revisionBefore = revision_;
    passTime_ = config_.clock();
    (void)OpenFile(LogFilePath(passTime_), config_.firstStatusPending());
    Append(text + TimestampText(passTime_));
    Save();
    FlushEcho();
    if (revision_ != revisionBefore && listener_) listener_();
}

// Ties the lines to the day's file. Returns true when a new list begins
// (a new day, or the file was removed), whose header is due.
bool EventLog::OpenFile(const std::string& path, bool firstStatusPending) {
    const LogFileKind kind = InspectLogFile(path);
    if (path == linesPath_) {
        if (blocked_ && kind == LogFileKind::Missing) {
            blocked_ = false;  // what was in the way is gone: ours may be written
        } else if (blocked_) {
            LoadFile();
        } else if (kind == LogFileKind::Missing && !unsaved_) {
            // The file was removed: start over as on a new day.
            ClearLines();
            if (!firstStatusPending) Append(logtext::Separator());
            return true;
        }
        return false;
    }

    // Another day's file (a new day, or the clock was set back).
    if (!linesPath_.empty()) SetAside();
    ClearLines();
    linesPath_ = path;
    unsaved_ = false;
    blocked_ = false;
    const auto earlier = std::find_if(stranded_.begin(), stranded_.end(),
                                      [&](const EarlierDay& d) { return d.path == path; });
    if (earlier != stranded_.end()) {
        // Back on a day whose lines are still only here: carry on with them.
        lines_ = std::move(earlier->lines);
        saved_ = earlier->saved;
        blocked_ = earlier->blocked;
        unsaved_ = true;
        stranded_.erase(earlier);
        if (blocked_ && kind != LogFileKind::Missing) LoadFile();
        return false;
    }
    if (kind != LogFileKind::Missing) {
        LoadFile();
        return false;
    }
    if (!firstStatusPending) Append(logtext::Separator());
    return true;
}

// At a change of day: the lines written so far stay with their own file;
// lines that cannot be written yet are kept for later tries.
void EventLog::SetAside() {
    if (unsaved_ && !Save())
        stranded_.push_back(EarlierDay{linesPath_, lines_, blocked_, saved_});
    unsaved_ = false;
}

void EventLog::LoadFile() {
    LogFileContent content = ReadLogFile(linesPath_);
    if (content.status == LogFileContent::Status::Loaded || content.status == LogFileContent::Status::Missing) {
        // Lines gathered while the file could not be read follow its content.
        saved_ = content.lines.size();
        content.lines.insert(content.lines.end(), std::make_move_iterator(lines_.begin()),
                             std::make_move_iterator(lines_.end()));
        lines_ = std::move(content.lines);
        blocked_ = false;
        ++epoch_;
        ++revision_;
        return;
    }
    // Replacing a file we could not read would destroy its content: keep the
    // new lines in memory until it can be read.
    blocked_ = true;
    unsaved_ = true;
    ReportFileProblem(LogFileProblem(content.status, linesPath_));
}

bool EventLog::Save() {
    if (linesPath_.empty()) return true;
    unsaved_ = true;
    if (blocked_) return false;
    if (!EnsureLogFolder(config_.logDir)) {
        ReportFileProblem("Cannot create log folder " + config_.logDir);
        return false;
    }
    switch (WriteLogFile(linesPath_, lines_)) {
        case LogWriteStatus::Written:
            unsaved_ = false;
            saved_ = lines_.size();
            reported_.clear();
            break;
        case LogWriteStatus::NotRegular:
            blocked_ = true;
            ReportFileProblem("Log file is not a regular file: " + linesPath_);
            break;
        case LogWriteStatus::Failed: ReportFileProblem("Cannot write log file " + linesPath_); break;
    }
    if (!unsaved_) RetryEarlierDays();
    return !unsaved_;
}

void EventLog::RetryEarlierDays() {
    for (auto day = stranded_.begin(); day != stranded_.end();) {
        std::vector<std::string> lines;
        if (day->blocked) {
            // Its file had content we could not read: the lines follow it.
            const LogFileContent content = ReadLogFile(day->path);
            if (content.status != LogFileContent::Status::Loaded && content.status != LogFileContent::Status::Missing) {
                ++day;
                continue;
            }
            lines = content.lines;
        }
        lines.insert(lines.end(), day->lines.begin(), day->lines.end());
        if (WriteLogFile(day->path, lines) == LogWriteStatus::Written)
            day = stranded_.erase(day);
        else
            ++day;
    }
}

bool EventLog::Flush() {
    if (unsaved_) Save();
    RetryEarlierDays();
    return !HasUnsavedLines();
}

size_t EventLog::WriteKeptLines() {
    if (config_.keptLinesFile.empty()) return 0;
    const KeptLinesWritten kept = WriteKeptLogLines(config_.keptLinesFile);
    if (kept.waiting > 0)
        ReportFileProblem(std::to_string(kept.waiting) + " log lines kept at the last stop still cannot be written; they wait in " +
                          config_.keptLinesFile);
    return kept.written;
}

EventLog::KeepOutcome EventLog::KeepUnsaved() {
    KeepOutcome outcome;
    std::vector<KeptLogLines> blocks;
    auto add = [&](const std::string& path, const std::vector<std::string>& lines, size_t saved) {
        if (saved >= lines.size()) return;
        blocks.push_back({path, std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(saved), lines.end())});
        outcome.lines += lines.size() - saved;
    };
    for (const EarlierDay& day : stranded_) add(day.path, day.lines, day.saved);
    if (unsaved_) add(linesPath_, lines_, saved_);
    if (blocks.empty()) return outcome;
    if (config_.keptLinesFile.empty()) {
        outcome.error = "no state folder to keep them in";
        return outcome;
    }
    outcome.error = KeepLogLines(config_.keptLinesFile, blocks);
    if (outcome.error.empty()) {
        outcome.keptIn = config_.keptLinesFile;
        stranded_.clear();
        unsaved_ = false;
        saved_ = lines_.size();
    }
    return outcome;
}

void EventLog::ReportFileProblem(const std::string& message) {
    if (reported_ == message) return;
    reported_ = message;
    statusBar_.SetPanel(kOperationPanel, message);
    if (config_.problems) config_.problems(message);
}

}  // namespace kestrel
