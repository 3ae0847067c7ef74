#pragma once
// The options this platform adds to the program. Without any of them the
// program runs against the real devices with the default files.
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "platform/product_variant.h"
#include "platform/time_scale.h"

namespace kestrel {

enum class StatusFormat { Text, Json, Prometheus };
enum class HistoryOutput { Csv, Json };

// Values of the settings file beside the e-mail ones; an option of the
// command line wins over them.
inline constexpr const char* kEventProgramValue = "EventProgram";
inline constexpr const char* kMetricsFileValue = "MetricsFile";

struct Options {
    bool simulate = false;
    std::string scenarioFile;  // empty: the built-in demo scenario
    bool headless = false;
    std::string logDir;        // empty: beside the executable
    std::string stateDir;      // the program's own state (lines kept for the log); empty: none
    std::string registryFile;  // empty: default under the configuration directory
    double timeScale = 1.0;
    std::string upgradeFirmware;  // one-shot upgrade with this image file
    int slot = 1;                 // its enclosure slot, 1 or 2
    std::string writeSampleImage; // one-shot: write a valid image to this file
    bool testMail = false;        // one-shot: send a test mail with the stored settings
    bool status = false;          // one-shot: print every enclosure's state
    StatusFormat statusFormat = StatusFormat::Text;
    std::string metricsFile;      // the running monitor's metrics file; empty: none
    std::string eventProgram;     // run for every event; empty: none
    // Named on the command line: the settings file's value is not read.
    bool metricsFileOnCommandLine = false;
    bool eventProgramOnCommandLine = false;
    bool testEvent = false;       // one-shot: run the event program once with a test event
    bool history = false;         // one-shot: print the stored history
    HistoryOutput historyOutput = HistoryOutput::Csv;
    int64_t historySinceMs = std::numeric_limits<int64_t>::min();
    int64_t historyUntilMs = std::numeric_limits<int64_t>::max();
    int historySlot = 0;          // 1 or 2; 0: both
};

// --since and --until: "2026-12-09" (local midnight; with until, the end of
// that day), "2026-12-09T14:30[:00]" local, or with "Z" or an offset.
std::optional<int64_t> ParseHistoryDate(const std::string& text, bool endOfDay);

struct ParseOutcome {
    enum class Kind { Run, Exit } kind = Kind::Run;
    Options options;
    int exitCode = 0;
    std::string out;  // text for standard output (help, version)
    std::string err;  // one-line error for standard error
};

// Where the day logs go without --log-dir: beside the executable when it runs
// from a build folder; installed (in a prefix's bin folder), the service's
// log folder that systemd names (LOGS_DIRECTORY), else the user's XDG state
// folder. The environment values are passed in, empty when unset.
struct LogDirInputs {
    std::string executableDir;
    std::string logsDirectory;  // LOGS_DIRECTORY
    std::string stateHome;      // XDG_STATE_HOME
    std::string home;           // HOME
    std::string stateDirectory; // STATE_DIRECTORY (systemd)
};
std::string DefaultLogDir(const LogDirInputs& in);
// The program's state folder: the service's own (STATE_DIRECTORY), else
// $XDG_STATE_HOME/kestrel, else ~/.local/state/kestrel; empty when none.
std::string DefaultStateDir(const LogDirInputs& in);
LogDirInputs LogDirInputsFromEnvironment();

// The settings file's EventProgram and MetricsFile (docs/settings.md) where
// the command line named none, at the start and again on SIGHUP; a missing
// or unreadable file changes nothing.
void TakeStoredSettings(Options& options);

// args[0] is the program name. displayAvailable tells whether DISPLAY or
// WAYLAND_DISPLAY is set; without one the program runs headless.
ParseOutcome ParseCommandLine(const std::vector<std::string>& args, ProductVariant variant,
                              bool displayAvailable);

}  // namespace kestrel
