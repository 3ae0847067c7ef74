#include "eventlog/log_file.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace kestrel {

std::vector<std::string> SplitLogLines(const char* data, size_t size) {
    std::vector<std::string> lines;
    ForEachLogLine(data, size, [&](const char* text, size_t length, LineEnd) { lines.emplace_back(text, length); });
    return lines;
}

LogFileBytes ReadLogFileBytes(const std::string& path) {
    LogFileBytes content;
    const QString name = QString::fromLocal8Bit(path.c_str());
    const QFileInfo info(name);
    if (!info.exists()) return content;
    if (info.size() > kMaxLogFileBytes) {
        content.status = LogFileContent::Status::TooLarge;
        return content;
    }
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) {
        content.status = LogFileContent::Status::Unreadable;
        return content;
    }
    // Read up to one byte past the limit, in case the file grew since.
    content.bytes = file.read(kMaxLogFileBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        content.bytes.clear();
        content.status = LogFileContent::Status::Unreadable;
        return content;
    }
    if (content.bytes.size() > kMaxLogFileBytes) {
        content.bytes.clear();
        content.status = LogFileContent::Status::TooLarge;
        return content;
    }
    content.status = LogFileContent::Status::Loaded;
    return content;
}

std::string LogFileProblem(LogFileContent::Status status, const std::string& path) {
    return (status == LogFileContent::Status::TooLarge ? "Log file too large: " : "Cannot read log file ") + path;
}

LogFileContent ReadLogFile(const std::string& path) {
    const LogFileBytes file = ReadLogFileBytes(path);
    LogFileContent content;
    content.status = file.status;
    if (file.status == LogFileContent::Status::Loaded)
        content.lines = SplitLogLines(file.bytes.constData(), static_cast<size_t>(file.bytes.size()));
    return content;
}

bool WriteLogFile(const std::string& path, const std::vector<std::string>& lines) {
    size_t total = 0;
    for (const auto& line : lines) total += line.size() + 2;
    QByteArray bytes;
    bytes.reserve(static_cast<qsizetype>(total));
    for (const auto& line : lines) {
        bytes.append(line.data(), static_cast<qsizetype>(line.size()));
        bytes.append("\r\n", 2);
    }
    const QString name = QString::fromLocal8Bit(path.c_str());
    // A replacement cut short by a kill between linking its temporary file
    // and renaming it leaves "<name>.XXXXXX" behind; only one instance runs,
    // so any such file now is such a leftover.
    const QFileInfo target(name);
    QDir folder = target.dir();
    for (const QString& stale : folder.entryList({target.fileName() + ".??????"}, QDir::Files | QDir::Hidden))
        folder.remove(stale);
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly)) return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

}  // namespace kestrel
