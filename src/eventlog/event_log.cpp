#include "eventlog/event_log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <algorithm>

#include "eventlog/log_file.h"
#include "eventlog/log_text.h"
#include "wire/status_sector.h"

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

EventLog::EventLog(const DriveTable& drives, AlertSink& alerts, StatusBar& statusBar, EventLogConfig config)
    : drives_(drives), statusBar_(statusBar), config_(std::move(config)), events_(alerts) {
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
    lines_.push_back(std::move(line));
    ++revision_;
}

void EventLog::ClearLines() {
    lines_.clear();
    ++epoch_;
    ++revision_;
}

const Block512* EventLog::StatusOf(unsigned index) const {
    const unsigned drive = drives_.DriveOfSlot(index);
    return drive < drives_.CurrentStatus.size() ? &drives_.CurrentStatus[drive] : nullptr;
}

const Block512* EventLog::IdentifyOf(unsigned index) const {
    const unsigned drive = drives_.DriveOfSlot(index);
    return drive < drives_.KnownIdentify.size() ? &drives_.KnownIdentify[drive] : nullptr;
}

void EventLog::RememberDiskStates(unsigned limit) {
    for (unsigned i = 0; i < limit; ++i)
        if (const Block512* s = StatusOf(i)) events_.SetLastDiskState(i, (*s)[status::kDiskState]);
}

void EventLog::LogStatusChanges(uint8_t mask) {
    const uint64_t revisionBefore = revision_;
    const unsigned limit = std::min(drives_.EnclosureCount, kMaxLoggedEnclosures);
    passTime_ = config_.clock();
    const std::string ts = TimestampText(passTime_);
    const std::string path = LogFilePath(passTime_);
    bool changed = false;
    bool headerDue = false;
    const bool firstStatusPending = config_.firstStatusPending();

    const bool exists = QFileInfo::exists(QString::fromLocal8Bit(path.c_str()));
    if (!exists && blockedPath_ == path) blockedPath_.clear();
    if (exists) {
        if (lines_.empty() || blockedPath_ == path) LoadFile(path);
    } else if (unsavedPath_ == path) {
        // Our own write of this file failed: its lines live only here, and
        // this is not a new day.
    } else {
        // A new day (or the file was removed). Lines of the previous day that
        // could not be written get one last try under their own name.
        if (!unsavedPath_.empty()) Save(unsavedPath_);
        unsavedPath_.clear();
        ClearLines();
        if (!firstStatusPending) Append(logtext::Separator());
        headerDue = true;
    }

    if (firstStatusPending) {
        Append(logtext::Separator());
        Append(config_.baseTitle + " has started from " + ts);
        headerDue = true;
        RememberDiskStates(limit);
    } else if (deviceChangePending_) {
        Append(logtext::Separator());
        for (const std::string& line : pending_) Append(line + ts);
        pending_.clear();
        deviceChangePending_ = false;
        headerDue = true;
        RememberDiskStates(limit);
    }

    auto refreshed = [&](unsigned i) { return (mask >> i) & 1u; };
    if (headerDue) {
        for (unsigned i = 0; i < limit; ++i) {
            const Block512* s = StatusOf(i);
            const Block512* id = IdentifyOf(i);
            if (!refreshed(i) || !s || !id) continue;
            for (std::string& line : logtext::DeviceBlock(i, *id, *s)) Append(std::move(line));
        }
        Append(logtext::Separator());
        changed = true;
    }

    const StatusEvents::Emit emit = [this](std::string line) { Append(std::move(line)); };
    for (unsigned i = 0; i < limit; ++i) {
        const Block512* s = StatusOf(i);
        if (!refreshed(i) || !s) continue;
        changed |= events_.Apply(i, *s, drives_.ScanReporting, !headerDue, ts, emit);
    }

    if (changed) Save(path);
    if (revision_ != revisionBefore && listener_) listener_();
}

void EventLog::LoadFile(const std::string& path) {
    LogFileContent content = ReadLogFile(path);
    if (content.status == LogFileContent::Status::Loaded) {
        // Lines gathered while the file could not be read follow its content.
        content.lines.insert(content.lines.end(), std::make_move_iterator(lines_.begin()),
                             std::make_move_iterator(lines_.end()));
        lines_ = std::move(content.lines);
        blockedPath_.clear();
        ++epoch_;
        ++revision_;
        return;
    }
    // Replacing a file we could not read would destroy its content: keep the
    // new lines in memory until it can be read.
    blockedPath_ = path;
    unsavedPath_ = path;
    ReportFileProblem(path, LogFileProblem(content.status, path));
}

bool EventLog::Save(const std::string& path) {
    if (blockedPath_ == path) {
        unsavedPath_ = path;
        return false;
    }
    if (WriteLogFile(path, lines_)) {
        unsavedPath_.clear();
        reportedPath_.clear();
        return true;
    }
    unsavedPath_ = path;
    ReportFileProblem(path, "Cannot write log file " + path);
    return false;
}

bool EventLog::Flush() {
    if (unsavedPath_.empty()) return true;
    return Save(unsavedPath_);
}

void EventLog::ReportFileProblem(const std::string& path, const std::string& text) {
    if (reportedPath_ == path) return;
    reportedPath_ = path;
    statusBar_.SetPanel(kOperationPanel, text);
}

}  // namespace kestrel
