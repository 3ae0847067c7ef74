#pragma once
// The event log viewer's behaviour, without widgets. The viewer either
// mirrors today's event log (real time while monitoring runs, paused while
// it does not) or shows a log file the user chose, frozen until they return
// to real time. Each handler returns what the window has to change.
//
// Runs on the user-interface thread, like every writer of the event log.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "eventlog/event_log.h"
#include "eventlog/log_file.h"

namespace kestrel {

inline constexpr char kViewerDesignCaption[] = "Event Log";
inline constexpr char kViewerCaptionRealTime[] = "Event log - Real Time";
inline constexpr char kViewerCaptionPaused[] = "Event log - Real Time( Paused )";
inline constexpr char kViewerCaptionFilePrefix[] = "Event log - ";
inline constexpr char kOpenDialogFilter[] = "Log File (*.log)|*.log|All File|*.*";
inline constexpr int kViewerTickMs = 1000;

// The file dialog's choices from a filter of "description|patterns" pairs.
// A description without its own pattern list gets one; "*.*" means every
// file, with or without a dot.
QStringList DialogNameFilters(std::string_view filter);

// One line as the memo shows it: UTF-8 where the line is valid UTF-8,
// otherwise single-byte (Latin-1) like the device texts; control characters
// (TAB excepted) and line or paragraph separators become '?', so one line
// of the file stays one line of the memo.
QString DisplayLine(const char* data, size_t size);

enum class ViewerTone { WindowText, GrayText };

// Lines for the memo: each line followed by '\n', except a last line that
// ended without one in its file. lfLines holds the indexes (within these
// lines) of lines that ended with LF alone; every other line ends CR LF.
// A line longer than kMaxMemoLine characters (not a log line: some other
// file) is shown as several memo lines, so the memo never lays out one huge
// line; joinedLines holds the indexes of those that the next one continues
// without a line end.
struct MemoLines {
    QString text;
    size_t count = 0;
    std::vector<size_t> lfLines;
    std::vector<size_t> joinedLines;
};
inline constexpr qsizetype kMaxMemoLine = 4096;

struct ViewerUpdate {
    enum class Memo { Keep, Append, Replace };
    Memo memo = Memo::Keep;
    MemoLines lines;                     // for Append and Replace
    std::optional<std::string> caption;  // local 8-bit text
    std::optional<ViewerTone> tone;
    bool followEnd = false;              // mirrored lines: keep the newest in view
    std::string error;                   // a file that could not be shown
};

class LogViewer {
public:
    // monitoringActive: the monitoring-active bit of the scheduler flags.
    LogViewer(const EventLog& log, std::function<bool()> monitoringActive);

    // The window is shown: the lines present at creation, mirroring starts.
    ViewerUpdate Show();
    // Timer1: follows the event log while monitoring is active.
    ViewerUpdate Timer1Tick();
    // "Real Time Log": a full copy of the event log, mirroring again.
    ViewerUpdate RealTimeLog();
    // "View Log File", before the dialog: mirroring stops, also when the
    // dialog is then cancelled.
    void StopMirroring();
    // "View Log File" with a chosen file. A readable file is shown in steps
    // (NextFileChunk) so that a large one leaves the window responsive; the
    // returned update starts it. A file that cannot be read changes nothing
    // but the error text.
    ViewerUpdate ViewLogFile(const std::string& path);
    bool LoadingFile() const { return fileOffset_ < fileBytes_.size(); }
    ViewerUpdate NextFileChunk();

    bool Mirroring() const { return mirroring_; }
    size_t ShownLineCount() const { return shownLineCount_; }
    const std::string& ViewedLogPath() const { return viewedLogPath_; }

    // Bytes of a file per step: some 3,500 lines, a few tens of
    // milliseconds of memo work (see the viewer benchmark).
    static constexpr size_t kChunkBytes = 128 * 1024;

private:
    ViewerUpdate MirrorState() const;
    MemoLines LogLines(size_t from, size_t to) const;
    void DropFile();

    const EventLog& log_;
    std::function<bool()> monitoringActive_;
    size_t shownLineCount_ = 0;
    uint64_t shownEpoch_ = 0;
    bool mirroring_ = false;
    std::string viewedLogPath_;
    std::string fileBytes_;
    size_t fileOffset_ = 0;
};

}  // namespace kestrel
