// Cost of the snapshot: a full build after a new round (about 1,950 members and entries, 1,450
// composed names), a call within the same round, and the text handed out by request 801.
#include <benchmark/benchmark.h>
#include <boost/date_time/posix_time/posix_time.hpp>

#include <vector>

#include "driver/px46tr_k.h"

namespace {

// The device with a hand for moving its round time on.
class BenchDevice : public PX46TR_K {
public:
    BenchDevice() {
        set_diagnostic_sink(silent_sink());  // a line per request
        std::vector<unsigned char> bytes(sizeof data_);
        for (std::size_t i = 4; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 7);
        place_completed_record(bytes.data());
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

void BM_SnapshotText(benchmark::State& state) {
    BenchDevice device;
    std::vector<char> out(1 << 20);
    for (auto _ : state) {
        int out_len = 0;
        device.DeviceIoControl(801, nullptr, 0, out.data(), static_cast<int>(out.size()), out_len);
        benchmark::DoNotOptimize(out_len);
    }
}
BENCHMARK(BM_SnapshotText);

}  // namespace
