#include "platform/single_instance.h"

#include <sys/stat.h>

namespace kestrel {

SingleInstance::SingleInstance(const std::string& name, const std::string& directory) {
    const QString dir = QString::fromStdString(directory);
    path_ = (dir + "/" + QString::fromStdString(name) + ".lock").toStdString();
    lock_ = std::make_unique<QLockFile>(QString::fromStdString(path_));
    // Never treat a live holder's lock as stale by age; a lock whose process
    // is gone is still recognised as stale and taken over.
    lock_->setStaleLockTime(0);
}

SingleInstance::~SingleInstance() { Release(); }

bool SingleInstance::Acquire(int waitMs) { return lock_->isLocked() || lock_->tryLock(waitMs); }

long long SingleInstance::HolderPid() const {
    qint64 pid = -1;
    QString host, app;
    return lock_->getLockInfo(&pid, &host, &app) ? pid : -1;
}

long long SingleInstance::HolderUid() const {
    struct stat st {};
    return ::stat(path_.c_str(), &st) == 0 ? static_cast<long long>(st.st_uid) : -1;
}

bool SingleInstance::Refused() const {
    return lock_->error() == QLockFile::PermissionError || lock_->error() == QLockFile::UnknownError;
}

void SingleInstance::Release() {
    if (lock_ && lock_->isLocked()) lock_->unlock();
}

}  // namespace kestrel
