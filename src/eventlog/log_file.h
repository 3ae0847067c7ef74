#pragma once
// The day's log file: plain text, one line per event log line, each line
// ended by CR LF. Read whole and replaced whole; the replacement is atomic,
// so the file always holds one complete version.
//
// The program usually runs as root and the log folder may be writable by
// others: a log file is never opened through a symbolic link, and anything
// at its name that is not a regular file (a link, a FIFO, a device, a
// folder) is neither read nor replaced.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/file_replace.h"

namespace kestrel {

struct LogFileContent {
    enum class Status { Loaded, Missing, Unreadable, TooLarge, NotRegular };
    Status status = Status::Missing;
    std::vector<std::string> lines;
};

// A day's log is small (a line every few seconds at most); anything larger
// is not a file this program wrote, and is left alone rather than read.
inline constexpr int64_t kMaxLogFileBytes = 64 * 1024 * 1024;

// What is at a log file's name, looked at without following a link.
enum class LogFileKind { Missing, Regular, NotRegular };
LogFileKind InspectLogFile(const std::string& path);

// How a line ended in its file; None only for a last line without an end.
enum class LineEnd : uint8_t { CrLf, Lf, None };

// Calls line(text, length, end) for each line of data. Lines end at CR LF or
// LF; every other byte, NUL and lone CR included, belongs to the line.
template <class LineFn>
void ForEachLogLine(const char* data, size_t size, LineFn&& line) {
    size_t start = 0;
    while (start < size) {
        const void* lf = std::memchr(data + start, '\n', size - start);
        if (!lf) {
            line(data + start, size - start, LineEnd::None);
            return;
        }
        const size_t at = static_cast<size_t>(static_cast<const char*>(lf) - data);
        const bool cr = at > start && data[at - 1] == '\r';
        line(data + start, at - start - (cr ? 1 : 0), cr ? LineEnd::CrLf : LineEnd::Lf);
        start = at + 1;
    }
}

// The whole file as bytes, refused above kMaxLogFileBytes.
struct LogFileBytes {
    LogFileContent::Status status = LogFileContent::Status::Missing;
    std::string bytes;
};
LogFileBytes ReadLogFileBytes(const std::string& path);
// The status bar or message text for a file that could not be read.
std::string LogFileProblem(LogFileContent::Status status, const std::string& path);

LogFileContent ReadLogFile(const std::string& path);
std::vector<std::string> SplitLogLines(const char* data, size_t size);

enum class LogWriteStatus { Written, NotRegular, Failed };

// Writes a temporary file beside path and renames it over path. Leaves any
// earlier file untouched when that fails, and refuses to replace anything
// but a regular file. Also removes the temporary files of this name that a
// killed earlier write left behind (and no other file).
LogWriteStatus WriteLogFile(const std::string& path, const std::vector<std::string>& lines);

// The name of the temporary files of WriteLogFile: path + this marker + six
// characters.
inline constexpr const char* kLogTempMarker = kReplaceTempMarker;

// Creates the folder of the log files with its parents when it is missing.
bool EnsureLogFolder(const std::string& dir);

}  // namespace kestrel
