#pragma once
// An event log over a temporary directory, a drive table the test fills with
// records, a clock the test sets, and sinks that remember alerts and echoed
// lines.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "eventlog/event_log.h"
#include "platform/headless_ui.h"
#include "support/status_builder.h"

namespace kestrel::testing {

struct RecordingAlerts final : AlertSink {
    void ComposeAlert(int kind, int enclosureIndex, int memberDisk) override {
        calls.emplace_back(kind, enclosureIndex, memberDisk);
    }
    std::vector<std::tuple<int, int, int>> calls;
};

inline std::string ReadBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return "<missing>";
    const QByteArray b = f.readAll();
    return std::string(b.constData(), static_cast<size_t>(b.size()));
}

inline void WriteBytes(const QString& path, const std::string& bytes) {
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

// The file form of a list of lines.
inline std::string Crlf(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& l : lines) out += l + "\r\n";
    return out;
}

inline const std::string kSep(83, '-');
inline const std::string kTitle = "RAID GUI V0.23.6 has started from ";

// Enclosure 0 on drive 3, enclosure 1 on drive 5.
inline constexpr unsigned kDrive0 = 3;
inline constexpr unsigned kDrive1 = 5;

struct LogFixture {
    explicit LogFixture(QString logDir = {}) {
        drives.EnclosureCount = 1;
        drives.EnclosureFlags = {access::kScsiMailbox | kDrive0, access::kBridgeCdb | kDrive1};
        drives.KnownIdentify[kDrive0] = IdentifyBlock("KESTREL RAID BOX", "100125.1");
        drives.KnownIdentify[kDrive1] = IdentifyBlock("KESTREL DUO", "100301.2");
        drives.CurrentStatus[kDrive0] = Record().diskState(0x22);
        drives.CurrentStatus[kDrive1] = Record().diskState(0x22);
        dirPath = logDir.isEmpty() ? dir.path() : logDir;
        Make();
    }
    void Make() {
        EventLogConfig config;
        config.logDir = dirPath.toStdString();
        config.baseTitle = "RAID GUI V0.23.6";
        config.firstStatusPending = [this] { return firstStatusPending; };
        config.clock = [this] { return now; };
        config.echo = [this](const std::string& line) { echoed.push_back(line); };
        config.problems = [this](const std::string& text) { problems.push_back(text); };
        log = std::make_unique<EventLog>(drives, alerts, bar, config);
    }

    Block512& Status(unsigned enclosure) { return drives.CurrentStatus[enclosure == 0 ? kDrive0 : kDrive1]; }
    // The firmware revision of an enclosure (its identify block).
    void Firmware(unsigned enclosure, const std::string& revision, const std::string& model = "KESTREL RAID BOX") {
        drives.KnownIdentify[enclosure == 0 ? kDrive0 : kDrive1] = IdentifyBlock(model, revision);
    }
    std::string Ts() const { return TimestampText(now); }
    QString FilePath() const { return QDir(dirPath).filePath(QString::fromStdString(LogFileName(now))); }
    std::string File() const { return ReadBytes(FilePath()); }

    // Runs a pass and returns the lines it added. The file must then hold
    // exactly the list.
    std::vector<std::string> Pass(uint8_t mask = 0x01) {
        const uint64_t epoch = log->Epoch();
        const size_t before = log->LineCount();
        log->LogStatusChanges(SlotStatuses(drives, mask));
        EXPECT_EQ(File(), Crlf(log->Lines()));
        const size_t from = log->Epoch() == epoch ? before : 0;  // a new list counts whole
        return std::vector<std::string>(log->Lines().begin() + static_cast<long>(from), log->Lines().end());
    }
    // Sets the record of enclosure 0 and runs a pass over it.
    std::vector<std::string> Pass(const Record& record, uint8_t mask = 0x01) {
        Status(0) = record;
        return Pass(mask);
    }
    // The first pass of the program, after which the status page is drawn.
    void Start(uint8_t mask = 0x01) {
        Pass(mask);
        firstStatusPending = false;
    }

    QTemporaryDir dir;
    QString dirPath;
    DriveTable drives;
    RecordingAlerts alerts;
    MemoryStatusBar bar;
    bool firstStatusPending = true;
    QDateTime now{QDate(2011, 2, 25), QTime(13, 4, 5)};
    std::vector<std::string> echoed;
    std::vector<std::string> problems;
    std::unique_ptr<EventLog> log;
};

}  // namespace kestrel::testing
