#pragma once
// Writes the history's batches on a thread of its own, so that no poll ever
// waits for the file. A file that cannot be opened or written (damaged,
// locked by another program, not a database) is set aside under a new name
// with a message, and a new file is begun; when even that fails the
// history pauses with a message and monitoring goes on.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "history/history_rows.h"

namespace kestrel {

class HistoryWriter {
public:
    // message: called on the writer's thread, once per problem and once
    // when writing works again.
    HistoryWriter(std::string path, std::function<void(const std::string&)> message);
    // Writes what is queued, then ends: bounded by the file's busy wait.
    ~HistoryWriter();
    HistoryWriter(const HistoryWriter&) = delete;
    HistoryWriter& operator=(const HistoryWriter&) = delete;

    // Never blocks beyond a queue push.
    void Submit(HistoryBatch batch);
    // Waits until every batch submitted so far has been handled (tests,
    // benchmarks, the close); returns how many batches were written.
    uint64_t WaitUntilWritten();
    const std::string& Path() const { return path_; }

private:
    void Run();
    bool Handle(const HistoryBatch& batch, class HistoryStore& store);
    bool SetAside(const std::string& why);

    std::string path_;
    std::function<void(const std::string&)> message_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::deque<HistoryBatch> queue_;
    uint64_t submitted_ = 0;
    uint64_t handled_ = 0;
    uint64_t written_ = 0;
    bool stop_ = false;
    bool failing_ = false;  // the last batch was not written
    std::thread thread_;  // last: starts once the rest exists
};

}  // namespace kestrel
