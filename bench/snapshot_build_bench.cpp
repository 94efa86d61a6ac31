// Cost of the snapshot: a full build after a new round (about 1,950 members and entries, 1,450
// composed names), a call within the same round, and the text handed out by request 801: the first
// request after a round and a further one within the same round.
#include <benchmark/benchmark.h>
#include <boost/date_time/posix_time/posix_time.hpp>

#include <vector>

#include "bench_support.h"
#include "driver/px46tr_k.h"

namespace {

// The device with a hand for moving its round time on.
class BenchDevice : public PX46TR_K {
public:
    BenchDevice() {
        set_diagnostic_sink(framework::silent_sink());  // a line per request
        b_mode_ = 2;                                    // the cache load below builds no snapshot
        std::vector<unsigned char> bytes(sizeof data_);
        for (std::size_t i = 4; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 7);
        LoadFromCache(bytes.data(), static_cast<int>(bytes.size()));
        update_time_ = boost::posix_time::time_from_string("2026-12-07 15:03:21");
    }
    void next_round() { update_time_ += boost::posix_time::seconds(1); }
};

void BM_SnapshotBuild(benchmark::State& state) {
    BenchDevice device;
    for (auto _ : state) {
        device.next_round();
        device.GenJsonData();
    }
}
BENCHMARK(BM_SnapshotBuild);

void BM_SnapshotWithinRound(benchmark::State& state) {
    BenchDevice device;
    device.GenJsonData();
    for (auto _ : state) device.GenJsonData();
}
BENCHMARK(BM_SnapshotWithinRound);

// Room for the snapshot text (about 130 KB).
constexpr std::size_t kTextRoom = 1 << 20;

// A further 801 within one round: the round's first 801 was answered before.
void BM_SnapshotText(benchmark::State& state) {
    bench::PolledExampleDevice polled(1, 3);
    std::vector<char> out(kTextRoom);
    int length = bench::request_snapshot_text(polled.device, out);
    for (auto _ : state) {
        length = bench::request_snapshot_text(polled.device, out);
        benchmark::DoNotOptimize(length);
    }
    if (length < 0) state.SkipWithError("801 refused");
    state.counters["bytes"] = length;
}
BENCHMARK(BM_SnapshotText);

// The first 801 after a round: each iteration completes a round (not timed), then requests 801.
void BM_SnapshotTextAfterRound(benchmark::State& state) {
    bench::PolledExampleDevice polled(1, 3);
    std::vector<char> out(kTextRoom);
    int length = 0;
    for (auto _ : state) {
        state.PauseTiming();
        polled.round();
        state.ResumeTiming();
        length = bench::request_snapshot_text(polled.device, out);
        benchmark::DoNotOptimize(length);
    }
    if (length < 0) state.SkipWithError("801 refused");
    state.counters["bytes"] = length;
}
BENCHMARK(BM_SnapshotTextAfterRound);

}  // namespace
