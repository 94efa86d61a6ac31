// Scale: N devices in one process, each polling its own drifting unit with the unicom example
// configuration, R rounds each with stamps 5 s apart (one stepped clock for all). Measures the
// resident memory a device adds once it has completed its first round and answered its first 801,
// and the thread CPU of a steady round (every round after the first), split into the host's share
// (the same rounds of as many host-only devices) and the plug-in's (the rest). Its last line:
//
//   devices=N rounds=R rss_kb_per_device=X plugin_us_per_round=Y host_us_per_round=Z units_per_core_at_5s=W
#include <malloc.h>
#include <time.h>

#include <boost/program_options.hpp>

#include <cstdio>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_support.h"
#include "catalogue/register_map.h"
#include "host_only_device.h"

namespace {

namespace po = boost::program_options;

struct ScaleOptions {
    int devices = 100;
    int rounds = 10;
};

// Parses the command line; false when only the help was asked for (printed).
bool parse_options(int argc, char** argv, ScaleOptions& options) {
    po::options_description described("px46_scale: many devices in one process, memory and CPU per unit");
    // clang-format off
    described.add_options()
        ("help", "this text")
        ("devices", po::value(&options.devices)->default_value(options.devices), "devices in the process")
        ("rounds", po::value(&options.rounds)->default_value(options.rounds), "rounds per device (at least 2: the first is not counted)");
    // clang-format on
    po::variables_map given;
    po::store(po::parse_command_line(argc, argv, described), given);
    po::notify(given);
    if (given.count("help") > 0) {
        std::cout << described;
        return false;
    }
    if (options.devices < 1) throw std::invalid_argument("--devices must be at least 1");
    if (options.rounds < 2) throw std::invalid_argument("--rounds must be at least 2");
    return true;
}

// CPU time of the calling thread, in microseconds.
double thread_cpu_us() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

// Devices of one kind, each with its pump on its own unit.
template <typename Device>
struct Fleet {
    std::vector<std::unique_ptr<Device>> devices;
    std::vector<BusPump> pumps;

    explicit Fleet(std::size_t size) {
        devices.reserve(size);
        pumps.reserve(size);
    }
    void add(std::unique_ptr<Device> device, bench::DriftingUnit& unit) {
        pumps.emplace_back(*device, unit);
        devices.push_back(std::move(device));
    }
    // One round of every device after the units drifted and the clock moved on; the thread CPU of
    // the rounds alone, in microseconds. Throws when a round did not go through.
    double round(std::vector<std::unique_ptr<bench::DriftingUnit>>& units, bench::SteppedClock& clock) {
        for (auto& unit : units) unit->drift();
        clock.advance();
        const double start = thread_cpu_us();
        for (std::size_t i = 0; i < devices.size(); ++i) {
            devices[i]->RefreshStatus();
            if (pumps[i].pump_all() != px46tr_k::kReadCount) {
                throw std::runtime_error("device " + std::to_string(i + 1) +
                                         ": a round carried fewer than 62 requests");
            }
        }
        return thread_cpu_us() - start;
    }
    // Rounds 2 to `rounds` (the first already run): their thread CPU in microseconds.
    double steady_rounds(int rounds, std::vector<std::unique_ptr<bench::DriftingUnit>>& units,
                         bench::SteppedClock& clock) {
        double cpu = 0;
        for (int r = 2; r <= rounds; ++r) cpu += round(units, clock);
        return cpu;
    }
};

}  // namespace

int main(int argc, char** argv) {
    ScaleOptions options;
    try {
        if (!parse_options(argc, argv, options)) return 0;
    } catch (const std::exception& error) {
        std::cerr << "px46_scale: " << error.what() << "\n";
        return 2;
    }
    const auto count = static_cast<std::size_t>(options.devices);
    try {
        const bench::ExampleWorkFolder folder("px46_scale");
        bench::SteppedClock clock;
        std::vector<std::unique_ptr<bench::DriftingUnit>> units;
        units.reserve(count);
        for (std::size_t i = 1; i <= count; ++i) {
            folder.configure(static_cast<unsigned int>(i));
            units.push_back(std::make_unique<bench::DriftingUnit>(static_cast<unsigned int>(i)));
        }
        std::vector<char> text(1 << 20);
        Fleet<PX46TR_K> plugin(count);
        // Hand back what setting up the units freed, so that the first devices do not fill heap
        // pages that were resident before they existed.
        malloc_trim(0);
        const long rss_before = bench::resident_kb();
        std::cout << "units ready, rss_kb " << rss_before << std::endl;

        for (std::size_t i = 0; i < count; ++i) {
            auto device = std::make_unique<PX46TR_K>();
            bench::set_up_example_device(*device, clock, static_cast<unsigned int>(i + 1));
            plugin.add(std::move(device), *units[i]);
        }
        const double first_cpu = plugin.round(units, clock);
        const double first_text_start = thread_cpu_us();
        long text_bytes = 0;
        for (auto& device : plugin.devices) {
            text_bytes = bench::request_snapshot_text(*device, text);
            if (text_bytes < 0) throw std::runtime_error("801 refused");
        }
        const double first_text_cpu = thread_cpu_us() - first_text_start;
        const long rss_after = bench::resident_kb();
        const double rss_per_device = static_cast<double>(rss_after - rss_before) / options.devices;
        std::printf("first round %.1f us, first 801 %.1f us (%ld bytes) per device; rss_kb %ld\n",
                    first_cpu / options.devices, first_text_cpu / options.devices, text_bytes, rss_after);
        std::fflush(stdout);

        const double steady_rounds = static_cast<double>(options.devices) * (options.rounds - 1);
        const double device_us = plugin.steady_rounds(options.rounds, units, clock) / steady_rounds;
        std::printf(
            "steady round of a device (plug-in and host) %.1f us; afterwards, with no 801 since the first, "
            "rss_kb_per_device %.1f\n",
            device_us, static_cast<double>(bench::resident_kb() - rss_before) / options.devices);
        std::fflush(stdout);

        Fleet<bench::HostOnlyDevice> host(count);
        for (std::size_t i = 0; i < count; ++i)
            host.add(std::make_unique<bench::HostOnlyDevice>(), *units[i]);
        host.round(units, clock);
        const double host_us = host.steady_rounds(options.rounds, units, clock) / steady_rounds;
        const double plugin_us = device_us - host_us;

        std::printf(
            "devices=%d rounds=%d rss_kb_per_device=%.1f plugin_us_per_round=%.1f "
            "host_us_per_round=%.1f units_per_core_at_5s=%ld\n",
            options.devices, options.rounds, rss_per_device, plugin_us, host_us,
            static_cast<long>(5e6 / (plugin_us + host_us)));
    } catch (const std::exception& error) {
        std::cerr << "px46_scale: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
