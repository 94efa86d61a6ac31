#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// What the stand-in host runner is asked to do.
struct RunnerOptions {
    std::string plugin_path;  // empty: the plug-in built beside the runner
    std::string settings_path;
    unsigned int data_id = 1;
    int rounds = 1;  // 0: until interrupted
    double interval_seconds = 1.0;
    std::vector<std::pair<int, std::uint16_t>> registers;  // --registers file, then --set, in order
    std::string trace_path;
    std::string unit = "sim";    // sim, tcp:HOST:PORT[:UNIT] or rtu:DEVICE[:BAUD[:PARITY[:UNIT]]]
    double timeout_seconds = 1;  // response time-out of a real line
    int retries = 1;             // further attempts of a request that timed out or was lost
    double pause_seconds = 0;    // quiet between requests on a real line
};

// Thrown for a command line that cannot be run; main prints the message and the usage.
struct UsageError {
    std::string message;
};

// Parses the command line. Returns false when only the help was asked for (printed to `help`).
bool parse_runner_options(int argc, const char* const argv[], RunnerOptions& options,
                          std::string& help);

// Parses "REG=VALUE" (decimal or 0x hex); throws UsageError when it is not one.
std::pair<int, std::uint16_t> parse_register_assignment(const std::string& text);
