#include "notify/event_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/headless_ui.h"

extern char** environ;

namespace kestrel {

namespace {

int64_t NowMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::string IsoTime(int64_t ms) {
    const time_t seconds = static_cast<time_t>(ms / 1000);
    tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// Journal priorities, where standard error is the journal.
const char* Priority(std::FILE* err, const char* level) { return IsJournalStream(err) ? level : ""; }

void Say(std::FILE* err, const char* level, const std::string& text) {
    std::fprintf(err, "%sEvent program: %s\n", Priority(err, level), text.c_str());
    std::fflush(err);
}

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

// The program's environment: this process's, without KESTREL_ variables
// of its own, and the event's.
std::vector<std::string> ChildEnvironment(const std::vector<std::string>& event) {
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e)
        if (std::strncmp(*e, "KESTREL_", 8) != 0) env.emplace_back(*e);
    env.insert(env.end(), event.begin(), event.end());
    return env;
}

// Writes each whole line of the program's output, keeping a cut-off tail.
void EmitLines(std::FILE* err, std::string& pending, bool all) {
    size_t start = 0;
    for (size_t nl; (nl = pending.find('\n', start)) != std::string::npos; start = nl + 1)
        Say(err, "<6>", "| " + pending.substr(start, nl - start));
    pending.erase(0, start);
    // A line longer than this is said in pieces rather than kept forever.
    if (all || pending.size() > 4096) {
        if (!pending.empty()) Say(err, "<6>", "| " + pending);
        pending.clear();
    }
}

}  // namespace

std::vector<std::string> EventEnvironment(const EventProgramConfig& config, const ProgramEvent& e, size_t dropped) {
    const int64_t ms = e.timeMs ? e.timeMs : NowMs();
    auto slotName = [](const char* prefix, int n) { return n > 0 ? prefix + std::to_string(n) : std::string(); };
    std::vector<std::pair<const char*, std::string>> values = {
        {"KESTREL_EVENT", e.kind},
        {"KESTREL_SEVERITY", e.severity},
        {"KESTREL_MESSAGE", e.message},
        {"KESTREL_TIME", IsoTime(ms)},
        {"KESTREL_TIMESTAMP", std::to_string(ms / 1000)},
        {"KESTREL_PROGRAM", config.title},
        {"KESTREL_SLOT", e.slot > 0 ? std::to_string(e.slot) : std::string()},
        {"KESTREL_DEVICE", slotName("Device", e.slot)},
        {"KESTREL_ENCLOSURE_MODEL", e.enclosureModel},
        {"KESTREL_DISK", slotName("HDD", e.disk)},
        {"KESTREL_DISK_MODEL", e.diskModel},
        {"KESTREL_DISK_SERIAL", e.diskSerial},
        {"KESTREL_STATE", e.state},
        {"KESTREL_RESULT", e.result},
        {"KESTREL_LOG_LINE", e.logLine},
        {"KESTREL_DROPPED", std::to_string(dropped)},
    };
    std::vector<std::string> env;
    for (const auto& [name, value] : values) {
        // A NUL would cut the value short; nothing else is changed.
        std::string v = value;
        for (char& c : v)
            if (c == '\0') c = '?';
        env.push_back(std::string(name) + "=" + v);
    }
    return env;
}

int RunEventProgram(const EventProgramConfig& config, const ProgramEvent& event, size_t dropped, int stop) {
    std::FILE* err = config.err;
    const std::string what = config.program + " (" + event.kind + ")";
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        Say(err, "<4>", what + " cannot be started: " + std::strerror(errno));
        return 126;
    }
    Fd reader{out[0]}, writer{out[1]};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writer.fd, 1);
    posix_spawn_file_actions_adddup2(&actions, writer.fd, 2);
    // Nothing of this process's (the lock, the devices) reaches the program.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // This process blocks and ignores signals it handles otherwise; the
    // program starts with the defaults, in a group of its own so that the
    // bound ends what it started too.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int s : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGXFSZ, SIGCHLD}) sigaddset(&defaults, s);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

    // The program and its two arguments, the event and the device; never a shell.
    std::vector<std::string> args = {config.program, event.kind,
                                     event.slot > 0 ? "Device" + std::to_string(event.slot) : std::string()};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env = ChildEnvironment(EventEnvironment(config, event, dropped));
    std::vector<char*> envp;
    for (std::string& v : env) envp.push_back(v.data());
    envp.push_back(nullptr);

    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, config.program.c_str(), &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(writer.fd);
    writer.fd = -1;
    if (spawned != 0) {
        Say(err, "<4>", what + " cannot be started: " + std::strerror(spawned));
        return 126;
    }
    // Its end is seen through a pidfd, so that a program that closes its
    // output early, or leaves a child holding it, is still waited for right.
    Fd exited{static_cast<int>(::syscall(SYS_pidfd_open, pid, 0))};

    const auto deadline = std::chrono::steady_clock::now() + config.bound;
    std::string pending;
    bool stopped = false, ended = false, outputOpen = true;
    while (!ended) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd fds[3] = {{outputOpen ? reader.fd : -1, POLLIN, 0}, {exited.fd, POLLIN, 0}, {stop, POLLIN, 0}};
        const int n = ::poll(fds, 3, static_cast<int>(std::min<int64_t>(left.count(), exited.fd < 0 ? 100 : 60000)));
        if (n < 0 && errno != EINTR) break;
        if (fds[2].revents) {
            stopped = true;
            break;
        }
        if (fds[0].revents) {
            char buffer[4096];
            const ssize_t got = ::read(reader.fd, buffer, sizeof buffer);
            if (got > 0) {
                pending.append(buffer, static_cast<size_t>(got));
                EmitLines(err, pending, false);
            } else if (got == 0 || errno != EINTR) {
                outputOpen = false;
            }
        }
        // Without a pidfd (an old kernel), the end is looked for now and then.
        int status = 0;
        if ((fds[1].revents || exited.fd < 0) && ::waitpid(pid, &status, WNOHANG) == pid) {
            ended = true;
            // What it wrote before it ended, without waiting for a child
            // that keeps the pipe open.
            ::fcntl(reader.fd, F_SETFL, O_NONBLOCK);
            char buffer[4096];
            for (ssize_t got; outputOpen && (got = ::read(reader.fd, buffer, sizeof buffer)) > 0;)
                pending.append(buffer, static_cast<size_t>(got));
            EmitLines(err, pending, true);
            if (WIFEXITED(status)) {
                const int code = WEXITSTATUS(status);
                Say(err, code == 0 ? "<6>" : "<4>", what + " exit status " + std::to_string(code));
                return code;
            }
            const int signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
            Say(err, "<4>", what + " ended by signal " + std::to_string(signal));
            return 128 + signal;
        }
    }
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    EmitLines(err, pending, true);
    if (stopped) {
        Say(err, "<4>", what + " was killed: the program is closing");
    } else {
        Say(err, "<4>", what + " did not end within " + std::to_string(config.bound.count() / 1000) +
                            " s and was killed");
    }
    return 124;
}

