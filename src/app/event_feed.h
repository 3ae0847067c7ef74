#pragma once
// Feeds the user's event program (notify/event_program.h) from the running
// monitor: each poll's records, each detection, the firmware upgrade's
// outcome; and the one-shot --test-event.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "app/command_line.h"
#include "notify/event_program.h"
#include "notify/mail_queue.h"
#include "notify/program_events.h"

namespace kestrel {

class MainModule;

class EventFeed {
public:
    EventFeed(MainModule& module, EventProgramConfig config);
    EventProgram& program() { return program_; }

private:
    void Poll(unsigned refreshed);
    void Detection();
    // The first day-log line of this pass that names the event's device
    // (and disk), if any.
    std::string LogLineFor(const ProgramEvent& event) const;

    MainModule& module_;
    EventProgram program_;
    ProgramEventRules rules_;
    std::vector<std::string> passLines_;
    size_t seenLines_ = 0;
    uint64_t seenEpoch_ = 0;
};

// The event --test-event and the E-mail page's Test button run.
ProgramEvent TestEvent(ProductVariant variant);
// What the end of a test event says: "The event program ended with exit status N."
std::string TestEventOutcome(int code);
// Why path cannot be stored as the event program: not a full path; empty when it can (also when empty: none).
std::string EventProgramProblem(const std::string& path);
// A firmware upgrade's end in slot (0-based), from the window or the command line.
ProgramEvent UpgradeEvent(int slot, const std::string& model, bool verified);
// An alert mail's end (delivered, or given up), if the outcome is one.
std::optional<ProgramEvent> MailEvent(const MailOutcome& outcome);
// The program's configuration from the options: the program, its title,
// the bound (30 s, scaled by --time-scale).
EventProgramConfig EventProgramFor(const Options& options, ProductVariant variant);
// --test-event: runs the program once; its exit status, 2 when none is set.
int RunTestEventCommand(const Options& options, ProductVariant variant, std::FILE* out);

}  // namespace kestrel
