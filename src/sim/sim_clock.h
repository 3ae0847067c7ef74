#pragma once
// Drives the timed steps of a scenario from the event loop: a step at
// scenario time T fires once T x time-scale milliseconds have passed since
// Start().
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include "sim/simulated_pc.h"

namespace kestrel::sim {

class SimClock final : public QObject {
    Q_OBJECT
public:
    SimClock(SimulatedPc& pc, double timeScale, QObject* parent = nullptr);
    void Start();
    // Fires what is due now; the timer calls it, tests may too.
    void Tick();

private:
    SimulatedPc& pc_;
    double timeScale_;
    QTimer timer_;
    QElapsedTimer elapsed_;
};

}  // namespace kestrel::sim
