#pragma once
// The status query (--status): the running monitor's published state when
// it runs, otherwise the enclosures themselves; and the monitor's side,
// publishing its state after every poll.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "app/command_line.h"
#include "monitor/status_report.h"
#include "platform/file_replace.h"
#include "platform/single_instance.h"

namespace kestrel {

// The state a user's monitor publishes in a run folder: one file per user,
// so that in a folder where nobody may replace another user's files, a
// window user's monitor publishes beside the service's.
std::string PublishedStatePath(const std::string& runFolder, long long uid);
// A state is small; anything larger was not written by a monitor.
inline constexpr int64_t kMaxStateBytes = 256 * 1024;
// Reads a published state, believed only when it is a regular file (not a
// link, not a FIFO) of ownerUid, no larger than kMaxStateBytes, written by
// the process writerPid (-1: any); nullopt and the reason otherwise. Never
// waits for a writer.
std::optional<StatusReport> ReadPublishedState(const std::string& path, long long ownerUid, long long writerPid,
                                               std::string& error);
// Replaces the file atomically, whatever stands at its name; readable by the
// owner and the folder's group. The old state stays when the write fails.
ReplaceResult PublishState(const std::string& path, const StatusReport& report);

// The metrics file a node exporter's textfile collector reads: the state
// in the text exposition format, replaced atomically after every poll
// (readable by everyone: it names models and serials, nothing secret). A
// failure is said once on standard error until a write succeeds again.
class MetricsFile {
public:
    explicit MetricsFile(std::string path, std::FILE* err = stderr) : path_(std::move(path)), err_(err) {}
    // Does nothing without a path.
    void Write(const StatusReport& report);
    // Another file from the next write on (empty: none). The old one is
    // removed: its series would go on beside the new file's in the same
    // collector folder, with a time stamp nobody moves.
    void SetPath(const std::string& path);

private:
    std::string path_;
    std::FILE* err_;
    bool failing_ = false;
};

// While a status query asks the enclosures it holds the single-instance lock
// and, beside it, this mark: a monitor that starts meanwhile waits for the
// query instead of leaving as if a monitor ran.
inline constexpr const char* kStatusQueryMark = "KESTREL_STATUS_QUERY";
inline constexpr int kStatusQueryWaitMs = 15000;
// True while a status query holds its mark in the run folder.
bool StatusQueryRunning(const std::string& runFolder);

// How old a running monitor's state may be before the query says so.
inline constexpr int kStateOldSeconds = 60;
// How long a query waits for a starting monitor's first state (scaled by
// --time-scale) before it answers that the monitor is starting.
inline constexpr int kStartingWaitMs = 10000;

// instance: the single-instance lock of the run folder, not yet acquired.
// variant: the program's, whose demo --simulate runs. Returns the exit code (0-3).
int RunStatusCommand(const Options& options, ProductVariant variant, SingleInstance& instance,
                     const std::string& runFolder, std::FILE* out, std::FILE* err);

}  // namespace kestrel