EventProgram::EventProgram(EventProgramConfig config) : config_(std::move(config)) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!config_.program.empty()) StartLocked();
}

void EventProgram::StartLocked() {
    if (worker_.joinable()) return;
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
    worker_ = std::thread([this] { Work(); });
}

EventProgram::~EventProgram() {
    size_t left = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!worker_.joinable()) return;
        stopping_ = true;
        left = queue_.size();
        queue_.clear();
    }
    changed_.notify_all();
    if (wake_[1] >= 0) (void)!::write(wake_[1], "x", 1);
    worker_.join();
    if (left > 0) Say(config_.err, "<4>", std::to_string(left) + " events were not run: the program is closing");
    for (int fd : wake_)
        if (fd >= 0) ::close(fd);
}

bool EventProgram::Active() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return !config_.program.empty();
}

std::string EventProgram::Program() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return config_.program;
}

void EventProgram::SetProgram(std::string program) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (program == config_.program) return;
        config_.program = std::move(program);
        if (config_.program.empty()) {
            // Only the runs that name their own program are still wanted.
            std::erase_if(queue_, [](const Run& run) { return run.program.empty(); });
        } else {
            StartLocked();
        }
    }
    changed_.notify_all();
}

bool EventProgram::Post(ProgramEvent event, std::function<void(int)> done, std::string program) {
    if (!event.timeMs) event.timeMs = NowMs();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_ || (program.empty() && config_.program.empty())) return false;
        if (queue_.size() >= config_.queueLimit) {
            ++dropped_;
            return false;
        }
        StartLocked();
        queue_.push_back(Run{std::move(event), std::move(done), std::move(program)});
    }
    changed_.notify_all();
    return true;
}

bool EventProgram::WaitIdle(std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, bound, [this] { return stopping_ || (queue_.empty() && !running_); });
}

void EventProgram::Work() {
    for (;;) {
        Run run;
        EventProgramConfig config;
        size_t dropped = 0;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_) return;
            run = std::move(queue_.front());
            queue_.pop_front();
            dropped = dropped_;
            dropped_ = 0;
            running_ = true;
            // The program as it is now: a change reaches the next event.
            config = config_;
        }
        if (!run.program.empty()) config.program = run.program;
        if (dropped > 0)
            Say(config.err, "<4>",
                std::to_string(dropped) + " events were dropped: more than " + std::to_string(config.queueLimit) +
                    " waited while the program ran");
        const int code = RunEventProgram(config, run.event, dropped, wake_[0]);
        if (run.done) run.done(code);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            running_ = false;
        }
        changed_.notify_all();
    }
}

}  // namespace kestrel
