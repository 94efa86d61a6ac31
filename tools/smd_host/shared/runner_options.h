#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <json/value.h>

#include "listen_address.h"

// What the stand-in host runner is asked to do.
struct RunnerOptions {
    std::string plugin_path;  // empty: the plug-in beside the runner, else the installed one
    std::string settings_path;
    unsigned int data_id = 1;  // 0 to 4294967295
    int rounds = 1;            // 0: until interrupted
    double interval_seconds = 1.0;
    std::vector<std::pair<int, std::uint16_t>> registers;  // --registers file, then --set, in order
    std::string trace_path;
    std::string snapshot_path;         // --snapshot: the snapshot text after the last round
    std::vector<std::uint16_t> write;  // --write: the register, then its values (empty: none)
    // --set-at K:REG=VALUE: registers set just before round K (1-based), in order.
    struct RoundRegister {
        int round;
        int reg;
        std::uint16_t value;
    };
    std::vector<RoundRegister> set_at;
    std::string unit = "sim";                // sim, tcp:HOST:PORT[:UNIT] or rtu:DEVICE[:BAUD[:PARITY[:UNIT]]]
    double timeout_seconds = 1;              // response time-out of a real line
    int retries = 1;                         // further attempts of a request that timed out or was lost
    double pause_seconds = 0;                // quiet between requests on a real line
    int busy_retries = 0;                    // further attempts of a request the unit answered busy (06)
    double busy_wait_seconds = 1;            // wait before each of them
    double pause_after_connect_seconds = 0;  // quiet after a connection is made
    bool close_after_round = false;          // close the line after each round
    bool rs485 = false;                      // rtu: the kernel's RS-485 mode
    int rts = 0;                             // rtu: 1 RTS up while sending, -1 down, 0 untouched
    int rts_delay_us = -1;                   // rtu: delay around sending with RTS (-1: libmodbus's)
    std::string trace_frames_path;           // every frame on the wire, one line each
    std::string capture_path;                // --capture: every frame on the wire, as a pcap file
    bool view = false;                       // --view: a compact view of the unit after each round
    std::optional<unsigned int> view_unit;   // --view-unit: the data id a site's view shows in detail
    std::string history_path;                // --history: append every published record to FILE
    std::string replay_path;                 // --replay: feed a history's records through LoadFromCache
    std::string site_path;                   // --site: the lines and units of a site file (read_site_file)
    std::optional<ListenAddress> listen;     // --listen: serve the run's status over HTTP (none: no server)
    // Commissioning commands that do not poll.
    bool catalogue = false;              // --catalogue: list every signal and alarm name
    bool check_config = false;           // --check-config: check the configuration in this folder
    std::optional<std::int32_t> b_mode;  // --b-mode: the profile to check under
    std::string dump_path;               // --dump: print a stored record as its snapshot
    std::optional<long> dump_index;      // --index: which record of --dump (default: the last)
    std::string export_csv_path;         // --export-csv: the records of --history as CSV rows
    std::vector<std::string> signals;    // --signals: the members to export (empty: every number)
};

// The runner's exit statuses beyond 0 (done), 1 (failed) and 2 (a command line it cannot run).
constexpr int kNoRoundCompleted = 3;   // a polling run or a replay in which no round completed
constexpr int kWriteNotConfirmed = 4;  // the unit did not confirm --write (refused, no answer, not sent)
constexpr int kCheckWarnings = 5;      // --check-config found warnings and no problem

// Thrown for a command line that cannot be run; main prints the message and the usage.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Thrown for a file named on the command line that cannot be used (a settings or register file
// that cannot be read or is not one JSON object); main prints the message alone, which names the
// file.
struct InputFileError : UsageError {
    using UsageError::UsageError;
};

// Parses the command line. Returns false when only the help or the version was asked for (its
// text in `help`).
bool parse_runner_options(int argc, const char* const argv[], RunnerOptions& options, std::string& help);

// The files a run writes, each with the option that names it ("trace", "t.jsonl"); only those
// given. --history is written by a polling run or a replay, and read by --export-csv.
std::vector<std::pair<std::string, std::string>> output_files(const RunnerOptions& options);

// Checks, before anything is run, that each of `output_files` can be written (created where it
// does not exist yet) without changing one that exists; throws InputFileError naming the option and
// the file.
void check_output_files(const RunnerOptions& options);
// The same for files named by what writes them ("history of line 1 unit 2 (data id 102)").
void check_output_files(const std::vector<std::pair<std::string, std::string>>& files);

// The JSON object in the file at `path` (`what` names it in messages), read strictly and bounded
// in size; throws InputFileError when the file cannot be read, is too large or is not one object.
Json::Value read_json_file(const std::string& path, const std::string& what);

// Whether two paths name one file: the same file when both exist (a device or a pipe included),
// else the same path once made absolute and resolved.
bool same_file(const std::string& a, const std::string& b);

// Whether writing through one of two paths would change what the other names: `same_file`, except
// that a device or a pipe named twice (/dev/null) loses nothing.
bool one_file(const std::string& a, const std::string& b);

// What is wrong with `value` for the link option `option` ("timeout", "retries", "pause",
// "busy-retries", "busy-wait", "pause-after-connect", "rts-delay"): "must be from 0 to 10" or
// "must be above 0 and at most 60"; empty when the value is in range. The command line and a site
// file check the same ranges.
std::string link_option_range_error(const std::string& option, double value);

// Parses "REG=VALUE" (decimal or 0x hex); throws UsageError when it is not one.
std::pair<int, std::uint16_t> parse_register_assignment(const std::string& text);

// Parses "REG=VALUE[,VALUE...]" (1 to 123 values) into the register followed by the values;
// throws UsageError when it is not one.
std::vector<std::uint16_t> parse_write_request(const std::string& text);
