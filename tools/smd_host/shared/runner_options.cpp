#include "runner_options.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sstream>

#include <json/reader.h>
#include <json/value.h>
#include <boost/program_options.hpp>

#include "user_input/json_file.h"
#include "user_input/nearest_names.h"
#include "user_input/parse_number.h"

namespace po = boost::program_options;

namespace {

long parse_number(const std::string& text, long max, const std::string& what) {
    if (text.empty()) throw UsageError{what + " is empty"};
    const auto value = parse_decimal_or_hex(text, max);
    if (!value) throw UsageError{what + " '" + text + "' is not a number from 0 to " + std::to_string(max)};
    return *value;
}

// A JSON object "REG": VALUE, registers in decimal or 0x hex.
void read_register_file(const std::string& path, std::vector<std::pair<int, std::uint16_t>>& registers) {
    const Json::Value root = read_json_file(path, "register file");
    for (const auto& key : root.getMemberNames()) {
        const Json::Value& value = root[key];
        if (!value.isIntegral())
            throw InputFileError{"register " + key + " in " + path + " is not an integer"};
        registers.emplace_back(parse_register_assignment(key + "=" + std::to_string(value.asInt64())));
    }
}

// Options that shape the requests on a real line; the simulated unit answers at once and has none.
const char* const kLinkOptions[] = {
    "timeout", "retries", "pause", "busy-retries", "busy-wait", "pause-after-connect", "close-after-round"};

// Options whose value is a file's path: an empty one (an unset shell variable) names nothing.
const char* const kFileOptions[] = {"plugin",  "settings", "registers", "trace", "snapshot",   "trace-frames",
                                    "capture", "history",  "replay",    "dump",  "export-csv", "site"};

// What a site file gives each line and unit (and its interval): beside --site they would compete with
// it.
const char* const kSiteFileOptions[] = {
    "timeout",           "retries", "pause", "busy-retries", "busy-wait", "pause-after-connect",
    "close-after-round", "rs485",   "rts",   "rts-delay",    "data-id",   "settings",
    "history",           "interval"};

// The path as the system would resolve it: absolute, with "." and ".." and the symbolic links of
// its existing part resolved.
std::filesystem::path resolved_path(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error) return std::filesystem::path(path).lexically_normal();
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(absolute, error);
    return error ? absolute.lexically_normal() : canonical;
}

// Refuses one file named by two options of which at least one writes it: the second writer would
// overwrite the first (or the input) in the middle of the run.
void refuse_shared_files(const RunnerOptions& options, const std::string& register_file) {
    struct Named {
        std::string option;
        std::string path;
        bool written;
    };
    std::vector<Named> files;
    for (const auto& [option, path] : output_files(options)) files.push_back({option, path, true});
    const std::pair<const char*, const std::string*> inputs[] = {
        {"settings", &options.settings_path},
        {"registers", &register_file},
        {"replay", &options.replay_path},
        {"dump", &options.dump_path},
        {"history", options.export_csv_path.empty() ? nullptr : &options.history_path}};
    for (const auto& [option, path] : inputs) {
        if (path != nullptr && !path->empty()) files.push_back({option, *path, false});
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        for (std::size_t j = i + 1; j < files.size(); ++j) {
            if ((files[i].written || files[j].written) && one_file(files[i].path, files[j].path)) {
                throw UsageError{"--" + files[i].option + " and --" + files[j].option + " name one file (" +
                                 files[j].path + "): each needs its own"};
            }
        }
    }
}

// The ranges of the link options that take a number. `above_low`: the low end itself is out.
struct LinkOptionRange {
    const char* option;
    long low;
    long high;
    bool above_low;
};
constexpr LinkOptionRange kLinkOptionRanges[] = {
    {"timeout", 0, 60, true},        {"retries", 0, 10, false},   {"pause", 0, 10, false},
    {"busy-retries", 0, 100, false}, {"busy-wait", 0, 60, false}, {"pause-after-connect", 0, 60, false},
    {"rts-delay", 0, 1000000, false}};

// A site file names its lines, their link options and its units' own options: the command line
// keeps what applies to the whole run (--rounds, --view and --view-unit, --trace, --trace-frames, --capture,
// --plugin, --b-mode).
void refuse_beside_site(const RunnerOptions& options, const po::variables_map& vm) {
    if (!vm["unit"].defaulted()) throw UsageError{"--site and --unit go one at a time"};
    for (const char* option : kSiteFileOptions) {
        if (vm.count(option) && !vm[option].defaulted())
            throw UsageError{std::string("--") + option + " goes in the site file, not beside --site"};
    }
    if (options.catalogue || !options.dump_path.empty() || !options.export_csv_path.empty() ||
        !options.replay_path.empty()) {
        throw UsageError{"--site goes with a polling run or --check-config"};
    }
    if (vm.count("set") || vm.count("set-at") || vm.count("registers"))
        throw UsageError{"--set, --set-at and --registers apply to --unit sim only"};
    if (vm.count("write") || vm.count("snapshot"))
        throw UsageError{"--write and --snapshot name one unit: they go with --unit, not --site"};
}

}  // namespace

