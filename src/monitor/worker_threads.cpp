#include "monitor/worker_threads.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace kestrel {

TRaidThread::TRaidThread(SchedulerFlags& flags, QObject* ui, std::function<void()> dispatch)
    : flags_(flags), receiver_(std::make_unique<QObject>()), dispatch_(std::move(dispatch)) {
    receiver_->moveToThread(ui->thread());
    Start(flags.wake);
}

bool TRaidThread::Step() {
    if (jobRunning_.load()) return false;  // one job at a time
    if (flags_.DetectionInFlight() || !(flags_.RefreshFlags.load() & refresh::kWork)) return false;
    jobRunning_.store(true);
    QMetaObject::invokeMethod(
        receiver_.get(),
        [this] {
            if (!Stopping()) dispatch_();
            jobRunning_.store(false);
            // Every change of the flags happens on this thread, so what is
            // left now is all the worker could find.
            if (flags_.RefreshFlags.load() & refresh::kWork) flags_.Wake();
        },
        Qt::QueuedConnection);
    return false;  // sleep until the job's end or a new request
}

void DispatchRefresh(SchedulerFlags& flags, const RefreshJobs& jobs) {
    const uint8_t pending = flags.RefreshFlags.load();
    for (const auto& [bit, job] : {std::pair{refresh::kStatusPoll, &jobs.statusPoll},
                                   std::pair{refresh::kConfigWrite, &jobs.configWrite}}) {
        if (!(pending & bit)) continue;
        if (*job) (*job)();
        flags.RefreshFlags.fetch_and(static_cast<uint8_t>(~bit));
        return;
    }
}

DriveDetectThread::DriveDetectThread(SchedulerFlags& flags, std::function<void()> redetect)
    : flags_(flags), redetect_(std::move(redetect)) {
    Start(flags.detectWake);
}

bool DriveDetectThread::Step() {
    if (!flags_.TakeDetectionRequest()) return false;
    redetect_();
    flags_.DetectionFinished();
    return true;
}

}  // namespace kestrel
