#include "history/history_writer.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "history/history_store.h"

namespace kestrel {

HistoryWriter::HistoryWriter(std::string path, std::function<void(const std::string&)> message)
    : path_(std::move(path)), message_(std::move(message)), thread_([this] { Run(); }) {}

HistoryWriter::~HistoryWriter() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void HistoryWriter::Submit(HistoryBatch batch) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(batch));
        ++submitted_;
    }
    wake_.notify_one();
}

uint64_t HistoryWriter::WaitUntilWritten() {
    std::unique_lock<std::mutex> lock(mutex_);
    const uint64_t target = submitted_;
    done_.wait(lock, [&] { return handled_ >= target; });
    return written_;
}

void HistoryWriter::Run() {
    HistoryStore store;
    for (;;) {
        HistoryBatch batch;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [&] { return stop_ || !queue_.empty(); });
            if (queue_.empty()) break;  // stopping, and everything is written
            batch = std::move(queue_.front());
            queue_.pop_front();
        }
        const bool written = Handle(batch, store);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++handled_;
            if (written) ++written_;
        }
        done_.notify_all();
    }
    store.Close();
}

// The damaged file moves away under its name and the time; the next open
// begins a new one.
bool HistoryWriter::SetAside(const std::string& why) {
    const QString path = QString::fromStdString(path_);
    if (!QFileInfo::exists(path)) return true;
    const QString aside = path + ".damaged-" + QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss");
    if (!QFile::rename(path, aside)) {
        if (message_) message_("History file " + path_ + " cannot be used (" + why + ") nor set aside; history paused.");
        return false;
    }
    // Its journal belongs to it: a new file must not pick it up.
    for (const char* suffix : {"-wal", "-shm"})
        if (QFileInfo::exists(path + suffix)) QFile::rename(path + suffix, aside + suffix);
    if (message_)
        message_("History file " + path_ + " could not be used (" + why + "); set aside as " + aside.toStdString() +
                 ", a new one begun.");
    return true;
}

bool HistoryWriter::Handle(const HistoryBatch& batch, HistoryStore& store) {
    if (path_.empty()) return false;
    // The first try uses the file as it is; a failure sets it aside once
    // and tries a new file; a new file that fails too pauses the history
    // until a later batch succeeds.
    const QFileInfo file(QString::fromStdString(path_));
    // The state folder is private, as the service's is.
    if (!file.dir().exists() && QDir().mkpath(file.absolutePath()))
        QFile::setPermissions(file.absolutePath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!store.IsOpen() && !store.Open(path_, HistoryStore::Mode::Write)) {
            if (failing_ || !SetAside(store.Error())) break;
            if (!store.Open(path_, HistoryStore::Mode::Write)) break;
        }
        if (store.Write(batch)) {
            if (failing_ && message_) message_("History is written again to " + path_ + ".");
            failing_ = false;
            return true;
        }
        const std::string why = store.Error();
        store.Close();
        if (failing_ || attempt == 1 || !SetAside(why)) break;
    }
    if (!failing_ && message_) message_("History not written to " + path_ + ": " + store.Error() + "; retried next minute.");
    failing_ = true;
    store.Close();
    return false;
}

}  // namespace kestrel
