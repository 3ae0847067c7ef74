#pragma once
// The event log: today's lines in memory, mirrored into the day's log file,
// and the pass that runs after every status poll to add what happened. The
// pass is the only writer of the lines; the presence watch queues its device
// lines here, and the viewer reads the lines.
//
// Everything here runs on the user-interface thread.
#include <QDateTime>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "wire/drive_table.h"
#include "wire/enclosure_status.h"
#include "eventlog/known_enclosures.h"
#include "eventlog/log_clock.h"
#include "eventlog/status_events.h"
#include "notify/alert_sink.h"
#include "platform/user_interface.h"

namespace kestrel {

struct EventLogConfig {
    std::string logDir;                        // empty: the executable's directory
    std::string baseTitle;                     // "RAID GUI V0.23.6" or "HyBrid GUI V0.23.6"
    std::function<bool()> firstStatusPending;  // true until the status page is first drawn
    LogClock clock;                            // empty: the system clock
    // Receives every line as it is added (the headless service echoes them
    // to standard output); lines loaded from an earlier run are not repeated.
    std::function<void(const std::string& line)> echo;
    // The same, all lines of one pass in one call, so that the start-up
    // block reaches a service's journal as one write.
    std::function<void(const std::vector<std::string>& lines)> echoLines;
    // Receives the lines of notice priority or worse (a lost disk, an
    // alarm's start and end, a removed or new enclosure) once more:
    // standard error.
    std::function<void(const std::string& line)> notable;
    // Receives each problem with the log files once, besides status bar
    // panel 4 (the window writes it to standard error; the headless service
    // already echoes the panel there).
    std::function<void(const std::string& text)> problems;
    // Where lines that could not be written at the stop wait for the next
    // start (see kept_log_lines.h); empty: nowhere.
    std::string keptLinesFile;
    // Where the last state of each enclosure is kept (known_enclosures.h);
    // empty: in memory only.
    std::string knownEnclosuresFile;
    // Receives each line the status rules add about one enclosure (its
    // index), without the pass's timestamp: the history keeps them.
    std::function<void(unsigned enclosure, const std::string& line)> enclosureLine;
};

// An echo that writes each line and a line feed to out, flushed at once.
std::function<void(const std::string&)> LineEchoTo(std::FILE* out);
// An echo of event lines in one write per call; where out is the journal's
// stream, each line carries its priority ("<4>").
std::function<void(const std::vector<std::string>&)> EventLinesTo(std::FILE* out);

class EventLog {
public:
    EventLog(const DriveTable& drives, AlertSink& alerts, StatusBar& statusBar, EventLogConfig config);

    // The pass over the records the poll has just read (slot i's, if read).
    void LogStatusChanges(const SlotRecords& polled);

    // A line of the program's own (not from a status record), stamped with
    // the clock and written at once.
    void AddLine(const std::string& text);

    // Device presence lines, stamped and written by the next pass after the
    // start-up phase.
    void QueueDeviceLine(const std::string& text);
    bool DeviceChangePending() const { return deviceChangePending_; }
    const std::vector<std::string>& PendingEventLines() const { return pending_; }

    // Reading the lines. Revision changes whenever the lines change; Epoch
    // changes when earlier indexes no longer hold the same lines (a new day,
    // or an earlier run's file merged in front), so a reader that follows
    // the log re-reads everything when it moves and only the tail otherwise.
    size_t LineCount() const { return lines_.size(); }
    const std::string& Line(size_t index) const;
    const std::vector<std::string>& Lines() const { return lines_; }
    uint64_t Revision() const { return revision_; }
    uint64_t Epoch() const { return epoch_; }
    // Called at the end of a pass that changed the lines.
    void SetChangeListener(std::function<void()> listener) { listener_ = std::move(listener); }

    // Percent last logged for an enclosure's scan or rebuild; 255 = none
    // tracked (the poll rejects a DiskState of 0 only while one is).
    uint8_t LastProgress(unsigned enclosure) const { return events_.LastProgress(enclosure); }
    const StatusEvents& Events() const { return events_; }

    const QDateTime& PassTime() const { return passTime_; }
    std::string LogFilePath(const QDateTime& time) const;
    // True while lines exist only in memory because their file could not be
    // written (or read, and so must not be overwritten), today's or an
    // earlier day's.
    bool HasUnsavedLines() const { return unsaved_ || !stranded_.empty(); }
    // Writes unsaved lines now (e.g. when the program closes).
    bool Flush();
    // At the stop, after a Flush that failed: the lines still unwritten go to
    // the kept-lines file, to be written at the next start.
    struct KeepOutcome {
        size_t lines = 0;    // lines that were not written
        std::string keptIn;  // where they wait; empty when they could not be kept
        std::string error;
    };
    KeepOutcome KeepUnsaved();
    // At the start, before the first pass: lines an earlier run kept go to
    // their files. Returns how many were written.
    size_t WriteKeptLines();

private:
    void Append(std::string line);
    void FlushEcho();
    void ClearLines();
    bool OpenFile(const std::string& path, bool firstStatusPending);
    void SetAside();
    void LoadFile();
    bool Save();
    void RetryEarlierDays();
    void ReportFileProblem(const std::string& message);
    // Enclosure index's current record, decoded with its own firmware's
    // capabilities; none for a drive number no detection commits.
    std::optional<EnclosureStatus> StatusOf(unsigned index) const;
    void RememberDiskStates(unsigned limit);
    bool CompareWithLastSeen(unsigned index, const EnclosureStatus& status, const std::string& ts);
    void KeepStates(const SlotRecords& polled, unsigned limit);

    const DriveTable& drives_;
    AlertSink& alerts_;
    StatusBar& statusBar_;
    EventLogConfig config_;
    StatusEvents events_;

    std::vector<std::string> lines_;
    std::vector<std::string> pending_;
    bool deviceChangePending_ = false;
    QDateTime passTime_;

    uint64_t revision_ = 0;
    uint64_t epoch_ = 0;
    std::function<void()> listener_;

    // The lines belong to one file, the day's file they were loaded from or
    // are written to; they never go to another day's file.
    std::string linesPath_;
    bool unsaved_ = false;  // the newest lines are only in memory
    size_t saved_ = 0;      // lines_ before this index are in the file as it stands
    bool blocked_ = false;  // what is at linesPath_ could not be read: never replaced

    // Lines of earlier days that could not be written yet; retried with
    // every write and at closing.
    struct EarlierDay {
        std::string path;
        std::vector<std::string> lines;
        bool blocked;  // the file's own content is not among the lines
        size_t saved;  // the first lines, already in the file
    };
    std::vector<EarlierDay> stranded_;

    std::string reported_;  // the problem the status bar already shows
    std::vector<std::string> echoed_;  // lines of this pass for echoLines
    KnownEnclosures known_;
    // Identities of the enclosures compared with their last state since the
    // start or the last device change.
    std::set<std::string> compared_;
};

}  // namespace kestrel
