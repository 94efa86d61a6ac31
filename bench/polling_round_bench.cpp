// Cost of one polling round against the in-process simulated unit: 62 queued reads, their copies
// into the record and the round's completion.
#include <benchmark/benchmark.h>


#include "driver/px46tr_k.h"
#include "host/bus_pump.h"
#include "host/simulated_unit.h"

namespace {

void BM_PollingRound(benchmark::State& state) {
    SimulatedUnit unit;
    for (int reg = 0; reg < 7466; ++reg) unit.set(reg, static_cast<std::uint16_t>(reg));
    PX46TR_K device;
    device.set_diagnostic_sink(silent_sink());  // the round's diagnostic lines
    device.InitSetting(Json::Value(Json::objectValue));
    BusPump pump(device, unit);
    for (auto _ : state) {
        device.RefreshStatus();
        pump.pump_all();
    }
}
BENCHMARK(BM_PollingRound);

}  // namespace
