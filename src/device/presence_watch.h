#pragma once
// Timer4: waits for a detection to finish and commits it, blinking "Drive
// detecting" meanwhile; enables the window once enclosures are found and
// starts monitoring.
#include <functional>

#include "app/shell.h"
#include "device/drive_table.h"
#include "monitor/scheduler_flags.h"
#include "platform/user_interface.h"

namespace kestrel {

struct PresenceLinks {
    std::function<void()> commitDetection;    // replaces the committed list
    std::function<void()> buildDeviceLabels;
    std::function<void()> startMonitoring;    // starts Timer2 and Timer3
    std::function<void()> stopTimer3;
};

class PresenceWatch {
public:
    PresenceWatch(SchedulerFlags& flags, DriveTable& drives, Shell& shell, StatusBar& bar, PresenceLinks links);

    void Timer4Timer();

private:
    void CommitFinishedDetection();

    SchedulerFlags& flags_;
    DriveTable& drives_;
    Shell& shell_;
    StatusBar& bar_;
    PresenceLinks links_;
};

}  // namespace kestrel
