// An existing day log file as the first pass after start-up reads it: the
// old lines are loaded, the start-up lines and the device block appended,
// and the file written back. The input is the old file.
//
// Properties: the rewritten file begins with the old file's bytes, with
// nothing changed but LF line ends made CR LF and a missing final line end
// added; the lines in memory are the old lines followed by the new ones;
// every new line is clean UTF-8 text, and the part after the old content
// is lines each ended by CR LF.
#include <QFile>
#include <cstring>

#include "eventlog/event_log.h"
#include "eventlog/log_clock.h"
#include "eventlog/log_file.h"
#include "wire/status_sector.h"
#include "fuzz_support.h"

using namespace kestrel;
using fuzz::Shown;

namespace {

class NoAlerts final : public AlertSink {
public:
    void ComposeAlert(int, int, int) override {}
};

// Old content as it must come back: every LF preceded by CR, and a line
// end after the last line.
std::string Normalised(std::string_view old) {
    std::string out;
    for (size_t i = 0; i < old.size(); ++i) {
        if (old[i] == '\n' && (i == 0 || old[i - 1] != '\r')) out.push_back('\r');
        out.push_back(old[i]);
    }
    if (!old.empty() && old.back() != '\n') out += "\r\n";
    return out;
}

void PutAta(Block512& b, size_t at, size_t length, const char* text) {
    for (size_t i = 0; i < length; ++i) b[at + (i ^ 1u)] = static_cast<uint8_t>(i < std::strlen(text) ? text[i] : ' ');
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::MakeApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const auto scratch = fuzz::ScratchDir();
    const QDateTime now(QDate(2026, 12, 8), QTime(9, 5, 0, 0));
    const QString path = scratch->path() + "/" + QString::fromStdString(LogFileName(now));
    {
        QFile f(path);
        FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate), path.toStdString());
        f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    const std::string_view old(reinterpret_cast<const char*>(data), size);

    DriveTable drives;
    drives.EnclosureFlags[0] = access::kScsiMailbox | 2;
    drives.EnclosureCount = 1;
    PutAta(drives.KnownIdentify[2], status::kIdentifyRevision, 8, "100126.1");
    PutAta(drives.KnownIdentify[2], status::kIdentifyModel, 40, "Kestrel RAID Enclosure");
    Block512& s = drives.CurrentStatus[2];
    s[status::kDiskState] = status::kBothPresent;
    PutAta(s, status::kDisk1Model, 40, "WDC WD20EFRX-68EUZN0");
    PutAta(s, status::kDisk2Model, 40, "ST2000VN004-2E4164");
    PutAta(s, status::kDisk1Serial, 20, "WD-WCC4M1234567");
    PutAta(s, status::kDisk2Serial, 20, "Z4Z12345");
    s[status::kDisk1Capacity + 3] = 0xE8;
    s[status::kDisk2Capacity + 3] = 0xE8;

    NoAlerts alerts;
    MemoryStatusBar bar;
    EventLog log(drives, alerts, bar,
                 EventLogConfig{.logDir = scratch->path().toStdString(),
                                .baseTitle = "RAID GUI V0.23.6",
                                .firstStatusPending = [] { return true; },
                                .clock = [&] { return now; },
                                .echo = {},
                                .problems = {}});
    log.LogStatusChanges(SlotStatuses(drives, 1));

    const std::vector<std::string> oldLines = SplitLogLines(old.data(), old.size());
    FUZZ_CHECK(log.LineCount() > oldLines.size(), "no lines added");
    for (size_t i = 0; i < oldLines.size(); ++i) FUZZ_CHECK(log.Line(i) == oldLines[i], "old line " + std::to_string(i));
    for (size_t i = oldLines.size(); i < log.LineCount(); ++i)
        FUZZ_CHECK(fuzz::IsCleanLine(log.Line(i)), "new line " + Shown(log.Line(i)));

    QFile f(path);
    FUZZ_CHECK(f.open(QIODevice::ReadOnly), "log file gone");
    const QByteArray bytes = f.readAll();
    const std::string_view file(bytes.constData(), static_cast<size_t>(bytes.size()));
    const std::string expectedOld = Normalised(old);
    FUZZ_CHECK(file.substr(0, expectedOld.size()) == expectedOld, "the old content changed");
    std::vector<std::string> newLines;
    FUZZ_CHECK(fuzz::SplitCrLf(file.substr(expectedOld.size()), newLines), "new lines not ended by CR LF");
    FUZZ_CHECK(newLines.size() == log.LineCount() - oldLines.size(), "new lines in the file");
    FUZZ_CHECK(bar.Panel(4).empty(), "a problem: " + Shown(bar.Panel(4)));
    return 0;
}
