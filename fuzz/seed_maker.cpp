// Writes the seed corpora of the fuzz targets into fuzz/corpus/ from the
// project's own fixtures: the demo scenario's enclosures as the transport
// reads them while its timeline runs, the day log those records produce,
// settings as the E-mail page stores them, and a few hand-made replies.
// Run by hand after a fixture changes: build-fuzz/fuzz/seed_maker fuzz/corpus
#include <QDir>
#include <QFile>
#include <cstdio>

#include "device/detection.h"
#include "device/status_reader.h"
#include "device/transport.h"
#include "eventlog/event_log.h"
#include "eventlog/log_clock.h"
#include "maintenance/firmware_image.h"
#include "notify/alert_text_files.h"
#include "notify/mail_settings_store.h"
#include "notify/password_scramble.h"
#include "platform/registry_key.h"
#include "sim/scenario.h"
#include "sim/simulated_pc.h"
#include "fuzz_support.h"

using namespace kestrel;

namespace {

QString root;

void Seed(const char* target, const std::string& name, const std::string& bytes) {
    const QString folder = root + "/" + target;
    QDir().mkpath(folder);
    QFile f(folder + "/" + QString::fromStdString(name));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(f.fileName()));
        std::exit(1);
    }
    f.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

std::string Bytes(const Block512& b) { return std::string(reinterpret_cast<const char*>(b.data()), b.size()); }
std::string Bytes(std::initializer_list<int> list) {
    std::string s;
    for (int v : list) s.push_back(static_cast<char>(v));
    return s;
}

std::string ReadAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll().toStdString();
}

struct DemoRecords {
    std::vector<std::vector<Block512>> records;  // per slot, one per poll
    std::vector<Block512> identify;              // per slot
};

// The demo PC polled every 4 s over its timeline, through the transport.
DemoRecords PollDemo() {
    const sim::ScenarioLoad load = sim::BuiltInScenario();
    sim::SimulatedPc pc(*load.scenario);
    fuzz::QuietBoxes boxes;
    MemoryStatusBar bar;
    TransportOptions options;
    options.pause = [](std::chrono::milliseconds) {};
    Transport transport(pc, boxes, bar, options);
    StatusReader reader(transport);
    DriveTable drives;
    DriveDetection detection(drives, transport, pc, reader);
    drives.LogicalDriveCount = detection.EnumerateLogicalDrives();
    drives.PhysicalDriveCount = detection.CountPhysicalDrives();
    detection.Redetect(true);
    detection.CommitDetection(true, nullptr);
    DemoRecords demo;
    demo.records.resize(drives.EnclosureCount);
    for (unsigned slot = 0; slot < drives.EnclosureCount; ++slot) demo.identify.push_back(drives.IdentifyOfSlot(slot));
    for (int ms = 0; ms <= 90000; ms += 4000) {
        pc.AdvanceTo(std::chrono::milliseconds(ms));
        for (unsigned slot = 0; slot < drives.EnclosureCount; ++slot) {
            drives.SelectedEnclosure = slot;
            Block512 b{};
            if (reader.ReadStatus(drives, {}, b)) demo.records[slot].push_back(b);
        }
    }
    return demo;
}

