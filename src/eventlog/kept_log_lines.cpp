#include "eventlog/kept_log_lines.h"

#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <charconv>

#include "eventlog/log_file.h"
#include "platform/file_replace.h"

namespace kestrel {

namespace {

// A block: "K <count> <log file>", then its lines, each ended by LF.
constexpr char kBlockMark[] = "K ";

std::vector<KeptLogLines> ReadBlocks(const std::string& keptFile, bool& readable) {
    std::vector<KeptLogLines> blocks;
    const LogFileBytes file = ReadLogFileBytes(keptFile);
    readable = file.status == LogFileContent::Status::Loaded || file.status == LogFileContent::Status::Missing;
    size_t expected = 0;
    ForEachLogLine(file.bytes.data(), file.bytes.size(), [&](const char* text, size_t length, LineEnd) {
        const std::string_view line(text, length);
        if (expected > 0) {
            blocks.back().lines.emplace_back(line);
            --expected;
            return;
        }
        if (line.substr(0, 2) != kBlockMark) return;
        const std::string_view rest = line.substr(2);
        size_t count = 0;
        const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), count);
        if (error != std::errc() || end == rest.data() + rest.size() || *end != ' ') return;
        blocks.push_back({std::string(end + 1, rest.data() + rest.size()), {}});
        expected = count;
    });
    return blocks;
}

std::string Encoded(const std::vector<KeptLogLines>& blocks) {
    std::string bytes;
    for (const KeptLogLines& block : blocks) {
        if (block.lines.empty()) continue;
        bytes += kBlockMark + std::to_string(block.lines.size()) + " " + block.logFile + "\n";
        for (const std::string& line : block.lines) bytes += line + "\n";
    }
    return bytes;
}

}  // namespace

std::string KeptLogLinesPath(const std::string& stateDir) { return stateDir + "/unwritten-log-lines"; }

std::string KeepLogLines(const std::string& keptFile, const std::vector<KeptLogLines>& more) {
    bool readable = true;
    std::vector<KeptLogLines> blocks = ReadBlocks(keptFile, readable);
    if (!readable) return "cannot read " + keptFile;
    blocks.insert(blocks.end(), more.begin(), more.end());
    const QString folder = QFileInfo(QString::fromLocal8Bit(keptFile.c_str())).absolutePath();
    if (!QDir().mkpath(folder)) return "cannot create " + folder.toLocal8Bit().toStdString();
    ReplaceOptions options;
    options.mode = 0600;
    options.regularOnly = true;
    return ReplaceFile(keptFile, Encoded(blocks), options).error;
}

KeptLinesWritten WriteKeptLogLines(const std::string& keptFile) {
    KeptLinesWritten outcome;
    bool readable = true;
    std::vector<KeptLogLines> blocks = ReadBlocks(keptFile, readable);
    if (blocks.empty()) return outcome;
    std::vector<KeptLogLines> left;
    for (KeptLogLines& block : blocks) {
        LogFileContent content = ReadLogFile(block.logFile);
        const bool usable = content.status == LogFileContent::Status::Loaded ||
                            content.status == LogFileContent::Status::Missing;
        content.lines.insert(content.lines.end(), block.lines.begin(), block.lines.end());
        if (usable && EnsureLogFolder(QFileInfo(QString::fromLocal8Bit(block.logFile.c_str())).absolutePath().toLocal8Bit().toStdString()) &&
            WriteLogFile(block.logFile, content.lines) == LogWriteStatus::Written) {
            outcome.written += block.lines.size();
        } else {
            outcome.waiting += block.lines.size();
            left.push_back(std::move(block));
        }
    }
    if (left.empty()) {
        ::unlink(keptFile.c_str());
    } else {
        ReplaceOptions options;
        options.mode = 0600;
        options.regularOnly = true;
        ReplaceFile(keptFile, Encoded(left), options);
    }
    return outcome;
}

}  // namespace kestrel
