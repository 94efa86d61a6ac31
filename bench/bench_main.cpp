// The benchmark program's entry: runs the benchmarks in a working folder holding the example
// configuration, and after the usual table prints how many times a steady round the first round
// costs, and the plug-in's share of a steady round (the steady round less the host's round).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench_support.h"

namespace {

// The console table, remembering the CPU time per iteration of each benchmark as it goes (the
// median when repetitions are asked for).
class RoundRatioReporter : public benchmark::ConsoleReporter {
public:
    // Colours on a terminal only, so that a saved run reads as plain text.
    RoundRatioReporter() : ConsoleReporter(isatty(fileno(stdout)) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const std::string name = run.run_name.function_name;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type == Run::RT_Iteration || median) {
                cpu_ns_[name] =
                    run.GetAdjustedCPUTime() * 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
            }
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        const double* first = find("BM_FirstRound");
        const double* steady = find("BM_SteadyRound");
        const double* host = find("BM_HostRound");
        if (first != nullptr && steady != nullptr) {
            std::printf("first round / steady round (CPU): %.1f\n", *first / *steady);
        }
        if (steady != nullptr && host != nullptr) {
            std::printf("plug-in share of a steady round (steady - host, CPU): %.1f us\n",
                        (*steady - *host) / 1000.0);
        }
    }

private:
    const double* find(const std::string& name) const {
        const auto it = cpu_ns_.find(name);
        return it == cpu_ns_.end() ? nullptr : &it->second;
    }

    std::map<std::string, double> cpu_ns_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    const bench::ExampleWorkFolder folder("px46_bench");
    folder.configure(1);
    RoundRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
