#pragma once
// The status query (--status): the running monitor's published state when
// it runs, otherwise the enclosures themselves; and the monitor's side,
// publishing its state after every poll.
#include <cstdio>
#include <string>

#include "app/command_line.h"
#include "monitor/status_report.h"
#include "platform/single_instance.h"

namespace kestrel {

// The published state in a run folder.
std::string PublishedStatePath(const std::string& runFolder);
// Replaces the file atomically; readable by the owner and the folder's group.
bool PublishState(const std::string& path, const StatusReport& report);

// While a status query asks the enclosures it holds the single-instance lock
// and, beside it, this mark: a monitor that starts meanwhile waits for the
// query instead of leaving as if a monitor ran.
inline constexpr const char* kStatusQueryMark = "KESTREL_STATUS_QUERY";
inline constexpr int kStatusQueryWaitMs = 15000;
// True while a status query holds its mark in the run folder.
bool StatusQueryRunning(const std::string& runFolder);

// How old a running monitor's state may be before the query says so.
inline constexpr int kStateOldSeconds = 60;

// instance: the single-instance lock of the run folder, not yet acquired.
// Returns the exit code (0-3).
int RunStatusCommand(const Options& options, SingleInstance& instance, const std::string& runFolder, std::FILE* out,
                     std::FILE* err);

}  // namespace kestrel
