#include "eventlog/log_file.h"

#include "platform/file_replace.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>

namespace kestrel {

namespace {

// Closes a descriptor when it goes out of scope.
struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

std::vector<std::string> SplitLogLines(const char* data, size_t size) {
    std::vector<std::string> lines;
    ForEachLogLine(data, size, [&](const char* text, size_t length, LineEnd) { lines.emplace_back(text, length); });
    return lines;
}

LogFileKind InspectLogFile(const std::string& path) {
    struct stat st {};
    // No file, or no folder for it (created when the file is written).
    if (::lstat(path.c_str(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? LogFileKind::Missing : LogFileKind::NotRegular;
    return S_ISREG(st.st_mode) ? LogFileKind::Regular : LogFileKind::NotRegular;
}

LogFileBytes ReadLogFileBytes(const std::string& path) {
    LogFileBytes content;
    // No link is followed, and a FIFO does not block the open.
    Fd file{::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)};
    if (file.fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return content;
        content.status = errno == ELOOP ? LogFileContent::Status::NotRegular : LogFileContent::Status::Unreadable;
        return content;
    }
    struct stat st {};
    if (::fstat(file.fd, &st) != 0) {
        content.status = LogFileContent::Status::Unreadable;
        return content;
    }
    if (!S_ISREG(st.st_mode)) {
        content.status = LogFileContent::Status::NotRegular;
        return content;
    }
    if (st.st_size > kMaxLogFileBytes) {
        content.status = LogFileContent::Status::TooLarge;
        return content;
    }
    // Read up to one byte past the limit, in case the file grew since.
    std::string& bytes = content.bytes;
    bytes.resize(static_cast<size_t>(st.st_size) + 1);
    size_t got = 0;
    for (;;) {
        if (got == bytes.size()) {
            if (bytes.size() > static_cast<size_t>(kMaxLogFileBytes)) break;
            bytes.resize(std::min(bytes.size() * 2, static_cast<size_t>(kMaxLogFileBytes) + 1));
        }
        const ssize_t n = ::read(file.fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            bytes.clear();
            content.status = LogFileContent::Status::Unreadable;
            return content;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    if (got > static_cast<size_t>(kMaxLogFileBytes)) {
        bytes.clear();
        content.status = LogFileContent::Status::TooLarge;
        return content;
    }
    bytes.resize(got);
    content.status = LogFileContent::Status::Loaded;
    return content;
}

std::string LogFileProblem(LogFileContent::Status status, const std::string& path) {
    switch (status) {
        case LogFileContent::Status::TooLarge: return "Log file too large: " + path;
        case LogFileContent::Status::NotRegular: return "Log file is not a regular file: " + path;
        default: return "Cannot read log file " + path;
    }
}

LogFileContent ReadLogFile(const std::string& path) {
    const LogFileBytes file = ReadLogFileBytes(path);
    LogFileContent content;
    content.status = file.status;
    if (file.status == LogFileContent::Status::Loaded) content.lines = SplitLogLines(file.bytes.data(), file.bytes.size());
    return content;
}



LogWriteStatus WriteLogFile(const std::string& path, const std::vector<std::string>& lines) {
    size_t total = 0;
    for (const auto& line : lines) total += line.size() + 2;
    std::string bytes;
    bytes.reserve(total);
    for (const auto& line : lines) {
        bytes += line;
        bytes += "\r\n";
    }
    ReplaceOptions options;
    options.regularOnly = true;
    const ReplaceResult result = ReplaceFile(path, bytes, options);
    if (result) return LogWriteStatus::Written;
    return result.status == ReplaceStatus::NotRegular ? LogWriteStatus::NotRegular : LogWriteStatus::Failed;
}

bool EnsureLogFolder(const std::string& dir) {
    const QString name = QString::fromLocal8Bit(dir.c_str());
    if (QFileInfo(name).isDir()) return true;
    return QDir().mkpath(name) && QFileInfo(name).isDir();
}

}  // namespace kestrel
