#include "app/event_feed.h"

#include <algorithm>

#include "app/main_module.h"
#include "monitor/status_report.h"
#include "wire/device_text.h"
#include "wire/status_sector.h"

namespace kestrel {

EventProgramConfig EventProgramFor(const Options& options, ProductVariant variant) {
    EventProgramConfig c;
    c.program = options.eventProgram;
    c.title = BaseTitleFor(variant);
    c.bound = std::chrono::milliseconds(ScaledMs(30000, options.timeScale));
    return c;
}

EventFeed::EventFeed(MainModule& module, EventProgramConfig config) : module_(module), program_(std::move(config)) {
    // After the event log's pass, which writes the lines the events name.
    module.statusPoll().AddListener([this](const PollRound& round) { Poll(round.refreshed); });
    module.SetDetectionListener([this] { Detection(); });
    module.SetUpgradeListener([this](int slot, bool verified) {
        const EnclosureReport e = ReportEnclosure(module_.drives(), static_cast<unsigned>(slot), true);
        program_.Post(UpgradeEvent(slot, e.model, verified));
    });
    module.mailDelivery().AddAlertMailListener([this](const MailOutcome& outcome) {
        if (std::optional<ProgramEvent> event = MailEvent(outcome)) program_.Post(*event);
    });
}

std::optional<ProgramEvent> MailEvent(const MailOutcome& outcome) {
    // Queued and delayed mails are still on their way; only the end is an event.
    const bool delivered = outcome.kind == MailOutcome::Kind::Delivered;
    if (!delivered && outcome.kind != MailOutcome::Kind::Undelivered) return std::nullopt;
    ProgramEvent event;
    event.kind = delivered ? "mail-delivered" : "mail-undelivered";
    event.severity = delivered ? "info" : "attention";
    event.result = delivered ? "ok" : "failed";
    const std::string& about = outcome.subject.empty() ? outcome.heading : outcome.subject;
    event.message = delivered ? "Alert mail delivered: " + about
                              : "Alert mail not delivered: " + about + (outcome.reason.empty() ? "" : " (" + outcome.reason + ")");
    return event;
}

ProgramEvent UpgradeEvent(int slot, const std::string& model, bool verified) {
    ProgramEvent event;
    event.kind = "upgrade-end";
    event.severity = verified ? "info" : "alarm";
    event.slot = slot + 1;
    event.enclosureModel = model;
    event.result = verified ? "ok" : "failed";
    event.message = "Device" + std::to_string(slot + 1) + " (" + model + "): firmware upgrade " +
                    (verified ? "verified" : "failed");
    return event;
}

void EventFeed::Poll(unsigned refreshed) {
    const EventLog& log = module_.eventLog();
    if (log.Epoch() != seenEpoch_) {
        seenEpoch_ = log.Epoch();
        seenLines_ = log.LineCount();
    }
    passLines_.assign(log.Lines().begin() + static_cast<std::ptrdiff_t>(std::min(seenLines_, log.LineCount())),
                      log.Lines().end());
    seenLines_ = log.LineCount();
    const DriveTable& drives = module_.drives();
    for (unsigned slot = 0; slot < 2 && slot < drives.EnclosureCount; ++slot) {
        if (!(refreshed & (1u << slot))) continue;
        const EnclosureReport report = ReportEnclosure(drives, slot, true);
        for (ProgramEvent& e : rules_.Observe(static_cast<int>(slot), SlotStatus(drives, slot), report.model, report.state)) {
            e.logLine = LogLineFor(e);
            program_.Post(std::move(e));
        }
    }
}

void EventFeed::Detection() {
    const DriveTable& drives = module_.drives();
    std::array<std::optional<std::string>, 2> models;
    for (unsigned slot = 0; slot < 2 && slot < drives.EnclosureCount; ++slot)
        models[slot] = ReportEnclosure(drives, slot, true).model;
    for (ProgramEvent& e : rules_.Detected(models)) program_.Post(std::move(e));
}

std::string EventFeed::LogLineFor(const ProgramEvent& event) const {
    const std::string tag = "D" + std::to_string(event.slot) + " ";
    const std::string disk = event.disk ? "HDD" + std::to_string(event.disk) : std::string();
    // A rebuild's or scan's own line ("D1 HDD1 --> HDD2 Done") before a
    // disk's line of the same pass.
    const bool rebuild = event.kind.rfind("rebuild", 0) == 0, scan = event.kind.rfind("scan", 0) == 0;
    std::string first;
    for (const std::string& line : passLines_) {
        if (line.compare(0, tag.size(), tag) != 0 || (!disk.empty() && line.find(disk) == std::string::npos)) continue;
        if ((rebuild && line.find("-->") != std::string::npos) || (scan && line.find(" Scan ") != std::string::npos))
            return line;
        if (first.empty()) first = line;
    }
    return first;
}

std::string TestEventOutcome(int code) { return "The event program ended with exit status " + std::to_string(code) + "."; }

std::string EventProgramProblem(const std::string& path) {
    // The window's working folder means nothing to the one who types it.
    if (!path.empty() && path.front() != '/') return "give its full path, beginning with /";
    return {};
}

ProgramEvent TestEvent(ProductVariant variant) {
    ProgramEvent event;
    event.kind = "test";
    event.message = BaseTitleFor(variant) + ": test event";
    event.state = "Normal";
    return event;
}

int RunTestEventCommand(const Options& options, ProductVariant variant, std::FILE* out) {
    if (options.eventProgram.empty()) {
        std::fprintf(stderr, "No event program is set: give --event-program PROGRAM, or EventProgram in the settings file.\n");
        return 2;
    }
    const int code = RunEventProgram(EventProgramFor(options, variant), TestEvent(variant));
    std::fprintf(out, "%s\n", TestEventOutcome(code).c_str());
    return code;
}

}  // namespace kestrel
