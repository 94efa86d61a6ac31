// Cost of one realistic polling round (profile unicom with the example configuration, the unit's
// values drifting, a new stamp every round so that round completion rebuilds the snapshot): the
// first round of a freshly set-up device, a round of a device that has completed rounds before,
// and the same reads and host calls made by a device of the host alone, which is the host's share
// of a round. Every timed round includes the unit's drift (BM_UnitDrift on its own). Also the
// steady round once the snapshot's address has been handed out, and the first round of a device
// whose configuration names many signals outside the snapshot.
#include <benchmark/benchmark.h>

#include <memory>

#include "bench_support.h"
#include "catalogue/register_map.h"
#include "driver/px46tr_k.h"
#include "host_only_device.h"
#include "host_runtime/bus_pump.h"

namespace {

using bench::DriftingUnit;
using bench::SteppedClock;

constexpr unsigned int kDataId = 1;  // the working folder holds ini/1.yaml

// Runs one round and marks the benchmark failed when its reads did not all go through.
void timed_round(benchmark::State& state, SPModbus& device, BusPump& pump, DriftingUnit& unit,
                 SteppedClock& clock) {
    if (bench::polling_round(device, pump, unit, clock) != px46tr_k::kReadCount) {
        state.SkipWithError("a round carried fewer than 62 requests");
    }
}

// First rounds of fresh devices configured for `data_id`; only the rounds are timed.
void time_first_rounds(benchmark::State& state, unsigned int data_id) {
    SteppedClock clock;
    DriftingUnit unit;
    for (auto _ : state) {
        state.PauseTiming();
        auto device = std::make_unique<PX46TR_K>();
        bench::set_up_example_device(*device, clock, data_id);
        BusPump pump(*device, unit);
        state.ResumeTiming();
        timed_round(state, *device, pump, unit, clock);
        state.PauseTiming();
        device.reset();  // the tree's release is not the round's
        state.ResumeTiming();
    }
}

void BM_FirstRound(benchmark::State& state) { time_first_rounds(state, kDataId); }
BENCHMARK(BM_FirstRound);

void BM_SteadyRound(benchmark::State& state) {
    bench::PolledExampleDevice polled(kDataId, 3);
    for (auto _ : state) timed_round(state, polled.device, polled.pump, polled.unit, polled.clock);
}
BENCHMARK(BM_SteadyRound);

// The steady round of a device whose snapshot address a host took once (803): from then on every
// build first checks that the host has not edited the tree.
void BM_SteadyRoundAfter803(benchmark::State& state) {
    bench::PolledExampleDevice polled(kDataId, 3);
    Json::Value* address = nullptr;
    int length = 0;
    if (polled.device.DeviceIoControl(803, nullptr, 0, &address, sizeof address, length) != 0) {
        state.SkipWithError("803 refused");
    }
    for (auto _ : state) timed_round(state, polled.device, polled.pump, polled.unit, polled.clock);
}
BENCHMARK(BM_SteadyRoundAfter803);

// The first round of a device whose configuration names N analogue signals that are no snapshot
// member: the rule evaluation inserts each into the snapshot.
void BM_FirstRoundUnknownNames(benchmark::State& state) {
    constexpr unsigned int kUnknownNamesDataId = 2;
    bench::configure_unknown_names(kUnknownNamesDataId, static_cast<int>(state.range(0)));
    time_first_rounds(state, kUnknownNamesDataId);
}
BENCHMARK(BM_FirstRoundUnknownNames)->Arg(1000)->Arg(8000)->Arg(32000)->Unit(benchmark::kMillisecond);

void BM_HostRound(benchmark::State& state) {
    SteppedClock clock;
    DriftingUnit unit;
    bench::HostOnlyDevice device;
    BusPump pump(device, unit);
    for (int warm_up = 0; warm_up < 3; ++warm_up) bench::polling_round(device, pump, unit, clock);
    for (auto _ : state) timed_round(state, device, pump, unit, clock);
}
BENCHMARK(BM_HostRound);

void BM_UnitDrift(benchmark::State& state) {
    DriftingUnit unit;
    for (auto _ : state) unit.drift();
    state.counters["registers"] = static_cast<double>(DriftingUnit::moving_registers());
}
BENCHMARK(BM_UnitDrift);

}  // namespace
