#include "platform/file_replace.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

namespace kestrel {

namespace {

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Because(const std::string& what, const std::string& path, int error) {
    return what + " " + path + ": " + std::strerror(error);
}

// A replacement cut short by a kill leaves its temporary file behind: ours
// are "<name>" + marker + six characters, regular files of this user. A
// user's "<name>.backup" or another user's file never matches.
void RemoveLeftoverTemporaries(const std::string& path) {
    const std::string folder = FolderOf(path);
    const std::string prefix = BaseName(path) + kReplaceTempMarker;
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

bool WriteAll(int fd, std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) {
            errno = EIO;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

FileReplacement::FileReplacement(std::string path, ReplaceOptions options)
    : path_(std::move(path)), options_(options) {}

FileReplacement::~FileReplacement() {
    if (!temp_.empty()) ::unlink(temp_.c_str());
}

ReplaceResult FileReplacement::Prepare(std::string_view bytes) {
    ReplaceResult result;
    if (!temp_.empty()) ::unlink(temp_.c_str());
    temp_.clear();
    RemoveLeftoverTemporaries(path_);

    struct stat old {};
    const bool replacing = ::lstat(path_.c_str(), &old) == 0;
    if (!replacing && errno != ENOENT) {
        result.error = Because("cannot look at", path_, errno);
        return result;
    }
    const bool oldRegular = replacing && S_ISREG(old.st_mode);
    if (replacing && !oldRegular && options_.regularOnly) {
        result.status = ReplaceStatus::NotRegular;
        result.error = path_ + " is not a regular file";
        return result;
    }

    int fd = -1;
    std::string temp;
    std::random_device seed;
    std::mt19937 pick(seed());
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        temp = path_ + kReplaceTempMarker;
        for (int i = 0; i < 6; ++i) temp += kChars[pick() % 62];
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        result.error = Because("cannot write beside", path_, errno);
        return result;
    }
    int mode = options_.mode;
    if (mode < 0 && oldRegular) mode = static_cast<int>(old.st_mode & 07777);
    bool ok = mode < 0 || ::fchmod(fd, static_cast<mode_t>(mode)) == 0;
    if (ok && options_.keepOwner && oldRegular && (old.st_uid != ::geteuid() || old.st_gid != ::getegid()))
        ok = ::fchown(fd, old.st_uid, old.st_gid) == 0;
    ok = ok && WriteAll(fd, bytes) && ::fsync(fd) == 0;
    int error = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        result.error = Because("cannot write", path_, error);
        return result;
    }
    temp_ = temp;
    result.status = ReplaceStatus::Replaced;
    return result;
}

ReplaceResult FileReplacement::Commit() {
    ReplaceResult result;
    if (temp_.empty()) {
        result.error = "nothing prepared for " + path_;
        return result;
    }
    if (::rename(temp_.c_str(), path_.c_str()) != 0) {
        result.error = Because("cannot replace", path_, errno);
        ::unlink(temp_.c_str());
        temp_.clear();
        return result;
    }
    temp_.clear();
    result.status = ReplaceStatus::Replaced;
    return result;
}

ReplaceResult ReplaceFile(const std::string& path, std::string_view bytes, ReplaceOptions options) {
    FileReplacement replacement(path, options);
    ReplaceResult prepared = replacement.Prepare(bytes);
    if (!prepared) return prepared;
    return replacement.Commit();
}

}  // namespace kestrel
