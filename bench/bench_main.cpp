// The benchmark program's entry: runs the benchmarks in a working folder holding the example
// configuration, and after the library's own report prints how many times a steady round the first
// round costs, and the plug-in's share of a steady round (the steady round less the host's round).
// The library's flags hold: --benchmark_format picks the report on standard output, and with json
// or csv the two figures go to standard error, so that standard output stays one document a tool
// can read.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench_support.h"

namespace {

// The report the library's flags ask for, remembering the CPU time per iteration of each
// benchmark as it goes (the median when repetitions are asked for).
class RoundRatioReporter : public benchmark::BenchmarkReporter {
public:
    // The library keeps the display reporter it makes for the flags; it is not ours to delete.
    RoundRatioReporter() : display_(*benchmark::CreateDefaultDisplayReporter()) {}

    bool ReportContext(const Context& context) override { return display_.ReportContext(context); }

    void ReportRuns(const std::vector<Run>& runs) override {
        display_.ReportRuns(runs);
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
        display_.Finalize();
        const bool console = dynamic_cast<benchmark::ConsoleReporter*>(&display_) != nullptr;
        std::FILE* out = console ? stdout : stderr;
        std::fflush(stdout);
        const double* first = find("BM_FirstRound");
        const double* steady = find("BM_SteadyRound");
        const double* host = find("BM_HostRound");
        if (first != nullptr && steady != nullptr) {
            std::fprintf(out, "first round / steady round (CPU): %.1f\n", *first / *steady);
        }
        if (steady != nullptr && host != nullptr) {
            std::fprintf(out, "plug-in share of a steady round (steady - host, CPU): %.1f us\n",
                         (*steady - *host) / 1000.0);
        }
    }

private:
    const double* find(const std::string& name) const {
        const auto it = cpu_ns_.find(name);
        return it == cpu_ns_.end() ? nullptr : &it->second;
    }

    benchmark::BenchmarkReporter& display_;
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
