#include "platform/worker_thread.h"

#include <QCoreApplication>
#include <QThread>

namespace kestrel {

WorkerThread::~WorkerThread() = default;

void WorkerThread::Start(WakeSignal& wake) {
    wake_ = &wake;
    thread_ = std::thread([this] { Loop(); });
}

void WorkerThread::Loop() {
    uint64_t seen = wake_->Generation();
    while (!stopping_.load()) {
        if (Step()) continue;
        // A safety net only: whoever sets what a worker waits for wakes it,
        // so this time-out never delays a reaction. Long, so that an idle
        // program hardly ever wakes for it.
        seen = wake_->WaitForChange(seen, std::chrono::minutes(1));
    }
    finished_.store(true);
}

void WorkerThread::Stop() {
    if (!thread_.joinable()) return;
    stopping_.store(true);
    wake_->Wake();
    QCoreApplication* app = QCoreApplication::instance();
    const bool onUiThread = app && app->thread() == QThread::currentThread();
    while (!finished_.load()) {
        if (onUiThread) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    thread_.join();
}

}  // namespace kestrel
