#pragma once
// Stands in for the named mutex that keeps a second copy of the program from
// running. A lock file in the run folder: the operating system releases
// it with the process, so a crashed instance does not lock the next one out.
#include <QLockFile>
#include <memory>
#include <string>

namespace kestrel {

class SingleInstance {
public:
    // name: the mutex name ("KESTREL_GUI"); directory: where the lock lives,
    // a folder ChooseRunFolder checked (never a shared temporary folder).
    SingleInstance(const std::string& name, const std::string& directory);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True when this process now holds the lock; false when another running
    // process holds it.
    bool Acquire(int waitMs = 0);
    void Release();
    std::string LockPath() const { return path_; }
    // The process that holds the lock, and the user that created its file
    // (-1 when unknown): tells a user's own window from a service.
    long long HolderPid() const;
    long long HolderUid() const;
    // After a failed Acquire: true when the lock could not be created at all
    // (no right to write its folder), not because another process holds it.
    bool Refused() const;

private:
    std::string path_;
    std::unique_ptr<QLockFile> lock_;
};

}  // namespace kestrel
