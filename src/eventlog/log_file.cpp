#include "eventlog/log_file.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace kestrel {

std::vector<std::string> SplitLogLines(const char* data, size_t size) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] != '\n') continue;
        size_t end = i;
        if (end > start && data[end - 1] == '\r') --end;
        lines.emplace_back(data + start, end - start);
        start = i + 1;
    }
    if (start < size) lines.emplace_back(data + start, size - start);  // last line without an end
    return lines;
}

LogFileContent ReadLogFile(const std::string& path) {
    LogFileContent content;
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
    const QByteArray bytes = file.read(kMaxLogFileBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        content.status = LogFileContent::Status::Unreadable;
        return content;
    }
    if (bytes.size() > kMaxLogFileBytes) {
        content.status = LogFileContent::Status::TooLarge;
        return content;
    }
    content.lines = SplitLogLines(bytes.constData(), static_cast<size_t>(bytes.size()));
    content.status = LogFileContent::Status::Loaded;
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
