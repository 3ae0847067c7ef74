#include "eventlog/log_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
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

bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Our temporary files: "<name>" + marker + six characters, a regular file
// owned by this user. A user's "<name>.backup" or a file of another user
// never matches.
void RemoveLeftoverTemporaries(const std::string& path) {
    const std::string folder = FolderOf(path);
    const std::string prefix = BaseName(path) + kLogTempMarker;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string full = folder + "/" + name;
        struct stat st {};
        if (::lstat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) continue;
        ::unlink(full.c_str());
    }
    ::closedir(dir);
}

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

    // A replacement cut short by a kill leaves its temporary file behind.
    RemoveLeftoverTemporaries(path);

    struct stat old {};
    const bool replacing = ::lstat(path.c_str(), &old) == 0;
    if (replacing && !S_ISREG(old.st_mode)) return LogWriteStatus::NotRegular;
    if (!replacing && errno != ENOENT && errno != ENOTDIR) return LogWriteStatus::Failed;

    std::string temp;
    Fd file;
    for (int attempt = 0; attempt < 16 && file.fd < 0; ++attempt) {
        static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        temp = path + kLogTempMarker;
        for (int i = 0; i < 6; ++i) temp += kChars[QRandomGenerator::global()->bounded(62)];
        file.fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (file.fd < 0 && errno != EEXIST) return LogWriteStatus::Failed;
    }
    if (file.fd < 0) return LogWriteStatus::Failed;
    // A replaced file keeps its mode; a new one gets the usual one.
    const bool written = (!replacing || ::fchmod(file.fd, old.st_mode & 07777) == 0) && WriteAll(file.fd, bytes) &&
                         ::fsync(file.fd) == 0;
    if (!written || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return LogWriteStatus::Failed;
    }
    return LogWriteStatus::Written;
}

bool EnsureLogFolder(const std::string& dir) {
    const QString name = QString::fromLocal8Bit(dir.c_str());
    if (QFileInfo(name).isDir()) return true;
    return QDir().mkpath(name) && QFileInfo(name).isDir();
}

}  // namespace kestrel
