// One status poll over the two demo enclosures of the simulated PC: the
// transport, the status reads on both access paths, the decoding, the event
// log pass and the status page decisions, without threads or timers.
#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include "poll_rig.h"

namespace kestrel {
namespace {

// Its own symbol, so that callgrind can count the timed polls alone
// (scripts/bench: --toggle-collect=*TimedPoll*).
[[gnu::noinline]] void TimedPoll(StatusPoll& poll) { poll.Run(); }

void OnePoll(benchmark::State& state) {
    bench::PollRig rig;
    sim::SimulatedPc& pc = *rig.devices.simulated;
    const unsigned before = pc.StatusReadsOf("desk") + pc.StatusReadsOf("travel");
    for (auto _ : state) TimedPoll(rig.poll);
    // A poll that skipped an enclosure would measure something else.
    if (pc.StatusReadsOf("desk") + pc.StatusReadsOf("travel") - before != 2 * state.iterations())
        state.SkipWithError("a poll did not read both enclosures");
}
BENCHMARK(OnePoll)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kestrel

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
