// Cost of one polling round against the in-process simulated unit: 62 queued reads, their copies
// into the record and the round's completion.
#include <benchmark/benchmark.h>

#include <iostream>
#include <sstream>

#include "driver/px46tr_k.h"
#include "host/bus_pump.h"
#include "host/simulated_unit.h"

namespace {

void BM_PollingRound(benchmark::State& state) {
    SimulatedUnit unit;
    for (int reg = 0; reg < 7466; ++reg) unit.set(reg, static_cast<std::uint16_t>(reg));
    PX46TR_K device;
    device.InitSetting(Json::Value(Json::objectValue));
    BusPump pump(device, unit);
    std::ostringstream sink;
    auto* saved = std::cout.rdbuf(sink.rdbuf());  // keep the round's diagnostic lines quiet
    for (auto _ : state) {
        device.RefreshStatus();
        pump.pump_all();
        sink.str({});
    }
    std::cout.rdbuf(saved);
}
BENCHMARK(BM_PollingRound);

}  // namespace
