// smd-host: a stand-in host process. Loads the plug-in, creates its device, configures it and
// drives polling rounds against the in-process simulated unit or a real Modbus line, printing a
// summary of each round on standard error; the plug-in's own diagnostic lines pass through on
// standard output.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include <json/reader.h>
#include <json/value.h>

#include "host/bus_pump.h"
#include "host/plugin_library.h"
#include "control_requests.h"
#include "run_observer.h"
#include "runner_options.h"
#include "unit_link.h"

namespace {

// Set by Ctrl-C (SIGINT): the runner stops after the request in progress.
volatile sig_atomic_t interrupted = 0;

void on_interrupt(int) { interrupted = 1; }

// Sleeps for `seconds` unless interrupted first.
void pause_between_rounds(double seconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!interrupted && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string default_plugin_path() {
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return "libpx46tr_k.so";
    std::string path(exe, static_cast<std::size_t>(n));
    return path.substr(0, path.rfind('/') + 1) + "libpx46tr_k.so";
}

Json::Value read_settings(const std::string& path) {
    if (path.empty()) return Json::Value(Json::objectValue);
    std::ifstream in(path);
    if (!in) throw UsageError{"cannot read settings file " + path};
    Json::Value root;
    Json::CharReaderBuilder builder;
    std::string errors;
    if (!Json::parseFromStream(builder, in, &root, &errors)) {
        throw UsageError{"settings file " + path + " is not JSON: " + errors};
    }
    return root;
}

// Decodes the round stamp at the end of a published record's hex text.
std::string stamp_text(const std::string& record_hex) {
    if (record_hex.size() < 14) return "none";
    const std::string hex = record_hex.substr(record_hex.size() - 14);
    auto byte = [&](std::size_t i) { return std::stoi(hex.substr(2 * i, 2), nullptr, 16); };
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", byte(0) | (byte(1) << 8),
                  byte(2), byte(3), byte(4), byte(5), byte(6));
    return text;
}

// What the bus carried in one round.
struct RoundTraffic {
    double seconds;
    std::size_t requests;
    std::size_t failures;
};

void print_round_summary(int round, const RunObserver::RoundTally& tally, const RoundTraffic& traffic,
                         const std::string& last_error) {
    std::cerr << "round " << round << ": " << tally.reads << " reads";
    if (tally.published > 0) {
        std::cerr << ", record published (" << tally.last_record_hex.size() / 2
                  << " bytes, stamp " << stamp_text(tally.last_record_hex) << ")";
    } else {
        std::cerr << ", round not completed";
    }
    char timing[96];
    std::snprintf(timing, sizeof timing, "; %.3f s, %zu requests, %zu failures", traffic.seconds,
                  traffic.requests, traffic.failures);
    std::cerr << ", " << tally.alarm_reports << " alarm reports, " << tally.stored
              << " history records" << timing;
    if (traffic.failures > 0) std::cerr << " (" << last_error << ")";
    std::cerr << "\n";
}

int run(const RunnerOptions& options) {
    const Json::Value settings = read_settings(options.settings_path);
    PluginLibrary plugin(options.plugin_path.empty() ? default_plugin_path() : options.plugin_path);
    RunObserver observer;
    if (!options.trace_path.empty()) observer.open_trace(options.trace_path);

    std::unique_ptr<SPModbus> device = plugin.create_device();
    device->set_observer(&observer);
    device->Init(std::weak_ptr<SMDController>(), options.data_id, Json::Value(Json::objectValue));
    device->InitSetting(settings);

    UnitLink unit = make_unit_link(options, device->baud_rate());
    BusPump pump(*device, *unit.link);
    signal(SIGINT, on_interrupt);
    for (int round = 1; options.rounds == 0 || round <= options.rounds; ++round) {
        if (round > 1) pause_between_rounds(options.interval_seconds);
        if (interrupted) break;
        if (unit.simulated) {
            for (const auto& set : options.set_at) {
                if (set.round == round) unit.simulated->set(set.reg, set.value);
            }
        }
        observer.start_round();
        const std::size_t carried = pump.carried();
        const std::size_t failed = pump.failed();
        const auto started = std::chrono::steady_clock::now();
        device->RefreshStatus();
        while (!interrupted && pump.pump_one()) {
        }
        const RoundTraffic traffic{
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(),
            pump.carried() - carried, pump.failed() - failed};
        if (unit.counters) unit.counters->book_round(observer.tally().published > 0, traffic.seconds);
        print_round_summary(round, observer.tally(), traffic, pump.last_error());
    }
    if (!options.snapshot_path.empty()) save_snapshot(*device, options.snapshot_path);
    if (!options.write.empty()) std::cerr << write_and_confirm(*device, pump, options.write) << "\n";
    if (unit.counters) std::cerr << "link: " << unit.counters->describe() << "\n";
    if (interrupted) std::cerr << "interrupted\n";
    device.reset();
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    RunnerOptions options;
    std::string help;
    try {
        if (!parse_runner_options(argc, argv, options, help)) {
            std::cout << help;
            return 0;
        }
        return run(options);
    } catch (const UsageError& e) {
        std::cerr << "smd-host: " << e.message << "\n" << help;
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "smd-host: " << e.what() << "\n";
        return 1;
    }
}
