#pragma once
// Day-log lines that could not be written when the program stopped (a full
// disk, a log folder gone) wait in a file of the program's state folder,
// each with the log file it belongs to, and are added to that file at the
// next start.
#include <string>
#include <vector>

namespace kestrel {

struct KeptLogLines {
    std::string logFile;
    std::vector<std::string> lines;
};

// The waiting file in a state folder.
std::string KeptLogLinesPath(const std::string& stateDir);

// Adds blocks after those already waiting; "" or why they could not be kept.
std::string KeepLogLines(const std::string& keptFile, const std::vector<KeptLogLines>& blocks);

struct KeptLinesWritten {
    size_t written = 0;  // lines now in their log files
    size_t waiting = 0;  // lines that still could not be written, still kept
};
// Appends every waiting block to its log file; what is written leaves the
// waiting file, what is not stays for the next start.
KeptLinesWritten WriteKeptLogLines(const std::string& keptFile);

}  // namespace kestrel
