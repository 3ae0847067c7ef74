#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

namespace kestrel {

namespace {

// Byte 0 carries a lock of the open file (exclusive even between two
// objects of one process, and kept whatever else the process closes);
// byte 1 a record lock of the process, which is what tells other
// processes the holder's id.
constexpr off_t kFileLockByte = 0;
constexpr off_t kProcessLockByte = 1;
constexpr int kRetryMs = 50;

struct flock Range(short type, off_t start) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = start;
    fl.l_len = 1;
    return fl;
}

}  // namespace

SingleInstance::SingleInstance(const std::string& name, const std::string& directory, bool shared)
    : path_(directory + "/" + name + ".lock"), shared_(shared) {}

SingleInstance::~SingleInstance() {
    Release();
    if (fd_ >= 0) ::close(fd_);
}

bool SingleInstance::Open() {
    if (fd_ >= 0) return writable_;
    int denied = 0;
    // A new lock file may be used by every member of the folder's group.
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0664);
    if (fd_ >= 0) {
        ::fchmod(fd_, 0664);
    } else if (errno == EEXIST) {
        fd_ = ::open(path_.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0 && (errno == EACCES || errno == EPERM)) {
            // Without the right to lock it, the holder can still be asked.
            denied = errno;
            fd_ = ::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            if (fd_ < 0) errno = denied;
        }
    }
    if (fd_ < 0) {
        refusedErrno_ = errno;
        return false;
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        refusedErrno_ = EINVAL;
        return false;
    }
    writable_ = denied == 0;
    refusedErrno_ = denied;
    if (!writable_ && shared_ && st.st_uid != 0 && st.st_uid != ::geteuid())
        refusedReason_ = "it belongs to user " + std::to_string(st.st_uid) +
                         ", who could remove it; only root's lock file or this user's own is used here";
    if (writable_ && shared_ && st.st_uid != 0 && st.st_uid != ::geteuid()) return !ForeignFile();
    return writable_;
}

// Another user's lock file in the shared folder. Held: its holder is the
// answer. Otherwise root puts its own in its place; anybody else refuses it.
bool SingleInstance::ForeignFile() {
    struct flock probe = Range(F_WRLCK, kFileLockByte);
    if (::fcntl(fd_, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK) {
        writable_ = false;
        return true;
    }
    struct stat st {};
    ::fstat(fd_, &st);
    ::close(fd_);
    fd_ = -1;
    writable_ = false;
    if (::geteuid() == 0 && ::unlink(path_.c_str()) == 0) return !Open();
    refusedErrno_ = EPERM;
    refusedReason_ = "it belongs to user " + std::to_string(st.st_uid) +
                     ", who could remove it; only root's lock file or this user's own is used here";
    return true;
}

bool SingleInstance::TryLock() {
    struct flock file = Range(F_WRLCK, kFileLockByte);
    if (::fcntl(fd_, F_OFD_SETLK, &file) != 0) return false;
    struct flock process = Range(F_WRLCK, kProcessLockByte);
    ::fcntl(fd_, F_SETLK, &process);
    return true;
}

bool SingleInstance::Acquire(int waitMs, const std::string& role) {
    if (held_) return true;
    refusedErrno_ = 0;
    refusedReason_.clear();
    if (!Open()) {
        // Held by another: that is the answer, whatever this user may do.
        if (fd_ >= 0 && HolderPid() > 0) {
            refusedErrno_ = 0;
            refusedReason_.clear();
        }
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (!TryLock()) {
        if (errno != EAGAIN && errno != EACCES) {
            refusedErrno_ = errno;
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(kRetryMs));
    }
    held_ = true;
    // Only a hint for others' messages: the kernel's answer names the holder.
    const std::string note = std::to_string(::getpid()) + " " + role + "\n";
    if (::ftruncate(fd_, 0) == 0) (void)!::pwrite(fd_, note.data(), note.size(), 0);
    return true;
}

void SingleInstance::Release() {
    if (!held_) return;
    held_ = false;
    struct flock process = Range(F_UNLCK, kProcessLockByte);
    ::fcntl(fd_, F_SETLK, &process);
    struct flock file = Range(F_UNLCK, kFileLockByte);
    ::fcntl(fd_, F_OFD_SETLK, &file);
}

long long SingleInstance::HolderPid() const {
    if (held_) return ::getpid();
    if (fd_ < 0) const_cast<SingleInstance*>(this)->Open();
    if (fd_ < 0) return -1;
    struct flock probe = Range(F_WRLCK, kProcessLockByte);
    if (::fcntl(fd_, F_GETLK, &probe) != 0 || probe.l_type == F_UNLCK || probe.l_pid <= 0) return -1;
    return probe.l_pid;
}

long long SingleInstance::HolderUid() const {
    const long long pid = HolderPid();
    if (pid <= 0) return -1;
    struct stat st {};
    return ::stat(("/proc/" + std::to_string(pid)).c_str(), &st) == 0 ? static_cast<long long>(st.st_uid) : -1;
}

std::string SingleInstance::HolderRole() const {
    const long long pid = HolderPid();
    if (pid <= 0 || fd_ < 0) return {};
    char buffer[64] = {};
    const ssize_t n = ::pread(fd_, buffer, sizeof buffer - 1, 0);
    if (n <= 0) return {};
    const std::string note(buffer, static_cast<size_t>(n));
    const size_t blank = note.find(' ');
    if (blank == std::string::npos || note.substr(0, blank) != std::to_string(pid)) return {};
    const size_t end = note.find('\n', blank);
    if (end == std::string::npos) return {};
    return note.substr(blank + 1, end - blank - 1);
}

}  // namespace kestrel