bool same_file(const std::string& a, const std::string& b) {
    std::error_code error;
    const bool exists_a = std::filesystem::exists(std::filesystem::status(a, error));
    if (exists_a != std::filesystem::exists(std::filesystem::status(b, error))) return false;
    if (exists_a) return std::filesystem::equivalent(a, b, error) && !error;
    return resolved_path(a) == resolved_path(b);
}

bool one_file(const std::string& a, const std::string& b) {
    std::error_code error;
    const auto status = std::filesystem::status(a, error);
    return (!std::filesystem::exists(status) || std::filesystem::is_regular_file(status)) && same_file(a, b);
}

std::string link_option_range_error(const std::string& option, double value) {
    for (const LinkOptionRange& range : kLinkOptionRanges) {
        if (option != range.option) continue;
        const double low = static_cast<double>(range.low);
        // Written so that NaN is out of every range.
        if ((range.above_low ? value > low : value >= low) && value <= static_cast<double>(range.high))
            return "";
        return range.above_low
                   ? "must be above " + std::to_string(range.low) + " and at most " +
                         std::to_string(range.high)
                   : "must be from " + std::to_string(range.low) + " to " + std::to_string(range.high);
    }
    throw std::logic_error("no range for link option " + option);
}

std::vector<std::pair<std::string, std::string>> output_files(const RunnerOptions& options) {
    const std::pair<const char*, const std::string*> named[] = {
        {"trace", &options.trace_path},
        {"snapshot", &options.snapshot_path},
        {"trace-frames", &options.trace_frames_path},
        {"capture", &options.capture_path},
        {"history", options.export_csv_path.empty() ? &options.history_path : nullptr},
        {"export-csv", &options.export_csv_path}};
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& [option, path] : named) {
        if (path != nullptr && !path->empty()) files.emplace_back(option, *path);
    }
    return files;
}

void check_output_files(const RunnerOptions& options) { check_output_files(output_files(options)); }

void check_output_files(const std::vector<std::pair<std::string, std::string>>& files) {
    for (const auto& file : files) {
        const std::string& option = file.first;
        const std::string& path = file.second;
        const auto refuse = [&](const std::string& reason) {
            throw InputFileError{"--" + option + " " + path + " cannot be written: " + reason};
        };
        // An existing file keeps its content until the run writes it; one made here for the check
        // is removed again.
        struct stat status {};
        if (::stat(path.c_str(), &status) == 0) {
            if (S_ISDIR(status.st_mode)) refuse(std::strerror(EISDIR));
            if (::access(path.c_str(), W_OK) != 0) refuse(std::strerror(errno));
            continue;
        }
        if (errno != ENOENT) refuse(std::strerror(errno));
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) refuse(std::strerror(errno));
        ::close(fd);
        ::unlink(path.c_str());
    }
}

Json::Value read_json_file(const std::string& path, const std::string& what) {
    try {
        return read_json_object_file(path, what);
    } catch (const JsonFileError& e) {
        throw InputFileError{e.what()};
    }
}

std::pair<int, std::uint16_t> parse_register_assignment(const std::string& text) {
    const auto eq = text.find('=');
    if (eq == std::string::npos) throw UsageError{"'" + text + "' is not REG=VALUE"};
    const long reg = parse_number(text.substr(0, eq), 65535, "register");
    const long value = parse_number(text.substr(eq + 1), 65535, "value");
    return {static_cast<int>(reg), static_cast<std::uint16_t>(value)};
}

std::vector<std::uint16_t> parse_write_request(const std::string& text) {
    constexpr std::size_t kMaxValues = 123;  // one Modbus write of multiple registers
    const auto eq = text.find('=');
    if (eq == std::string::npos) throw UsageError{"'" + text + "' is not REG=VALUE[,VALUE...]"};
    std::vector<std::uint16_t> words{
        static_cast<std::uint16_t>(parse_number(text.substr(0, eq), 65535, "register"))};
    std::istringstream values(text.substr(eq + 1));
    for (std::string value; std::getline(values, value, ',');) {
        words.push_back(static_cast<std::uint16_t>(parse_number(value, 65535, "value")));
    }
    if (words.size() < 2 || words.size() > kMaxValues + 1) {
        throw UsageError{"'" + text + "' needs 1 to " + std::to_string(kMaxValues) + " values"};
    }
    return words;
}

