// A sequence of status records of one slot through the poll's acceptance,
// the event rules with the day's log file, and the Status page decisions.
// The input is cut into 512-byte records; the bytes after the last whole
// record (if any) choose the variant and the firmware's scan reporting.
//
// Properties: a rejected record leaves the kept one alone, an accepted one
// is kept as read but for the identity of a disk that just left service;
// every log line, in memory and in the file, is clean UTF-8 text and the
// file holds exactly the lines with CR LF at each end; alerts are only the
// kinds the rules raise, each with its cause in the record; the page's
// texts are clean (a label may have several lines).
#include <QDateTime>
#include <QFile>
#include <algorithm>
#include <cstring>

#include "eventlog/event_log.h"
#include "eventlog/log_clock.h"
#include "monitor/status_page.h"
#include "monitor/status_poll.h"
#include "platform/product_variant.h"
#include "wire/status_sector.h"
#include "fuzz_support.h"

using namespace kestrel;
using fuzz::Shown;

namespace {

class OneSlotShell final : public WindowState {
public:
    explicit OneSlotShell(ProductVariant variant) {
        model_.variant = variant;
        model_.deviceChecked = {true, false};
    }
    ShellModel& Model() override { return model_; }
    const ShellModel& Model() const override { return model_; }
    void Sync() override {}
    void SetDeviceChecked(int slot, bool checked) override { model_.deviceChecked[static_cast<size_t>(slot & 1)] = checked; }

private:
    ShellModel model_;
};

struct ComposedAlert {
    int kind, enclosure, disk;
};
class AlertLog final : public AlertSink {
public:
    void ComposeAlert(int kind, int enclosure, int disk) override { alerts.push_back({kind, enclosure, disk}); }
    std::vector<ComposedAlert> alerts;
};

// The controller's identify block as the demo enclosure gives it.
// Firmware 100126.1 reports scans and sensors; 090618.0 neither.
Block512 Identify(const char* revision) {
    Block512 b{};
    auto put = [&](size_t at, size_t length, const char* text) {
        for (size_t i = 0; i < length; ++i) b[at + (i ^ 1u)] = static_cast<uint8_t>(i < std::strlen(text) ? text[i] : ' ');
    };
    put(status::kIdentifyRevision, 8, revision);
    put(status::kIdentifyModel, 40, "Kestrel RAID Enclosure");
    b[status::kIdentifySignature] = '3';
    b[status::kIdentifySignature + 1] = 'X';
    return b;
}

// Where a member disk's identity lies: model, capacity (with the byte after
// it), serial.
std::array<std::pair<size_t, size_t>, 3> IdentityOf(int disk) {
    if (disk == 0) return {{{status::kDisk1Model, status::kModelLength}, {status::kDisk1Capacity, 6}, {status::kDisk1Serial, status::kSerialLength}}};
    return {{{status::kDisk2Model, status::kModelLength}, {status::kDisk2Capacity, 6}, {status::kDisk2Serial, status::kSerialLength}}};
}

void CheckLine(const std::string& line) { FUZZ_CHECK(fuzz::IsCleanLine(line), "log line: " + Shown(line)); }

// A label may hold several lines (the progress shows percent, arrow and
// activity on three).
void CheckPageText(const std::string& text) {
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        FUZZ_CHECK(fuzz::IsCleanLine(text.substr(start, end - start)), "page text: " + Shown(text));
    FUZZ_CHECK(fuzz::IsCleanLine(text.substr(start)), "page text: " + Shown(text));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::MakeApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const auto scratch = fuzz::ScratchDir();
    const size_t records = size / 512;
    if (records == 0 || records > 64) return -1;
    const uint8_t control = size % 512 ? data[records * 512] : 0;
    const ProductVariant variant = (control & 1) ? ProductVariant::Hybrid : ProductVariant::Raid;

    const QDateTime now(QDate(2026, 12, 8), QTime(10, 30, 15, 250));
    const std::string logDir = scratch->path().toStdString();
    QFile::remove(scratch->path() + "/" + QString::fromStdString(LogFileName(now)));

    DriveTable drives;
    drives.EnclosureFlags[0] = access::kScsiMailbox | 3;
    drives.EnclosureCount = 1;
    drives.KnownIdentify[3] = Identify((control & 2) ? "100126.1" : "090618.0");
    OneSlotShell shell(variant);
    AlertLog alerts;
    MemoryStatusBar bar;
    fuzz::QuietBoxes boxes;
    EventLog log(drives, alerts, bar,
                 EventLogConfig{.logDir = logDir,
                                .baseTitle = BaseTitleFor(variant),
                                .firstStatusPending = [&] { return shell.Model().firstStatusPending; },
                                .clock = [&] { return now; },
                                .echo = {},
                                .problems = {}});
    StatusPage page(variant, drives, shell, boxes);
    SchedulerFlags flags;
    Block512 next{};
    std::vector<StatusPageUpdate> drawn;
    StatusPoll poll(flags, drives, shell, bar,
                    StatusPollLinks{
                        .readStatus = [&](unsigned, Block512& b) { b = next; return true; },
                        .lastProgress = [&](int slot) { return log.LastProgress(static_cast<unsigned>(slot)); },
                        .listeners = {[&](const PollRound& round) { log.LogStatusChanges(round.records); },
                                      [&](const PollRound& round) {
                                          if (round.statusPageDue) drawn.push_back(page.DrawStatusPage(round.forcePage, round.records));
                                      }},
                    });

    size_t checkedLines = 0;
    for (size_t r = 0; r < records; ++r) {
        std::memcpy(next.data(), data + r * 512, 512);
        const Block512 before = drives.CurrentStatus[3];
        const uint8_t tracked = log.LastProgress(0);
        const size_t alertsBefore = alerts.alerts.size();
        const size_t linesBefore = log.LineCount();
        drawn.clear();
        poll.Run();
        const Block512& kept = drives.CurrentStatus[3];

        // Acceptance.
        if (next[status::kDiskState] == 0 && tracked != EnclosureMemory::kNoActivity) {
            FUZZ_CHECK(kept == before, "a record with DiskState 0 replaced the kept one during an activity");
        } else {
            Block512 expected = next;
            for (int disk = 0; disk < 2; ++disk) {
                const uint8_t present = static_cast<uint8_t>(status::kPresent << (4 * disk));
                if ((before[status::kDiskState] & present) && !(next[status::kDiskState] & present))
                    for (const auto& [at, length] : IdentityOf(disk))
                        std::copy_n(before.begin() + static_cast<long>(at), length, expected.begin() + static_cast<long>(at));
            }
            FUZZ_CHECK(kept == expected, "the accepted record is not the one read");
        }

        // Log lines: clean, and only ever appended within a day.
        FUZZ_CHECK(log.LineCount() >= linesBefore, "log lines lost");
        for (; checkedLines < log.LineCount(); ++checkedLines) CheckLine(log.Line(checkedLines));

        // Alerts and their causes.
        std::string added;
        for (size_t i = linesBefore; i < log.LineCount(); ++i) added += log.Line(i) + "\n";
        for (size_t a = alertsBefore; a < alerts.alerts.size(); ++a) {
            const ComposedAlert& alert = alerts.alerts[a];
            FUZZ_CHECK(alert.enclosure == 0, "alert for enclosure " + std::to_string(alert.enclosure));
            const uint8_t env = kept[status::kEnvFlags];
            const bool sensors = kept[status::kSensorSupport] == 0x11 && (env & 0xF0) == 0xA0;
            switch (alert.kind) {
            case 1:
                FUZZ_CHECK(alert.disk == 0 || alert.disk == 1, "disk " + std::to_string(alert.disk));
                FUZZ_CHECK(status::DiskNibble(kept[status::kDiskState], alert.disk) & status::kAbsent,
                           "HDD fail alert for a disk that is not absent");
                // A disk lost while the monitor ran has its removal line; one
                // already absent at the start is in the start-up block.
                FUZZ_CHECK(added.find(alert.disk == 0 ? "D1 HDD1 was removed, " : "D1 HDD2 was removed, ") !=
                                   std::string::npos ||
                               added.find(alert.disk == 0 ? "  HDD1 is absent. " : "  HDD2 is absent. ") !=
                                   std::string::npos,
                           "HDD fail alert without its removal line");
                break;
            case 3:
                FUZZ_CHECK(sensors && (env & status::kOverTemperature) && alert.disk == 0, "over heat alert");
                break;
            case 4:
                FUZZ_CHECK(sensors && (env & status::kFanFailure) && alert.disk == 0, "fan fail alert");
                break;
            default:
                FUZZ_CHECK(false, "alert kind " + std::to_string(alert.kind));
            }
        }

        // The page.
        for (const StatusPageUpdate& u : drawn) {
            FUZZ_CHECK(u.result >= -1, "page result " + std::to_string(u.result));
            for (const std::string* t : {&u.firmware, &u.fanSpeed, &u.temperature, &u.mode}) CheckPageText(*t);
            if (u.systemCapacity) CheckPageText(*u.systemCapacity);
            if (u.stateText) CheckPageText(*u.stateText);
            for (const DiskLabelUpdate& d : u.disks) {
                if (d.capacity) CheckPageText(*d.capacity);
                if (d.model) CheckPageText(*d.model);
            }
        }
    }

    // The file holds the lines, each ended by CR LF.
    QFile file(QString::fromStdString(log.LogFilePath(now)));
    FUZZ_CHECK(file.open(QIODevice::ReadOnly), "no log file");
    const QByteArray bytes = file.readAll();
    std::vector<std::string> lines;
    FUZZ_CHECK(fuzz::SplitCrLf(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())), lines),
               "CR or LF inside a line of the file");
    FUZZ_CHECK(lines == log.Lines(), "the file does not hold the log's lines");
    return 0;
}
