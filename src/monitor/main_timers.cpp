#include "monitor/main_timers.h"

#include "platform/time_scale.h"

namespace kestrel {

MainTimers::MainTimers(double timeScale, QObject* parent) : QObject(parent) {
    Timer1.setInterval(ScaledMs(1000, timeScale));
    Timer2.setInterval(ScaledMs(4000, timeScale));
    Timer4.setInterval(ScaledMs(500, timeScale));
    for (QTimer* t : {&Timer1, &Timer2, &Timer4}) t->setTimerType(Qt::CoarseTimer);
}

}  // namespace kestrel
