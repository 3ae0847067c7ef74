#include "sim/sim_clock.h"

#include "platform/time_scale.h"

namespace kestrel::sim {

SimClock::SimClock(SimulatedPc& pc, double timeScale, QObject* parent)
    : QObject(parent), pc_(pc), timeScale_(timeScale > 0 ? timeScale : 1.0) {
    timer_.setInterval(ScaledMs(100, timeScale_));
    connect(&timer_, &QTimer::timeout, this, &SimClock::Tick);
}

void SimClock::Start() {
    elapsed_.start();
    timer_.start();
    Tick();
}

void SimClock::Tick() {
    if (!elapsed_.isValid()) return;
    const auto scenarioMs = static_cast<int64_t>(static_cast<double>(elapsed_.elapsed()) / timeScale_);
    pc_.AdvanceTo(std::chrono::milliseconds(scenarioMs));
    if (pc_.TimelineDone()) timer_.stop();
}

}  // namespace kestrel::sim