class NoAlerts final : public AlertSink {
public:
    void ComposeAlert(int, int, int) override {}
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: seed_maker CORPUS-FOLDER\n");
        return 2;
    }
    fuzz::MakeApplication(&argc, &argv);
    root = argv[1];
    const DemoRecords demo = PollDemo();

    // Status records: each enclosure's polls in runs of eight, and the
    // hybrid variant with scan reporting on one of them.
    for (size_t slot = 0; slot < demo.records.size(); ++slot) {
        const auto& polls = demo.records[slot];
        for (size_t first = 0; first < polls.size(); first += 8) {
            std::string input;
            for (size_t i = first; i < std::min(first + 8, polls.size()); ++i) input += Bytes(polls[i]);
            Seed("fuzz_status_records", "demo-slot" + std::to_string(slot) + "-" + std::to_string(first / 8), input);
            if (first == 8) Seed("fuzz_status_records", "demo-hybrid-slot" + std::to_string(slot), input + "\x03");
        }
    }

    // Detection: drives that all open and answer with the signature; the
    // record search over a few flash layouts.
    Seed("fuzz_detection", "signature-everywhere", std::string(1, '\0') + std::string(64, '\x01') + std::string(200, '\x08'));
    Seed("fuzz_detection", "bridge-fixed-reply", std::string(1, '\0') + std::string(32, '\x07') + std::string(300, '\x00'));
    Seed("fuzz_detection", "search-erased", std::string("\x01\x00", 2) + std::string(32, '\xFF'));
    Seed("fuzz_detection", "search-third-written", "\x01\x01" + std::string(2, '\xFF') + std::string(5, '\x20') + std::string(25, '\xFF'));
    Seed("fuzz_detection", "search-full", std::string("\x01\x00", 2) + std::string(32, '\x20'));

    // Sense: descriptor sense with an ATA Status Return descriptor, fixed
    // sense marked as carrying the registers, and an ILLEGAL REQUEST.
    const std::string good = Bytes({0x02, 0, 0, 0, 0x08, 0, 0, 0, 0, 0x02, 0x00});
    Seed("fuzz_sense", "descriptor-status-return",
         good + Bytes({0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 14, 0x09, 0x0C, 0, 0x00, 0, 0x01, 0, 0x00, 0, 0x4F, 0, 0xC2,
                       0xE0, 0x50}));
    Seed("fuzz_sense", "fixed-ata-information",
         good + Bytes({0x70, 0, 0x01, 0x00, 0x50, 0xE0, 0x01, 10, 0, 0, 0, 0x00, 0x00, 0x1D, 0, 0, 0, 0}));
    Seed("fuzz_sense", "fixed-illegal-request",
         good + Bytes({0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0x00, 0, 0, 0, 0}));

    // Firmware image descriptions: the simulated enclosure's own image
    // (head and configuration record), a short file, read errors.
    const Block512& identify = demo.identify.empty() ? Block512{} : demo.identify[0];
    std::string record = Bytes(demo.records.empty() ? Block512{} : demo.records[0].front()).substr(0, 256);
    record[1] = static_cast<char>(kAcceptedConfigVersion);
    const std::string head = "FIPS" + std::string(12, '\0') + Bytes({0x00, 0x80, 0x07});
    Seed("fuzz_firmware_image", "valid", Bytes({0x00, 0x00, 0x00, 0x00}) + head + std::string(256 - head.size(), '\xFF') + record);
    Seed("fuzz_firmware_image", "just-short", Bytes({0x22, 0x00, 0x00, 0x00}) + head + record);
    Seed("fuzz_firmware_image", "read-errors", Bytes({0x20, 0x09, 0x00, 0x00}) + head + record);
    Seed("fuzz_firmware_image", "larger", Bytes({0x25, 0x00, 0x10, 0x03}) + head + record);
    (void)identify;

    // Settings: as the E-mail page stores them, and a damaged file.
    {
        const QString folder = root + "/../settings-scratch";
        QDir().mkpath(folder);
        const std::string file = (folder + "/kestrel-raid-gui.ini").toStdString();
        {
            RegistryKey key(file);
            MailFlags flags;
            MemoryStatusBar bar;
            fuzz::QuietBoxes boxes;
            MailSettingsStore store(key, flags, bar, boxes, [] {});
            store.Startup();
            MailPageFields page;
            page.fields = {"587", "mail.example.org", "Backup PC", "backup@example.org", "30", "s3cret"};
            page.fieldChanged = 0x3F;
            page.authentication = true;
            page.addresses = {"admin@example.org", "ops@example.org"};
            page.subjects = {"Disk failure", "Enclosure removed"};
            page.contents = {std::vector<std::string>{"Replace the disk.", "Then let it rebuild."},
                             std::vector<std::string>{"Plug it back in."}};
            store.SaveMailSettings(page);
            key.Close();
        }
        const std::string ini = ReadAll(QString::fromStdString(file));
        Seed("fuzz_settings", "stored-by-page", std::string(1, '\0') + ini);
        Seed("fuzz_settings", "no-emailsend", std::string(1, '\0') + "[KESTREL_RAID_GUI]\nPort=25\nSMTP=mail.example.org\nToAddrCount=1\nToAddr_00=a@example.org\n");
        Seed("fuzz_settings", "damaged", std::string(1, '\0') + "[KESTREL_RAID_GUI\nPort=25\n\x01\x02");
        Seed("fuzz_settings", "product-id-auth",
             "\x01" + [] { auto v = ScramblePassword("s3cret", 0x5A, true); return std::string(v.begin(), v.end()); }());
        Seed("fuzz_settings", "product-id-empty",
             "\x01" + [] { auto v = ScramblePassword("", 0, false); return std::string(v.begin(), v.end()); }());
        const std::string subject = ReadAll(folder + "/" + QString::fromStdString(SubjectFileName(1)));
        const std::string contents = ReadAll(folder + "/" + QString::fromStdString(ContentsFileName(1)));
        Seed("fuzz_alert_texts", "subject", subject);
        Seed("fuzz_alert_texts", "contents", contents);
        Seed("fuzz_alert_texts", "mixed-line-ends", "first\r\nsecond\nthird\rfourth");
        QDir(folder).removeRecursively();

        // The mail: a pulled disk of the demo, with these texts.
        if (!demo.records.empty() && demo.records[0].size() > 5) {
            auto field = [](const std::string& s) { return std::string(1, static_cast<char>(s.size())) + s; };
            const std::string fields = field("Backup PC") + field("backup@example.org") + field("admin@example.org") +
                                       field("ops@example.org") + field(subject) + "\xFF" + contents;
            Seed("fuzz_alert_mail", "hdd-fail", "\x04" + Bytes(demo.records[0][5]) + Bytes(demo.identify[0]) + fields);
            Seed("fuzz_alert_mail", "fan-fail", "\x03" + Bytes(demo.records[1].back()) + Bytes(demo.identify[1]) + fields);
        }
    }

    // The day log those polls write.
    if (!demo.records.empty()) {
        const QString folder = root + "/../log-scratch";
        QDir().mkpath(folder);
        DriveTable drives;
        drives.EnclosureFlags[0] = access::kScsiMailbox | 1;
        drives.EnclosureCount = 1;
        drives.KnownIdentify[1] = demo.identify[0];
        NoAlerts alerts;
        MemoryStatusBar bar;
        const QDateTime now(QDate(2026, 12, 7), QTime(18, 0, 0));
        bool first = true;
        EventLog log(drives, alerts, bar,
                     EventLogConfig{.logDir = folder.toStdString(), .baseTitle = "RAID GUI V0.23.6",
                                    .firstStatusPending = [&] { return first; }, .clock = [&] { return now; },
                                    .echo = {}, .problems = {}});
        for (const Block512& b : demo.records[0]) {
            drives.CurrentStatus[1] = b;
            log.LogStatusChanges(SlotStatuses(drives, 1));
            first = false;
        }
        const std::string day = ReadAll(folder + "/" + QString::fromStdString(LogFileName(now)));
        Seed("fuzz_day_log", "demo-day", day);
        std::string lf = day;
        for (size_t at; (at = lf.find("\r\n")) != std::string::npos;) lf.erase(at, 1);
        Seed("fuzz_day_log", "demo-day-lf", lf);
        QDir(folder).removeRecursively();
    }

    // Scenarios: the demo.
    Seed("fuzz_scenario", "demo.json", std::string(sim::BuiltInScenarioText()));
    return 0;
}
