#pragma once
// Stands in for the named mutex that keeps a second copy of the program from
// running: a lock the kernel holds on a file in the run folder. The file is
// never removed; only holding the lock counts, so a process id written in
// a file proves nothing, and a process that ends (or crashes) frees the
// lock by itself.
#include <string>

namespace kestrel {

class SingleInstance {
public:
    // name: the mutex name ("KESTREL_GUI"); directory: where the lock lives,
    // a folder ChooseRunFolder checked (never a shared temporary folder).
    // shared: the folder is the machine's, where every member of its group
    // may make files; there a lock file of another user (who could remove
    // it while a monitor holds it) is not used, and root replaces it when
    // nobody holds it.
    SingleInstance(const std::string& name, const std::string& directory, bool shared = false);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True when this object now holds the lock; false when another holder
    // has it (or the lock file cannot be used, see Refused). waitMs: how
    // long to wait for a holder to let go. role: a word that tells others
    // what holds it ("monitor", "upgrade", "status").
    bool Acquire(int waitMs = 0, const std::string& role = "monitor");
    void Release();
    bool Held() const { return held_; }
    std::string LockPath() const { return path_; }
    // The process that holds the lock, as the kernel reports it, and its
    // user (-1 when none or unknown).
    long long HolderPid() const;
    long long HolderUid() const;
    // The holder's role, when the holder wrote one; empty otherwise.
    std::string HolderRole() const;
    // After a failed Acquire: true when the lock file could not be opened
    // or created at all, not because another process holds the lock; the
    // error number says why.
    bool Refused() const { return refusedErrno_ != 0; }
    int RefusedErrno() const { return refusedErrno_; }
    // The reason in words when the error number alone does not tell it.
    const std::string& RefusedReason() const { return refusedReason_; }

private:
    bool Open();
    bool TryLock();

    bool ForeignFile();

    std::string path_;
    bool shared_ = false;
    std::string refusedReason_;
    int fd_ = -1;
    bool writable_ = false;
    bool held_ = false;
    int refusedErrno_ = 0;
};

}  // namespace kestrel
