#pragma once
// The day's log file: plain single-byte text, one line per event log line,
// each line ended by CR LF. Read whole and replaced whole; the replacement
// is atomic, so the file always holds one complete version.
#include <QByteArray>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace kestrel {

struct LogFileContent {
    enum class Status { Loaded, Missing, Unreadable, TooLarge };
    Status status = Status::Missing;
    std::vector<std::string> lines;
};

// A day's log is small (a line every few seconds at most); anything larger
// is not a file this program wrote, and is left alone rather than read.
inline constexpr int64_t kMaxLogFileBytes = 64 * 1024 * 1024;

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
    QByteArray bytes;
};
LogFileBytes ReadLogFileBytes(const std::string& path);
// The status bar or message text for a file that could not be read.
std::string LogFileProblem(LogFileContent::Status status, const std::string& path);

LogFileContent ReadLogFile(const std::string& path);
std::vector<std::string> SplitLogLines(const char* data, size_t size);

// Writes a temporary file beside path and renames it over path. Returns
// false, leaving any earlier file untouched, when that fails.
bool WriteLogFile(const std::string& path, const std::vector<std::string>& lines);

}  // namespace kestrel
