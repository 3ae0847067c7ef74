#pragma once
// The user's event program: run for every event, the way mdadm's PROGRAM
// and smartd's -M exec are, to reach a push service, a chat or a pager.
// It is started directly with its arguments, never through a shell, gets
// the facts in KESTREL_ variables (docs/event-program.md), and runs on a
// thread of its own, one at a time in the order of the events, each bounded
// in time; its output and exit status go to standard error (the journal).
// Posting never waits: the poll goes on whatever the program does.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace kestrel {

struct ProgramEvent {
    std::string kind;            // "disk-lost", "fan-failure-end", "test" ... (docs/event-program.md)
    std::string severity = "info";  // "alarm", "attention" or "info"
    int slot = 0;                // 1 for Device1, 2 for Device2; 0: no enclosure
    std::string enclosureModel;
    int disk = 0;                // 1 for HDD1, 2 for HDD2; 0: no disk
    std::string diskModel;
    std::string diskSerial;
    std::string state;           // the enclosure's state as --status names it
    std::string result;          // for an end: "ok" or "failed"; empty otherwise
    std::string logLine;         // the day-log line written for it, if any
    std::string message;         // one line for a person
    int64_t timeMs = 0;          // ms since 1970; 0: when posted
};

struct EventProgramConfig {
    std::string program;         // path of the program; empty: none
    std::string title;           // "RAID GUI V0.23.6"
    std::chrono::milliseconds bound{30000};
    size_t queueLimit = 100;     // events waiting beyond this are dropped (and said)
    std::FILE* err = stderr;
};

// The program's environment for an event: the KESTREL_ variables only, as
// NAME=VALUE, values exactly as given (no quoting: nothing parses them).
std::vector<std::string> EventEnvironment(const EventProgramConfig& config, const ProgramEvent& event,
                                          size_t dropped = 0);

// Runs the program once for event on the calling thread and returns its
// exit status; 126 when it could not be started, 124 when it was killed
// at the bound, 128 + N when a signal N ended it. Its output and the
// outcome are written to config.err. stop, when given, is a file
// descriptor whose readability ends the run at once (the program killed).
int RunEventProgram(const EventProgramConfig& config, const ProgramEvent& event, size_t dropped = 0,
                    int stop = -1);

class EventProgram {
public:
    explicit EventProgram(EventProgramConfig config);
    // A program still running is killed and the events still waiting are
    // not run; both are said.
    ~EventProgram();
    EventProgram(const EventProgram&) = delete;
    EventProgram& operator=(const EventProgram&) = delete;

    bool Active() const;
    std::string Program() const;
    // The program for the events run from now on; empty: none, and the
    // events still waiting are not run.
    void SetProgram(std::string program);
    // From any thread; returns at once. done, when given, gets the exit
    // status on the program's thread. program, when given, runs instead of
    // the configured one (the E-mail page's test of what is typed). False
    // when the event is not run: no program, or too many wait.
    bool Post(ProgramEvent event, std::function<void(int)> done = {}, std::string program = {});
    // Blocks until every event posted so far has run (tests, the end of a
    // one-shot command); false when bound passed first.
    bool WaitIdle(std::chrono::milliseconds bound);

private:
    struct Run {
        ProgramEvent event;
        std::function<void(int)> done;
        std::string program;  // empty: the configured one
    };
    // Under mutex_: the worker, started with the first program.
    void StartLocked();
    void Work();

    EventProgramConfig config_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Run> queue_;
    size_t dropped_ = 0;
    bool running_ = false;
    bool stopping_ = false;
    int wake_[2] = {-1, -1};  // written when stopping: ends a run under way
    std::thread worker_;
};

}  // namespace kestrel
