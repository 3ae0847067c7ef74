#pragma once
// The main window's four timers, with their intervals scaled for tests and
// demos. The main module connects each to its handler.
#include <QObject>
#include <QTimer>

namespace kestrel {

class MainTimers : public QObject {
public:
    explicit MainTimers(double timeScale, QObject* parent = nullptr);

    QTimer Timer1;  // 1000 ms: maintenance progress bar
    QTimer Timer2;  // 4000 ms: raises status polls
    QTimer Timer3;  // 1000 ms: LastTick
    QTimer Timer4;  // 500 ms: detection countdown, blink, commit
};

}  // namespace kestrel
