#pragma once
// The main window's timers, with their intervals scaled for tests and
// demos. The main module connects each to its handler. There is no 1 s
// LastTick timer: the event log pass takes the time (and keeps it as
// LastTick) when it starts, the only moment the value is used, so an idle
// program need not wake every second for it.
#include <QObject>
#include <QTimer>

namespace kestrel {

class MainTimers : public QObject {
public:
    explicit MainTimers(double timeScale, QObject* parent = nullptr);

    QTimer Timer1;  // 1000 ms: maintenance progress bar
    QTimer Timer2;  // 4000 ms: raises status polls
    QTimer Timer4;  // 500 ms: detection countdown, blink, commit; only while one of these runs
};

}  // namespace kestrel
