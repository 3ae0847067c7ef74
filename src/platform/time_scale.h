#pragma once
// --time-scale stretches or shrinks every timer interval and pause, for demos
// and tests; the timers of every layer scale through this one rule.

namespace kestrel {

// Scales a timer interval or pause; never below 1 ms so a timer keeps ticking.
int ScaledMs(int ms, double timeScale);

}  // namespace kestrel