bool parse_runner_options(int argc, const char* const argv[], RunnerOptions& options, std::string& help) {
    std::vector<std::string> sets;
    std::vector<std::string> sets_at;
    std::string register_file;
    std::string write;
    std::string signals;
    std::string rts;
    std::string data_id;
    std::string view_unit;
    std::string listen;
    po::options_description described("Options");
    described.add_options()("help,h", "show the options")("version", "print the version")(
        "plugin", po::value(&options.plugin_path)->value_name("PATH"),
        "plug-in library (default: the one beside smd-host, else the installed one)")(
        "settings", po::value(&options.settings_path)->value_name("FILE"),
        "JSON settings object for InitSetting (default {})")(
        "data-id", po::value(&data_id)->value_name("N")->default_value("1"),
        "data identifier of the device, 0 to 4294967295")(
        "rounds", po::value(&options.rounds)->value_name("N")->default_value(1),
        "polling rounds to run (0: until Ctrl-C)")(
        "interval", po::value(&options.interval_seconds)->value_name("SECONDS")->default_value(1.0),
        "seconds between rounds")("set", po::value(&sets)->value_name("REG=VALUE")->composing(),
                                  "set a register of the simulated unit (repeatable)")(
        "set-at", po::value(&sets_at)->value_name("K:REG=VALUE")->composing(),
        "set a register before round K (repeatable)")("registers",
                                                      po::value(&register_file)->value_name("FILE"),
                                                      "JSON object {\"REG\": VALUE} of registers to set")(
        "trace", po::value(&options.trace_path)->value_name("FILE"),
        "write every host call as one JSON line to FILE")(
        "snapshot", po::value(&options.snapshot_path)->value_name("FILE"),
        "write the snapshot text (request 801) to FILE after the last round")(
        "write", po::value(&write)->value_name("REG=VALUE[,VALUE...]"),
        "after the rounds, write registers of the unit (206 or 210) and report whether "
        "it confirmed")("unit", po::value(&options.unit)->value_name("LINK")->default_value("sim"),
                        "sim, tcp:HOST:PORT[:UNIT] or rtu:DEVICE[:BAUD[:PARITY[:UNIT]]], PARITY N, E, O or "
                        "as 8N1")(
        "timeout", po::value(&options.timeout_seconds)->value_name("SECONDS")->default_value(1.0),
        "seconds to wait for a reply on a real line")(
        "retries", po::value(&options.retries)->value_name("N")->default_value(1),
        "further attempts after a time-out or a lost line")(
        "pause", po::value(&options.pause_seconds)->value_name("SECONDS")->default_value(0.0),
        "seconds of quiet between requests on a real line")(
        "busy-retries", po::value(&options.busy_retries)->value_name("N")->default_value(0),
        "further attempts of a request the unit answers busy (exception 06), for units busy while they "
        "measure")("busy-wait",
                   po::value(&options.busy_wait_seconds)->value_name("SECONDS")->default_value(1.0),
                   "seconds before each of those attempts, as long as the unit stays busy")(
        "pause-after-connect", po::value(&options.pause_after_connect_seconds)->value_name("SECONDS"),
        "seconds of quiet after a connection is made, for gateways that drop a request sent at once")(
        "close-after-round", po::bool_switch(&options.close_after_round),
        "close the connection after each round, for units and gateways that allow few connections")(
        "rs485", po::bool_switch(&options.rs485),
        "rtu: put the serial device in RS-485 mode, for UARTs whose driver switches the transceiver")(
        "rts", po::value(&rts)->value_name("up|down"),
        "rtu: drive RTS while sending, up or down (adapters whose RTS pin switches the transceiver)")(
        "rts-delay", po::value(&options.rts_delay_us)->value_name("MICROSECONDS"),
        "rtu: with --rts, the delay before and after sending")(
        "trace-frames", po::value(&options.trace_frames_path)->value_name("FILE"),
        "write every request and reply frame on a real line to FILE, to see what the unit really sent")(
        "capture", po::value(&options.capture_path)->value_name("FILE"),
        "write every frame on a real line to FILE as a packet capture (pcap) for Wireshark or tshark")(
        "view", po::bool_switch(&options.view),
        "after each round, a compact view of the unit instead of the raw output; with --site, a view of "
        "every unit, refreshed each second")(
        "view-unit", po::value(&view_unit)->value_name("DATA_ID"),
        "with --site --view: the unit shown in detail (default: the first whose last round did not "
        "complete, else the first with active alarms, else the first)")(
        "history", po::value(&options.history_path)->value_name("FILE"),
        "append every published record to FILE")(
        "replay", po::value(&options.replay_path)->value_name("FILE"),
        "feed the records of history FILE through LoadFromCache instead of polling")(
        "catalogue", po::bool_switch(&options.catalogue),
        "list every snapshot member and alarm name with its kind and source, then exit")(
        "check-config", po::bool_switch(&options.check_config),
        "check the configuration the device would load in this folder, then exit")(
        "site", po::value(&options.site_path)->value_name("FILE"),
        "poll (or with --check-config, check) every unit of the lines in the YAML site FILE")(
        "listen", po::value(&listen)->value_name("[ADDR:]PORT"),
        "serve the units' status over HTTP on PORT (/metrics, /api/units, a live page at /), on "
        "127.0.0.1 unless ADDR is given")("b-mode", po::value<std::int32_t>()->value_name("N"),
                                          "with --check-config: the operator profile to check under")(
        "dump", po::value(&options.dump_path)->value_name("FILE"),
        "print a record of history FILE as its snapshot, then exit")(
        "index", po::value<long>()->value_name("N"),
        "with --dump: the record to print, from 0 (default: the last)")(
        "export-csv", po::value(&options.export_csv_path)->value_name("FILE"),
        "write the records of --history FILE as CSV rows to this file (round time, then the members), then "
        "exit")("signals", po::value(&signals)->value_name("NAME,NAME..."),
                "with --export-csv: the snapshot members to export (default: every numeric member)");

    po::variables_map vm;
    try {
        // Options are taken whole: a prefix (--round for --rounds) is refused, not guessed, so that
        // an option added later never changes what an existing command line means.
        const po::parsed_options parsed =
            po::command_line_parser(argc, argv)
                .options(described)
                .style(po::command_line_style::default_style & ~po::command_line_style::allow_guessing)
                .run();
        // The runner takes no argument that is not an option's: a stray word is a mistake (a value
        // whose option was forgotten), never silently ignored.
        for (const auto& option : parsed.options) {
            if (option.position_key >= 0 && !option.value.empty())
                throw UsageError{"'" + option.value.front() + "' belongs to no option"};
        }
        po::store(parsed, vm);
        po::notify(vm);
    } catch (const po::unknown_option& e) {
        std::vector<std::string> names;
        for (const auto& option : described.options()) names.push_back("--" + option->long_name());
        throw UsageError{e.what() + nearest_names_hint(e.get_option_name(), names)};
    } catch (const po::error& e) {
        throw UsageError{e.what()};
    }
    std::ostringstream usage;
    usage << "smd-host: loads the px46tr_k plug-in and polls a unit\n\n";
    // One column wider than boost makes it, so that two spaces at least part even the longest option
    // from its description, as help2man needs to tell them apart for the manual page.
    described.print(usage, described.get_option_column_width() + 1);
    help = usage.str();
    if (vm.count("help")) return false;
    if (vm.count("version")) {
        help = "smd-host " PX46_VERSION "\n";
        return false;
    }
    for (const char* option : kFileOptions) {
        if (vm.count(option) && vm[option].as<std::string>().empty())
            throw UsageError{std::string("--") + option + " names no file"};
    }
    // The data identifier is an unsigned 32-bit number: a negative one would wrap around.
    const auto id = parse_decimal(data_id, 4294967295L);
    if (!id) throw UsageError{"--data-id '" + data_id + "' is not a number from 0 to 4294967295"};
    options.data_id = static_cast<unsigned int>(*id);
    if (vm.count("view-unit")) {
        if (options.site_path.empty() || !options.view)
            throw UsageError{"--view-unit goes with --site and --view"};
        const auto shown = parse_decimal(view_unit, 4294967295L);
        if (!shown) throw UsageError{"--view-unit '" + view_unit + "' is not a data id from 0 to 4294967295"};
        options.view_unit = static_cast<unsigned int>(*shown);
    }
    if (vm.count("b-mode")) options.b_mode = vm["b-mode"].as<std::int32_t>();
    if (options.b_mode && !options.check_config) throw UsageError{"--b-mode goes with --check-config"};
    if (vm.count("index")) options.dump_index = vm["index"].as<long>();
    if (options.dump_index && options.dump_path.empty()) throw UsageError{"--index goes with --dump"};
    if (options.catalogue + options.check_config + !options.dump_path.empty() +
            !options.export_csv_path.empty() >
        1) {
        throw UsageError{"--catalogue, --check-config, --dump and --export-csv go one at a time"};
    }
    if (!options.site_path.empty()) refuse_beside_site(options, vm);
    if (vm.count("listen")) {
        try {
            options.listen = parse_listen_address(listen);
        } catch (const std::invalid_argument& e) {
            throw UsageError{"--listen '" + listen + "': " + e.what()};
        }
        if (options.catalogue || options.check_config || !options.dump_path.empty() ||
            !options.export_csv_path.empty() || !options.replay_path.empty())
            throw UsageError{"--listen goes with a polling run (--unit or --site)"};
    }
    if (!options.export_csv_path.empty() && options.history_path.empty()) {
        throw UsageError{"--export-csv reads the history named by --history"};
    }
    if (!signals.empty() && options.export_csv_path.empty())
        throw UsageError{"--signals goes with --export-csv"};
    std::istringstream names(signals);
    for (std::string name; std::getline(names, name, ',');) {
        if (!name.empty()) options.signals.push_back(name);
    }
    if (!options.replay_path.empty() && (options.unit != "sim" || !sets.empty() || !sets_at.empty())) {
        throw UsageError{"--replay takes its records from the history, not from a unit"};
    }
    if (options.unit != "sim" && (!register_file.empty() || !sets.empty() || !sets_at.empty()))
        throw UsageError{"--set, --set-at and --registers apply to --unit sim only"};
    // Link settings asked for without a line would be silently ignored.
    if (options.unit == "sim") {
        for (const char* option : kLinkOptions) {
            if (vm.count(option) && !vm[option].defaulted())
                throw UsageError{std::string("--") + option +
                                 " applies to a real line (--unit tcp: or rtu:)"};
        }
    }
    refuse_shared_files(options, register_file);
    if (options.rounds < 0) throw UsageError{"--rounds must not be negative"};
    // A day at most: the pause is counted in nanoseconds, and NaN or infinity would be no pause.
    if (!(options.interval_seconds >= 0 && options.interval_seconds <= 86400))
        throw UsageError{"--interval must be from 0 to 86400 seconds"};
    const std::pair<const char*, double> link_numbers[] = {
        {"timeout", options.timeout_seconds},
        {"retries", options.retries},
        {"pause", options.pause_seconds},
        {"busy-retries", options.busy_retries},
        {"busy-wait", options.busy_wait_seconds},
        {"pause-after-connect", options.pause_after_connect_seconds}};
    for (const auto& [option, value] : link_numbers) {
        const std::string error = link_option_range_error(option, value);
        if (!error.empty()) throw UsageError{std::string("--") + option + " " + error};
    }
    if (!rts.empty()) {
        if (rts != "up" && rts != "down") throw UsageError{"--rts must be up or down"};
        options.rts = rts == "up" ? 1 : -1;
    }
    if (vm.count("rts-delay") &&
        (options.rts == 0 || !link_option_range_error("rts-delay", options.rts_delay_us).empty()))
        throw UsageError{"--rts-delay goes with --rts and must be from 0 to 1000000"};
    // Serial settings asked for on a line that has none would be silently ignored.
    if ((options.rs485 || options.rts != 0) && options.unit.rfind("rtu:", 0) != 0)
        throw UsageError{"--rs485 and --rts apply to --unit rtu: only"};
    const bool one_simulated_unit = options.unit == "sim" && options.site_path.empty();
    if (!options.trace_frames_path.empty() && one_simulated_unit)
        throw UsageError{"--trace-frames applies to a real line (--unit tcp: or rtu:)"};
    if (!options.capture_path.empty() && one_simulated_unit)
        throw UsageError{"--capture applies to a real line (--unit tcp: or rtu:)"};
    if (!register_file.empty()) read_register_file(register_file, options.registers);
    for (const auto& set : sets) options.registers.push_back(parse_register_assignment(set));
    if (!write.empty()) options.write = parse_write_request(write);
    for (const auto& set : sets_at) {
        const auto colon = set.find(':');
        if (colon == std::string::npos) throw UsageError{"'" + set + "' is not K:REG=VALUE"};
        const long round = parse_number(set.substr(0, colon), 1L << 30, "round");
        if (round < 1 || (options.rounds != 0 && round > options.rounds)) {
            throw UsageError{"round in '" + set + "' is not from 1 to --rounds"};
        }
        const auto [reg, value] = parse_register_assignment(set.substr(colon + 1));
        options.set_at.push_back({static_cast<int>(round), reg, value});
    }
    return true;
}
