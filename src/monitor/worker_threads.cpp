#include "monitor/worker_threads.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace kestrel {

TRaidThread::TRaidThread(SchedulerFlags& flags, QObject* ui, std::function<void()> dispatch)
    : flags_(flags), ui_(ui), dispatch_(std::move(dispatch)) {
    Start(flags.wake);
}

bool TRaidThread::Step() {
    if (flags_.DetectionInFlight() || !(flags_.RefreshFlags.load() & refresh::kWork)) return false;
    QMetaObject::invokeMethod(
        ui_,
        [this] {
            if (!Stopping()) dispatch_();
        },
        Qt::BlockingQueuedConnection);
    // No pause before looking again: a second job raised meanwhile is handed
    // over at once, and an idle thread goes back to sleep in one step.
    return true;
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
