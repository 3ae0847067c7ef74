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

// How old a running monitor's state may be before the query says so.
inline constexpr int kStateOldSeconds = 60;

// instance: the single-instance lock of the run folder, not yet acquired.
// Returns the exit code (0-3).
int RunStatusCommand(const Options& options, SingleInstance& instance, const std::string& statePath, std::FILE* out,
                     std::FILE* err);

}  // namespace kestrel
