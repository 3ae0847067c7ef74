#include "platform/single_instance.h"

#include <QDir>
#include <QStandardPaths>

namespace kestrel {

SingleInstance::SingleInstance(const std::string& name, const std::string& directory) {
    QString dir = QString::fromStdString(directory);
    if (dir.isEmpty()) dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty()) dir = QDir::tempPath();
    QDir().mkpath(dir);
    path_ = (dir + "/" + QString::fromStdString(name) + ".lock").toStdString();
    lock_ = std::make_unique<QLockFile>(QString::fromStdString(path_));
    // Never treat a live holder's lock as stale by age; a lock whose process
    // is gone is still recognised as stale and taken over.
    lock_->setStaleLockTime(0);
}

SingleInstance::~SingleInstance() { Release(); }

bool SingleInstance::Acquire() { return lock_->isLocked() || lock_->tryLock(0); }

void SingleInstance::Release() {
    if (lock_ && lock_->isLocked()) lock_->unlock();
}

}  // namespace kestrel
