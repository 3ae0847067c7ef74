#include "monitor/worker_threads.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace kestrel {

WorkerThread::~WorkerThread() = default;

void WorkerThread::Start(SchedulerFlags& flags) {
    flags_ = &flags;
    thread_ = std::thread([this] { Loop(); });
}

void WorkerThread::Loop() {
    uint64_t seen = flags_->Generation();
    while (!stopping_.load()) {
        if (Step()) continue;
        // A safety net only: every flag a worker waits for is followed by a
        // wake-up, so this time-out never delays a reaction.
        seen = flags_->WaitForChange(seen, std::chrono::seconds(5));
    }
    finished_.store(true);
}

void WorkerThread::Stop() {
    if (!thread_.joinable()) return;
    stopping_.store(true);
    flags_->Wake();
    // The worker may be waiting for the user-interface thread to run a
    // hand-over: keep serving events here until it has left its loop.
    QCoreApplication* app = QCoreApplication::instance();
    const bool onUiThread = app && app->thread() == QThread::currentThread();
    while (!finished_.load()) {
        if (onUiThread) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    thread_.join();
}

TRaidThread::TRaidThread(SchedulerFlags& flags, QObject* ui, std::function<void()> dispatch)
    : flags_(flags), ui_(ui), dispatch_(std::move(dispatch)) {
    Start(flags);
}

bool TRaidThread::Step() {
    if (flags_.DetectPending.load() || !(flags_.RefreshFlags.load() & refresh::kWork)) return false;
    QMetaObject::invokeMethod(
        ui_,
        [this] {
            if (!Stopping()) dispatch_();
        },
        Qt::BlockingQueuedConnection);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return true;
}

DriveDetectThread::DriveDetectThread(SchedulerFlags& flags, std::function<void()> redetect)
    : flags_(flags), redetect_(std::move(redetect)) {
    Start(flags);
}

bool DriveDetectThread::Step() {
    if (!flags_.DetectRequest.load()) return false;
    flags_.DetectRequest.store(0);
    redetect_();
    flags_.DetectPending.store(0);
    flags_.DetectDone.store(1);
    flags_.Wake();
    return true;
}

}  // namespace kestrel
