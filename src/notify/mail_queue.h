#pragma once
// Alert mails not yet delivered, oldest first. Each waits in a file of its
// own in the program's state folder (private, written in one step), so that
// neither a stop nor a crash loses one; a delivered mail's file goes at once.
// Without a folder the mails wait in memory only. The queue is bounded: an
// alert that finds it full is not mailed, and its outcome says so.
//
// The queue also tells every outcome of an alert mail to its listeners:
// queued, delivered, delayed (it is tried again) and finally undelivered.
//
// User-interface thread only, except Forget.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace kestrel {

struct QueuedMail {
    uint64_t id = 0;          // order of composition, across runs
    int kind = 0;             // NotificationEvent
    int enclosureIndex = 0;
    int memberDisk = 0;
    std::string heading;      // what happened where ("Device1 fan fail.")
    std::string composedAt;   // the mail's Date: when the alert was raised
    std::vector<std::string> report;  // the enclosure's report and details
    // Not kept in the file: a restart tries at once.
    int attempts = 0;
    std::string path;         // its file; empty when it waits in memory only
};

struct MailOutcome {
    enum class Kind { Queued, Delivered, Delayed, Undelivered };
    Kind kind = Kind::Queued;
    std::string heading;  // the alert's heading
    std::string subject;  // the mail's subject, when it was built
    // What happened where, as the Status page and the log name it
    // ("Device1 HDD2 was removed."): what our own texts about the mail say.
    std::string about;
    std::string reason;   // why it was delayed or not delivered; refused recipients
    size_t waiting = 0;   // mails still waiting after this outcome
    int attempts = 0;     // exchanges tried for this mail so far
    int retryInMs = 0;    // delayed: when it is tried again
};
using MailOutcomeListener = std::function<void(const MailOutcome&)>;

class MailQueue {
public:
    static constexpr size_t kCapacity = 200;

    explicit MailQueue(std::string folder = {});

    // Where the mails wait: a folder of the state folder, "" for memory only.
    void SetFolder(std::string folder) { folder_ = std::move(folder); }
    const std::string& Folder() const { return folder_; }
    // Takes up the mails an earlier run left, in their order, after any
    // already queued; returns how many.
    size_t Load();

    struct AddResult {
        bool queued = false;  // false: the queue is full
        std::string error;    // queued, but only in memory: why its file could not be written
    };
    AddResult Add(QueuedMail mail);

    bool Empty() const { return mails_.empty(); }
    size_t Size() const { return mails_.size(); }
    const std::deque<QueuedMail>& Mails() const { return mails_; }
    QueuedMail* Head() { return mails_.empty() ? nullptr : &mails_.front(); }
    // The head leaves the queue (delivered, or given up), with its file.
    void DropHead();
    // Removes a delivered mail's file, from any thread, the moment the
    // server took it: a crash after that must not send it twice.
    static void Forget(const std::string& path);

    void AddListener(MailOutcomeListener listener) { listeners_.push_back(std::move(listener)); }
    void Tell(const MailOutcome& outcome) const;

private:
    std::string folder_;
    std::deque<QueuedMail> mails_;
    uint64_t nextId_ = 1;
    std::vector<MailOutcomeListener> listeners_;
};

// The queue's folder in a state folder.
std::string MailQueueFolder(const std::string& stateDir);

}  // namespace kestrel
