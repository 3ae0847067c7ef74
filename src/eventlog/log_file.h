#pragma once
// The day's log file: plain single-byte text, one line per event log line,
// each line ended by CR LF. Read whole and replaced whole; the replacement
// is atomic, so the file always holds one complete version.
#include <cstdint>
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

// Lines end at CR LF or LF; every other byte, NUL and lone CR included, is
// kept as it is.
LogFileContent ReadLogFile(const std::string& path);
std::vector<std::string> SplitLogLines(const char* data, size_t size);

// Writes a temporary file beside path and renames it over path. Returns
// false, leaving any earlier file untouched, when that fails.
bool WriteLogFile(const std::string& path, const std::vector<std::string>& lines);

}  // namespace kestrel
